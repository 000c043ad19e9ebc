# The library is built in layers. tk_add_layer(<name> DIRS <folders under src/>
# BELOW <layers> [LIBS <outside libraries>]) makes the OBJECT library
# tk_<name> from those folders and lets it stand on the named layers and,
# through them, on everything beneath; LIBS (libcurl for the internet layer)
# are linked wherever the layer's objects go.
# Two checks make a wrong edge fail the build, not a review:
#
#   includes  Before a layer compiles, check_layer_includes.cmake reads every
#             "folder/file.h" include in its folders and fails on a folder
#             that is not the layer's own or one beneath it (siblings count
#             as above: json may not include geo/...).
#   symbols   tk_<name>_link_check links the layer's objects with those of the
#             layers beneath it, and nothing else, into a throw-away shared
#             object with --no-undefined: a call into a layer above, even
#             through a public header, is an undefined symbol. Sanitizer and
#             fuzzer builds skip it (their runtimes leave symbols undefined).

set(TK_LAYER_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check_layer_includes.cmake)
set(TK_LAYER_LINK_CHECK ON)
if(TK_SANITIZE OR TK_TSAN OR TK_BUILD_FUZZ)
  set(TK_LAYER_LINK_CHECK OFF)
endif()

function(tk_add_layer name)
  cmake_parse_arguments(L "" "" "DIRS;BELOW;LIBS" ${ARGN})
  set(sources "")
  foreach(dir ${L_DIRS})
    file(GLOB found CONFIGURE_DEPENDS
      ${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/src/${dir}/*.h)
    list(APPEND sources ${found})
  endforeach()

  # What this layer may reach: its own folders and layers, then everything
  # its lower layers may reach.
  set(reach_dirs ${L_DIRS})
  set(reach_layers ${name})
  foreach(below ${L_BELOW})
    if(NOT TARGET tk_${below})
      message(FATAL_ERROR "layer ${name} stands on ${below}, which is not defined beneath it")
    endif()
    get_property(dirs GLOBAL PROPERTY TK_LAYER_REACH_DIRS_${below})
    get_property(layers GLOBAL PROPERTY TK_LAYER_REACH_LAYERS_${below})
    list(APPEND reach_dirs ${dirs})
    list(APPEND reach_layers ${layers})
  endforeach()
  list(REMOVE_DUPLICATES reach_dirs)
  list(REMOVE_DUPLICATES reach_layers)
  set(reach_libs ${L_LIBS})
  foreach(below ${L_BELOW})
    get_property(libs GLOBAL PROPERTY TK_LAYER_REACH_LIBS_${below})
    list(APPEND reach_libs ${libs})
  endforeach()
  list(REMOVE_DUPLICATES reach_libs)
  set_property(GLOBAL PROPERTY TK_LAYER_REACH_LIBS_${name} ${reach_libs})
  set_property(GLOBAL APPEND PROPERTY TK_LAYER_LIBS ${L_LIBS})
  set_property(GLOBAL PROPERTY TK_LAYER_REACH_DIRS_${name} ${reach_dirs})
  set_property(GLOBAL PROPERTY TK_LAYER_REACH_LAYERS_${name} ${reach_layers})
  set_property(GLOBAL APPEND PROPERTY TK_LAYERS ${name})

  add_library(tk_${name} OBJECT ${sources})
  target_include_directories(tk_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_compile_definitions(tk_${name} PRIVATE TAVIKFCU_BUILDING)
  # -Wundef: a misspelt feature macro (platform/features.h) is reported,
  # not silently read as 0.
  target_compile_options(tk_${name} PRIVATE ${TK_WARNINGS} -Wundef)
  set_target_properties(tk_${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(tk_${name} PUBLIC Threads::Threads m ${L_LIBS})
  foreach(below ${L_BELOW})
    target_link_libraries(tk_${name} PUBLIC tk_${below})
  endforeach()

  string(REPLACE ";" "," dirs_arg "${L_DIRS}")
  string(REPLACE ";" "," reach_arg "${reach_dirs}")
  # The stamp's folder is made here: without the link checks nothing else
  # creates it.
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/layers)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layers/${name}.includes-ok)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DTK_SRC=${PROJECT_SOURCE_DIR}/src -DTK_LAYER=${name}
            -DTK_DIRS=${dirs_arg} -DTK_REACH=${reach_arg} -P ${TK_LAYER_CHECK_SCRIPT}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${sources} ${TK_LAYER_CHECK_SCRIPT}
    COMMENT "Checking the includes of layer ${name}"
    VERBATIM)
  add_custom_target(tk_${name}_includes DEPENDS ${stamp})
  add_dependencies(tk_${name} tk_${name}_includes)

  if(TK_LAYER_LINK_CHECK)
    set(objects "")
    foreach(layer ${reach_layers})
      list(APPEND objects $<TARGET_OBJECTS:tk_${layer}>)
    endforeach()
    add_library(tk_${name}_link_check SHARED ${objects})
    target_link_libraries(tk_${name}_link_check PRIVATE Threads::Threads m ${reach_libs})
    target_link_options(tk_${name}_link_check PRIVATE LINKER:--no-undefined)
    set_target_properties(tk_${name}_link_check PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/layers)
  endif()
endfunction()

# Every layer's objects, for the shared library and for programs that reach
# internals (tests, fuzzers), and the outside libraries they need.
function(tk_all_layer_objects out libs)
  get_property(layers GLOBAL PROPERTY TK_LAYERS)
  set(objects "")
  foreach(layer ${layers})
    list(APPEND objects $<TARGET_OBJECTS:tk_${layer}>)
  endforeach()
  get_property(outside GLOBAL PROPERTY TK_LAYER_LIBS)
  set(${out} ${objects} PARENT_SCOPE)
  set(${libs} ${outside} PARENT_SCOPE)
endfunction()
