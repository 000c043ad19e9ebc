// HTTP requests over libcurl, pulled on the caller's thread.
//
// Each request drives its own curl easy handle through its own multi handle;
// the session's share object holds the connection cache, so requests of one
// session reuse connections that the server keeps alive. A finished request
// hands its handles, options still set, to the next request of its
// connection, so that a run of like requests pays only for what differs
// (URL, body, headers) and not for setting up curl again. Nothing runs between
// calls: a call pumps the multi handle until the headers, bytes or end it
// needs have arrived, or until the idle timeout passes with no byte moving.
//
// Bounded memory: body bytes that arrive while no read waits go to the
// request's inbox; when it holds kBodyCeiling bytes the transfer pauses (the
// socket is no longer read, so TCP holds the sender back) until reads drain
// it. A waiting read takes bytes straight into the caller's buffer.
//
// Names are looked up here (name_lookup.h: the caller waits at most the
// connect timeout) and handed to curl as fixed entries, so curl never starts
// a resolver thread of its own.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>

#include "net/platform/inet_handles.h"
#include "net/platform/name_lookup.h"
#include "platform/last_error.h"

namespace tk::inet {

namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

bool EqualsNoCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

Header* FindHeader(std::vector<Header>& list, const std::string& name) {
    for (Header& h : list)
        if (EqualsNoCase(h.name, name.c_str())) return &h;
    return nullptr;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                     (unsigned char)bytes[i + 2];
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size()) v |= (unsigned char)bytes[i + 1] << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Text that goes into a header line, with the characters that could end the
// line removed.
std::string WithoutLineBreaks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](char c) { return c == '\r' || c == '\n' || c == '\0'; }),
               text.end());
    return text;
}

// ---- names ------------------------------------------------------------------------

