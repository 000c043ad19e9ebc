// TKNet.h — the HTTP client: sessions, connections, request files, the
// exception they throw, and URL parsing.
//
// A session is the root; it hands out connections, a connection opens
// requests, a request is a file that is sent and then read like a stream:
//
//     CTKInternetSession session(TKL("MyAgent"));
//     CTKHttpConnection* conn = session.GetHttpConnection(TKL("127.0.0.1"), 8080);
//     CTKHttpFile* file = conn->OpenRequest(TKL("GET"), TKL("/index.html"));
//     try {
//         file->SendRequest();
//         std::uint32_t status = 0;
//         file->QueryInfoStatusCode(status);           // 200
//         char buf[65536];
//         while (unsigned int n = file->Read(buf, sizeof buf)) Use(buf, n);
//     } catch (CTKInternetException* e) {
//         TKWCHAR text[256];
//         e->GetErrorMessage(text, 256, nullptr);     // "The operation timed out."
//         delete e;                                   // the catcher owns it
//     }
//     delete file;                                     // files before connections,
//     delete conn;                                     // connections before sessions
//
//     std::uint32_t service; CTKString server, object; unsigned short port;
//     tkParseURL(TKL("https://example.org/a?b"), service, server, object, port);
//     // service TK_SERVICE_HTTPS, server "example.org", object "/a?b", port 443
//
// Every failure of the client is thrown as a pointer to a new
// CTKInternetException; the catcher deletes it. Codes are the Windows
// internet error numbers declared below (12002 timeout, 12029 cannot
// connect, ...). HTTPS verifies the server's certificate and name unless a
// caller relaxes exactly the check it names.
//
// Threads: the library starts none. A transfer moves only while a call on
// its request runs (on the caller's thread), and at most a bounded amount of
// body is held per request whatever the size of the body. Each object is used
// by one thread at a time; different sessions, connections and files may be
// used on different threads. The handle map that routes status notifications
// and the cookie store are shared and locked. Status notifications arrive on
// the thread whose call caused them.
//
// Lifetimes: files are deleted before their connection, connections before
// their session.
//
// Because Linux has no platform header for them, this header declares the
// platform names a caller passes or compares (flags, options, status codes,
// query levels, error codes, INTERNET_BUFFERSW, SYSTEMTIME), spelled and
// valued as on Windows; there it includes the system's own.
#ifndef TAVIKFCU_TKNET_H
#define TAVIKFCU_TKNET_H

#include <cstdint>

#include "TKString.h"
#include "TKTypes.h"

#if defined(_WIN32)
#include <windows.h>
#include <wininet.h>
#else

// ---- platform records ---------------------------------------------------------

// A calendar date and time, as HTTP date headers are reported.
struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;  // 0 Sunday
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit fields");

// Buffers for streamed requests (SendRequestEx): only dwStructSize,
// lpcszHeader / dwHeadersLength and dwBufferTotal (the body's total length,
// sent as Content-Length) are read.
struct INTERNET_BUFFERSW {
    std::uint32_t dwStructSize;
    INTERNET_BUFFERSW* Next;
    const TKWCHAR* lpcszHeader;
    std::uint32_t dwHeadersLength;
    std::uint32_t dwHeadersTotal;
    void* lpvBuffer;
    std::uint32_t dwBufferLength;
    std::uint32_t dwBufferTotal;
    std::uint32_t dwOffsetLow;
    std::uint32_t dwOffsetHigh;
};

// A status notification: handle, context, status code, information, its
// length in bytes.
typedef void (*INTERNET_STATUS_CALLBACK)(void* hInternet, std::uint64_t context,
                                         std::uint32_t status, void* info,
                                         std::uint32_t infoLength);
#define INTERNET_INVALID_STATUS_CALLBACK ((INTERNET_STATUS_CALLBACK)(~(std::uintptr_t)0))

// ---- URL flags ------------------------------------------------------------------
#define ICU_ESCAPE 0x80000000u  // unescape %xx in the cracked path
#define ICU_USERNAME 0x40000000u
#define ICU_NO_ENCODE 0x20000000u           // do not escape unsafe characters
#define ICU_DECODE 0x10000000u              // unescape %xx
#define ICU_NO_META 0x08000000u             // keep "." and ".." segments
#define ICU_ENCODE_SPACES_ONLY 0x04000000u  // escape spaces and nothing else
#define ICU_BROWSER_MODE 0x02000000u        // leave what follows '?' or '#' alone
#define ICU_ENCODE_PERCENT 0x00001000u

