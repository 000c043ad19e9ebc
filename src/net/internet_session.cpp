// CTKInternetSession: the session handle, its options and cookies, status
// notifications routed through the handle map, and the factories of
// connections and URL files.
#include "net/handle_map.h"
#include "net/platform/inet.h"
#include "net/url_parse.h"
#include "platform/last_error.h"
#include "tavikfcu/TKNet.h"

namespace {

[[noreturn]] void ThrowInternet(std::uint32_t error, std::uint64_t context) {
    auto* e = new CTKInternetException(error);
    e->m_context = context;
    throw e;
}

// Installed on a session handle: finds the session of the handle the
// notification is about and calls it outside the map's lock.
void DispatchStatus(void* handle, std::uint64_t context, std::uint32_t status, void* info,
                    std::uint32_t length) {
    CTKInternetSession* session = tk::detail::FindHandleSession(handle);
    if (session) session->OnStatusCallback(context, status, info, length);
}

const TKWCHAR kDefaultAgent[] = TKL("Unknow");

}  // namespace

CTKInternetSession::CTKInternetSession(const TKWCHAR* agent, std::uint64_t context,
                                       std::uint32_t accessType, const TKWCHAR* proxyName,
                                       const TKWCHAR* proxyBypass, std::uint32_t flags)
    : m_dwContext(context), m_hSession(nullptr), m_pOldCallback(nullptr), m_bCallbackEnabled(0) {
    m_hSession = tk::inet::InternetOpen(agent ? agent : kDefaultAgent, accessType, proxyName,
                                        proxyBypass, flags);
    if (!m_hSession) ThrowInternet(tk::platform::GetLastError(), m_dwContext);
    tk::detail::MapHandle(m_hSession, this);
}

CTKInternetSession::CTKInternetSession()
    : CTKInternetSession(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0) {}

CTKInternetSession::~CTKInternetSession() {
    CTKInternetSession::Close();
}

void CTKInternetSession::Close() {
    if (m_bCallbackEnabled && m_hSession) {
        tk::inet::InternetSetStatusCallback(m_hSession, nullptr);
        m_bCallbackEnabled = 0;
    }
    if (m_hSession) {
        tk::inet::InternetCloseHandle(m_hSession);
        tk::detail::UnmapHandle(m_hSession);
        m_hSession = nullptr;
    }
}

void CTKInternetSession::OnStatusCallback(std::uint64_t context, std::uint32_t status, void* info,
                                          std::uint32_t infoLength) {
    if (m_pOldCallback) m_pOldCallback(m_hSession, context, status, info, infoLength);
}

int CTKInternetSession::EnableStatusCallback(int enable) {
    if (!m_hSession) return 0;
    if (!enable) {
        if (m_bCallbackEnabled) {
            tk::inet::InternetSetStatusCallback(m_hSession, nullptr);
            m_bCallbackEnabled = 0;
        }
        return 1;
    }
    if (m_bCallbackEnabled) return 1;
    INTERNET_STATUS_CALLBACK previous =
        tk::inet::InternetSetStatusCallback(m_hSession, DispatchStatus);
    if (previous == INTERNET_INVALID_STATUS_CALLBACK)
        ThrowInternet(tk::platform::GetLastError(), m_dwContext);
    m_pOldCallback = previous;
    m_bCallbackEnabled = 1;
    return 1;
}

int CTKInternetSession::SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                                  std::uint32_t) {
    return tk::inet::InternetSetOption(m_hSession, option, buffer, length);
}

int CTKInternetSession::SetOption(std::uint32_t option, std::uint32_t value, std::uint32_t flags) {
    return SetOption(option, &value, sizeof value, flags);
}

int CTKInternetSession::QueryOption(std::uint32_t option, void* buffer,
                                    std::uint32_t* length) const {
    return tk::inet::InternetQueryOption(m_hSession, option, buffer, length);
}

int CTKInternetSession::QueryOption(std::uint32_t option, std::uint32_t& value) const {
    std::uint32_t length = sizeof value;
    return tk::inet::InternetQueryOption(m_hSession, option, &value, &length);
}

// ---- cookies ----------------------------------------------------------------------

