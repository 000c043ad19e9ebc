// The process-wide cookie store, after RFC 6265: host-only and domain
// cookies, default and explicit paths, Expires and Max-Age, Secure. Cookies
// without an expiry last until the process ends; nothing is written to disk.
#include <algorithm>
#include <ctime>
#include <mutex>

#include "net/platform/inet_handles.h"
#include "platform/last_error.h"

namespace tk::inet {

namespace detail {

namespace {

struct Cookie {
    std::string name, value, domain, path;
    bool hostOnly = true, secure = false;
    std::time_t expires = 0;  // 0: until the process ends
    std::uint64_t order = 0;  // creation order, for equal path lengths
};

struct Store {
    std::mutex lock;
    std::vector<Cookie> cookies;
    std::uint64_t nextOrder = 0;
};
Store& TheStore() {
    static Store* store = new Store;  // used until the process ends
    return *store;
}

std::string Lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return s;
}

std::string Trimmed(const std::string& s, std::size_t b, std::size_t e) {
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

struct UrlParts {
    bool secure = false;
    std::string host, path;
};

bool SplitUrl(const std::string& url, UrlParts& out) {
    std::size_t colon = url.find("://");
    if (colon == std::string::npos) return false;
    std::string scheme = Lowered(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    out.secure = scheme == "https";
    std::size_t hostStart = colon + 3;
    std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    std::string authority = url.substr(hostStart, hostEnd - hostStart);
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        authority = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        authority = authority.substr(0, authority.find(':'));
    }
    out.host = Lowered(authority);
    if (out.host.empty()) return false;
    std::size_t pathEnd = url.find_first_of("?#", hostEnd);
    out.path =
        url.substr(hostEnd, pathEnd == std::string::npos ? std::string::npos : pathEnd - hostEnd);
    if (out.path.empty() || out.path[0] != '/') out.path = "/";
    return true;
}

std::string DefaultPath(const std::string& path) {
    std::size_t last = path.rfind('/');
    return (last == std::string::npos || last == 0) ? "/" : path.substr(0, last);
}

bool IsAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           host.find_first_not_of("0123456789.") == std::string::npos;
}

bool DomainMatches(const Cookie& c, const std::string& host) {
    if (host == c.domain) return true;
    if (c.hostOnly || IsAddress(host) || host.size() <= c.domain.size()) return false;
    return host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
           host[host.size() - c.domain.size() - 1] == '.';
}

bool PathMatches(const std::string& cookiePath, const std::string& path) {
    if (path.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return path.size() == cookiePath.size() || cookiePath.back() == '/' ||
           path[cookiePath.size()] == '/';
}

// Stores one Set-Cookie line received from (or set for) the URL.
bool Parse(const UrlParts& url, const std::string& line) {
    std::size_t semi = line.find(';');
    std::size_t pairEnd = semi == std::string::npos ? line.size() : semi;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq > pairEnd) return false;
    Cookie c;
    c.name = Trimmed(line, 0, eq);
    c.value = Trimmed(line, eq + 1, pairEnd);
    if (c.name.empty()) return false;
    c.domain = url.host;
    c.path = DefaultPath(url.path);
    std::time_t now = std::time(nullptr);
    bool haveMaxAge = false, expired = false;
    while (semi != std::string::npos) {
        std::size_t start = semi + 1;
        semi = line.find(';', start);
        std::size_t end = semi == std::string::npos ? line.size() : semi;
        std::size_t aeq = line.find('=', start);
        if (aeq > end) aeq = end;
        std::string key = Lowered(Trimmed(line, start, aeq));
        std::string val = aeq < end ? Trimmed(line, aeq + 1, end) : std::string();
        if (key == "domain" && !val.empty()) {
            if (val[0] == '.') val.erase(0, 1);
            val = Lowered(val);
            Cookie probe;
            probe.domain = val;
            probe.hostOnly = false;
            if (!DomainMatches(probe, url.host)) return false;  // another site's cookie
            c.domain = val;
            c.hostOnly = false;
        } else if (key == "path") {
            c.path = (!val.empty() && val[0] == '/') ? val : DefaultPath(url.path);
        } else if (key == "secure") {
            c.secure = true;
        } else if (key == "max-age" && !val.empty()) {
            char* endp = nullptr;
            long long seconds = std::strtoll(val.c_str(), &endp, 10);
            if (*endp) continue;
            haveMaxAge = true;
            expired = seconds <= 0;
            c.expires = expired ? 0 : now + std::time_t(seconds);
        } else if (key == "expires" && !haveMaxAge) {
            std::time_t when = curl_getdate(val.c_str(), nullptr);
            if (when == -1) continue;
            expired = when <= now;
            c.expires = expired ? 0 : when;
        }
    }
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    auto same = std::find_if(store.cookies.begin(), store.cookies.end(), [&](const Cookie& o) {
        return o.name == c.name && o.domain == c.domain && o.path == c.path;
    });
    if (expired) {
        if (same != store.cookies.end()) store.cookies.erase(same);
        return true;
    }
    if (same != store.cookies.end()) {
        c.order = same->order;
        *same = std::move(c);
    } else {
        c.order = store.nextOrder++;
        store.cookies.push_back(std::move(c));
    }
    return true;
}

// "a=1; b=2" for the URL; only the named cookie when name is not empty.
std::string Collect(const UrlParts& url, const std::string& name) {
    std::vector<const Cookie*> found;
    std::string out;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    std::time_t now = std::time(nullptr);
    store.cookies.erase(
        std::remove_if(store.cookies.begin(), store.cookies.end(),
                       [&](const Cookie& c) { return c.expires && c.expires <= now; }),
        store.cookies.end());
    for (const Cookie& c : store.cookies) {
        if ((c.secure && !url.secure) || !DomainMatches(c, url.host) ||
            !PathMatches(c.path, url.path) || (!name.empty() && c.name != name))
            continue;
        found.push_back(&c);
    }
    // Longer paths first, then older cookies first.
    std::sort(found.begin(), found.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() != b->path.size() ? a->path.size() > b->path.size()
                                                : a->order < b->order;
    });
    for (const Cookie* c : found) {
        if (!out.empty()) out += "; ";
        out += c->name;
        out += '=';
        out += c->value;
    }
    return out;
}

}  // namespace