#define INTERNET_SCHEME_UNKNOWN (-1)
#define INTERNET_SCHEME_DEFAULT 0
#define INTERNET_SCHEME_FTP 1
#define INTERNET_SCHEME_GOPHER 2
#define INTERNET_SCHEME_HTTP 3
#define INTERNET_SCHEME_HTTPS 4
#define INTERNET_SCHEME_FILE 5
#define INTERNET_SCHEME_NEWS 6
#define INTERNET_SCHEME_MAILTO 7

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_FTP_PORT 21
#define INTERNET_DEFAULT_GOPHER_PORT 70
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443

// ---- sessions and services --------------------------------------------------------
#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4

#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_GOPHER 2
#define INTERNET_SERVICE_HTTP 3

// ---- options (values are 32-bit unless noted) ------------------------------------
#define INTERNET_OPTION_CALLBACK 1
#define INTERNET_OPTION_CONNECT_TIMEOUT 2  // milliseconds, the name lookup included
#define INTERNET_OPTION_CONNECT_RETRIES 3
#define INTERNET_OPTION_SEND_TIMEOUT 5  // milliseconds
#define INTERNET_OPTION_CONTROL_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6  // milliseconds without a byte arriving
#define INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_DATA_SEND_TIMEOUT 7
#define INTERNET_OPTION_DATA_RECEIVE_TIMEOUT 8
#define INTERNET_OPTION_HANDLE_TYPE 9  // query only
#define INTERNET_OPTION_READ_BUFFER_SIZE 12
#define INTERNET_OPTION_WRITE_BUFFER_SIZE 13
#define INTERNET_OPTION_PARENT_HANDLE 21
#define INTERNET_OPTION_REQUEST_FLAGS 23
#define INTERNET_OPTION_EXTENDED_ERROR 24
#define INTERNET_OPTION_USERNAME 28  // text
#define INTERNET_OPTION_PASSWORD 29  // text
#define INTERNET_OPTION_SECURITY_FLAGS 31
#define INTERNET_OPTION_URL 34  // text, query only
#define INTERNET_OPTION_PROXY 38
#define INTERNET_OPTION_VERSION 40
#define INTERNET_OPTION_USER_AGENT 41      // text
#define INTERNET_OPTION_PROXY_USERNAME 43  // text
#define INTERNET_OPTION_PROXY_PASSWORD 44  // text
#define INTERNET_OPTION_CONTEXT_VALUE 45   // 64-bit

// Answers of INTERNET_OPTION_HANDLE_TYPE.
#define INTERNET_HANDLE_TYPE_INTERNET 1
#define INTERNET_HANDLE_TYPE_CONNECT_FTP 2
#define INTERNET_HANDLE_TYPE_CONNECT_GOPHER 3
#define INTERNET_HANDLE_TYPE_CONNECT_HTTP 4
#define INTERNET_HANDLE_TYPE_HTTP_REQUEST 13

// ---- request and connection flags ---------------------------------------------
#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_RAW_DATA 0x40000000u
#define INTERNET_FLAG_EXISTING_CONNECT 0x20000000u
#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_PASSIVE 0x08000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_DONT_CACHE INTERNET_FLAG_NO_CACHE_WRITE
#define INTERNET_FLAG_MAKE_PERSISTENT 0x02000000u
#define INTERNET_FLAG_FROM_CACHE 0x01000000u
#define INTERNET_FLAG_OFFLINE INTERNET_FLAG_FROM_CACHE
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_READ_PREFETCH 0x00100000u
#define INTERNET_FLAG_NO_COOKIES 0x00080000u
#define INTERNET_FLAG_NO_AUTH 0x00040000u
#define INTERNET_FLAG_RESTRICTED_ZONE 0x00020000u
#define INTERNET_FLAG_CACHE_IF_NET_FAIL 0x00010000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP 0x00008000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS 0x00004000u
#define INTERNET_FLAG_IGNORE_CERT_DATE_INVALID 0x00002000u
#define INTERNET_FLAG_IGNORE_CERT_CN_INVALID 0x00001000u
#define INTERNET_FLAG_RESYNCHRONIZE 0x00000800u
#define INTERNET_FLAG_HYPERLINK 0x00000400u
#define INTERNET_FLAG_NO_UI 0x00000200u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u
#define INTERNET_FLAG_CACHE_ASYNC 0x00000080u
#define INTERNET_FLAG_FORMS_SUBMIT 0x00000040u
#define INTERNET_FLAG_NEED_FILE 0x00000010u
#define INTERNET_FLAG_TRANSFER_ASCII 0x00000001u
#define INTERNET_FLAG_TRANSFER_BINARY 0x00000002u

