// CTKHttpFile: an HTTP request, its headers, sending, and the response's
// status and header queries.
#include <cstdlib>

#include "net/handle_map.h"
#include "net/platform/inet.h"
#include "platform/last_error.h"
#include "tavikfcu/TKNet.h"

CTKHttpFile::CTKHttpFile(void* hFile, const TKWCHAR* verb, const TKWCHAR* objectName,
                         CTKHttpConnection* connection)
    : CTKInternetFile(hFile, objectName, connection, 1),
      m_strObject(m_strFileName),
      m_strVerb(verb) {
    m_hRequest = hFile;
}

CTKHttpFile::CTKHttpFile(void* hFile, void* hSession, const TKWCHAR* objectName,
                         const TKWCHAR* serverName, const TKWCHAR* verb, std::uint64_t context)
    : CTKInternetFile(hFile, hSession, objectName, serverName, context, 1),
      m_strObject(objectName),
      m_strVerb(verb) {
    m_hRequest = hFile;
}

CTKHttpFile::~CTKHttpFile() = default;

CTKString CTKHttpFile::GetFileURL() {
    CTKString url(TKL("http://"));
    if (!m_hRequest) return url;
    url += m_strServerName;
    if (!m_strObject.IsEmpty()) {
        if (m_strObject[0] != '/' && m_strObject[0] != '\\') url += TKL("/");
        url += m_strObject;
    }
    return url;
}

int CTKHttpFile::AddRequestHeaders(const TKWCHAR* headers, std::uint32_t flags, int length) {
    std::uint32_t n = 0;
    if (length == -1) {
        if (headers)
            while (headers[n]) ++n;
    } else {
        n = std::uint32_t(length);
    }
    return tk::inet::HttpAddRequestHeaders(m_hFile, headers, n, flags);
}

int CTKHttpFile::AddRequestHeaders(CTKString& headers, std::uint32_t flags) {
    return AddRequestHeaders(headers, flags, headers.GetLength());
}

int CTKHttpFile::SendRequest(const TKWCHAR* headers, std::uint32_t headersLength, void* optional,
                             std::uint32_t optionalLength) {
    int result =
        tk::inet::HttpSendRequest(m_hFile, headers, headersLength, optional, optionalLength);
    if (!result) Throw(tk::platform::GetLastError());
    return result;
}

int CTKHttpFile::SendRequest(CTKString& headers, void* optional, std::uint32_t optionalLength) {
    return SendRequest(headers, std::uint32_t(headers.GetLength()), optional, optionalLength);
}

int CTKHttpFile::SendRequestEx(std::uint32_t totalLength, std::uint32_t flags,
                               std::uint64_t context) {
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = totalLength;
    return SendRequestEx(&buffers, nullptr, flags, context);
}

int CTKHttpFile::SendRequestEx(INTERNET_BUFFERSW* buffersIn, INTERNET_BUFFERSW* buffersOut,
                               std::uint32_t flags, std::uint64_t context) {
    if (context == 1) context = m_dwContext;
    int result = tk::inet::HttpSendRequestEx(m_hFile, buffersIn, buffersOut, flags, context);
    if (!result) Throw(tk::platform::GetLastError());
    m_bReadMode = -1;
    return result;
}

int CTKHttpFile::EndRequest(std::uint32_t flags, INTERNET_BUFFERSW* buffersOut,
                            std::uint64_t context) {
    if (context == 1) context = m_dwContext;
    int result = tk::inet::HttpEndRequest(m_hFile, buffersOut, flags, context);
    if (!result) Throw(tk::platform::GetLastError());
    return result;
}

int CTKHttpFile::QueryInfo(std::uint32_t infoLevel, void* buffer, std::uint32_t* length,
                           std::uint32_t* index) const {
    return tk::inet::HttpQueryInfo(m_hFile, infoLevel, buffer, length, index);
}

int CTKHttpFile::QueryInfo(std::uint32_t infoLevel, std::uint32_t& value,
                           std::uint32_t* index) const {
    std::uint32_t length = sizeof value;
    return tk::inet::HttpQueryInfo(m_hFile, infoLevel | HTTP_QUERY_FLAG_NUMBER, &value, &length,
                                   index);
}

int CTKHttpFile::QueryInfo(std::uint32_t infoLevel, SYSTEMTIME* time, std::uint32_t* index) const {
    std::uint32_t length = sizeof(SYSTEMTIME);
    return tk::inet::HttpQueryInfo(m_hFile, infoLevel | HTTP_QUERY_FLAG_SYSTEMTIME, time, &length,
                                   index);
}

int CTKHttpFile::QueryInfo(std::uint32_t infoLevel, CTKString& text, std::uint32_t* index) const {
    text.Empty();
    std::uint32_t length = 0;
    if (tk::inet::HttpQueryInfo(m_hFile, infoLevel, nullptr, &length, nullptr)) return 1;
    // Lengths of text are in characters, the terminator included when asked.
    TKWCHAR* buffer = text.GetBufferSetLength(int(length));
    std::uint32_t reached = length;
    int result = tk::inet::HttpQueryInfo(m_hFile, infoLevel, buffer, &reached, index);
    text.ReleaseBuffer(!result ? 0 : reached == 0xFFFFFFFFu ? -1 : int(reached));
    return result;
}

int CTKHttpFile::QueryInfoStatusCode(std::uint32_t& statusCode) const {
    TKWCHAR buffer[40];
    std::uint32_t length = 40;  // characters
    if (!tk::inet::HttpQueryInfo(m_hFile, HTTP_QUERY_STATUS_CODE, buffer, &length, nullptr))
        return 0;
    // The decimal number the text begins with.
    long value = 0;
    int i = 0;
    while (buffer[i] == ' ' || buffer[i] == '\t') ++i;
    bool negative = buffer[i] == '-';
    if (buffer[i] == '-' || buffer[i] == '+') ++i;
    while (buffer[i] >= '0' && buffer[i] <= '9') value = value * 10 + (buffer[i++] - '0');
    statusCode = std::uint32_t(negative ? -value : value);
    return 1;
}
