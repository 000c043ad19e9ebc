// Host name lookups bounded by the connect timeout.
#include "net/platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tk::inet::detail {

namespace {

// Collects the addresses of a lookup's result.
bool ListAddresses(const addrinfo* list, std::string& addresses, std::string& first) {
    addresses.clear();
    first.clear();
    for (const addrinfo* a = list; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ai_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, text,
                      sizeof text);
        else if (a->ai_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, text,
                      sizeof text);
        else
            continue;
        std::string one = a->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : text;
        if (addresses.find(one) != std::string::npos) continue;
        if (first.empty()) first = text;
        if (!addresses.empty()) addresses += ',';
        addresses += one;
    }
    return !addresses.empty();
}

addrinfo StreamHints() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return hints;
}

// One lookup, shared by the caller and the thread that makes it; whichever
// is last frees it (and the result, if the caller gave up on it).
struct SharedLookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int status = 0;
    addrinfo* list = nullptr;

    ~SharedLookup() {
        if (list) freeaddrinfo(list);
    }
};

}  // namespace

LookupResult LookUpHost(const std::string& host, std::uint32_t timeoutMs, std::string& addresses,
                        std::string& first) {
    auto lookup = std::make_shared<SharedLookup>();
    // A thread of its own, because getaddrinfo cannot be bounded in time. It
    // may outlive this call (and the caller's objects), so it holds only
    // its copy of the name and the shared record; the library stays mapped
    // while it runs (it is linked not to unload).
    std::thread([lookup, name = host] {
        const addrinfo hints = StreamHints();
        addrinfo* list = nullptr;
        const int status = getaddrinfo(name.c_str(), nullptr, &hints, &list);
        std::lock_guard<std::mutex> guard(lookup->lock);
        lookup->status = status;
        lookup->list = list;
        lookup->done = true;
        lookup->finished.notify_one();
    }).detach();
    std::unique_lock<std::mutex> guard(lookup->lock);
    if (!lookup->finished.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                   [&] { return lookup->done; }))
        return LookupResult::kTimedOut;
    const bool found = lookup->status == 0 && ListAddresses(lookup->list, addresses, first);
    return found ? LookupResult::kFound : LookupResult::kNotFound;
}

}  // namespace tk::inet::detail
