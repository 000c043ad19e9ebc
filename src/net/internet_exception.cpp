// CTKInternetException and the English texts of the codes the client reports.
#include <algorithm>
#include <memory>

#include "net/platform/inet.h"
#include "tavikfcu/TKNet.h"

namespace {

struct Message {
    std::uint32_t code;
    const char16_t* text;
};

// Sorted by code for the binary search below.
constexpr Message kMessages[] = {
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory is available to complete the operation."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a call is too small."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {ERROR_INTERNET_OUT_OF_HANDLES, u"No more internet handles could be allocated."},
    {ERROR_INTERNET_TIMEOUT, u"The operation timed out."},
    {ERROR_INTERNET_EXTENDED_ERROR, u"The server returned extended information."},
    {ERROR_INTERNET_INTERNAL_ERROR, u"An internal error occurred in the internet client."},
    {ERROR_INTERNET_INVALID_URL, u"The URL is invalid."},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, u"The URL does not use a recognized protocol."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, u"The server name could not be resolved."},
    {ERROR_INTERNET_PROTOCOL_NOT_FOUND, u"No suitable protocol could be found."},
    {ERROR_INTERNET_INVALID_OPTION, u"The option is not valid for this handle."},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, u"The length of the option value is wrong."},
    {ERROR_INTERNET_OPTION_NOT_SETTABLE, u"The option can be queried but not set."},
    {ERROR_INTERNET_SHUTDOWN, u"The internet client is shutting down."},
    {ERROR_INTERNET_LOGIN_FAILURE, u"The login to the server failed."},
    {ERROR_INTERNET_INVALID_OPERATION, u"The operation is not valid in the handle's state."},
    {ERROR_INTERNET_OPERATION_CANCELLED, u"The operation was cancelled."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, u"The handle is of the wrong kind for the operation."},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, u"The handle is in the wrong state for the operation."},
    {ERROR_INTERNET_CANNOT_CONNECT, u"A connection to the server could not be established."},
    {ERROR_INTERNET_CONNECTION_ABORTED, u"The connection to the server was ended early."},
    {ERROR_INTERNET_CONNECTION_RESET, u"The connection to the server was reset."},
    {ERROR_INTERNET_INVALID_PROXY_REQUEST, u"The request to the proxy was invalid."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID,
     u"The server's certificate has expired or is not yet valid."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID,
     u"The server's certificate was issued for a different host name."},
    {ERROR_INTERNET_INVALID_CA,
     u"The server's certificate was issued by an authority that is not trusted."},
    {ERROR_INTERNET_SEC_CERT_ERRORS, u"The server's certificate has errors."},
    {ERROR_HTTP_HEADER_NOT_FOUND, u"The requested header was not found."},
    {ERROR_HTTP_DOWNLEVEL_SERVER, u"The server did not return any headers."},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, u"The server response could not be parsed."},
    {ERROR_HTTP_INVALID_HEADER, u"The header is invalid."},
    {ERROR_HTTP_INVALID_QUERY_REQUEST, u"The header query is invalid."},
    {ERROR_HTTP_HEADER_ALREADY_EXISTS, u"The header already exists."},
    {ERROR_HTTP_REDIRECT_FAILED, u"The redirection failed."},
    {ERROR_HTTP_NOT_REDIRECTED, u"The request was not redirected."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, u"The secure channel to the server failed."},
    {ERROR_INTERNET_DECODING_FAILED, u"The content could not be decoded."},
};

const char16_t* FindMessage(std::uint32_t code) {
    const Message* end = std::end(kMessages);
    const Message* it =
        std::lower_bound(std::begin(kMessages), end, code,
                         [](const Message& m, std::uint32_t c) { return m.code < c; });
    return (it != end && it->code == code) ? it->text : nullptr;
}

void CopyTruncated(const TKWCHAR* text, TKWCHAR* buffer, unsigned int size) {
    unsigned int n = 0;
    while (text[n] && n + 1 < size) {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = 0;
}

}  // namespace

CTKInternetException::CTKInternetException(std::uint32_t error) : m_error(error), m_context(0) {}

int CTKInternetException::GetErrorMessage(TKWCHAR* buffer, unsigned int size,
                                          unsigned int* helpContext) const {
    if (helpContext) *helpContext = 0;
    if (!buffer || size == 0) return 0;
    const char16_t* text = FindMessage(m_error);
    if (!text) {
        buffer[0] = 0;
        return 0;
    }
    if (m_error != ERROR_INTERNET_EXTENDED_ERROR) {
        CopyTruncated(reinterpret_cast<const TKWCHAR*>(text), buffer, size);
        return 1;
    }
    // The server's own words, when this thread kept any.
    buffer[0] = 0;
    std::uint32_t error = 0, length = 0;
    if (!tk::inet::InternetGetLastResponseInfo(&error, nullptr, &length) && length > 0) {
        std::unique_ptr<TKWCHAR[]> response(new TKWCHAR[length]());
        // A buffer too small for the whole text gets none of it.
        if (tk::inet::InternetGetLastResponseInfo(&error, response.get(), &length) &&
            size >= length)
            CopyTruncated(response.get(), buffer, size);
    }
    return 1;
}