std::string CookieHeaderFor(const std::string& url) {
    {
        Store& store = TheStore();
        std::lock_guard<std::mutex> guard(store.lock);
        if (store.cookies.empty()) return std::string();
    }
    UrlParts parts;
    return SplitUrl(url, parts) ? Collect(parts, std::string()) : std::string();
}

void StoreSetCookie(const std::string& url, const std::string& value) {
    UrlParts parts;
    if (SplitUrl(url, parts)) Parse(parts, value);
}

}  // namespace detail

using namespace detail;

bool InternetSetCookie(const TKWCHAR* url, const TKWCHAR* name, const TKWCHAR* data) {
    UrlParts parts;
    if (!url || !data) return Fail(ERROR_INVALID_PARAMETER);
    if (!SplitUrl(ToUtf8(url), parts)) return Fail(ERROR_INTERNET_INVALID_URL);
    std::string line = (name && *name) ? ToUtf8(name) + "=" + ToUtf8(data) : ToUtf8(data);
    if (!Parse(parts, line)) return Fail(ERROR_INVALID_PARAMETER);
    return true;
}

bool InternetGetCookie(const TKWCHAR* url, const TKWCHAR* name, TKWCHAR* buffer,
                       std::uint32_t* size) {
    UrlParts parts;
    if (!url || !size) return Fail(ERROR_INVALID_PARAMETER);
    if (!SplitUrl(ToUtf8(url), parts)) return Fail(ERROR_INTERNET_INVALID_URL);
    std::string text = Collect(parts, ToUtf8(name));
    if (text.empty()) return Fail(ERROR_NO_MORE_ITEMS);
    std::u16string wide = FromUtf8(text.data(), text.size());
    std::uint32_t needed = std::uint32_t(wide.size() + 1);
    if (!buffer) {
        *size = needed;
        return true;
    }
    if (*size < needed) {
        *size = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = 0;
    *size = std::uint32_t(wide.size());
    return true;
}

}  // namespace tk::inet
