// The records behind the internet layer's handles, shared by the files of
// this folder only.
#ifndef TAVIKFCU_NET_PLATFORM_INET_HANDLES_H
#define TAVIKFCU_NET_PLATFORM_INET_HANDLES_H

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/platform/inet.h"

namespace tk::inet::detail {

// Per-session state that lives until the session and everything made from
// it are closed: the curl share (connections, TLS sessions, names) and the
// installed status callback.
struct SessionShared {
    SessionShared();
    ~SessionShared();
    SessionShared(const SessionShared&) = delete;
    SessionShared& operator=(const SessionShared&) = delete;

    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
    std::atomic<INTERNET_STATUS_CALLBACK> callback{nullptr};
};

// Values set on a handle; unset ones come from the parent.
struct Options {
    std::uint32_t value[4] = {};  // connect, send, receive timeouts; security flags
    bool set[4] = {};
    std::u16string agent;
    std::string agentLine;  // the agent as the User-Agent header carries it
    bool agentSet = false;
    std::u16string user, password;
};
enum OptionSlot { kConnectTimeout, kSendTimeout, kReceiveTimeout, kSecurityFlags };

struct HandleBase {
    explicit HandleBase(std::uint32_t k) : kind(k) {}
    virtual ~HandleBase() = default;
    HandleBase(const HandleBase&) = delete;
    HandleBase& operator=(const HandleBase&) = delete;

    const std::uint32_t kind;  // INTERNET_HANDLE_TYPE_*
    std::uint64_t context = 0;
    // One reference for being open, one for each open child: a closed
    // session or connection lives on while requests made from it do.
    std::atomic<int> references{1};
    HandleBase* parent = nullptr;
    std::shared_ptr<SessionShared> shared;
    Options options;

    // The option from this handle or the nearest parent that set it.
    std::uint32_t Option(OptionSlot slot, std::uint32_t fallback) const;
    const std::u16string* Agent() const;
    // The agent in UTF-8 without line breaks, kept beside the agent.
    const std::string* AgentLine() const;
    void SetAgent(std::u16string agent);
    // Sends a notification to the session's callback, if any.
    void Notify(std::uint32_t status, const void* info, std::uint32_t length);
    void NotifyText(std::uint32_t status, const std::string& text);
};

struct Session final : HandleBase {
    Session() : HandleBase(INTERNET_HANDLE_TYPE_INTERNET) {}
    std::uint32_t accessType = 0;
    std::string proxy;  // host[:port], UTF-8; empty: none
    std::uint32_t flags = 0;
};

// A finished request's curl handles, kept for the next request of the
// connection. The easy handle keeps the options it was last given, which
// settings describes (empty: reset it before use), and the header and
// resolve lists those options point at.
struct Transfer {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::string settings;
    curl_slist* headerList = nullptr;
    curl_slist* resolveList = nullptr;
};
void FreeTransfer(Transfer& transfer);

struct Connection final : HandleBase {
    Connection() : HandleBase(INTERNET_HANDLE_TYPE_CONNECT_HTTP) {}
    std::string host;            // UTF-8, as given (IPv6 without brackets)
    bool hostIsAddress = false;  // an IPv4 or IPv6 address: nothing to look up
    std::uint16_t port = 0;
    std::uint32_t flags = 0;
    ~Connection() override;
    // "host:port:address,..." entries from the first lookup of each name.
    std::mutex resolvedLock;
    std::vector<std::pair<std::string, std::string>> resolved;
    std::mutex idleLock;
    std::vector<Transfer> idle;
};

struct Header {
    std::string name, value;
};

struct Request;
void DestroyTransfer(Request& request);

struct Request final : HandleBase {
    Request() : HandleBase(INTERNET_HANDLE_TYPE_HTTP_REQUEST) {}
    ~Request() override { DestroyTransfer(*this); }

    Connection* connection = nullptr;
    std::string verb, object, version, referrer, accept;
    std::uint32_t flags = 0;
    std::vector<Header> requestHeaders;  // as added by the caller
    std::string sentHeaders;             // the request head as it went out

    // Where the transfer goes: the connection's server and the object, or
    // after a redirect the target it named; the verb may change on the way.
    std::string currentVerb;
    bool redirected = false;
    std::string targetHost, targetObject;
    std::uint16_t targetPort = 0;
    bool targetSecure = false;
    int hops = 0;
    std::string range;  // "bytes=N-" while restarting at an offset
    bool acceptsRanges = false;
    std::uint32_t relax = 0;  // certificate checks the caller turned off  // a response of this
                              // request offered byte ranges

    // The transfer, its handles as a Transfer describes them.
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::string settings;
    curl_slist* headerList = nullptr;
    curl_slist* resolveList = nullptr;
    std::string url;
    std::string body;  // SendRequest's data, kept while curl reads it
    char errorText[CURL_ERROR_SIZE] = {};
    bool started = false, headersDone = false, finished = false, paused = false;
    bool connected = false, socketOpened = false;
    std::uint32_t error = 0;     // sticky failure of the transfer
    std::uint32_t activity = 0;  // counts the callbacks that moved bytes

    // Streamed upload (HttpSendRequestEx).
    bool uploading = false, uploadEnded = false, uploadPaused = false;
    // The caller's bytes of the Write in progress, taken by curl directly.
    const char* upload = nullptr;
    std::size_t uploadLeft = 0;
    std::uint64_t uploadTotal = 0, uploadWritten = 0;

    // The response of the current hop.
    std::uint32_t status = 0;
    std::string statusLine, statusText, httpVersion;
    std::string rawHead;  // status line and header lines, CR LF each
    // The header lines of rawHead split into names and values, made when
    // first asked for (ResponseHeaders).
    std::vector<Header> headers;
    bool headersParsed = false;

    // Body bytes not yet read, and a caller buffer filled straight from the
    // transfer while a read waits.
    std::string inbox;
    std::size_t inboxPos = 0;
    char* direct = nullptr;
    std::size_t directSpace = 0, directFilled = 0;
    std::uint64_t position = 0;  // body bytes handed to the caller
};

// Handle registry: only handles this layer made are accepted.
void Register(HandleBase* handle);
// Makes child hold a reference on parent.
void Adopt(HandleBase* parent, HandleBase* child);
// Drops one reference; the last one deletes the record and releases its parent.
void Release(HandleBase* handle);
void Unregister(HandleBase* handle);
// The live handle of that kind (0: any kind), or null with the code set.
HandleBase* Lookup(Handle handle, std::uint32_t kind);

void EnsureCurl();
std::string ToUtf8(const TKWCHAR* text, std::size_t length);
std::string ToUtf8(const TKWCHAR* text);
std::u16string FromUtf8(const char* text, std::size_t length);

// The thread's last response text (for 12003).
void SetLastResponse(const std::string& text);

// Cookies for the request's URL, "a=1; b=2"; empty when none.
std::string CookieHeaderFor(const std::string& url);
// Stores a Set-Cookie value received from url.
void StoreSetCookie(const std::string& url, const std::string& value);

bool Fail(std::uint32_t code);

// The response's headers, split from its head on first use.
std::vector<Header>& ResponseHeaders(Request& request);

}  // namespace tk::inet::detail

#endif  // TAVIKFCU_NET_PLATFORM_INET_HANDLES_H
