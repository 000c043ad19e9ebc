# Fails when a file of a layer includes a header from a folder the layer may
# not reach. Run by the build before each layer compiles (see TKLayers.cmake):
#
#   cmake -DTK_SRC=<src> -DTK_LAYER=<name> -DTK_DIRS=<own,folders>
#         -DTK_REACH=<every,folder,it,may,include> -P check_layer_includes.cmake
#
# Only quoted includes of the form "folder/..." are layered; public headers
# ("tavikfcu/...") belong to no layer. System headers that reach the OS
# (POSIX, Linux, Windows, libcurl) are allowed only in a folder named
# platform (src/platform/, src/net/platform/); the C and C++ runtimes, glibc's
# iconv included, are open to every layer.
set(os_headers "unistd|fcntl|dlfcn|pthread|locale|xlocale|clocale|syslog|cpuid|netdb|poll|signal|csignal|windows|winsock2|ws2tcpip|sys/|linux/|netinet/|arpa/|curl/")
string(REPLACE "," ";" dirs "${TK_DIRS}")
string(REPLACE "," ";" reach "${TK_REACH}")
list(APPEND reach tavikfcu)

set(faults "")
foreach(dir ${dirs})
  file(GLOB files ${TK_SRC}/${dir}/*.cpp ${TK_SRC}/${dir}/*.h)
  foreach(file ${files})
    file(RELATIVE_PATH rel ${TK_SRC} ${file})
    if(NOT dir MATCHES "(^|/)platform$")
      file(STRINGS ${file} system REGEX "^[ \t]*#[ \t]*include[ \t]*<(${os_headers})")
      foreach(line ${system})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*" "" header "${line}")
        string(APPEND faults "\n  src/${rel} includes the OS header ${header}")
      endforeach()
    endif()
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      if(line MATCHES "\"([^\"]+)\"")
        set(path ${CMAKE_MATCH_1})
        # A header beside the file ("x.h") is the file's own folder.
        if(NOT path MATCHES "/")
          continue()
        endif()
        # Reachable when it starts with a reachable folder.
        set(allowed FALSE)
        foreach(folder ${reach})
          string(LENGTH "${folder}/" n)
          string(SUBSTRING "${path}" 0 ${n} head)
          if(head STREQUAL "${folder}/")
            set(allowed TRUE)
          endif()
        endforeach()
        if(NOT allowed)
          string(APPEND faults "\n  src/${rel} includes \"${path}\"")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Layer ${TK_LAYER} reaches outside its bounds:${faults}\n"
    "It may include only from: ${TK_REACH}, and OS headers only in a platform "
    "folder. Move the code down, pass what it needs in from the layer above, or "
    "put the OS call behind src/platform/.")
endif()
