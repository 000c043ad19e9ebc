// CTKInternetConnection and CTKHttpConnection: one connection handle to a
// server, and the requests opened on it.
#include "net/handle_map.h"
#include "net/platform/inet.h"
#include "platform/last_error.h"
#include "tavikfcu/TKNet.h"

namespace {

[[noreturn]] void ThrowInternet(std::uint32_t error, std::uint64_t context) {
    auto* e = new CTKInternetException(error);
    e->m_context = context;
    throw e;
}

const TKWCHAR kDefaultVersion[] = TKL("HTTP/1.0");
const TKWCHAR kEmptyVerb[] = TKL("");

}  // namespace

// ---- CTKInternetConnection ---------------------------------------------------------

CTKInternetConnection::CTKInternetConnection(CTKInternetSession* session, const TKWCHAR* server,
                                             unsigned short port, std::uint64_t context)
    : m_hConnection(nullptr),
      m_dwContext(context == 1 && session ? session->GetContext() : context),
      m_pSession(session),
      m_strServerName(server),
      m_nPort(port) {}

CTKInternetConnection::~CTKInternetConnection() {
    CTKInternetConnection::Close();
}

void CTKInternetConnection::Close() {
    if (!m_hConnection) return;
    tk::inet::InternetCloseHandle(m_hConnection);
    tk::detail::UnmapHandle(m_hConnection);
    m_hConnection = nullptr;
}

int CTKInternetConnection::SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                                     std::uint32_t) {
    return tk::inet::InternetSetOption(m_hConnection, option, buffer, length);
}

int CTKInternetConnection::SetOption(std::uint32_t option, std::uint32_t value,
                                     std::uint32_t flags) {
    return SetOption(option, &value, sizeof value, flags);
}

int CTKInternetConnection::QueryOption(std::uint32_t option, void* buffer,
                                       std::uint32_t* length) const {
    return tk::inet::InternetQueryOption(m_hConnection, option, buffer, length);
}

int CTKInternetConnection::QueryOption(std::uint32_t option, std::uint32_t& value) const {
    std::uint32_t length = sizeof value;
    return tk::inet::InternetQueryOption(m_hConnection, option, &value, &length);
}

// ---- CTKHttpConnection ---------------------------------------------------------------

const TKWCHAR* const CTKHttpConnection::szHtmlVerbs[7] = {
    TKL("POST"), TKL("GET"), TKL("HEAD"), TKL("PUT"), TKL("LINK"), TKL("DELETE"), TKL("UNLINK"),
};

CTKHttpConnection::CTKHttpConnection(CTKInternetSession* session, const TKWCHAR* server,
                                     unsigned short port, const TKWCHAR* userName,
                                     const TKWCHAR* password, std::uint64_t context)
    : CTKHttpConnection(session, server, 0u, port, userName, password, context) {}

CTKHttpConnection::CTKHttpConnection(CTKInternetSession* session, const TKWCHAR* server,
                                     std::uint32_t flags, unsigned short port,
                                     const TKWCHAR* userName, const TKWCHAR* password,
                                     std::uint64_t context)
    : CTKInternetConnection(session, server, port, context) {
    m_hConnection =
        tk::inet::InternetConnect(session ? static_cast<void*>(*session) : nullptr, server, port,
                                  userName, password, INTERNET_SERVICE_HTTP, flags, m_dwContext);
    if (!m_hConnection) ThrowInternet(tk::platform::GetLastError(), m_dwContext);
    tk::detail::MapHandle(m_hConnection, m_pSession);
}

CTKHttpConnection::CTKHttpConnection(CTKInternetSession* session, void* hConnected,
                                     const TKWCHAR* server, std::uint64_t context)
    : CTKInternetConnection(session, server, 0, context) {
    std::uint32_t kind = 0x1000;
    if (hConnected) {
        std::uint32_t length = sizeof kind;
        if (!tk::inet::InternetQueryOption(hConnected, INTERNET_OPTION_HANDLE_TYPE, &kind, &length))
            kind = 0x1000;
    }
    m_hConnection = hConnected;
    if (hConnected && kind == INTERNET_HANDLE_TYPE_CONNECT_HTTP) {
        tk::detail::MapHandle(m_hConnection, m_pSession);
        return;
    }
    // The base destructor, run while this object unwinds, closes the handle.
    ThrowInternet(ERROR_INVALID_HANDLE, m_dwContext);
}

CTKHttpFile* CTKHttpConnection::OpenRequest(const TKWCHAR* verb, const TKWCHAR* objectName,
                                            const TKWCHAR* referer, std::uint64_t context,
                                            const TKWCHAR** acceptTypes, const TKWCHAR* version,
                                            std::uint32_t flags) {
    if (context == 1) context = m_dwContext;
    void* request = tk::inet::HttpOpenRequest(m_hConnection, verb, objectName,
                                              version ? version : kDefaultVersion, referer,
                                              acceptTypes, flags, context);
    auto* file = new CTKHttpFile(request, verb, objectName, this);
    file->m_dwContext = context;
    return file;
}

CTKHttpFile* CTKHttpConnection::OpenRequest(int verb, const TKWCHAR* objectName,
                                            const TKWCHAR* referer, std::uint64_t context,
                                            const TKWCHAR** acceptTypes, const TKWCHAR* version,
                                            std::uint32_t flags) {
    const TKWCHAR* text = static_cast<unsigned int>(verb) < 7 ? szHtmlVerbs[verb] : kEmptyVerb;
    return OpenRequest(text, objectName, referer, context, acceptTypes, version, flags);
}
