# Peers of the JSON benchmarks: RapidJSON (header-only, its UTF-16 DOM) and
# nlohmann::json. Each is optional; the benchmark compiles what it finds.
find_package(RapidJSON CONFIG QUIET)
find_path(TK_RAPIDJSON_INCLUDE rapidjson/document.h HINTS ${RapidJSON_INCLUDE_DIRS} ${RAPIDJSON_INCLUDE_DIRS})
if(TK_RAPIDJSON_INCLUDE)
  list(APPEND TK_BENCH_DEFS_json HAVE_RAPIDJSON=1)
endif()
find_package(nlohmann_json CONFIG QUIET)
if(TARGET nlohmann_json::nlohmann_json)
  list(APPEND TK_BENCH_PEERS_json nlohmann_json::nlohmann_json)
  list(APPEND TK_BENCH_DEFS_json HAVE_NLOHMANN=1)
endif()
