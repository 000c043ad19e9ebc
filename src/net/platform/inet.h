// The internet layer beneath the HTTP client: session, connection and
// request handles, options, status notifications, the cookie store, URL
// services, reading, writing and header queries. Its operations have the
// shape and error codes of the Windows internet API, so the client classes
// above it read the same on every platform. Only this folder knows libcurl.
//
// Every operation that fails returns false (or null, or all bits set) and
// leaves the code in the thread's last error (tk::platform::GetLastError).
//
// Transfers are pulled: nothing moves except inside a call on the request,
// on the caller's thread. A request holds at most kBodyCeiling bytes of body
// that the caller has not read; past that the transfer pauses until it does.
#ifndef TAVIKFCU_NET_PLATFORM_INET_H
#define TAVIKFCU_NET_PLATFORM_INET_H

#include <cstdint>

#include "tavikfcu/TKNet.h"

namespace tk::inet {

using Handle = void*;

inline constexpr std::uint32_t kBodyCeiling = 256 * 1024;

// Default timeouts in milliseconds when no handle in the chain sets one.
inline constexpr std::uint32_t kDefaultConnectTimeout = 60000;
inline constexpr std::uint32_t kDefaultSendTimeout = 30000;
inline constexpr std::uint32_t kDefaultReceiveTimeout = 30000;

// ---- handles ------------------------------------------------------------------

Handle InternetOpen(const TKWCHAR* agent, std::uint32_t accessType, const TKWCHAR* proxy,
                    const TKWCHAR* proxyBypass, std::uint32_t flags);
// Closes any handle kind. A session's internals live on while connections
// or requests made from it remain open.
bool InternetCloseHandle(Handle handle);
// Installs the callback on a session handle (the notifications of every
// handle made from it arrive there); returns the previous one, or
// INTERNET_INVALID_STATUS_CALLBACK with code 6.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(Handle session,
                                                   INTERNET_STATUS_CALLBACK callback);

bool InternetSetOption(Handle handle, std::uint32_t option, const void* buffer,
                       std::uint32_t length);
// length in and out in bytes; text options are UTF-16 with a terminator.
bool InternetQueryOption(Handle handle, std::uint32_t option, void* buffer, std::uint32_t* length);

// ---- cookies (one store for the process) ------------------------------------
bool InternetSetCookie(const TKWCHAR* url, const TKWCHAR* name, const TKWCHAR* data);
// size in and out in characters, terminator included; a null buffer asks
// for the size. No cookie: false with ERROR_NO_MORE_ITEMS.
bool InternetGetCookie(const TKWCHAR* url, const TKWCHAR* name, TKWCHAR* buffer,
                       std::uint32_t* size);

// ---- connections and requests ---------------------------------------------------
// Nothing is contacted here: the name is resolved and the connection made by
// the first request.
Handle InternetConnect(Handle session, const TKWCHAR* server, std::uint16_t port,
                       const TKWCHAR* user, const TKWCHAR* password, std::uint32_t service,
                       std::uint32_t flags, std::uint64_t context);
Handle HttpOpenRequest(Handle connection, const TKWCHAR* verb, const TKWCHAR* object,
                       const TKWCHAR* version, const TKWCHAR* referrer, const TKWCHAR** acceptTypes,
                       std::uint32_t flags, std::uint64_t context);
// Opens and sends a GET for an http or https URL; other schemes fail with
// 12006.
Handle InternetOpenUrl(Handle session, const TKWCHAR* url, const TKWCHAR* headers,
                       std::uint32_t headersLength, std::uint32_t flags, std::uint64_t context);
// length -1: up to the NUL.
bool HttpAddRequestHeaders(Handle request, const TKWCHAR* headers, std::uint32_t length,
                           std::uint32_t modifiers);
// Sends the request and waits for the final response's headers.
bool HttpSendRequest(Handle request, const TKWCHAR* headers, std::uint32_t headersLength,
                     const void* body, std::uint32_t bodyLength);
