// POSIX: one "C" locale object, made on first use and kept for the life of
// the process. Parsing passes it to strtod_l; printing has no _l variant, so
// it switches the calling thread to it for the duration of one call
// (uselocale is per thread, so other threads are unaffected). A Windows
// build would use _vsnprintf_l and _strtod_l instead.
#include "platform/c_locale_numbers.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace tk::platform {

namespace {

// Null if the system cannot create it, in which case the thread's locale
// stays (it is "C" unless the program called setlocale).
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Holds the "C" locale on this thread while in scope.
class ScopedCLocale {
  public:
    ScopedCLocale() : m_previous(CLocale() ? uselocale(CLocale()) : nullptr) {}
    ~ScopedCLocale() {
        if (m_previous) uselocale(m_previous);
    }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

  private:
    locale_t m_previous;
};

}  // namespace

int FormatCLocale(char* buffer, std::size_t size, const char* format, ...) {
    ScopedCLocale scope;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

double ParseDoubleCLocale(const char* text, char** end) {
    const locale_t c = CLocale();
    return c ? strtod_l(text, end, c) : std::strtod(text, end);
}

}  // namespace tk::platform