#define SECURITY_FLAG_SECURE 0x00000001u
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080u
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100u
#define SECURITY_FLAG_IGNORE_WRONG_USAGE 0x00000200u
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID INTERNET_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_DATE_INVALID INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP

// ---- status notifications -----------------------------------------------------
// Information passed with each: RESOLVING_NAME, NAME_RESOLVED, CONNECTING_TO_SERVER,
// CONNECTED_TO_SERVER and REDIRECT a NUL-terminated UTF-16 text (the name, the
// address, the new URL); REQUEST_SENT and RESPONSE_RECEIVED a 32-bit byte count;
// HANDLE_CLOSING the address of the handle being closed; the others nothing.
#define INTERNET_STATUS_RESOLVING_NAME 10
#define INTERNET_STATUS_NAME_RESOLVED 11
#define INTERNET_STATUS_CONNECTING_TO_SERVER 20
#define INTERNET_STATUS_CONNECTED_TO_SERVER 21
#define INTERNET_STATUS_SENDING_REQUEST 30
#define INTERNET_STATUS_REQUEST_SENT 31
#define INTERNET_STATUS_RECEIVING_RESPONSE 40
#define INTERNET_STATUS_RESPONSE_RECEIVED 41
#define INTERNET_STATUS_CLOSING_CONNECTION 50
#define INTERNET_STATUS_CONNECTION_CLOSED 51
#define INTERNET_STATUS_HANDLE_CREATED 60
#define INTERNET_STATUS_HANDLE_CLOSING 70
#define INTERNET_STATUS_REQUEST_COMPLETE 100
#define INTERNET_STATUS_REDIRECT 110
#define INTERNET_STATUS_INTERMEDIATE_RESPONSE 120

