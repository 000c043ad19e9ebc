# Fails when a file of a layer includes a header from a folder the layer may
# not reach. Run by the build before each layer compiles (see TKLayers.cmake):
#
#   cmake -DTK_SRC=<src> -DTK_LAYER=<name> -DTK_DIRS=<own,folders>
#         -DTK_REACH=<every,folder,it,may,include> -P check_layer_includes.cmake
#
# Only quoted includes of the form "folder/..." are layered; public headers
# ("tavikfcu/...") and system headers belong to no layer.
string(REPLACE "," ";" dirs "${TK_DIRS}")
string(REPLACE "," ";" reach "${TK_REACH}")
list(APPEND reach tavikfcu)

set(faults "")
foreach(dir ${dirs})
  file(GLOB files ${TK_SRC}/${dir}/*.cpp ${TK_SRC}/${dir}/*.h)
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      if(line MATCHES "\"([^\"]+)\"")
        set(path ${CMAKE_MATCH_1})
        # A header beside the file ("x.h") is the file's own folder.
        if(NOT path MATCHES "/")
          continue()
        endif()
        # The longest reachable folder that prefixes the path wins, so that
        # net/platform/ and net/ can be told apart.
        set(allowed FALSE)
        foreach(folder ${reach})
          string(LENGTH "${folder}/" n)
          string(SUBSTRING "${path}" 0 ${n} head)
          if(head STREQUAL "${folder}/")
            set(allowed TRUE)
          endif()
        endforeach()
        if(NOT allowed)
          file(RELATIVE_PATH rel ${TK_SRC} ${file})
          string(APPEND faults "\n  src/${rel} includes \"${path}\"")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Layer ${TK_LAYER} reaches above itself:${faults}\n"
    "It may include only from: ${TK_REACH}. Move the code down, or pass what it "
    "needs in from the layer above.")
endif()
