# Peers of the geodesy benchmarks: PROJ (Transverse Mercator, geocentric
# conversion, and the EPSG registry for the accuracy table) and
# GeographicLib's TransverseMercator.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TK_PEER_PROJ REQUIRED IMPORTED_TARGET proj)
pkg_check_modules(TK_PEER_GEOGRAPHICLIB REQUIRED IMPORTED_TARGET geographiclib)
list(APPEND TK_BENCH_PEERS_geo PkgConfig::TK_PEER_PROJ PkgConfig::TK_PEER_GEOGRAPHICLIB)
list(APPEND TK_BENCH_DEFS_geo HAVE_PROJ=1 HAVE_GEOGRAPHICLIB=1)