// ---- header queries ---------------------------------------------------------------
#define HTTP_QUERY_MIME_VERSION 0
#define HTTP_QUERY_CONTENT_TYPE 1
#define HTTP_QUERY_CONTENT_TRANSFER_ENCODING 2
#define HTTP_QUERY_CONTENT_ID 3
#define HTTP_QUERY_CONTENT_DESCRIPTION 4
#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_CONTENT_LANGUAGE 6
#define HTTP_QUERY_ALLOW 7
#define HTTP_QUERY_PUBLIC 8
#define HTTP_QUERY_DATE 9
#define HTTP_QUERY_EXPIRES 10
#define HTTP_QUERY_LAST_MODIFIED 11
#define HTTP_QUERY_MESSAGE_ID 12
#define HTTP_QUERY_URI 13
#define HTTP_QUERY_DERIVED_FROM 14
#define HTTP_QUERY_COST 15
#define HTTP_QUERY_LINK 16
#define HTTP_QUERY_PRAGMA 17
#define HTTP_QUERY_VERSION 18  // the response's HTTP version text
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_STATUS_TEXT 20
#define HTTP_QUERY_RAW_HEADERS 21       // lines separated and ended by NUL
#define HTTP_QUERY_RAW_HEADERS_CRLF 22  // lines separated by CR LF
#define HTTP_QUERY_CONNECTION 23
#define HTTP_QUERY_ACCEPT 24
#define HTTP_QUERY_ACCEPT_CHARSET 25
#define HTTP_QUERY_ACCEPT_ENCODING 26
#define HTTP_QUERY_ACCEPT_LANGUAGE 27
#define HTTP_QUERY_AUTHORIZATION 28
#define HTTP_QUERY_CONTENT_ENCODING 29
#define HTTP_QUERY_FORWARDED 30
#define HTTP_QUERY_FROM 31
#define HTTP_QUERY_IF_MODIFIED_SINCE 32
#define HTTP_QUERY_LOCATION 33
#define HTTP_QUERY_ORIG_URI 34
#define HTTP_QUERY_REFERER 35
#define HTTP_QUERY_RETRY_AFTER 36
#define HTTP_QUERY_SERVER 37
#define HTTP_QUERY_TITLE 38
#define HTTP_QUERY_USER_AGENT 39
#define HTTP_QUERY_WWW_AUTHENTICATE 40
#define HTTP_QUERY_PROXY_AUTHENTICATE 41
#define HTTP_QUERY_ACCEPT_RANGES 42
#define HTTP_QUERY_SET_COOKIE 43
#define HTTP_QUERY_COOKIE 44
#define HTTP_QUERY_REQUEST_METHOD 45
#define HTTP_QUERY_REFRESH 46
#define HTTP_QUERY_CONTENT_DISPOSITION 47
#define HTTP_QUERY_AGE 48
#define HTTP_QUERY_CACHE_CONTROL 49
#define HTTP_QUERY_CONTENT_BASE 50
#define HTTP_QUERY_CONTENT_LOCATION 51
#define HTTP_QUERY_CONTENT_MD5 52
#define HTTP_QUERY_CONTENT_RANGE 53
#define HTTP_QUERY_ETAG 54
#define HTTP_QUERY_HOST 55
#define HTTP_QUERY_IF_MATCH 56
#define HTTP_QUERY_IF_NONE_MATCH 57
#define HTTP_QUERY_IF_RANGE 58
#define HTTP_QUERY_IF_UNMODIFIED_SINCE 59
#define HTTP_QUERY_MAX_FORWARDS 60
#define HTTP_QUERY_PROXY_AUTHORIZATION 61
#define HTTP_QUERY_RANGE 62
#define HTTP_QUERY_TRANSFER_ENCODING 63
#define HTTP_QUERY_UPGRADE 64
#define HTTP_QUERY_VARY 65
#define HTTP_QUERY_VIA 66
#define HTTP_QUERY_WARNING 67
#define HTTP_QUERY_EXPECT 68
#define HTTP_QUERY_PROXY_CONNECTION 69
#define HTTP_QUERY_UNLESS_MODIFIED_SINCE 70
#define HTTP_QUERY_MAX 78
#define HTTP_QUERY_CUSTOM 65535  // the buffer holds the header's name on entry

#define HTTP_QUERY_FLAG_REQUEST_HEADERS 0x80000000u
#define HTTP_QUERY_FLAG_SYSTEMTIME 0x40000000u
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u
#define HTTP_QUERY_FLAG_COALESCE 0x10000000u
#define HTTP_QUERY_FLAG_NUMBER64 0x08000000u
#define HTTP_QUERY_MODIFIER_FLAGS_MASK 0xF8000000u
#define HTTP_QUERY_HEADER_MASK (~HTTP_QUERY_MODIFIER_FLAGS_MASK)

#define HTTP_ADDREQ_INDEX_MASK 0x0000FFFFu
#define HTTP_ADDREQ_FLAGS_MASK 0xFFFF0000u
#define HTTP_ADDREQ_FLAG_ADD_IF_NEW 0x10000000u
#define HTTP_ADDREQ_FLAG_ADD 0x20000000u
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA 0x40000000u
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON 0x01000000u
#define HTTP_ADDREQ_FLAG_COALESCE HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
#define HTTP_ADDREQ_FLAG_REPLACE 0x80000000u

// ---- error codes --------------------------------------------------------------------
#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_MORE_ITEMS 259

