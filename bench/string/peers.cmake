# Qt's QString is the peer of the string benchmarks when qtbase5-dev is installed.
find_package(Qt5 COMPONENTS Core QUIET)
if(Qt5Core_FOUND)
  list(APPEND TK_BENCH_PEERS_string Qt5::Core)
  list(APPEND TK_BENCH_DEFS_string HAVE_QT=1)
endif()
