# Folders are layers. bt_layer() makes one static library per folder, links
# it to the libraries of the folders it may use, and refuses at configure
# time any quoted include "x/..." whose folder x is not among them, so an
# include that points up the layers fails the build instead of waiting for a
# reviewer.
#
#   bt_layer(<target> <folder> [USES <folder>...] [LIBS <library>...])
#
# <folder> is below the current src/; USES names folders already declared
# with bt_layer (anywhere in the project); LIBS are outside libraries.
# A folder's tests (name_test.cpp) may also include "testing/...".

function(bt_check_includes folder_path allowed)
  file(GLOB files CONFIGURE_DEPENDS ${folder_path}/*.cpp ${folder_path}/*.hpp)
  foreach(file ${files})
    set(allowed_here ${allowed})
    if(file MATCHES "_test\\.cpp$" OR file MATCHES "/testing/")
      list(APPEND allowed_here testing)
    endif()
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" used "${line}")
      if(NOT used IN_LIST allowed_here)
        file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${file})
        message(FATAL_ERROR "${shown} includes \"${used}/...\", a folder its layer may not use "
                            "(it may use: ${allowed_here})")
      endif()
    endforeach()
  endforeach()
endfunction()

function(bt_layer target folder)
  cmake_parse_arguments(LAYER "" "" "USES;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS src/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} ${CMAKE_CURRENT_SOURCE_DIR}/src)
  foreach(used ${LAYER_USES})
    get_property(used_target GLOBAL PROPERTY BT_LAYER_${used})
    if(NOT used_target)
      message(FATAL_ERROR "bt_layer(${target}): no layer declared for folder ${used}")
    endif()
    target_link_libraries(${target} ${scope} ${used_target})
  endforeach()
  if(LAYER_LIBS)
    target_link_libraries(${target} ${scope} ${LAYER_LIBS})
  endif()
  set_property(GLOBAL PROPERTY BT_LAYER_${folder} ${target})
  bt_check_includes(${CMAKE_CURRENT_SOURCE_DIR}/src/${folder} "${folder};${LAYER_USES}")
endfunction()

# Registers a GoogleTest program with CTest: each test on its own where the
# program can be run at build time to list them; as one test in a cross
# build, where CTest runs it through the emulator (Wine).
function(bt_add_tests target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    # A crash under Wine starts its debugger, which may end the program
    # with status 0: its report fails the test all the same.
    set_tests_properties(${target} PROPERTIES TIMEOUT 1800
      FAIL_REGULAR_EXPRESSION "Unhandled exception|Unhandled page fault|\\[  FAILED  \\]")
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
