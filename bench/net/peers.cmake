# Peer for bench_net: libcurl itself (its URL API, and later its easy
# interface), which the library already links.
find_package(CURL REQUIRED)
list(APPEND TK_BENCH_PEERS_net CURL::libcurl)