bool IsAddressLiteral(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Names under .invalid never resolve (RFC 6761): no lookup is made.
bool IsReservedInvalid(std::string host) {
    if (!host.empty() && host.back() == '.') host.pop_back();
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return host == "invalid" ||
           (host.size() > 8 && host.compare(host.size() - 8, 8, ".invalid") == 0);
}

// The addresses of host, "a,b,[c]" for a curl resolve entry; looked up once
// per connection handle, within the connect timeout.
bool Resolve(Request& r, const std::string& host, std::string& addresses) {
    if (IsReservedInvalid(host)) return Fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
    Connection& c = *r.connection;
    {
        std::lock_guard<std::mutex> guard(c.resolvedLock);
        for (const auto& entry : c.resolved)
            if (entry.first == host) {
                addresses = entry.second;
                return true;
            }
    }
    r.NotifyText(INTERNET_STATUS_RESOLVING_NAME, host);
    std::string first;
    switch (LookUpHost(host, r.Option(kConnectTimeout, kDefaultConnectTimeout), addresses, first)) {
        case LookupResult::kFound:
            break;
        case LookupResult::kNotFound:
            return Fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
        case LookupResult::kTimedOut:
            return Fail(ERROR_INTERNET_TIMEOUT);
    }
    r.NotifyText(INTERNET_STATUS_NAME_RESOLVED, first);
    std::lock_guard<std::mutex> guard(c.resolvedLock);
    c.resolved.emplace_back(host, addresses);
    return true;
}

// ---- the URL a request goes to ---------------------------------------------------

bool IsSecure(const Request& r) {
    return ((r.flags | r.connection->flags) & INTERNET_FLAG_SECURE) != 0;
}

std::uint16_t PortOf(const Request& r) {
    if (r.connection->port) return r.connection->port;
    return IsSecure(r) ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

// The host as a URL or a Host header names it: an IPv6 address in brackets.
std::string& AppendHost(std::string& out, const std::string& host) {
    if (host.find(':') == std::string::npos) return out.append(host);
    return out.append("[").append(host).append("]");
}

std::string HostForUrl(const std::string& host) {
    std::string out;
    return AppendHost(out, host);
}

// The object as it goes on the request line: unsafe bytes escaped.
std::string EscapeObject(const std::string& object) {
    static const char kHex[] = "0123456789ABCDEF";
    bool slash = object.empty() || (object[0] != '/' && object[0] != '*');
    std::string out;
    out.reserve(object.size() + slash);
    if (slash) out.push_back('/');
    for (unsigned char c : object) {
        if (IsUnsafeInUrl(c)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

// ---- errors -------------------------------------------------------------------------

std::uint32_t MapCurlError(Request& r, CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT: {
            long connectCode = 0;
            curl_easy_getinfo(r.easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
            if (connectCode >= 300) {  // the proxy refused the tunnel: its words
                SetLastResponse(r.errorText);
                return ERROR_INTERNET_EXTENDED_ERROR;
            }
            return ERROR_INTERNET_CANNOT_CONNECT;
        }
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_URL_MALFORMAT:
            return ERROR_INTERNET_INVALID_URL;
        // A status line curl cannot read (it calls that HTTP/0.9), or a
        // reply that is not HTTP, or nothing at all.
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_PARTIAL_FILE:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR: {
            long err = 0;
            curl_easy_getinfo(r.easy, CURLINFO_OS_ERRNO, &err);
            return (err == ECONNRESET || err == EPIPE) ? ERROR_INTERNET_CONNECTION_RESET
                                                       : ERROR_INTERNET_CONNECTION_ABORTED;
        }
        case CURLE_PEER_FAILED_VERIFICATION: {
            long verify = 0;
            curl_easy_getinfo(r.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
            // OpenSSL's verification results: 9 not yet valid, 10 expired,
            // 62 host name and 64 address mismatch. When the chain passed
            // and curl's own name check failed, curl leaves 0 or 1 there.
            if (verify == 9 || verify == 10) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
            if (verify == 0 || verify == 1 || verify == 62 || verify == 64)
                return ERROR_INTERNET_SEC_CERT_CN_INVALID;
            return ERROR_INTERNET_INVALID_CA;
        }
        case CURLE_SSL_CACERT_BADFILE:
            return ERROR_INTERNET_INVALID_CA;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
            return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        case CURLE_BAD_CONTENT_ENCODING:
            return ERROR_INTERNET_DECODING_FAILED;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_HTTP_REDIRECT_FAILED;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_READ_ERROR:
            return r.error ? r.error : ERROR_INTERNET_CONNECTION_ABORTED;
        default:
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

// Ends the transfer with a code (0: completed); the connection is kept for
// reuse only when the body was read to its end.
void Finish(Request& r, std::uint32_t code) {
    if (r.finished) return;
    r.finished = true;
    r.error = code;
    if (r.multi && r.easy) curl_multi_remove_handle(r.multi, r.easy);
}

// ---- curl callbacks -------------------------------------------------------------

// Drops blanks and line ends around a piece of a header line.
std::string_view TrimView(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::vector<Header>& ResponseHeaders(Request& r) {
    if (r.headersParsed) return r.headers;
    r.headers.clear();
    std::string_view head(r.rawHead);
    bool first = true;
    for (std::size_t pos = 0; pos < head.size();) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 2;
        if (std::exchange(first, false) && line.substr(0, 5) == "HTTP/") continue;
        if (line.empty()) continue;
        if ((line[0] == ' ' || line[0] == '\t') && !r.headers.empty()) {
            r.headers.back().value.append(" ").append(TrimView(line));  // a folded line
        } else {
            std::size_t colon = line.find(':');
            if (colon != std::string_view::npos)
                r.headers.push_back({std::string(TrimView(line.substr(0, colon))),
                                     std::string(TrimView(line.substr(colon + 1)))});
        }
    }
    r.headersParsed = true;
    return r.headers;
}

namespace {

// True when a line of the head after its first, blanks at its start
// skipped, begins with lower (a name in lower case) in any case: a quick test
// that spares splitting a head that cannot hold the header looked for.
bool MayHoldHeader(std::string_view head, std::string_view lower) {
    for (std::size_t at = head.find('\n'); at != std::string_view::npos;
         at = head.find('\n', at + 1)) {
        std::size_t i = at + 1;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
        if (head.size() - i < lower.size()) return false;
        std::size_t k = 0;
        for (; k < lower.size(); ++k) {
            char c = head[i + k];
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
            if (c != lower[k]) break;
        }
        if (k == lower.size()) return true;
    }
    return false;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Request& r = *static_cast<Request*>(user);
    size_t length = size * count;
    ++r.activity;
    if (r.headersDone) return length;  // trailers of a chunked body
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {
        if (r.status == 0) {
            std::uint32_t sent = std::uint32_t(r.sentHeaders.size() + r.body.size());
            r.Notify(INTERNET_STATUS_REQUEST_SENT, &sent, sizeof sent);
        }
        r.headers.clear();
        r.headersParsed = false;
        r.statusLine.assign(line);
        r.rawHead.reserve(512);
        r.rawHead.assign(line).append("\r\n");
        std::size_t sp = line.find(' ');
        r.httpVersion.assign(line.substr(0, sp));
        r.status = 0;
        r.statusText.clear();
        if (sp != std::string_view::npos) {
            r.status = std::uint32_t(std::strtoul(r.statusLine.c_str() + sp + 1, nullptr, 10));
            std::size_t sp2 = line.find(' ', sp + 1);
            if (sp2 != std::string_view::npos) r.statusText.assign(line.substr(sp2 + 1));
        }
        return length;
    }
    if (line.empty()) {
        if (r.status >= 200) {  // 1xx responses are followed by the real one
            r.headersDone = true;
            std::uint32_t bytes = std::uint32_t(r.rawHead.size() + 2);
            r.Notify(INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
            if (!(r.flags & INTERNET_FLAG_NO_COOKIES) && MayHoldHeader(r.rawHead, "set-cookie"))
                for (const Header& h : ResponseHeaders(r))
                    if (EqualsNoCase(h.name, "Set-Cookie")) StoreSetCookie(r.url, h.value);
        }
        return length;
    }
    if (line.size() + 2 == length && data[length - 2] == '\r' && data[length - 1] == '\n')
        r.rawHead.append(data, length);  // the line as it came, CR LF and all
    else
        r.rawHead.append(line).append("\r\n");
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Request& r = *static_cast<Request*>(user);
    size_t length = size * count;
    ++r.activity;
    size_t unread = r.inbox.size() - r.inboxPos;
    size_t toDirect = r.direct ? std::min(length, r.directSpace - r.directFilled) : 0;
    size_t rest = length - toDirect;
    if (rest > 0 && unread > 0 && unread + rest > kBodyCeiling) {
        r.paused = true;
        return CURL_WRITEFUNC_PAUSE;  // curl keeps the bytes and offers them again
    }
    if (toDirect) {
        std::memcpy(r.direct + r.directFilled, data, toDirect);
        r.directFilled += toDirect;
    }
    if (rest) {
        if (r.inboxPos == r.inbox.size()) {
            r.inbox.clear();
            r.inboxPos = 0;
        } else if (r.inboxPos >= kBodyCeiling / 2) {
            r.inbox.erase(0, r.inboxPos);
            r.inboxPos = 0;
        }
        r.inbox.append(data + toDirect, rest);
    }
    return length;
}

size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
    Request& r = *static_cast<Request*>(user);
    if (r.uploadLeft == 0) {
        if (r.uploadEnded) return 0;
        r.uploadPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    size_t n = std::min(size * count, r.uploadLeft);
    std::memcpy(buffer, r.upload, n);
    r.upload += n;
    r.uploadLeft -= n;
    ++r.activity;
    return n;
}

int OnConnected(void* user, char* primaryIp, char*, int, int) {
    Request& r = *static_cast<Request*>(user);
    r.connected = true;
    if (r.socketOpened) r.NotifyText(INTERNET_STATUS_CONNECTED_TO_SERVER, primaryIp);
    r.Notify(INTERNET_STATUS_SENDING_REQUEST, nullptr, 0);
    return CURL_PREREQFUNC_OK;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    Request& r = *static_cast<Request*>(user);
    r.socketOpened = true;
    char text[INET6_ADDRSTRLEN] = {};
    if (address->family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address->addr)->sin_addr, text,
                  sizeof text);
    else if (address->family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address->addr)->sin6_addr, text,
                  sizeof text);
    r.NotifyText(INTERNET_STATUS_CONNECTING_TO_SERVER, text);
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// ---- certificate checks ---------------------------------------------------------
//
// Each relaxing flag turns off exactly the check it names. curl can only
// switch peer verification off whole, so for the authority and date flags
// the OpenSSL context curl builds gets a verify callback that forgives those
// errors alone. Its functions are found in the process (curl's own OpenSSL)
// at run time, so the library links nothing more. Relaxed connections are
// never reused or resumed by requests that did not relax.

constexpr std::uint32_t kRelaxAuthority = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
constexpr std::uint32_t kRelaxDates = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
constexpr std::uint32_t kRelaxName = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;

struct OpenSslVerify {
    int (*getError)(void*) = nullptr;
    void (*setError)(void*, int) = nullptr;
    void (*setVerify)(void*, int, int (*)(int, void*)) = nullptr;
    bool Usable() const { return getError && setError && setVerify; }
};

const OpenSslVerify& Verify() {
    static const OpenSslVerify api = [] {
        OpenSslVerify a;
        const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
        if (!v->ssl_version || std::strncmp(v->ssl_version, "OpenSSL", 7) != 0) return a;
        a.getError =
            reinterpret_cast<int (*)(void*)>(dlsym(RTLD_DEFAULT, "X509_STORE_CTX_get_error"));
        a.setError =
            reinterpret_cast<void (*)(void*, int)>(dlsym(RTLD_DEFAULT, "X509_STORE_CTX_set_error"));
        a.setVerify = reinterpret_cast<void (*)(void*, int, int (*)(int, void*))>(
            dlsym(RTLD_DEFAULT, "SSL_CTX_set_verify"));
        return a;
    }();
    return api;
}

// The relaxations of the request being driven on this thread: handshakes
// happen only inside its curl_multi_perform.
thread_local std::uint32_t t_relax = 0;

int ForgivingVerify(int ok, void* store) {
    if (ok) return 1;
    int error = Verify().getError(store);
    // OpenSSL's codes: 9 not yet valid, 10 expired; 2, 18, 19, 20, 21, 24,
    // 27 an issuer that is missing, self-signed or not trusted.
    bool dates = error == 9 || error == 10;
    bool authority = error == 2 || error == 18 || error == 19 || error == 20 || error == 21 ||
                     error == 24 || error == 27;
    if ((dates && (t_relax & kRelaxDates)) || (authority && (t_relax & kRelaxAuthority))) {
        Verify().setError(store, 0);
        return 1;
    }
    return 0;
}

CURLcode OnSslContext(CURL*, void* context, void*) {
    Verify().setVerify(context, 1 /* SSL_VERIFY_PEER */, ForgivingVerify);
    return CURLE_OK;
}

std::mutex g_trustLock;
std::string g_trustFile;

// ---- driving ------------------------------------------------------------------------

void DrainMessages(Request& r) {
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(r.multi, &left)) {
        if (m->msg != CURLMSG_DONE) continue;
        CURLcode code = m->data.result;
        std::uint32_t mapped = MapCurlError(r, code);
        Finish(r, mapped);
    }
}

// Pumps the transfer until ready() holds or it ends; false only when the
// transfer failed (the code is in r.error). The idle timeout counts from the
// start of this call and from every byte that moves. The clock is read only
// before a wait: a call that finds its bytes at once never reads it, and
// bytes that moved during a curl_multi_perform are stamped when it returns.
template <class Ready>
void Pump(Request& r, Ready ready) {
    Clock::time_point last{};
    bool timing = false;
    std::uint32_t seen = 0;
    for (;;) {
        if (ready() || r.finished) return;
        int running = 0;
        t_relax = r.relax;
        if (curl_multi_perform(r.multi, &running) != CURLM_OK) {
            Finish(r, ERROR_INTERNET_INTERNAL_ERROR);
            return;
        }
        DrainMessages(r);
        if (ready() || r.finished) return;
        // Before the connection stands, curl's connect timeout governs; a
        // second more here only guards against a stuck transfer.
        bool sending = r.uploading && !r.uploadEnded;
        std::uint32_t idle = !r.connected ? r.Option(kConnectTimeout, kDefaultConnectTimeout) + 1000
                             : sending    ? r.Option(kSendTimeout, kDefaultSendTimeout)
                                          : r.Option(kReceiveTimeout, kDefaultReceiveTimeout);
        Clock::time_point now = Clock::now();
        if (!timing || r.activity != seen) {
            last = now;
            seen = r.activity;
            timing = true;
        }
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
        if (elapsed >= std::int64_t(idle)) {
            Finish(r, ERROR_INTERNET_TIMEOUT);
            return;
        }
        int wait = int(std::min<std::int64_t>(std::int64_t(idle) - elapsed, 1000));
        curl_multi_poll(r.multi, nullptr, 0, wait, nullptr);
    }
}

void Resume(Request& r) {
    if (r.paused || r.uploadPaused) {
        r.paused = r.uploadPaused = false;
        curl_easy_pause(r.easy, CURLPAUSE_CONT);
    }
}

size_t TakeFromInbox(Request& r, char* out, size_t count) {
    size_t n = std::min(count, r.inbox.size() - r.inboxPos);
    if (n) {
        std::memcpy(out, r.inbox.data() + r.inboxPos, n);
        r.inboxPos += n;
    }
    return n;
}

// Takes a finished request's handles from the connection, or makes new ones
// (fresh: nothing set on them yet).
bool TakeTransfer(Request& r, bool& fresh) {
    Connection& c = *r.connection;
    {
        std::lock_guard<std::mutex> guard(c.idleLock);
        if (!c.idle.empty()) {
            Transfer& t = c.idle.back();
            r.easy = t.easy;
            r.multi = t.multi;
            r.settings.swap(t.settings);
            r.headerList = t.headerList;
            r.resolveList = t.resolveList;
            c.idle.pop_back();
            fresh = false;
            return true;
        }
    }
    fresh = true;
    r.settings.clear();
    r.easy = curl_easy_init();
    r.multi = curl_multi_init();
    return (r.easy && r.multi) || Fail(ERROR_NOT_ENOUGH_MEMORY);
}

// Appends one value to the description of an easy handle's options, each
// text led by its length so that neighbours cannot run together.
void AddSetting(std::string& settings, std::string_view text) {
    std::uint32_t n = std::uint32_t(text.size());
    settings.append(reinterpret_cast<const char*>(&n), sizeof n).append(text);
}
void AddSetting(std::string& settings, std::uint64_t value) {
    settings.append(reinterpret_cast<const char*>(&value), sizeof value);
}

bool SameLines(const curl_slist* list, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (!list || line != list->data) return false;
        list = list->next;
    }
    return list == nullptr;
}

// Sets up the easy handle for the request and adds it to its multi handle.
// A handle a finished request of the connection set up the same way keeps
// its options: only what belongs to this request is set again.
bool Start(Request& r, const std::string* body, bool streamed, std::uint64_t total) {
    DestroyTransfer(r);
    Connection& c = *r.connection;  // its session started curl
    const std::string& host = r.redirected ? r.targetHost : c.host;
    std::uint16_t port = r.redirected ? r.targetPort : PortOf(r);
    bool secure = r.redirected ? r.targetSecure : IsSecure(r);
    if (r.currentVerb.empty()) r.currentVerb = r.verb;
    std::string addresses;
    auto* session = static_cast<Session*>(c.parent);
    // Through a proxy only the proxy's name is looked up.
    std::string proxyHost, proxyPort = "1080";
    if (session && !session->proxy.empty()) {
        std::string proxy = session->proxy;
        std::size_t scheme = proxy.find("://");
        if (scheme != std::string::npos) proxy = proxy.substr(scheme + 3);
        std::size_t colon = proxy.rfind(':');
        proxyHost = proxy.substr(0, colon);
        if (colon != std::string::npos) proxyPort = proxy.substr(colon + 1);
    }
    const std::string& lookup = proxyHost.empty() ? host : proxyHost;
    bool literal = &lookup == &c.host ? c.hostIsAddress : IsAddressLiteral(lookup);
    // The connect timeout covers the lookup too: curl gets what is left.
    std::uint32_t lookupMs = 0;
    if (!literal) {
        const Clock::time_point lookupStart = Clock::now();
        if (!Resolve(r, lookup, addresses)) return false;
        lookupMs = std::uint32_t(std::min<std::int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lookupStart)
                .count(),
            UINT32_MAX));
    }
    std::string resolveEntry;
    if (!addresses.empty())
        resolveEntry =
            lookup + ":" + (proxyHost.empty() ? std::to_string(port) : proxyPort) + ":" + addresses;

    bool fresh = false;
    if (!TakeTransfer(r, fresh)) return false;
    const std::string escaped = EscapeObject(r.redirected ? r.targetObject : r.object);
    const std::string portText = std::to_string(port);
    r.url.reserve(16 + host.size() + escaped.size());
    r.url.assign(secure ? "https://" : "http://");
    AppendHost(r.url, host).append(":").append(portText).append(escaped);

    bool http10 = r.version == "HTTP/1.0";
    const std::string& verb = r.currentVerb;
    bool head = verb == "HEAD";
    bool custom = !head && (verb != "GET" || body || streamed);
    const std::string* agent = r.AgentLine();
    const std::u16string& user = !r.options.user.empty() ? r.options.user : c.options.user;
    const std::u16string& password =
        !r.options.password.empty() ? r.options.password : c.options.password;
    bool authenticate = !user.empty() && !(r.flags & INTERNET_FLAG_NO_AUTH);
    std::string userText, passwordText;
    if (authenticate) {
        userText = ToUtf8(user.data(), user.size());
        passwordText = ToUtf8(password.data(), password.size());
    }
    // Certificates are verified unless the caller relaxed a check.
    // The request's own flags can name the date and name checks (their bits
    // mean other things below 0x1000); the security option any of the three.
    r.relax = (r.Option(kSecurityFlags, 0) & (kRelaxAuthority | kRelaxDates | kRelaxName)) |
              (r.flags & (kRelaxDates | kRelaxName));
    std::string trustFile;
    {
        std::lock_guard<std::mutex> guard(g_trustLock);
        trustFile = g_trustFile;
    }
    std::uint32_t connectTimeout = r.Option(kConnectTimeout, kDefaultConnectTimeout);
    if (lookupMs) connectTimeout = lookupMs < connectTimeout ? connectTimeout - lookupMs : 1;

    // Everything the options below are made from, but the request's own
    // addresses (URL, body, callback data).
    thread_local std::string settings;
    settings.clear();
    AddSetting(settings, resolveEntry);
    AddSetting(settings, session ? std::string_view(session->proxy) : std::string_view());
    AddSetting(settings,
               std::uint64_t(http10) | std::uint64_t(head) << 1 | std::uint64_t(custom) << 2 |
                   std::uint64_t(streamed) << 3 | std::uint64_t(body != nullptr) << 4 |
                   std::uint64_t(authenticate) << 5 | std::uint64_t(agent != nullptr) << 6);
    AddSetting(settings, custom ? std::string_view(verb) : std::string_view());
    AddSetting(settings, agent ? std::string_view(*agent) : std::string_view());
    AddSetting(settings, r.referrer);
    AddSetting(settings, userText);
    AddSetting(settings, passwordText);
    AddSetting(settings, trustFile);
    AddSetting(settings, std::uint64_t(r.relax) << 32 | connectTimeout);

    CURL* e = r.easy;
    if (settings != r.settings) {
        if (!fresh) curl_easy_reset(e);
        curl_slist_free_all(r.resolveList);
        r.resolveList = nullptr;
        curl_easy_setopt(e, CURLOPT_SHARE, r.shared->share);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 64L * 1024);
        if (!resolveEntry.empty()) {
            r.resolveList = curl_slist_append(nullptr, resolveEntry.c_str());
            curl_easy_setopt(e, CURLOPT_RESOLVE, r.resolveList);
        }
        // Only an explicit proxy: never one from the environment.
        curl_easy_setopt(e, CURLOPT_PROXY,
                         session && !session->proxy.empty() ? session->proxy.c_str() : "");
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                         http10 ? long(CURL_HTTP_VERSION_1_0) : long(CURL_HTTP_VERSION_1_1));
        if (head) curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        if (custom) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
        if (streamed) {
            curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(e, CURLOPT_READFUNCTION, OnUpload);
        }
        if (agent) curl_easy_setopt(e, CURLOPT_USERAGENT, agent->c_str());  // curl copies it
        if (!r.referrer.empty()) curl_easy_setopt(e, CURLOPT_REFERER, r.referrer.c_str());
        if (authenticate) {
            curl_easy_setopt(e, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
            curl_easy_setopt(e, CURLOPT_USERNAME, userText.c_str());
            curl_easy_setopt(e, CURLOPT_PASSWORD, passwordText.c_str());
        }
        if (!trustFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, trustFile.c_str());
        if (r.relax) {
            curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
            curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
            curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
            if (r.relax & kRelaxName) curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
            if (r.relax & (kRelaxAuthority | kRelaxDates)) {
                if (Verify().Usable())
                    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, OnSslContext);
                else  // no way to forgive one error alone: all peer checks go
                    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
            }
        }
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(connectTimeout));
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
        curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
        r.settings = settings;
    }

    // This request's own: where it goes, its body, and where curl reports.
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorText);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &r);
    if (streamed) {
        r.uploading = true;
        r.uploadTotal = total;
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(total));
        curl_easy_setopt(e, CURLOPT_READDATA, &r);
    } else if (body) {
        r.body = *body;
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
    }

    // Request headers: ours first, then the caller's, which win.
    std::vector<std::string> lines;
    auto has = [&](const char* name) {
        for (const Header& h : r.requestHeaders)
            if (EqualsNoCase(h.name, name)) return true;
        return false;
    };
    if (http10 && !has("Connection")) lines.push_back("Connection: Keep-Alive");
    // No 100-continue round trip; curl asks for one only before a body.
    if ((body || streamed) && !has("Expect")) lines.push_back("Expect:");
    // A body goes out with the type the caller gives, or none.
    if (body && !has("Content-Type")) lines.push_back("Content-Type:");
    if (!r.range.empty()) lines.push_back("Range: " + r.range);
    if (!r.accept.empty() && !has("Accept")) lines.push_back("Accept: " + r.accept);
    if ((r.flags & (INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE)) && !has("Pragma"))
        lines.push_back("Pragma: no-cache");
    if ((r.flags & INTERNET_FLAG_RELOAD) && !has("Cache-Control"))
        lines.push_back("Cache-Control: no-cache");
    if (!(r.flags & INTERNET_FLAG_NO_COOKIES) && !has("Cookie")) {
        std::string cookies = CookieHeaderFor(r.url);
        if (!cookies.empty()) lines.push_back("Cookie: " + cookies);
    }
    for (const Header& h : r.requestHeaders)
        lines.push_back(h.value.empty() ? h.name + ";" : h.name + ": " + h.value);
    if (!SameLines(r.headerList, lines)) {
        curl_slist_free_all(r.headerList);
        r.headerList = nullptr;
        for (const std::string& line : lines)
            r.headerList = curl_slist_append(r.headerList, line.c_str());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList);

    // The request head, as curl writes it from these settings: kept for the
    // request-header queries (asking curl for it would cost a running
    // commentary on every transfer).
    std::string& sent = r.sentHeaders;
    sent.reserve(256);
    bool defaultPort = port == (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    sent.assign(verb)
        .append(" ")
        .append((!proxyHost.empty() && !secure) ? r.url : escaped)
        .append(http10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    if (!has("Host")) {
        AppendHost(sent.append("Host: "), host);
        if (!defaultPort) sent.append(":").append(portText);
        sent.append("\r\n");
    }
    if (authenticate)
        sent.append("Authorization: Basic ")
            .append(Base64(userText + ":" + passwordText))
            .append("\r\n");
    // curl sends no agent of its own when it is empty or the caller gave one.
    if (agent && !agent->empty() && !has("User-Agent"))
        sent.append("User-Agent: ").append(*agent).append("\r\n");
    if (r.accept.empty() && !has("Accept")) sent.append("Accept: */*\r\n");
    if (!r.referrer.empty()) sent.append("Referer: ").append(r.referrer).append("\r\n");
    for (const std::string& line : lines) {
        if (line.back() == ':') continue;  // a header curl is told to leave out
        if (line.back() == ';')
            sent.append(line, 0, line.size() - 1).append(":\r\n");
        else
            sent.append(line).append("\r\n");
    }
    if (body) sent.append("Content-Length: ").append(std::to_string(body->size())).append("\r\n");
    if (streamed) sent.append("Content-Length: ").append(std::to_string(total)).append("\r\n");
    sent.append("\r\n");

    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
    r.started = true;
    return true;
}

bool Failed(Request& r) {
    return r.finished && r.error;
}

// Applies "Name: value" lines with the HTTP_ADDREQ_FLAG_* modifiers.
bool ApplyHeaders(Request& r, const std::string& text, std::uint32_t modifiers) {
    std::size_t pos = 0;
    bool ok = true;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            ok = Fail(ERROR_HTTP_INVALID_HEADER);
            continue;
        }
        std::string name = Trim(line.substr(0, colon));
        std::string value = Trim(line.substr(colon + 1));
        // A lone CR or a NUL inside a line would split it on the wire.
        if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos ||
            name.find_first_of(" \t") != std::string::npos) {
            ok = Fail(ERROR_HTTP_INVALID_HEADER);
            continue;
        }
        Header* found = FindHeader(r.requestHeaders, name);
        if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
            if (found) {
                if (value.empty())
                    r.requestHeaders.erase(r.requestHeaders.begin() +
                                           (found - r.requestHeaders.data()));
                else
                    found->value = value;
            } else if ((modifiers & HTTP_ADDREQ_FLAG_ADD) && !value.empty()) {
                r.requestHeaders.push_back({name, value});
            } else if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) {
                ok = Fail(ERROR_HTTP_HEADER_NOT_FOUND);
            }
        } else if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
            if (found)
                ok = Fail(ERROR_HTTP_HEADER_ALREADY_EXISTS);
            else
                r.requestHeaders.push_back({name, value});
        } else if (modifiers & (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                                HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON)) {
            if (found) {
                found->value +=
                    (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) ? "; " : ", ";
                found->value += value;
            } else {
                r.requestHeaders.push_back({name, value});
            }
        } else {
            r.requestHeaders.push_back({name, value});
        }
    }
    return ok;
}