// Starts a request whose body (in->dwBufferTotal bytes) follows through
// InternetWriteFile; HttpEndRequest waits for the response's headers.
bool HttpSendRequestEx(Handle request, const INTERNET_BUFFERSW* in, INTERNET_BUFFERSW* out,
                       std::uint32_t flags, std::uint64_t context);
bool HttpEndRequest(Handle request, INTERNET_BUFFERSW* out, std::uint32_t flags,
                    std::uint64_t context);
// length in and out in bytes (text in UTF-16); index selects among repeated
// headers and is advanced on success.
bool HttpQueryInfo(Handle request, std::uint32_t level, void* buffer, std::uint32_t* length,
                   std::uint32_t* index);

// ---- streaming --------------------------------------------------------------------
// Waits until at least one byte or the end is there; *read 0 is the end.
bool InternetReadFile(Handle request, void* buffer, std::uint32_t count, std::uint32_t* read);
bool InternetWriteFile(Handle request, const void* data, std::uint32_t count,
                       std::uint32_t* written);
// Returns the new position, or 0xFFFFFFFF.
std::uint32_t InternetSetFilePointer(Handle request, std::int32_t distance, std::int32_t* high,
                                     std::uint32_t method, std::uint64_t context);
// Bytes that can be read without waiting.
bool InternetQueryDataAvailable(Handle request, std::uint32_t* available, std::uint32_t flags,
                                std::uint64_t context);

// The server's text behind the thread's last 12003 failure; length in and
// out in characters.
bool InternetGetLastResponseInfo(std::uint32_t* error, TKWCHAR* buffer, std::uint32_t* length);

// ---- certificates -------------------------------------------------------------------
// The store server certificates are checked against: the system's (null, the
// default) or a PEM file of authorities instead. A seam for tests, which
// trust an authority of their own; process-wide.
void UseTrustStoreFile(const char* pemPath);

// ---- URL services -------------------------------------------------------------

// The parts a crack asks for: a buffer and its capacity in characters (the
// longest text it takes; the buffer has one more for the terminator), or no
// buffer and capacity 0. On success each length is the text's.
struct UrlComponents {
    int scheme = INTERNET_SCHEME_UNKNOWN;
    std::uint16_t port = 0;
    TKWCHAR* hostName = nullptr;
    std::uint32_t hostNameLength = 0;
    TKWCHAR* userName = nullptr;
    std::uint32_t userNameLength = 0;
    TKWCHAR* password = nullptr;
    std::uint32_t passwordLength = 0;
    TKWCHAR* urlPath = nullptr;  // path, query and fragment
    std::uint32_t urlPathLength = 0;
};

// Canonical form of a URL into buffer; length in: capacity in characters
// with the terminator; out: the text's length, or on ERROR_INSUFFICIENT_BUFFER
// the characters needed with the terminator. Flags: ICU_NO_ENCODE,
// ICU_ENCODE_SPACES_ONLY, ICU_NO_META, ICU_BROWSER_MODE.
bool InternetCanonicalizeUrl(const TKWCHAR* url, TKWCHAR* buffer, std::uint32_t* length,
                             std::uint32_t flags);
// Splits a canonical URL (NUL-terminated). ICU_ESCAPE unescapes the path.
bool InternetCrackUrl(const TKWCHAR* url, std::uint32_t flags, UrlComponents* parts);
// Unescapes %xx in place (UTF-8 sequences become their characters, other
// bytes the character of the same value); with kUnescapeStopAtExtraInfo,
// only up to the first '?' or '#'.
inline constexpr std::uint32_t kUnescapeStopAtExtraInfo = 0x02000000;
bool UrlUnescapeInPlace(TKWCHAR* url, std::uint32_t flags);

// Whether a character must travel %-escaped in a URL: controls, space, DEL
// and above, and the few printable characters that are unsafe in one.
inline bool IsUnsafeInUrl(std::uint32_t c) {
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return true;
        default:
            return c <= 0x20 || c >= 0x7F;
    }
}

}  // namespace tk::inet

#endif  // TAVIKFCU_NET_PLATFORM_INET_H