#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES 12001
#define ERROR_INTERNET_TIMEOUT 12002
#define ERROR_INTERNET_EXTENDED_ERROR 12003
#define ERROR_INTERNET_INTERNAL_ERROR 12004
#define ERROR_INTERNET_INVALID_URL 12005
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007
#define ERROR_INTERNET_PROTOCOL_NOT_FOUND 12008
#define ERROR_INTERNET_INVALID_OPTION 12009
#define ERROR_INTERNET_BAD_OPTION_LENGTH 12010
#define ERROR_INTERNET_OPTION_NOT_SETTABLE 12011
#define ERROR_INTERNET_SHUTDOWN 12012
#define ERROR_INTERNET_LOGIN_FAILURE 12015
#define ERROR_INTERNET_INVALID_OPERATION 12016
#define ERROR_INTERNET_OPERATION_CANCELLED 12017
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019
#define ERROR_INTERNET_CANNOT_CONNECT 12029
#define ERROR_INTERNET_CONNECTION_ABORTED 12030
#define ERROR_INTERNET_CONNECTION_RESET 12031
#define ERROR_INTERNET_INVALID_PROXY_REQUEST 12033
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID 12037
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038
#define ERROR_INTERNET_INVALID_CA 12045
#define ERROR_INTERNET_SEC_CERT_ERRORS 12055
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157
#define ERROR_INTERNET_DECODING_FAILED 12175
#define ERROR_HTTP_HEADER_NOT_FOUND 12150
#define ERROR_HTTP_DOWNLEVEL_SERVER 12151
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152
#define ERROR_HTTP_INVALID_HEADER 12153
#define ERROR_HTTP_INVALID_QUERY_REQUEST 12154
#define ERROR_HTTP_HEADER_ALREADY_EXISTS 12155
#define ERROR_HTTP_REDIRECT_FAILED 12156
#define ERROR_HTTP_NOT_REDIRECTED 12160

#endif  // !_WIN32

// ---- service types of the URL parser ---------------------------------------------
#define TK_SERVICE_FTP 1
#define TK_SERVICE_GOPHER 2
#define TK_SERVICE_HTTP 3
#define TK_SERVICE_HTTPS 0x100B
#define TK_SERVICE_FILE 0x1001
#define TK_SERVICE_NEWS 0x1006
#define TK_SERVICE_MAILTO 0x1002
#define TK_SERVICE_UNKNOWN 0x1000

// ---- URL parsing ------------------------------------------------------------------

// Splits a URL into service type, server, object and port. The URL is first
// put in canonical form (scheme and host in lower case, unsafe characters
// escaped as UTF-8 %xx except after '?' or '#', "." and ".." segments
// resolved); the object is the path with its query and fragment, left
// escaped. A missing port is the scheme's default (80, 443, 21, 70, else 0).
// Server and object may be up to 2084 characters each. Returns non-zero on
// success. On failure (a null URL, no scheme, a bad port, an empty host for
// a scheme that needs one, a part too long) the service type is
// TK_SERVICE_UNKNOWN, the port keeps its value and the texts are undefined.
TK_API int tkParseURL(const TKWCHAR* url, std::uint32_t& serviceType, CTKString& server,
                      CTKString& object, unsigned short& port);

// The same, also giving the user name and password, with the caller's ICU_*
// flags: ICU_NO_ENCODE, ICU_NO_META, ICU_ENCODE_SPACES_ONLY and
// ICU_BROWSER_MODE shape the canonical form; ICU_ESCAPE or ICU_DECODE
// unescape the object (all of it, or with ICU_BROWSER_MODE only up to the
// first '?' or '#'). Limits: server 256, object 2048, user and password 128.
TK_API int tkParseURLEx(const TKWCHAR* url, std::uint32_t& serviceType, CTKString& server,
                        CTKString& object, unsigned short& port, CTKString& user,
                        CTKString& password, std::uint32_t flags);

class CTKHttpConnection;
class CTKHttpFile;

// ---- the exception ---------------------------------------------------------------

// Thrown as a pointer by every failing call of the client; the catcher
// deletes it. Final, so that deleting through the pointer caught is exact.
class TK_API CTKInternetException final {
  public:
    // The thrower sets m_context.
    explicit CTKInternetException(std::uint32_t error);
    ~CTKInternetException() = default;

    // The message for m_error in English, truncated to size characters and
    // always terminated; for 12003 the server's last response text of this
    // thread (empty when there is none). Sets *helpContext to 0. Returns 1,
    // or 0 with an empty buffer for a code the library has no text for.
    virtual int GetErrorMessage(TKWCHAR* buffer, unsigned int size,
                                unsigned int* helpContext = nullptr) const;

    std::uint32_t m_error;
    std::uint64_t m_context;
};

// ---- the session ------------------------------------------------------------------