std::string HeaderText(const TKWCHAR* headers, std::uint32_t length) {
    if (!headers) return std::string();
    if (length == 0xFFFFFFFFu) return ToUtf8(headers);
    return ToUtf8(headers, length);
}

// Waits for the response's headers.
bool WaitForHeaders(Request& r) {
    r.Notify(INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0);
    Pump(r, [&] { return r.headersDone; });
    if (!r.headersDone) return Fail(r.error ? r.error : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return true;
}

bool IsRedirect(std::uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

constexpr int kMaxRedirects = 10;

// The target a Location names, resolved against the current URL; false when
// it is not an http or https URL.
bool RedirectTarget(Request& r, const std::string& location) {
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = curl_url_set(u, CURLUPART_URL, r.url.c_str(), 0) == CURLUE_OK &&
              curl_url_set(u, CURLUPART_URL, location.c_str(), CURLU_ALLOW_SPACE) == CURLUE_OK;
    char *scheme = nullptr, *host = nullptr, *port = nullptr, *path = nullptr, *query = nullptr;
    if (ok) {
        curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
        curl_url_get(u, CURLUPART_HOST, &host, 0);
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
        curl_url_get(u, CURLUPART_PATH, &path, 0);
        curl_url_get(u, CURLUPART_QUERY, &query, 0);
        ok = scheme && host && port && path &&
             (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0);
    }
    if (ok) {
        r.targetSecure = std::strcmp(scheme, "https") == 0;
        r.targetHost = host;
        if (r.targetHost.size() > 2 && r.targetHost.front() == '[')
            r.targetHost = r.targetHost.substr(1, r.targetHost.size() - 2);
        r.targetPort = std::uint16_t(std::strtoul(port, nullptr, 10));
        r.targetObject = path;
        if (query) r.targetObject += std::string("?") + query;
        r.redirected = true;
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_free(path);
    curl_free(query);
    curl_url_cleanup(u);
    return ok;
}

// Starts the request and waits for its headers.
bool StartAndWait(Request& r, const std::string* body) {
    if (!Start(r, body, false, 0)) return false;
    return WaitForHeaders(r);
}

// Follows redirects unless the request asked not to: 303, and 301/302 of
// anything but HEAD, become GETs without a body; 307 and 308 repeat the
// request as it was. A streamed upload cannot be repeated: its 3xx stands.
bool FollowRedirects(Request& r, const std::string* body) {
    std::string saved = body ? *body : std::string();
    bool withBody = body != nullptr;
    while (IsRedirect(r.status) && !(r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) && !r.uploading) {
        Header* location = FindHeader(ResponseHeaders(r), "Location");
        if (!location) return true;
        if (++r.hops > kMaxRedirects) {
            Finish(r, ERROR_HTTP_REDIRECT_FAILED);
            return Fail(ERROR_HTTP_REDIRECT_FAILED);
        }
        std::string where = location->value;
        if (!RedirectTarget(r, where)) return true;
        if (r.status != 307 && r.status != 308 && r.currentVerb != "HEAD") {
            r.currentVerb = "GET";
            withBody = false;
        }
        // Read a short body to its end so that the connection can serve the
        // next hop; a long one is dropped with its connection.
        Pump(r, [&] { return r.inbox.size() - r.inboxPos >= kBodyCeiling; });
        std::string next = (r.targetSecure ? "https://" : "http://") + HostForUrl(r.targetHost) +
                           ":" + std::to_string(r.targetPort) + r.targetObject;
        r.NotifyText(INTERNET_STATUS_REDIRECT, next);
        if (!StartAndWait(r, withBody ? &saved : nullptr)) return false;
    }
    return true;
}

// Sends the request and waits for the final response's headers.
bool SendAndWait(Request& r, const std::string* body) {
    r.currentVerb = r.verb;
    r.redirected = false;
    r.acceptsRanges = false;
    r.hops = 0;
    r.range.clear();
    std::string saved = body ? *body : std::string();
    if (!StartAndWait(r, body ? &saved : nullptr)) return false;
    return FollowRedirects(r, body ? &saved : nullptr);
}

Request* LookupRequest(Handle handle) {
    return static_cast<Request*>(Lookup(handle, INTERNET_HANDLE_TYPE_HTTP_REQUEST));
}

}  // namespace

void DestroyTransfer(Request& r) {
    if (r.started && !r.finished) {
        // An unfinished response cannot leave its connection reusable.
        r.Notify(INTERNET_STATUS_CLOSING_CONNECTION, nullptr, 0);
        r.Notify(INTERNET_STATUS_CONNECTION_CLOSED, nullptr, 0);
    }
    if (r.multi && r.easy && r.started && !r.finished) curl_multi_remove_handle(r.multi, r.easy);
    Transfer t;
    t.easy = std::exchange(r.easy, nullptr);
    t.multi = std::exchange(r.multi, nullptr);
    t.settings.swap(r.settings);
    t.headerList = std::exchange(r.headerList, nullptr);
    t.resolveList = std::exchange(r.resolveList, nullptr);
    // A transfer cut short or paused may leave state in the easy handle: the
    // next request resets it.
    if (!r.finished || r.error || r.paused || r.uploadPaused) t.settings.clear();
    bool kept = false;
    if (t.easy && t.multi && r.connection) {
        std::lock_guard<std::mutex> guard(r.connection->idleLock);
        if (r.connection->idle.size() < 4) {
            r.connection->idle.push_back(std::move(t));
            kept = true;
        }
    }
    if (!kept) FreeTransfer(t);
    r.started = r.headersDone = r.finished = r.paused = false;
    r.connected = r.socketOpened = false;
    r.error = 0;
    r.uploading = r.uploadEnded = r.uploadPaused = false;
    r.upload = nullptr;
    r.uploadLeft = 0;
    r.uploadTotal = r.uploadWritten = 0;
    r.status = 0;
    r.statusLine.clear();
    r.statusText.clear();
    r.httpVersion.clear();
    r.headers.clear();
    r.headersParsed = false;
    r.rawHead.clear();
    r.sentHeaders.clear();
    r.inbox.clear();
    r.inboxPos = 0;
    r.position = 0;
    r.body.clear();
    r.errorText[0] = 0;
}

}  // namespace detail

using namespace detail;

// ---- opening -------------------------------------------------------------------------

Handle HttpOpenRequest(Handle connectionHandle, const TKWCHAR* verb, const TKWCHAR* object,
                       const TKWCHAR* version, const TKWCHAR* referrer, const TKWCHAR** acceptTypes,
                       std::uint32_t flags, std::uint64_t context) {
    auto* c = static_cast<Connection*>(Lookup(connectionHandle, INTERNET_HANDLE_TYPE_CONNECT_HTTP));
    if (!c) return nullptr;
    auto r = std::make_unique<Request>();
    r->connection = c;
    r->verb = (verb && *verb) ? ToUtf8(verb) : "GET";
    for (char ch : r->verb) {
        if (static_cast<unsigned char>(ch) <= 0x20 || ch == ':' ||
            static_cast<unsigned char>(ch) >= 0x7F) {
            Fail(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    r->object = (object && *object) ? ToUtf8(object) : "/";
    r->version = (version && *version) ? ToUtf8(version) : "HTTP/1.1";
    r->referrer = WithoutLineBreaks(ToUtf8(referrer));
    if (acceptTypes)
        for (const TKWCHAR** t = acceptTypes; *t; ++t) {
            if (!r->accept.empty()) r->accept += ", ";
            r->accept += WithoutLineBreaks(ToUtf8(*t));
        }
    r->flags = flags;
    r->context = context;
    Adopt(c, r.get());
    Register(r.get());
    return r.release();
}

Handle InternetOpenUrl(Handle sessionHandle, const TKWCHAR* url, const TKWCHAR* headers,
                       std::uint32_t headersLength, std::uint32_t flags, std::uint64_t context) {
    auto* session = static_cast<Session*>(Lookup(sessionHandle, INTERNET_HANDLE_TYPE_INTERNET));
    if (!session) return nullptr;
    if (!url) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string canonical(2084, u'\0');
    std::uint32_t length = std::uint32_t(canonical.size());
    if (!InternetCanonicalizeUrl(url, canonical.data(), &length, ICU_BROWSER_MODE)) {
        if (platform::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;
        canonical.assign(length, u'\0');
        if (!InternetCanonicalizeUrl(url, canonical.data(), &length, ICU_BROWSER_MODE))
            return nullptr;
    }
    std::u16string host(length + 1, u'\0'), path(length + 1, u'\0');
    std::u16string user(length + 1, u'\0'), password(length + 1, u'\0');
    UrlComponents parts;
    parts.hostName = host.data();
    parts.hostNameLength = length;
    parts.urlPath = path.data();
    parts.urlPathLength = length;
    parts.userName = user.data();
    parts.userNameLength = length;
    parts.password = password.data();
    parts.passwordLength = length;
    if (!InternetCrackUrl(canonical.c_str(), 0, &parts)) return nullptr;
    if (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS) {
        Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return nullptr;
    }
    std::uint32_t secure = parts.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
    Handle connection = InternetConnect(
        session, host.c_str(), parts.port, parts.userNameLength ? user.c_str() : nullptr,
        parts.passwordLength ? password.c_str() : nullptr, INTERNET_SERVICE_HTTP, secure, context);
    if (!connection) return nullptr;
    Handle request = HttpOpenRequest(connection, nullptr, path.c_str(), nullptr, nullptr, nullptr,
                                     flags | secure, context);
    // The request alone keeps its hidden connection alive from here on.
    auto* c = static_cast<Connection*>(connection);
    Unregister(c);
    Release(c);
    if (!request) return nullptr;
    if (!HttpSendRequest(request, headers, headersLength, nullptr, 0)) {
        std::uint32_t code = platform::GetLastError();
        InternetCloseHandle(request);
        Fail(code);
        return nullptr;
    }
    return request;
}

// ---- sending ---------------------------------------------------------------------------

bool HttpAddRequestHeaders(Handle handle, const TKWCHAR* headers, std::uint32_t length,
                           std::uint32_t modifiers) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!headers) return length == 0 ? true : Fail(ERROR_INVALID_PARAMETER);
    return ApplyHeaders(*r, HeaderText(headers, length), modifiers);
}

bool HttpSendRequest(Handle handle, const TKWCHAR* headers, std::uint32_t headersLength,
                     const void* body, std::uint32_t bodyLength) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (headers && !ApplyHeaders(*r, HeaderText(headers, headersLength),
                                 HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD))
        return false;
    std::string data;
    if (body && bodyLength) data.assign(static_cast<const char*>(body), bodyLength);
    return SendAndWait(*r, (body && bodyLength) ? &data : nullptr);
}

bool HttpSendRequestEx(Handle handle, const INTERNET_BUFFERSW* in, INTERNET_BUFFERSW*,
                       std::uint32_t, std::uint64_t) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (in && in->lpcszHeader &&
        !ApplyHeaders(*r, HeaderText(in->lpcszHeader, in->dwHeadersLength),
                      HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD))
        return false;
    r->currentVerb = r->verb;
    r->redirected = false;
    r->range.clear();
    if (!Start(*r, nullptr, true, in ? in->dwBufferTotal : 0)) return false;
    // Connect now, so that an unreachable server fails here.
    Pump(*r, [&] { return r->connected; });
    if (Failed(*r)) return Fail(r->error);
    return true;
}

bool InternetWriteFile(Handle handle, const void* data, std::uint32_t count,
                       std::uint32_t* written) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!written || (!data && count)) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (!r->uploading || r->uploadEnded) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (Failed(*r)) return Fail(r->error);
    if (r->uploadWritten + count > r->uploadTotal) return Fail(ERROR_INVALID_PARAMETER);
    // curl takes the bytes straight from the caller's buffer; the call
    // returns when it has taken them all.
    r->upload = static_cast<const char*>(data);
    r->uploadLeft = count;
    r->uploadWritten += count;
    Resume(*r);
    Pump(*r, [&] { return r->uploadLeft == 0; });
    r->upload = nullptr;
    if (r->uploadLeft) {
        r->uploadLeft = 0;
        return Fail(r->error ? r->error : ERROR_INTERNET_CONNECTION_ABORTED);
    }
    *written = count;
    return true;
}

