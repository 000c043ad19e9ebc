// Sessions and connections, the handle registry, options and status
// notifications of the internet layer.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/platform/inet_handles.h"
#include "net/pointer_table.h"
#include "platform/last_error.h"

namespace tk::inet {

namespace detail {

bool Fail(std::uint32_t code) {
    platform::SetLastError(code);
    return false;
}

// ---- curl start-up and the share's locks ------------------------------------------

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SessionShared*>(user)->locks[data].lock();
}
void UnlockShare(CURL*, curl_lock_data data, void* user) {
    static_cast<SessionShared*>(user)->locks[data].unlock();
}

}  // namespace

SessionShared::SessionShared() {
    EnsureCurl();
    share = curl_share_init();
    if (!share) return;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    // Requests of one session reuse its connections, TLS sessions and names.
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

SessionShared::~SessionShared() {
    if (share) curl_share_cleanup(share);
}

void FreeTransfer(Transfer& t) {
    if (t.easy) curl_easy_cleanup(t.easy);
    if (t.multi) curl_multi_cleanup(t.multi);
    curl_slist_free_all(t.headerList);
    curl_slist_free_all(t.resolveList);
    t = Transfer();
}

Connection::~Connection() {
    for (Transfer& t : idle) FreeTransfer(t);
}

// ---- registry ---------------------------------------------------------------------

namespace {

struct Registry {
    std::mutex lock;
    tk::detail::PointerTable<bool> live;
};
Registry& TheRegistry() {
    static Registry* registry = new Registry;  // never destroyed: used until exit
    return *registry;
}

}  // namespace

void Register(HandleBase* handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.live.Set(handle, true);
}

void Unregister(HandleBase* handle) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.live.Remove(handle);
}

void Adopt(HandleBase* parent, HandleBase* child) {
    parent->references.fetch_add(1, std::memory_order_relaxed);
    child->parent = parent;
    child->shared = parent->shared;
}

void Release(HandleBase* handle) {
    while (handle && handle->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        HandleBase* parent = handle->parent;
        delete handle;
        handle = parent;
    }
}