// The root object: options, cookies, status notifications, and the factory
// of connections and URL files. Options set here (timeouts, security flags,
// agent) apply to every connection and request made from the session unless
// they set their own.
class TK_API CTKInternetSession {
  public:
    // Opens a session; a null agent becomes "Unknow". Throws a
    // CTKInternetException* with the platform's code and this context.
    CTKInternetSession(const TKWCHAR* agent, std::uint64_t context = 1,
                       std::uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                       const TKWCHAR* proxyName = nullptr, const TKWCHAR* proxyBypass = nullptr,
                       std::uint32_t flags = 0);
    // Agent "Unknow", context 1, pre-configured access, no proxy, flags 0.
    CTKInternetSession();
    // As Close. Virtual, so that a derived session deleted through this
    // class is destroyed whole.
    virtual ~CTKInternetSession();

    // A copy would close the handle twice: sessions are not copied.
    CTKInternetSession(const CTKInternetSession&) = delete;
    CTKInternetSession& operator=(const CTKInternetSession&) = delete;

    // Switches notifications off, closes the handle; again: nothing.
    virtual void Close();
    // Called for every notification about the session and the connections
    // and requests made from it, on the thread whose call caused it. The
    // library's version passes it on to a callback that was installed on the
    // session handle before EnableStatusCallback, if any.
    virtual void OnStatusCallback(std::uint64_t context, std::uint32_t status, void* info,
                                  std::uint32_t infoLength);

    // Switches notifications on (non-zero) or off. Returns 0 on a closed
    // session, else 1; enabling can throw a CTKInternetException*.
    int EnableStatusCallback(int enable = 1);

    // INTERNET_OPTION_* on the session handle; 0 on failure (the code is the
    // thread's last error), nothing thrown.
    int SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                  std::uint32_t flags = 0);
    int SetOption(std::uint32_t option, std::uint32_t value, std::uint32_t flags = 0);
    int QueryOption(std::uint32_t option, void* buffer, std::uint32_t* length) const;
    int QueryOption(std::uint32_t option, std::uint32_t& value) const;

    std::uint64_t GetContext() const { return m_dwContext; }
    // The session handle; null once closed.
    operator void*() const { return m_hSession; }

    // The process-wide cookie store, shared by every session. SetCookie takes
    // "value" with a name, or "name=value; path=/; domain=...; expires=..."
    // without one; the URL gives the default domain and path.
    static int SetCookie(const TKWCHAR* url, const TKWCHAR* cookieName, const TKWCHAR* cookieData);
    // The cookies that would be sent to the URL, "a=1; b=2" (only the named
    // one when a name is given), into a buffer of size characters.
    static int GetCookie(const TKWCHAR* url, const TKWCHAR* cookieName, TKWCHAR* buffer,
                         std::uint32_t size);
    // Characters GetCookie needs, terminator included; 0 when none.
    static std::uint32_t GetCookieLength(const TKWCHAR* url, const TKWCHAR* cookieName);
    static int GetCookie(const TKWCHAR* url, const TKWCHAR* cookieName, CTKString& cookieData);

    // A new connection to the server (the caller deletes it); throws a
    // CTKInternetException* when it cannot be made.
    CTKHttpConnection* GetHttpConnection(const TKWCHAR* server,
                                         unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                                         const TKWCHAR* userName = nullptr,
                                         const TKWCHAR* password = nullptr);
    CTKHttpConnection* GetHttpConnection(const TKWCHAR* server, std::uint32_t flags,
                                         unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                                         const TKWCHAR* userName = nullptr,
                                         const TKWCHAR* password = nullptr);
    // Opens and sends a GET for an http or https URL: a new file, or null for
    // a file URL (nothing opened) or another service. Throws when the URL
    // cannot be opened.
    CTKHttpFile* OpenURL(const TKWCHAR* url, std::uint64_t context = 1, std::uint32_t flags = 0,
                         const TKWCHAR* headers = nullptr, std::uint32_t headersLength = 0);

  private:
    std::uint64_t m_dwContext;
    void* m_hSession;
    INTERNET_STATUS_CALLBACK m_pOldCallback;
    int m_bCallbackEnabled;
};

// ---- connections ----------------------------------------------------------------

class TK_API CTKInternetConnection {
  public:
    // Stores the arguments (context 1: the session's); no handle yet.
    CTKInternetConnection(CTKInternetSession* session, const TKWCHAR* server,
                          unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                          std::uint64_t context = 1);
    // Closes the handle. Virtual: connections are deleted through this class.
    virtual ~CTKInternetConnection();
    CTKInternetConnection(const CTKInternetConnection&) = delete;
    CTKInternetConnection& operator=(const CTKInternetConnection&) = delete;