bool HttpEndRequest(Handle handle, INTERNET_BUFFERSW*, std::uint32_t, std::uint64_t) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!r->uploading) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    r->uploadEnded = true;
    Resume(*r);
    return WaitForHeaders(*r);
}

// ---- reading -------------------------------------------------------------------------

bool InternetReadFile(Handle handle, void* buffer, std::uint32_t count, std::uint32_t* read) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!read || (!buffer && count)) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    if (!r->headersDone) return Fail(r->error ? r->error : ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    char* out = static_cast<char*>(buffer);
    size_t got = TakeFromInbox(*r, out, count);
    if (got == 0 && count && !r->finished) {
        r->direct = out;
        r->directSpace = count;
        r->directFilled = 0;
        Resume(*r);
        Pump(*r, [&] { return r->directFilled > 0 || r->inbox.size() > r->inboxPos; });
        got = r->directFilled;
        r->direct = nullptr;
        got += TakeFromInbox(*r, out + got, count - got);
        if (got) {
            std::uint32_t n = std::uint32_t(got);
            r->Notify(INTERNET_STATUS_RESPONSE_RECEIVED, &n, sizeof n);
        }
    }
    if (got == 0 && Failed(*r)) return Fail(r->error);
    r->position += got;
    *read = std::uint32_t(got);
    return true;
}

