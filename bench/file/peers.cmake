# libcsv (libcsv-dev) as the peer of the CSV reader. It ships no CMake or
# pkg-config file, so the header and library are found directly.
find_path(TK_LIBCSV_INCLUDE csv.h)
find_library(TK_LIBCSV_LIBRARY csv)
if(TK_LIBCSV_INCLUDE AND TK_LIBCSV_LIBRARY)
  list(APPEND TK_BENCH_PEERS_${sub} ${TK_LIBCSV_LIBRARY})
  list(APPEND TK_BENCH_DEFS_${sub} HAVE_LIBCSV=1)
else()
  message(STATUS "libcsv not found: bench_file runs without its peer")
endif()
