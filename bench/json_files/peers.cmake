# RapidJSON (header-only) parses the same file from UTF-8 as the peer.
find_path(TK_RAPIDJSON_FILES_INCLUDE rapidjson/document.h)
if(TK_RAPIDJSON_FILES_INCLUDE)
  list(APPEND TK_BENCH_DEFS_json_files HAVE_RAPIDJSON=1)
endif()
