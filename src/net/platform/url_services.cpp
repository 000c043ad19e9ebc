// URL canonicalisation, splitting and unescaping, after RFC 3986.
//
// Canonical form: surrounding blanks trimmed; scheme and host in lower case;
// for http, https, ftp, gopher and file a backslash before the query reads as
// '/', an empty path becomes "/", and "." and ".." segments are resolved;
// unsafe characters (controls, space, non-ASCII, and " < > \ ^ ` { | }) are
// written as %xx of their UTF-8 bytes. Existing escapes are kept as they
// are. Ports are kept as written, default or not.
//
// Decoding turns %xx runs that form UTF-8 into their characters and any other
// escaped byte into the character of the same value, so a canonical URL
// cracked with unescaping gives back the characters it was written with.
#include <cstring>
#include <string>

#include "net/platform/inet.h"
#include "platform/last_error.h"

namespace tk::inet {

namespace {

using platform::SetLastError;

constexpr bool IsAlpha(TKWCHAR c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsDigit(TKWCHAR c) {
    return c >= '0' && c <= '9';
}
constexpr TKWCHAR Lower(TKWCHAR c) {
    return (c >= 'A' && c <= 'Z') ? TKWCHAR(c + 32) : c;
}
int HexValue(TKWCHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool IsBlank(TKWCHAR c) {
    return c <= 0x20;
}

struct SchemeInfo {
    const char* name;
    int number;
    std::uint16_t port;
};
constexpr SchemeInfo kSchemes[] = {
    {"http", INTERNET_SCHEME_HTTP, INTERNET_DEFAULT_HTTP_PORT},
    {"https", INTERNET_SCHEME_HTTPS, INTERNET_DEFAULT_HTTPS_PORT},
    {"ftp", INTERNET_SCHEME_FTP, INTERNET_DEFAULT_FTP_PORT},
    {"gopher", INTERNET_SCHEME_GOPHER, INTERNET_DEFAULT_GOPHER_PORT},
    {"file", INTERNET_SCHEME_FILE, 0},
    {"news", INTERNET_SCHEME_NEWS, 0},
    {"mailto", INTERNET_SCHEME_MAILTO, 0},
};

// The scheme named by text[0, length), compared without case; null if none.
const SchemeInfo* FindScheme(const TKWCHAR* text, std::size_t length) {
    for (const SchemeInfo& s : kSchemes) {
        std::size_t n = std::strlen(s.name);
        if (n != length) continue;
        std::size_t i = 0;
        while (i < n && Lower(text[i]) == TKWCHAR(s.name[i])) ++i;
        if (i == n) return &s;
    }
    return nullptr;
}

// Schemes whose URLs are host-and-path shaped: backslashes are slashes, dot
// segments resolve, and the path is never empty.
bool IsSpecial(const SchemeInfo* s) {
    return s && s->number != INTERNET_SCHEME_NEWS && s->number != INTERNET_SCHEME_MAILTO;
}

// Length of the scheme at the start of url (letters, digits, + - .), or 0
// when url does not begin with "scheme:".
std::size_t SchemeLength(const TKWCHAR* url, std::size_t length) {
    if (length == 0 || !IsAlpha(url[0])) return 0;
    std::size_t i = 1;
    while (i < length &&
           (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
        ++i;
    return (i < length && url[i] == ':') ? i : 0;
}

enum class Encode { kAll, kSpacesOnly, kNone };

void AppendEscape(std::u16string& out, unsigned byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(TKWCHAR(kHex[byte >> 4]));
    out.push_back(TKWCHAR(kHex[byte & 15]));
}

// Appends text[i, end) escaped by the rule; a backslash becomes '/' when
// slashes is set.
void AppendEncoded(std::u16string& out, const TKWCHAR* text, std::size_t i, std::size_t end,
                   Encode rule, bool slashes) {
    auto keeps = [&](TKWCHAR c) {
        return rule == Encode::kNone || (rule == Encode::kSpacesOnly && c != ' ') ||
               (rule == Encode::kAll && !IsUnsafeInUrl(c));
    };
    while (i < end) {
        // Runs that need no change are appended whole.
        std::size_t run = i;
        while (run < end && text[run] != '\\' && keeps(text[run])) ++run;
        if (run > i) {
            out.append(reinterpret_cast<const char16_t*>(text) + i, run - i);
            i = run;
            if (i == end) break;
        }
        TKWCHAR c = text[i];
        if (c == '\\' && slashes) {
            out.push_back('/');
            ++i;
            continue;
        }
        if (keeps(c)) {
            out.push_back(c);
            ++i;
            continue;
        }
        if (rule == Encode::kSpacesOnly) {
            AppendEscape(out, 0x20);
            ++i;
            continue;
        }
        std::uint32_t cp = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < end && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((std::uint32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            AppendEscape(out, cp);
        } else if (cp < 0x800) {
            AppendEscape(out, 0xC0 | (cp >> 6));
            AppendEscape(out, 0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            AppendEscape(out, 0xE0 | (cp >> 12));
            AppendEscape(out, 0x80 | ((cp >> 6) & 0x3F));
            AppendEscape(out, 0x80 | (cp & 0x3F));
        } else {
            AppendEscape(out, 0xF0 | (cp >> 18));
            AppendEscape(out, 0x80 | ((cp >> 12) & 0x3F));
            AppendEscape(out, 0x80 | ((cp >> 6) & 0x3F));
            AppendEscape(out, 0x80 | (cp & 0x3F));
        }
        ++i;
    }
}

// Resolves "." and ".." segments of out[from, end) in place (RFC 3986,
// 5.2.4); a ".." never climbs above the first segment.
void RemoveDotSegments(std::u16string& out, std::size_t from) {
    std::u16string in = out.substr(from);
    out.resize(from);
    std::size_t i = 0, n = in.size();
    auto at = [&](std::size_t k, const char* lit) {
        std::size_t len = std::strlen(lit);
        if (k + len > n) return false;
        for (std::size_t j = 0; j < len; ++j)
            if (in[k + j] != TKWCHAR(lit[j])) return false;
        return true;
    };
    auto popSegment = [&] {
        std::size_t slash = out.rfind(u'/');
        out.resize(slash == std::u16string::npos || slash < from ? from : slash);
    };
    while (i < n) {
        if (at(i, "../")) {
            i += 3;
        } else if (at(i, "./")) {
            i += 2;
        } else if (at(i, "/./")) {
            i += 2;
        } else if (i + 2 == n && at(i, "/.")) {
            in[i + 1] = '/';
            i += 1;
        } else if (at(i, "/../")) {
            i += 3;
            popSegment();
        } else if (i + 3 == n && at(i, "/..")) {
            i += 2;
            in[i] = '/';
            popSegment();
        } else if ((i + 1 == n && in[i] == '.') || (i + 2 == n && at(i, ".."))) {
            i = n;
        } else {
            std::size_t next = in.find(u'/', i + 1);
            if (next == std::u16string::npos) next = n;
            out.append(in, i, next - i);
            i = next;
        }
    }
}

// True when out[from, end) holds a "." or ".." segment.
bool HasDotSegment(const std::u16string& out, std::size_t from) {
    for (std::size_t k = out.find(u'.', from); k != std::u16string::npos;
         k = out.find(u'.', k + 1)) {
        bool starts = k == from || out[k - 1] == '/';
        std::size_t next = k + 1 < out.size() && out[k + 1] == '.' ? k + 2 : k + 1;
        if (starts && (next == out.size() || out[next] == '/')) return true;
    }
    return false;
}

// Builds the canonical form of url into out; false with the code set when
// the URL cannot be made canonical.
bool Canonicalize(const TKWCHAR* url, std::uint32_t flags, std::u16string& out) {
    std::size_t begin = 0, end = 0;
    while (url[end]) ++end;
    while (begin < end && IsBlank(url[begin])) ++begin;
    bool browser = (flags & ICU_BROWSER_MODE) != 0;
    std::size_t extra = begin;  // first '?' or '#'
    while (extra < end && url[extra] != '?' && url[extra] != '#') ++extra;
    // Blanks after '?' are part of the query in browser mode.
    std::size_t trimFloor = (browser && extra < end) ? extra + 1 : begin;
    while (end > trimFloor && IsBlank(url[end - 1])) --end;
    if (extra > end) extra = end;

    const TKWCHAR* s = url + begin;
    std::size_t length = end - begin;
    extra -= begin;
    std::size_t schemeLength = SchemeLength(s, length);
    if (schemeLength == 0) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return false;
    }
    const SchemeInfo* scheme = FindScheme(s, schemeLength);
    bool special = IsSpecial(scheme);
    Encode rule = (flags & ICU_NO_ENCODE)            ? Encode::kNone
                  : (flags & ICU_ENCODE_SPACES_ONLY) ? Encode::kSpacesOnly
                                                     : Encode::kAll;

    out.clear();
    for (std::size_t i = 0; i < schemeLength; ++i) out.push_back(Lower(s[i]));
    out.push_back(':');
    std::size_t i = schemeLength + 1;
    auto isSlash = [&](std::size_t k) {
        return k < extra && (s[k] == '/' || (special && s[k] == '\\'));
    };
    bool hierarchical = isSlash(i) && isSlash(i + 1);
    if (hierarchical) {
        out.append(u"//");
        i += 2;
        std::size_t authorityEnd = i;
        while (authorityEnd < extra && !isSlash(authorityEnd)) ++authorityEnd;
        std::size_t at = authorityEnd;
        while (at > i && s[at - 1] != '@') --at;
        std::size_t hostStart = at > i ? at : i;
        if (at > i) AppendEncoded(out, s, i, hostStart, rule, false);
        std::size_t hostOut = out.size();
        AppendEncoded(out, s, hostStart, authorityEnd, rule, false);
        // Host and port in lower case (escapes are upper-case hex already).
        for (std::size_t k = hostOut; k < out.size(); ++k)
            if (out[k - 1] != '%' && out[k - 2] != '%') out[k] = Lower(out[k]);
        i = authorityEnd;
    }
    std::size_t pathOut = out.size();
    AppendEncoded(out, s, i, extra, rule, special);
    if (special && hierarchical) {
        if (out.size() == pathOut) out.push_back('/');
        if (!(flags & ICU_NO_META) && HasDotSegment(out, pathOut)) RemoveDotSegments(out, pathOut);
    }
    AppendEncoded(out, s, extra, length, browser ? Encode::kNone : rule, false);
    return true;
}

// Decodes %xx escapes of text[i, end) into out; stops at '?' or '#' when
// stopAtExtra is set, copying the rest as it is.
template <class Sink>
void Unescape(const TKWCHAR* text, std::size_t i, std::size_t end, bool stopAtExtra, Sink&& out) {
    auto byteAt = [&](std::size_t k) -> int {
        if (k + 2 >= end || text[k] != '%') return -1;
        int hi = HexValue(text[k + 1]), lo = HexValue(text[k + 2]);
        return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
    };
    bool copying = false;
    while (i < end) {
        TKWCHAR c = text[i];
        if (stopAtExtra && (c == '?' || c == '#')) copying = true;
        int b = copying ? -1 : byteAt(i);
        if (b < 0) {
            out(c);
            ++i;
            continue;
        }
        if (b < 0x80) {
            out(TKWCHAR(b));
            i += 3;
            continue;
        }
        int more = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        std::uint32_t cp = more == 1 ? (b & 0x1F) : more == 2 ? (b & 0x0F) : (b & 0x07);
        bool valid = more > 0;
        for (int k = 1; valid && k <= more; ++k) {
            int cont = byteAt(i + 3 * k);
            if (cont < 0 || (cont & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (cont & 0x3F);
        }
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (valid && (cp < kMin[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out(TKWCHAR(b));  // not UTF-8: the byte's own character
            i += 3;
            continue;
        }
        if (cp >= 0x10000) {
            out(TKWCHAR(0xD800 + ((cp - 0x10000) >> 10)));
            out(TKWCHAR(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out(TKWCHAR(cp));
        }
        i += 3 * (more + 1);
    }
}

// Copies text[i, end) into a wanted component, unescaped when asked.
bool Store(const TKWCHAR* text, std::size_t i, std::size_t end, TKWCHAR* buffer,
           std::uint32_t& capacity, bool unescape) {
    if (!buffer) return true;
    std::size_t n = 0;
    bool overflow = false;
    auto put = [&](TKWCHAR c) {
        if (n < capacity)
            buffer[n] = c;
        else
            overflow = true;
        ++n;
    };
    if (unescape) {
        Unescape(text, i, end, false, put);
    } else {
        for (; i < end; ++i) put(text[i]);
    }
    if (overflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    buffer[n] = 0;
    capacity = std::uint32_t(n);
    return true;
}

bool Fail(std::uint32_t code) {
    SetLastError(code);
    return false;
}

}  // namespace

bool InternetCanonicalizeUrl(const TKWCHAR* url, TKWCHAR* buffer, std::uint32_t* length,
                             std::uint32_t flags) {
    if (!url || !length) return Fail(ERROR_INVALID_PARAMETER);
    // One scratch string per thread: canonicalising allocates nothing once
    // it has grown to the longest URL seen.
    thread_local std::u16string scratch;
    if (!Canonicalize(url, flags, scratch)) return false;
    std::size_t needed = scratch.size() + 1;
    if (needed > 0xFFFFFFFFu) return Fail(ERROR_INTERNET_INVALID_URL);
    if (!buffer || *length < needed) {
        *length = std::uint32_t(needed);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, scratch.data(), scratch.size() * sizeof(TKWCHAR));
    buffer[scratch.size()] = 0;
    *length = std::uint32_t(scratch.size());
    return true;
}

bool InternetCrackUrl(const TKWCHAR* url, std::uint32_t flags, UrlComponents* parts) {
    if (!url || !parts) return Fail(ERROR_INVALID_PARAMETER);
    std::size_t length = 0;
    while (url[length]) ++length;
    std::size_t schemeLength = SchemeLength(url, length);
    if (schemeLength == 0) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    const SchemeInfo* scheme = FindScheme(url, schemeLength);
    std::size_t i = schemeLength + 1;
    std::size_t userStart = i, userEnd = i, passStart = i, passEnd = i;
    std::size_t hostStart = i, hostEnd = i;
    std::uint16_t port = scheme ? scheme->port : 0;
    bool hierarchical = i + 1 < length && url[i] == '/' && url[i + 1] == '/';
    if (hierarchical) {
        i += 2;
        std::size_t authorityEnd = i;
        while (authorityEnd < length && url[authorityEnd] != '/' && url[authorityEnd] != '?' &&
               url[authorityEnd] != '#')
            ++authorityEnd;
        std::size_t at = authorityEnd;
        while (at > i && url[at - 1] != '@') --at;
        if (at > i) {
            userStart = i;
            std::size_t colon = userStart;
            while (colon < at - 1 && url[colon] != ':') ++colon;
            userEnd = colon;
            passStart = colon < at - 1 ? colon + 1 : at - 1;
            passEnd = at - 1;
            hostStart = at;
        } else {
            hostStart = i;
        }
        std::size_t portColon = authorityEnd;
        if (hostStart < authorityEnd && url[hostStart] == '[') {
            std::size_t close = hostStart + 1;
            while (close < authorityEnd && url[close] != ']') ++close;
            if (close == authorityEnd || close == hostStart + 1)
                return Fail(ERROR_INTERNET_INVALID_URL);
            for (std::size_t k = hostStart + 1; k < close; ++k) {
                TKWCHAR c = url[k];
                if (!(HexValue(c) >= 0 || c == ':' || c == '.' || c == '%'))
                    return Fail(ERROR_INTERNET_INVALID_URL);
            }
            hostEnd = close + 1;
            if (hostEnd < authorityEnd && url[hostEnd] != ':')
                return Fail(ERROR_INTERNET_INVALID_URL);
            portColon = hostEnd;
            ++hostStart;  // the address without its brackets
            hostEnd = close;
        } else {
            portColon = hostStart;
            while (portColon < authorityEnd && url[portColon] != ':') ++portColon;
            hostEnd = portColon;
        }
        if (portColon < authorityEnd && portColon + 1 < authorityEnd) {
            std::uint32_t value = 0;
            for (std::size_t k = portColon + 1; k < authorityEnd; ++k) {
                if (!IsDigit(url[k])) return Fail(ERROR_INTERNET_INVALID_URL);
                value = value * 10 + (url[k] - '0');
                if (value > 65535) return Fail(ERROR_INTERNET_INVALID_URL);
            }
            port = std::uint16_t(value);
        }
        if (hostStart == hostEnd && IsSpecial(scheme) && scheme->number != INTERNET_SCHEME_FILE)
            return Fail(ERROR_INTERNET_INVALID_URL);
        i = authorityEnd;
    }
    bool unescape = (flags & ICU_ESCAPE) != 0;
    if (!Store(url, hostStart, hostEnd, parts->hostName, parts->hostNameLength, false) ||
        !Store(url, userStart, userEnd, parts->userName, parts->userNameLength, false) ||
        !Store(url, passStart, passEnd, parts->password, parts->passwordLength, false) ||
        !Store(url, i, length, parts->urlPath, parts->urlPathLength, unescape))
        return false;
    parts->scheme = scheme ? scheme->number : INTERNET_SCHEME_UNKNOWN;
    parts->port = port;
    return true;
}

bool UrlUnescapeInPlace(TKWCHAR* url, std::uint32_t flags) {
    if (!url) return Fail(ERROR_INVALID_PARAMETER);
    std::size_t length = 0;
    while (url[length]) ++length;
    // The decoded text is never longer than the escaped one, so writing
    // behind the reading position is safe.
    std::size_t n = 0;
    Unescape(url, 0, length, (flags & kUnescapeStopAtExtraInfo) != 0,
             [&](TKWCHAR c) { url[n++] = c; });
    url[n] = 0;
    return true;
}

}  // namespace tk::inet
