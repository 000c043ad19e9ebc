// tkParseURL / tkParseURLEx and the canonicaliser beneath them on arbitrary
// UTF-16 text. The first four bytes pick the flags; the rest is the URL.
// Canonical form must be a fixed point: canonicalising it again changes
// nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/platform/inet.h"
#include "tavikfcu/TKNet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t flags;
    std::memcpy(&flags, data, 4);
    data += 4;
    size -= 4;
    std::vector<TKWCHAR> url(size / 2 + 1, 0);
    std::memcpy(url.data(), data, size / 2 * 2);
    for (TKWCHAR& c : url)
        if (c == 0) c = 'a';
    url.back() = 0;

    std::uint32_t service = 0;
    unsigned short port = 0;
    CTKString server, object, user, password;
    tkParseURL(url.data(), service, server, object, port);
    tkParseURLEx(url.data(), service, server, object, port, user, password, flags);

    std::uint32_t canonFlags = flags & (ICU_NO_META | ICU_BROWSER_MODE);
    std::vector<TKWCHAR> once(url.size() * 12 + 16), twice(url.size() * 12 + 16);
    std::uint32_t n1 = std::uint32_t(once.size()), n2 = std::uint32_t(twice.size());
    if (tk::inet::InternetCanonicalizeUrl(url.data(), once.data(), &n1, canonFlags)) {
        if (!tk::inet::InternetCanonicalizeUrl(once.data(), twice.data(), &n2, canonFlags) ||
            n1 != n2 || std::memcmp(once.data(), twice.data(), n1 * sizeof(TKWCHAR)) != 0)
            std::abort();
    }
    return 0;
}
