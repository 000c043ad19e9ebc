// Host name lookups bounded by the connect timeout.
//
// A request's connect timeout covers the whole way to a connection, the
// name lookup included: a resolver that never answers must not hold the
// caller longer than that. The lookup runs on a thread of its own while the
// caller waits at most the timeout; a lookup given up on finishes there and
// frees what it found.
#ifndef TAVIKFCU_NET_PLATFORM_NAME_LOOKUP_H
#define TAVIKFCU_NET_PLATFORM_NAME_LOOKUP_H

#include <cstdint>
#include <string>

namespace tk::inet::detail {

enum class LookupResult { kFound, kNotFound, kTimedOut };

// The addresses of host, without repeats, as a curl resolve list
// ("a,b,[c]"), and the first of them as plain text.
LookupResult LookUpHost(const std::string& host, std::uint32_t timeoutMs, std::string& addresses,
                        std::string& first);

}  // namespace tk::inet::detail

#endif  // TAVIKFCU_NET_PLATFORM_NAME_LOOKUP_H
