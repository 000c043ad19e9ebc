// Fuzzes CTKString::Format with arbitrary formats over one fixed argument
// list that every conversion can read safely: every integer or pointer slot
// holds a pointer to a text that reads as both wide and narrow text, and the
// doubles fill the floating-point registers. '*' is dropped and digit runs
// are cut to three digits, so widths and precisions stay small.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tavikfcu/TKString.h"

namespace {

// As narrow text this reads "w" (its second byte is 0).
alignas(8) const char16_t kText[] = u"w\u4e2dx";
const void* const T = kText;

constexpr int kMaxConversions = 12;  // each takes at most three of the 40 slots

void CheckBody(const CTKString& s) {
    const TKWCHAR* chars = s;
    int length = s.GetLength();
    if (length > s.GetAllocLength() || chars[length] != 0) std::abort();
    for (int i = 0; i < length; ++i)
        if (chars[i] == 0) std::abort();  // the length stops at the first NUL
}

void Run(CTKString& s, const TKWCHAR* format) {
    s.Format(format, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, 1.5, -0.0, 1e300,
             3.25e-310, 0.1, -7.0, 2.5, 1e-5, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T, T,
             T, T);
    CheckBody(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string format;
    int digits = 0;
    int conversions = 0;
    for (std::size_t i = 0; i < size; ++i) {
        char16_t c = data[i] < 0x80 ? data[i] : static_cast<char16_t>(0x4E00 + data[i]);
        if (c == 0 || c == u'*') continue;
        if (c >= u'0' && c <= u'9') {
            if (++digits > 3) continue;
        } else {
            digits = 0;
        }
        if (c == u'%' && ++conversions > kMaxConversions) break;
        format += c;
    }
    const TKWCHAR* f = reinterpret_cast<const TKWCHAR*>(format.c_str());

    CTKString fresh;
    Run(fresh, f);

    // A shared body: the other sharer keeps its text.
    CTKString original(TKL("original text"));
    CTKString shared = original;
    Run(shared, f);
    if (std::u16string(shared) != std::u16string(fresh)) std::abort();
    if (std::u16string(original) != u"original text") std::abort();

    // A locked body with room formats in place.
    CTKString locked;
    locked.GetBuffer(600);
    locked.LockBuffer();
    Run(locked, f);
    if (std::u16string(locked) != std::u16string(fresh)) std::abort();
    locked.UnlockBuffer();
    return 0;
}
