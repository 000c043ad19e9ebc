#include "net/url_parse.h"

#include <memory>

#include "platform/last_error.h"
#include "tavikfcu/TKNet.h"

namespace tk::detail {

namespace {

// Canonicalising takes these flags; unescaping is decided here instead.
constexpr std::uint32_t kCanonicalFlags = 0x2E000000;

std::uint32_t ServiceOf(int scheme) {
    switch (scheme) {
        case INTERNET_SCHEME_FTP:
            return TK_SERVICE_FTP;
        case INTERNET_SCHEME_GOPHER:
            return TK_SERVICE_GOPHER;
        case INTERNET_SCHEME_HTTP:
            return TK_SERVICE_HTTP;
        case INTERNET_SCHEME_HTTPS:
            return TK_SERVICE_HTTPS;
        case INTERNET_SCHEME_FILE:
            return TK_SERVICE_FILE;
        case INTERNET_SCHEME_NEWS:
            return TK_SERVICE_NEWS;
        case INTERNET_SCHEME_MAILTO:
            return TK_SERVICE_MAILTO;
        default:
            return TK_SERVICE_UNKNOWN;
    }
}

// Opens each wanted output for its capacity plus the terminator, parses,
// and finishes every output at its first NUL whatever the result.
int ParseInto(const TKWCHAR* url, std::uint32_t& service, CTKString& server, CTKString& object,
              unsigned short& port, CTKString* user, CTKString* password, std::uint32_t flags,
              std::uint32_t serverCap, std::uint32_t objectCap, std::uint32_t nameCap) {
    service = TK_SERVICE_UNKNOWN;
    if (!url) return 0;
    inet::UrlComponents parts;
    parts.hostName = server.GetBuffer(int(serverCap) + 1);
    parts.hostNameLength = serverCap;
    parts.urlPath = object.GetBuffer(int(objectCap) + 1);
    parts.urlPathLength = objectCap;
    if (user) {
        parts.userName = user->GetBuffer(int(nameCap) + 1);
        parts.userNameLength = nameCap;
    }
    if (password) {
        parts.password = password->GetBuffer(int(nameCap) + 1);
        parts.passwordLength = nameCap;
    }
    int result = ParseUrl(url, &parts, service, port, flags);
    server.ReleaseBuffer(-1);
    object.ReleaseBuffer(-1);
    if (user) user->ReleaseBuffer(-1);
    if (password) password->ReleaseBuffer(-1);
    return result;
}

}  // namespace

int ParseUrl(const TKWCHAR* url, inet::UrlComponents* parts, std::uint32_t& service,
             unsigned short& port, std::uint32_t flags) {
    if (!url || !parts) return 0;
    bool decode = (flags & (ICU_ESCAPE | ICU_DECODE)) && parts->urlPathLength != 0;
    bool unescapeAfter = decode && (flags & ICU_BROWSER_MODE);
    std::uint32_t crackFlags = (decode && !unescapeAfter) ? ICU_ESCAPE : 0;

    TKWCHAR local[kUrlBufferLength];
    std::unique_ptr<TKWCHAR[]> heap;
    TKWCHAR* canonical = local;
    std::uint32_t length = kUrlBufferLength;
    if (!inet::InternetCanonicalizeUrl(url, local, &length, flags & kCanonicalFlags)) {
        if (platform::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
        heap.reset(new TKWCHAR[length]);
        canonical = heap.get();
        if (!inet::InternetCanonicalizeUrl(url, canonical, &length, flags & kCanonicalFlags))
            return 0;
    }
    bool cracked = inet::InternetCrackUrl(canonical, crackFlags, parts);
    if (unescapeAfter && parts->urlPath) {
        if (!inet::UrlUnescapeInPlace(parts->urlPath, inet::kUnescapeStopAtExtraInfo)) {
            service = TK_SERVICE_UNKNOWN;
            return 0;
        }
        std::uint32_t n = 0;
        while (parts->urlPath[n]) ++n;
        parts->urlPathLength = n;
    }
    if (!cracked) {
        service = TK_SERVICE_UNKNOWN;
        return 0;
    }
    port = parts->port;
    service = ServiceOf(parts->scheme);
    return 1;
}

}  // namespace tk::detail

int tkParseURL(const TKWCHAR* url, std::uint32_t& serviceType, CTKString& server, CTKString& object,
               unsigned short& port) {
    if (!url) {
        serviceType = TK_SERVICE_UNKNOWN;
        return 0;
    }
    return tk::detail::ParseInto(url, serviceType, server, object, port, nullptr, nullptr,
                                 ICU_BROWSER_MODE, 2084, 2084, 0);
}

int tkParseURLEx(const TKWCHAR* url, std::uint32_t& serviceType, CTKString& server,
                 CTKString& object, unsigned short& port, CTKString& user, CTKString& password,
                 std::uint32_t flags) {
    if (!url) {
        serviceType = TK_SERVICE_UNKNOWN;
        return 0;
    }
    return tk::detail::ParseInto(url, serviceType, server, object, port, &user, &password, flags,
                                 256, 2048, 128);
}
