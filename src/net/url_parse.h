// The URL parsing routine shared by tkParseURL, tkParseURLEx and
// CTKInternetSession::OpenURL: canonicalise, crack, optionally unescape the
// path, and translate the scheme into a TK_SERVICE_* value.
#ifndef TAVIKFCU_NET_URL_PARSE_H
#define TAVIKFCU_NET_URL_PARSE_H

#include <cstdint>

#include "net/platform/inet.h"

namespace tk::detail {

// The longest canonical URL parsed without a heap buffer.
inline constexpr std::uint32_t kUrlBufferLength = 2084;

// Non-zero when the URL was cracked: service and port are then set. On a
// zero result the service is TK_SERVICE_UNKNOWN and the port untouched.
[[nodiscard]] int ParseUrl(const TKWCHAR* url, inet::UrlComponents* parts, std::uint32_t& service,
                           unsigned short& port, std::uint32_t flags);

}  // namespace tk::detail

#endif  // TAVIKFCU_NET_URL_PARSE_H