bool InternetQueryDataAvailable(Handle handle, std::uint32_t* available, std::uint32_t,
                                std::uint64_t) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!available) return Fail(ERROR_INVALID_PARAMETER);
    *available = 0;
    if (!r->headersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (r->inbox.size() == r->inboxPos && !r->finished) {
        // Take whatever has arrived, without waiting for more.
        Resume(*r);
        int running = 0;
        curl_multi_perform(r->multi, &running);
        DrainMessages(*r);
    }
    if (r->inbox.size() == r->inboxPos && Failed(*r)) return Fail(r->error);
    *available = std::uint32_t(std::min<std::size_t>(r->inbox.size() - r->inboxPos, 0xFFFFFFFFu));
    return true;
}

std::uint32_t InternetSetFilePointer(Handle handle, std::int32_t distance, std::int32_t* high,
                                     std::uint32_t method, std::uint64_t) {
    Request* r = LookupRequest(handle);
    if (!r) return 0xFFFFFFFFu;
    if (high && *high != 0 && *high != -1) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0xFFFFFFFFu;
    }
    if (method > 2) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0xFFFFFFFFu;
    }
    if (!r->headersDone || r->uploading) {
        Fail(ERROR_INTERNET_INVALID_OPERATION);
        return 0xFFFFFFFFu;
    }
    std::int64_t target = std::int64_t(distance);
    if (method == 1) target += std::int64_t(r->position);
    if (method == 2) {
        // The whole body's length: after a restart the range's total.
        Header* range = FindHeader(ResponseHeaders(*r), "Content-Range");
        Header* length = FindHeader(ResponseHeaders(*r), "Content-Length");
        std::size_t slash = range ? range->value.rfind('/') : std::string::npos;
        if (r->status == 206 && slash != std::string::npos)
            target += std::int64_t(std::strtoull(range->value.c_str() + slash + 1, nullptr, 10));
        else if (length && r->status != 206)
            target += std::int64_t(std::strtoull(length->value.c_str(), nullptr, 10));
        else {
            Fail(ERROR_INTERNET_INVALID_OPERATION);
            return 0xFFFFFFFFu;
        }
    }
    if (target < 0 || target > 0xFFFFFFFELL) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0xFFFFFFFFu;
    }
    if (target < std::int64_t(r->position) || method == 2) {
        // Backward, or from the end: ask again for the bytes from the
        // target on, when the server takes byte ranges.
        Header* ranges = FindHeader(ResponseHeaders(*r), "Accept-Ranges");
        if (ranges && EqualsNoCase(ranges->value, "bytes")) r->acceptsRanges = true;
        if (!r->acceptsRanges || r->currentVerb != "GET") {
            Fail(ERROR_INTERNET_INVALID_OPERATION);
            return 0xFFFFFFFFu;
        }
        if (target != std::int64_t(r->position) || method == 2) {
            r->range = "bytes=" + std::to_string(target) + "-";
            bool ok = StartAndWait(*r, nullptr);
            r->range.clear();
            if (!ok) return 0xFFFFFFFFu;
            if (r->status != 206) {
                Fail(ERROR_INTERNET_INVALID_OPERATION);
                return 0xFFFFFFFFu;
            }
            r->position = std::uint64_t(target);
        }
        return std::uint32_t(r->position);
    }
    char scratch[16384];
    while (std::int64_t(r->position) < target) {
        std::uint32_t want = std::uint32_t(
            std::min<std::int64_t>(sizeof scratch, target - std::int64_t(r->position)));
        std::uint32_t got = 0;
        if (!InternetReadFile(handle, scratch, want, &got)) return 0xFFFFFFFFu;
        if (got == 0) break;  // the end comes first: the position stops there
    }
    return std::uint32_t(r->position);
}