    virtual void Close();

    int SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                  std::uint32_t flags = 0);
    int SetOption(std::uint32_t option, std::uint32_t value, std::uint32_t flags = 0);
    int QueryOption(std::uint32_t option, void* buffer, std::uint32_t* length) const;
    int QueryOption(std::uint32_t option, std::uint32_t& value) const;

    CTKString GetServerName() { return m_strServerName; }
    CTKInternetSession* GetSession() const { return m_pSession; }
    std::uint64_t GetContext() const { return m_dwContext; }
    operator void*() const { return m_hConnection; }

  protected:
    void* m_hConnection;
    std::uint64_t m_dwContext;
    CTKInternetSession* m_pSession;
    CTKString m_strServerName;
    unsigned short m_nPort;
};

class TK_API CTKHttpConnection : public CTKInternetConnection {
  public:
    // Connects to the server; throws a CTKInternetException* on failure.
    CTKHttpConnection(CTKInternetSession* session, const TKWCHAR* server,
                      unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                      const TKWCHAR* userName = nullptr, const TKWCHAR* password = nullptr,
                      std::uint64_t context = 1);
    CTKHttpConnection(CTKInternetSession* session, const TKWCHAR* server, std::uint32_t flags,
                      unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                      const TKWCHAR* userName = nullptr, const TKWCHAR* password = nullptr,
                      std::uint64_t context = 1);
    // Takes over an HTTP connection handle; any other throws code 6 after
    // closing it.
    CTKHttpConnection(CTKInternetSession* session, void* hConnected, const TKWCHAR* server,
                      std::uint64_t context);
    ~CTKHttpConnection() override = default;

    // "POST", "GET", "HEAD", "PUT", "LINK", "DELETE", "UNLINK".
    static const TKWCHAR* const szHtmlVerbs[7];

    // A new request file (the caller deletes it); never throws. A refused
    // request gives a file with a null handle.
    CTKHttpFile* OpenRequest(const TKWCHAR* verb, const TKWCHAR* objectName,
                             const TKWCHAR* referer = nullptr, std::uint64_t context = 1,
                             const TKWCHAR** acceptTypes = nullptr,
                             const TKWCHAR* version = nullptr,
                             std::uint32_t flags = INTERNET_FLAG_EXISTING_CONNECT);
    // The verb by index into szHtmlVerbs; any other index gives "".
    CTKHttpFile* OpenRequest(int verb, const TKWCHAR* objectName, const TKWCHAR* referer = nullptr,
                             std::uint64_t context = 1, const TKWCHAR** acceptTypes = nullptr,
                             const TKWCHAR* version = nullptr,
                             std::uint32_t flags = INTERNET_FLAG_EXISTING_CONNECT);
};

// ---- files ------------------------------------------------------------------------

class TK_API CTKInternetFile {
  public:
    virtual std::int64_t Seek(std::int64_t offset, unsigned int origin);
    virtual unsigned int Read(void* buffer, unsigned int count);
    virtual void Write(const void* data, unsigned int count);
    virtual void Abort();
    virtual void Flush();
    virtual void Close();
    virtual std::uint32_t GetLength() const;
    virtual TKWCHAR* ReadString(TKWCHAR* buffer, unsigned int max);
    virtual int ReadString(CTKString& line);
    virtual void WriteString(const TKWCHAR* text);
    // Closes the file; a failing final flush is swallowed.
    virtual ~CTKInternetFile();

    CTKInternetFile(const CTKInternetFile&) = delete;
    CTKInternetFile& operator=(const CTKInternetFile&) = delete;

    int SetReadBufferSize(unsigned int size);
    int SetWriteBufferSize(unsigned int size);