int CTKInternetSession::SetCookie(const TKWCHAR* url, const TKWCHAR* cookieName,
                                  const TKWCHAR* cookieData) {
    return tk::inet::InternetSetCookie(url, cookieName, cookieData);
}

int CTKInternetSession::GetCookie(const TKWCHAR* url, const TKWCHAR* cookieName, TKWCHAR* buffer,
                                  std::uint32_t size) {
    std::uint32_t copy = size;  // the size reached is not handed back
    return tk::inet::InternetGetCookie(url, cookieName, buffer, &copy);
}

std::uint32_t CTKInternetSession::GetCookieLength(const TKWCHAR* url, const TKWCHAR* cookieName) {
    std::uint32_t size = 0;
    return tk::inet::InternetGetCookie(url, cookieName, nullptr, &size) ? size : 0;
}

int CTKInternetSession::GetCookie(const TKWCHAR* url, const TKWCHAR* cookieName,
                                  CTKString& cookieData) {
    std::uint32_t size = GetCookieLength(url, cookieName);
    TKWCHAR* buffer = cookieData.GetBuffer(int(size) + 1);
    std::uint32_t reached = size;
    int result = tk::inet::InternetGetCookie(url, cookieName, buffer, &reached);
    if (!result) buffer[0] = 0;
    cookieData.ReleaseBuffer(result && reached != 0xFFFFFFFFu ? int(reached) : -1);
    if (!result && !cookieData.IsEmpty()) cookieData.Empty();
    return result;
}

// ---- factories ----------------------------------------------------------------------

CTKHttpConnection* CTKInternetSession::GetHttpConnection(const TKWCHAR* server, unsigned short port,
                                                         const TKWCHAR* userName,
                                                         const TKWCHAR* password) {
    return new CTKHttpConnection(this, server, port, userName, password, m_dwContext);
}

CTKHttpConnection* CTKInternetSession::GetHttpConnection(const TKWCHAR* server, std::uint32_t flags,
                                                         unsigned short port,
                                                         const TKWCHAR* userName,
                                                         const TKWCHAR* password) {
    return new CTKHttpConnection(this, server, flags, port, userName, password, m_dwContext);
}

CTKHttpFile* CTKInternetSession::OpenURL(const TKWCHAR* url, std::uint64_t context,
                                         std::uint32_t flags, const TKWCHAR* headers,
                                         std::uint32_t headersLength) {
    if (context == 1) context = m_dwContext;
    std::uint32_t service = TK_SERVICE_UNKNOWN;
    CTKString server, object;
    unsigned short port = 0;
    bool parsed = false;
    if (url) {
        tk::inet::UrlComponents parts;
        parts.hostName = server.GetBuffer(tk::detail::kUrlBufferLength + 1);
        parts.hostNameLength = tk::detail::kUrlBufferLength;
        parts.urlPath = object.GetBuffer(tk::detail::kUrlBufferLength + 1);
        parts.urlPathLength = tk::detail::kUrlBufferLength;
        parsed = tk::detail::ParseUrl(url, &parts, service, port, ICU_BROWSER_MODE) != 0;
        server.ReleaseBuffer(-1);
        object.ReleaseBuffer(-1);
        // File URLs are not opened; nor are services other than HTTP(S),
        // which this client does not speak: nothing is opened for them.
        if (parsed && service != TK_SERVICE_HTTP && service != TK_SERVICE_HTTPS) return nullptr;
    }
    void* handle =
        tk::inet::InternetOpenUrl(m_hSession, url, headers, headersLength, flags, context);
    if (!handle) ThrowInternet(tk::platform::GetLastError(), m_dwContext);
    if (!parsed) {
        std::uint32_t kind = 0, length = sizeof kind;
        service = tk::inet::InternetQueryOption(handle, INTERNET_OPTION_HANDLE_TYPE, &kind, &length)
                      ? kind
                      : TK_SERVICE_UNKNOWN;
    }
    if (service != TK_SERVICE_HTTP && service != TK_SERVICE_HTTPS &&
        service != INTERNET_HANDLE_TYPE_HTTP_REQUEST) {
        tk::inet::InternetCloseHandle(handle);
        return nullptr;
    }
    auto* file = new CTKHttpFile(handle, m_hSession, object, server, TKL("GET"), context);
    tk::detail::MapHandle(handle, this);
    return file;
}