// ---- header queries ----------------------------------------------------------------

namespace {

const char* const kHeaderNames[] = {
    "MIME-Version",
    "Content-Type",
    "Content-Transfer-Encoding",
    "Content-ID",
    "Content-Description",
    "Content-Length",
    "Content-Language",
    "Allow",
    "Public",
    "Date",
    "Expires",
    "Last-Modified",
    "Message-ID",
    "URI",
    "Derived-From",
    "Cost",
    "Link",
    "Pragma",
    nullptr /* version */,
    nullptr /* status code */,
    nullptr /* status text */,
    nullptr /* raw */,
    nullptr /* raw CRLF */,
    "Connection",
    "Accept",
    "Accept-Charset",
    "Accept-Encoding",
    "Accept-Language",
    "Authorization",
    "Content-Encoding",
    "Forwarded",
    "From",
    "If-Modified-Since",
    "Location",
    "Orig-URI",
    "Referer",
    "Retry-After",
    "Server",
    "Title",
    "User-Agent",
    "WWW-Authenticate",
    "Proxy-Authenticate",
    "Accept-Ranges",
    "Set-Cookie",
    "Cookie",
    nullptr /* request method */,
    "Refresh",
    "Content-Disposition",
    "Age",
    "Cache-Control",
    "Content-Base",
    "Content-Location",
    "Content-MD5",
    "Content-Range",
    "ETag",
    "Host",
    "If-Match",
    "If-None-Match",
    "If-Range",
    "If-Unmodified-Since",
    "Max-Forwards",
    "Proxy-Authorization",
    "Range",
    "Transfer-Encoding",
    "Upgrade",
    "Vary",
    "Via",
    "Warning",
    "Expect",
    "Proxy-Connection",
    "Unless-Modified-Since",
};

// The request head as sent: its first line, then its headers.
void ParseSentHead(const std::string& head, std::string& first, std::vector<Header>& list) {
    std::size_t pos = 0;
    bool isFirst = true;
    while (pos < head.size()) {
        std::size_t end = head.find('\n', pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (line.empty()) break;
        if (isFirst) {
            first = line;
            isFirst = false;
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            list.push_back({Trim(line.substr(0, colon)), Trim(line.substr(colon + 1))});
    }
}

bool AnswerText(const std::string& utf8, bool nulSeparated, void* buffer, std::uint32_t* length) {
    std::u16string text = FromUtf8(utf8.data(), utf8.size());
    if (nulSeparated)
        for (char16_t& c : text)
            if (c == u'\n') c = 0;
    std::uint32_t needed = std::uint32_t(text.size() + 1);
    if (!buffer || *length < needed) {
        *length = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
    static_cast<char16_t*>(buffer)[text.size()] = 0;
    *length = std::uint32_t(text.size());
    return true;
}

}  // namespace

bool HttpQueryInfo(Handle handle, std::uint32_t info, void* buffer, std::uint32_t* length,
                   std::uint32_t* index) {
    Request* r = LookupRequest(handle);
    if (!r) return false;
    if (!length) return Fail(ERROR_INVALID_PARAMETER);
    std::uint32_t level = info & HTTP_QUERY_HEADER_MASK;
    bool requestSide = (info & HTTP_QUERY_FLAG_REQUEST_HEADERS) != 0;
    if (requestSide ? r->sentHeaders.empty() : !r->headersDone)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    std::string requestLine;
    std::vector<Header> sent;
    if (requestSide) ParseSentHead(r->sentHeaders, requestLine, sent);
    const std::vector<Header>& list = requestSide ? sent : ResponseHeaders(*r);

    std::string value;
    bool nulSeparated = false;
    bool single = false;  // not a header: no index applies
    switch (level) {
        case HTTP_QUERY_STATUS_CODE:
            value = std::to_string(r->status);
            single = true;
            break;
        case HTTP_QUERY_STATUS_TEXT:
            value = r->statusText;
            single = true;
            break;
        case HTTP_QUERY_VERSION:
            value = r->httpVersion;
            single = true;
            break;
        case HTTP_QUERY_REQUEST_METHOD:
            value = r->verb;
            single = true;
            break;
        case HTTP_QUERY_RAW_HEADERS_CRLF:
        case HTTP_QUERY_RAW_HEADERS: {
            std::string head;
            if (requestSide) {
                head = r->sentHeaders.substr(0, r->sentHeaders.size() - 2);  // less the blank line
            } else {
                head = r->rawHead;
            }
            if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
                value = head + "\r\n";
            } else {
                for (char c : head)
                    if (c != '\r') value.push_back(c);  // each line then ends in a NUL
                value.push_back('\n');
                nulSeparated = true;
            }
            single = true;
            break;
        }
        default:
            break;
    }
    if (!single) {
        std::string name;
        if (level == HTTP_QUERY_CUSTOM) {
            if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
            name = ToUtf8(static_cast<const TKWCHAR*>(buffer));
        } else if (level < sizeof kHeaderNames / sizeof *kHeaderNames && kHeaderNames[level]) {
            name = kHeaderNames[level];
        } else {
            return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        }
        std::uint32_t wanted = index ? *index : 0;
        std::uint32_t seen = 0;
        bool found = false;
        for (const Header& h : list) {
            if (!EqualsNoCase(h.name, name.c_str())) continue;
            if (info & HTTP_QUERY_FLAG_COALESCE) {
                if (found) value += ", ";
                value += h.value;
                found = true;
            } else if (seen++ == wanted) {
                value = h.value;
                found = true;
                break;
            }
        }
        if (!found) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    }

    if (info & (HTTP_QUERY_FLAG_NUMBER | HTTP_QUERY_FLAG_NUMBER64)) {
        bool wide = (info & HTTP_QUERY_FLAG_NUMBER64) != 0;
        std::uint32_t size = wide ? 8 : 4;
        char* end = nullptr;
        errno = 0;
        unsigned long long number = std::strtoull(value.c_str(), &end, 10);
        if (end == value.c_str() || errno) return Fail(ERROR_HTTP_INVALID_HEADER);
        if (!buffer || *length < size) {
            *length = size;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        if (wide) {
            std::uint64_t v = number;
            std::memcpy(buffer, &v, 8);
        } else {
            std::uint32_t v = std::uint32_t(number);
            std::memcpy(buffer, &v, 4);
        }
        *length = size;
    } else if (info & HTTP_QUERY_FLAG_SYSTEMTIME) {
        std::time_t when = curl_getdate(value.c_str(), nullptr);
        if (when == -1) return Fail(ERROR_HTTP_INVALID_HEADER);
        if (!buffer || *length < sizeof(SYSTEMTIME)) {
            *length = sizeof(SYSTEMTIME);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::tm tm{};
        gmtime_r(&when, &tm);
        SYSTEMTIME st{};
        st.wYear = std::uint16_t(tm.tm_year + 1900);
        st.wMonth = std::uint16_t(tm.tm_mon + 1);
        st.wDayOfWeek = std::uint16_t(tm.tm_wday);
        st.wDay = std::uint16_t(tm.tm_mday);
        st.wHour = std::uint16_t(tm.tm_hour);
        st.wMinute = std::uint16_t(tm.tm_min);
        st.wSecond = std::uint16_t(tm.tm_sec);
        std::memcpy(buffer, &st, sizeof st);
        *length = sizeof st;
    } else if (!AnswerText(value, nulSeparated, buffer, length)) {
        return false;
    }
    if (index && !single && !(info & HTTP_QUERY_FLAG_COALESCE)) ++*index;
    return true;
}

void UseTrustStoreFile(const char* pemPath) {
    std::lock_guard<std::mutex> guard(g_trustLock);
    g_trustFile = pemPath ? pemPath : "";
}

}  // namespace tk::inet