    int SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                  std::uint32_t flags = 0);
    int SetOption(std::uint32_t option, std::uint32_t value, std::uint32_t flags = 0);
    int QueryOption(std::uint32_t option, void* buffer, std::uint32_t* length) const;
    int QueryOption(std::uint32_t option, std::uint32_t& value) const;

    std::uint64_t GetContext() const { return m_dwContext; }
    operator void*() const { return m_hFile; }

  protected:
    CTKInternetFile(void* hFile, void* hConnection, const TKWCHAR* fileName,
                    const TKWCHAR* serverName, std::uint64_t context, int readMode);
    CTKInternetFile(void* hFile, const TKWCHAR* fileName, CTKInternetConnection* connection,
                    int readMode);

    [[noreturn]] void Throw(std::uint32_t error) const;
    unsigned int ReadRaw(void* buffer, unsigned int count);
    void WriteRaw(const void* data, unsigned int count, bool checkShort);

    CTKString m_strFileName;
    void* m_hFile;
    int m_bReadMode;
    std::uint64_t m_dwContext;
    void* m_hRequest;
    CTKString m_strServerName;
    unsigned int m_nWriteBufferSize;
    unsigned int m_nWriteBufferPos;
    unsigned char* m_pbWriteBuffer;
    unsigned int m_nReadBufferSize;
    unsigned int m_nReadBufferPos;
    unsigned char* m_pbReadBuffer;
    unsigned int m_nReadBufferBytes;

    friend class CTKInternetSession;
    friend class CTKHttpConnection;
};

class TK_API CTKHttpFile : public CTKInternetFile {
  public:
    ~CTKHttpFile() override;

    // "http://" + server + "/" + object (no slash added when the object
    // begins with one); "http://" alone for a file without a handle.
    virtual CTKString GetFileURL();
    CTKString GetVerb() { return m_strVerb; }

    // Request headers, "Name: value" lines separated by CR LF, with the
    // HTTP_ADDREQ_FLAG_* modifiers; length -1 measures up to the NUL.
    int AddRequestHeaders(const TKWCHAR* headers, std::uint32_t flags = HTTP_ADDREQ_FLAG_ADD_IF_NEW,
                          int length = -1);
    int AddRequestHeaders(CTKString& headers, std::uint32_t flags = HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    // Sends the request with extra headers and an optional body and waits for
    // the response's headers; throws a CTKInternetException* on failure.
    int SendRequest(const TKWCHAR* headers = nullptr, std::uint32_t headersLength = 0,
                    void* optional = nullptr, std::uint32_t optionalLength = 0);
    int SendRequest(CTKString& headers, void* optional = nullptr, std::uint32_t optionalLength = 0);
    // Starts a request whose body of totalLength bytes follows by Write;
    // EndRequest then waits for the response's headers.
    int SendRequestEx(std::uint32_t totalLength, std::uint32_t flags = 0,
                      std::uint64_t context = 1);
    int SendRequestEx(INTERNET_BUFFERSW* buffersIn, INTERNET_BUFFERSW* buffersOut = nullptr,
                      std::uint32_t flags = 0, std::uint64_t context = 1);
    int EndRequest(std::uint32_t flags = 0, INTERNET_BUFFERSW* buffersOut = nullptr,
                   std::uint64_t context = 1);

    // HTTP_QUERY_* levels with the HTTP_QUERY_FLAG_* modifiers; a missing
    // header gives 0 with code 12150, a short buffer 0 with code 122 and the
    // length needed. Text lengths are in characters: in, the buffer's room;
    // on 122, the room needed with the terminator; on success, the text's
    // length without it. Numbers take 4 bytes (8 with NUMBER64), dates 16.
    // HTTP_QUERY_CUSTOM takes the header's name in the buffer.
    int QueryInfo(std::uint32_t infoLevel, void* buffer, std::uint32_t* length,
                  std::uint32_t* index = nullptr) const;
    int QueryInfo(std::uint32_t infoLevel, std::uint32_t& value,
                  std::uint32_t* index = nullptr) const;
    int QueryInfo(std::uint32_t infoLevel, SYSTEMTIME* time, std::uint32_t* index = nullptr) const;
    int QueryInfo(std::uint32_t infoLevel, CTKString& text, std::uint32_t* index = nullptr) const;
    int QueryInfoStatusCode(std::uint32_t& statusCode) const;

  protected:
    CTKHttpFile(void* hFile, const TKWCHAR* verb, const TKWCHAR* objectName,
                CTKHttpConnection* connection);
    CTKHttpFile(void* hFile, void* hSession, const TKWCHAR* objectName, const TKWCHAR* serverName,
                const TKWCHAR* verb, std::uint64_t context);

    CTKString m_strObject;
    CTKString m_strVerb;

    friend class CTKInternetSession;
    friend class CTKHttpConnection;
};

#endif  // TAVIKFCU_TKNET_H