HandleBase* Lookup(Handle handle, std::uint32_t kind) {
    auto* h = static_cast<HandleBase*>(handle);
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.live.Get(h)) {
            Fail(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    if (kind != 0 && h->kind != kind) {
        Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return h;
}

// ---- options and notifications --------------------------------------------------

std::uint32_t HandleBase::Option(OptionSlot slot, std::uint32_t fallback) const {
    for (const HandleBase* h = this; h; h = h->parent)
        if (h->options.set[slot]) return h->options.value[slot];
    return fallback;
}

const std::u16string* HandleBase::Agent() const {
    for (const HandleBase* h = this; h; h = h->parent)
        if (h->options.agentSet) return &h->options.agent;
    return nullptr;
}

const std::string* HandleBase::AgentLine() const {
    for (const HandleBase* h = this; h; h = h->parent)
        if (h->options.agentSet) return &h->options.agentLine;
    return nullptr;
}

void HandleBase::SetAgent(std::u16string agent) {
    options.agentLine = ToUtf8(agent.data(), agent.size());
    std::string& line = options.agentLine;
    line.erase(std::remove_if(line.begin(), line.end(),
                              [](char c) { return c == '\r' || c == '\n' || c == '\0'; }),
               line.end());
    options.agent = std::move(agent);
    options.agentSet = true;
}

void HandleBase::Notify(std::uint32_t status, const void* info, std::uint32_t length) {
    INTERNET_STATUS_CALLBACK callback =
        shared ? shared->callback.load(std::memory_order_acquire) : nullptr;
    if (callback) callback(this, context, status, const_cast<void*>(info), length);
}

void HandleBase::NotifyText(std::uint32_t status, const std::string& text) {
    if (!shared || !shared->callback.load(std::memory_order_acquire)) return;
    std::u16string wide = FromUtf8(text.data(), text.size());
    Notify(status, wide.c_str(), std::uint32_t((wide.size() + 1) * sizeof(TKWCHAR)));
}

// ---- text -------------------------------------------------------------------------

std::string ToUtf8(const TKWCHAR* text, std::size_t length) {
    // Names, verbs and paths are mostly ASCII: one pass narrows them.
    std::size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) ++ascii;
    std::string out(ascii, '\0');
    for (std::size_t i = 0; i < ascii; ++i) out[i] = char(text[i]);
    if (ascii == length) return out;
    out.reserve(length + (length - ascii) * 2);
    for (std::size_t i = ascii; i < length; ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ToUtf8(const TKWCHAR* text) {
    if (!text) return std::string();
    std::size_t n = 0;
    while (text[n]) ++n;
    return ToUtf8(text, n);
}

// Bytes that are not UTF-8 (header values in Latin-1) keep their value.
std::u16string FromUtf8(const char* text, std::size_t length) {
    std::u16string out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        unsigned b = s[i];
        int more = b < 0x80             ? 0
                   : (b & 0xE0) == 0xC0 ? 1
                   : (b & 0xF0) == 0xE0 ? 2
                   : (b & 0xF8) == 0xF0 ? 3
                                        : -1;
        std::uint32_t cp = more == 0   ? b
                           : more == 1 ? (b & 0x1F)
                           : more == 2 ? (b & 0x0F)
                                       : (b & 7);
        bool valid = more >= 0 && i + more < length;
        for (int k = 1; valid && k <= more; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (valid && (cp < kMin[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(char16_t(b));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += std::size_t(more) + 1;
    }
    return out;
}

namespace {
thread_local std::u16string t_lastResponse;
}

void SetLastResponse(const std::string& text) {
    t_lastResponse = FromUtf8(text.data(), text.size());
}

}  // namespace detail

using namespace detail;

// ---- sessions and connections ---------------------------------------------------

Handle InternetOpen(const TKWCHAR* agent, std::uint32_t accessType, const TKWCHAR* proxy,
                    const TKWCHAR*, std::uint32_t flags) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY &&
        accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (accessType == INTERNET_OPEN_TYPE_PROXY && (!proxy || !*proxy)) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->shared = std::make_shared<SessionShared>();
    if (!session->shared->share) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    session->accessType = accessType;
    // The system's proxy settings live in the environment, which the library
    // does not read: only an explicit proxy is used.
    if (accessType == INTERNET_OPEN_TYPE_PROXY) session->proxy = ToUtf8(proxy);
    session->flags = flags;
    if (agent) session->SetAgent(agent);
    Register(session.get());
    return session.release();
}

Handle InternetConnect(Handle sessionHandle, const TKWCHAR* server, std::uint16_t port,
                       const TKWCHAR* user, const TKWCHAR* password, std::uint32_t service,
                       std::uint32_t flags, std::uint64_t context) {
    auto* session = static_cast<Session*>(Lookup(sessionHandle, INTERNET_HANDLE_TYPE_INTERNET));
    if (!session) return nullptr;
    if (service != INTERNET_SERVICE_HTTP) {
        Fail(ERROR_INTERNET_PROTOCOL_NOT_FOUND);
        return nullptr;
    }
    if (!server || !*server) {
        Fail(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    auto connection = std::make_unique<Connection>();
    connection->host = ToUtf8(server);
    // A bracketed IPv6 literal is kept without its brackets.
    if (connection->host.size() > 2 && connection->host.front() == '[' &&
        connection->host.back() == ']')
        connection->host = connection->host.substr(1, connection->host.size() - 2);
    for (char c : connection->host) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '?' || c == '#' || c == '@' ||
            c == '\\') {
            Fail(ERROR_INTERNET_INVALID_URL);
            return nullptr;
        }
    }
    unsigned char address[16];
    connection->hostIsAddress = inet_pton(AF_INET, connection->host.c_str(), address) == 1 ||
                                inet_pton(AF_INET6, connection->host.c_str(), address) == 1;
    connection->port = port;
    connection->flags = flags;
    if (user) connection->options.user = user;
    if (password) connection->options.password = password;
    connection->context = context;
    Adopt(session, connection.get());
    Register(connection.get());
    return connection.release();
}

bool InternetCloseHandle(Handle handle) {
    HandleBase* h = Lookup(handle, 0);
    if (!h) return false;
    h->Notify(INTERNET_STATUS_HANDLE_CLOSING, &handle, sizeof handle);
    Unregister(h);
    Release(h);
    return true;
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(Handle handle,
                                                   INTERNET_STATUS_CALLBACK callback) {
    HandleBase* h = Lookup(handle, 0);
    if (!h) return INTERNET_INVALID_STATUS_CALLBACK;
    return h->shared->callback.exchange(callback, std::memory_order_acq_rel);
}

// ---- options ----------------------------------------------------------------------

namespace {

int SlotOf(std::uint32_t option) {
    switch (option) {
        case INTERNET_OPTION_CONNECT_TIMEOUT:
            return kConnectTimeout;
        case INTERNET_OPTION_SEND_TIMEOUT:
            return kSendTimeout;
        case INTERNET_OPTION_RECEIVE_TIMEOUT:
            return kReceiveTimeout;
        case INTERNET_OPTION_SECURITY_FLAGS:
            return kSecurityFlags;
        default:
            return -1;
    }
}

std::uint32_t Fallback(int slot) {
    switch (slot) {
        case kConnectTimeout:
            return kDefaultConnectTimeout;
        case kSendTimeout:
            return kDefaultSendTimeout;
        case kReceiveTimeout:
            return kDefaultReceiveTimeout;
        default:
            return 0;
    }
}

// A UTF-16 option value of length bytes (a terminator inside ends it).
std::u16string TextValue(const void* buffer, std::uint32_t length) {
    const auto* text = static_cast<const char16_t*>(buffer);
    std::size_t n = 0, max = length / sizeof(char16_t);
    while (n < max && text[n]) ++n;
    return std::u16string(text, n);
}

bool AnswerText(const std::u16string& text, void* buffer, std::uint32_t* length) {
    std::uint32_t bytes = std::uint32_t((text.size() + 1) * sizeof(char16_t));
    if (!buffer || *length < bytes) {
        *length = bytes;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), bytes);
    *length = bytes - sizeof(char16_t);
    return true;
}

bool AnswerValue(std::uint32_t value, void* buffer, std::uint32_t* length) {
    if (!buffer || *length < 4) {
        *length = 4;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, &value, 4);
    *length = 4;
    return true;
}

}  // namespace

bool InternetSetOption(Handle handle, std::uint32_t option, const void* buffer,
                       std::uint32_t length) {
    HandleBase* h = Lookup(handle, 0);
    if (!h) return false;
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
    int slot = SlotOf(option);
    if (slot >= 0) {
        if (length < 4) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
        std::memcpy(&h->options.value[slot], buffer, 4);
        h->options.set[slot] = true;
        return true;
    }
    switch (option) {
        case INTERNET_OPTION_USER_AGENT:
            h->SetAgent(TextValue(buffer, length));
            return true;
        case INTERNET_OPTION_USERNAME:
            h->options.user = TextValue(buffer, length);
            return true;
        case INTERNET_OPTION_PASSWORD:
            h->options.password = TextValue(buffer, length);
            return true;
        case INTERNET_OPTION_CONTEXT_VALUE:
            if (length < 8) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
            std::memcpy(&h->context, buffer, 8);
            return true;
        case INTERNET_OPTION_HANDLE_TYPE:
        case INTERNET_OPTION_URL:
            return Fail(ERROR_INTERNET_OPTION_NOT_SETTABLE);
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
}

bool InternetQueryOption(Handle handle, std::uint32_t option, void* buffer, std::uint32_t* length) {
    HandleBase* h = Lookup(handle, 0);
    if (!h) return false;
    if (!length) return Fail(ERROR_INVALID_PARAMETER);
    int slot = SlotOf(option);
    if (slot >= 0) return AnswerValue(h->Option(OptionSlot(slot), Fallback(slot)), buffer, length);
    switch (option) {
        case INTERNET_OPTION_HANDLE_TYPE:
            return AnswerValue(h->kind, buffer, length);
        case INTERNET_OPTION_USER_AGENT: {
            const std::u16string* agent = h->Agent();
            return AnswerText(agent ? *agent : std::u16string(), buffer, length);
        }
        case INTERNET_OPTION_USERNAME:
            return AnswerText(h->options.user, buffer, length);
        case INTERNET_OPTION_PASSWORD:
            return AnswerText(h->options.password, buffer, length);
        case INTERNET_OPTION_URL:
            if (h->kind != INTERNET_HANDLE_TYPE_HTTP_REQUEST)
                return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            {
                const std::string& url = static_cast<Request*>(h)->url;
                return AnswerText(FromUtf8(url.data(), url.size()), buffer, length);
            }
        case INTERNET_OPTION_CONTEXT_VALUE:
            if (!buffer || *length < 8) {
                *length = 8;
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            std::memcpy(buffer, &h->context, 8);
            *length = 8;
            return true;
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
}

bool InternetGetLastResponseInfo(std::uint32_t* error, TKWCHAR* buffer, std::uint32_t* length) {
    if (!error || !length) return Fail(ERROR_INVALID_PARAMETER);
    *error = 0;
    const std::u16string& text = t_lastResponse;
    if (!buffer || *length < text.size() + 1) {
        *length = std::uint32_t(text.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(TKWCHAR));
    *length = std::uint32_t(text.size());
    return true;
}

}  // namespace tk::inet
