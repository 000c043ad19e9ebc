# Installing TavikFCU, and the Debian package of the same install.
#
#   cmake --install build --prefix P    headers in P/include/tavikfcu, the
#                                       library with its SONAME links, tkfcu,
#                                       a CMake package and tavikfcu.pc
#   cd build && cpack -G DEB            tavikfcu_<version>_<arch>.deb
#
# Consumers write find_package(TavikFCU) and link TavikFCU::tavikfcu, or use
# pkg-config --cflags --libs tavikfcu; either way they include
# <tavikfcu/TavikFCU.h>. Every installed package file finds the prefix from
# its own location or from the install step, never from this build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavikFCU)

target_include_directories(tavikfcu INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS tavikfcu EXPORT TavikFCUTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT devel
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tavikfcu
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT devel
  FILES_MATCHING PATTERN "*.h")

if(TARGET tkfcu)
  # The installed tool finds the library beside it under any prefix.
  file(RELATIVE_PATH tk_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(tkfcu PROPERTIES INSTALL_RPATH "$ORIGIN/${tk_bin_to_lib}")
  install(TARGETS tkfcu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# ---- CMake package: find_package(TavikFCU) gives TavikFCU::tavikfcu --------------
install(EXPORT TavikFCUTargets
  NAMESPACE TavikFCU::
  DESTINATION ${TK_CMAKE_DIR}
  COMPONENT devel)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TavikFCUConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TavikFCUConfig.cmake
  INSTALL_DESTINATION ${TK_CMAKE_DIR}
  NO_SET_AND_CHECK_MACRO
  NO_CHECK_REQUIRED_COMPONENTS_MACRO)
# The interface may grow within a major version, never break: any 0.x
# request is met by a 0.y with y >= x, and 1.0 is refused.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TavikFCUConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/TavikFCUConfig.cmake
  ${PROJECT_BINARY_DIR}/TavikFCUConfigVersion.cmake
  DESTINATION ${TK_CMAKE_DIR}
  COMPONENT devel)

# ---- pkg-config ------------------------------------------------------------------
# The prefix is only known when installing (cmake --install --prefix, or
# cpack's staging), so the file is written then.
foreach(kind INCLUDEDIR LIBDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(TK_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(TK_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
install(CODE "
  set(TK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(TK_PC_INCLUDEDIR [[${TK_PC_INCLUDEDIR}]])
  set(TK_PC_LIBDIR [[${TK_PC_LIBDIR}]])
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/tavikfcu.pc.in\"
                 \"${PROJECT_BINARY_DIR}/pkgconfig/tavikfcu.pc\" @ONLY)
  " COMPONENT devel)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/tavikfcu.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT devel)

# ---- Debian package ----------------------------------------------------------------
set(CPACK_PACKAGE_NAME tavikfcu)
set(CPACK_PACKAGE_VENDOR "TavikFCU")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "C++ foundation classes: UTF-16 strings, JSON, geodesy, codecs, CSV; and the tkfcu tool")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TavikFCU developers <tavikfcu@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# One package holds the whole install (library, headers, tool, package files).
set(CPACK_DEB_COMPONENT_INSTALL OFF)
find_program(TK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the run-time dependencies, as Debian computes them
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(TARGET CURL::libcurl)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libcurl4")
  endif()
endif()
include(CPack)
