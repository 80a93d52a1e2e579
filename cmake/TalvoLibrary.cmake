# talvo_library(NAME DIR <folder under src> [DEPS lower layers...]
#               [SYSTEM_DEPS libraries...])
#
# The sources are every .cc file directly in the folder.
# Declares one layer's static library. Its headers are reachable as
# "<folder>/header.h" only by targets that link the library: the include root
# is a private folder in the build tree holding a link to this one folder, so
# a lower layer that includes a higher one's header fails to build.
# Dependencies are linked PRIVATE; a consumer links every layer it uses.
function(talvo_library name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;SYSTEM_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${ARG_DIR}/*.cc)
  # A layer that has no sources yet still links as an empty library.
  set(empty ${CMAKE_BINARY_DIR}/empty/${name}.cc)
  # Written only when its text changes, so that configuring again does not
  # recompile and relink everything.
  file(CONFIGURE OUTPUT ${empty} CONTENT "// Empty translation unit of ${name}.\n"
       @ONLY)
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  get_filename_component(parent ${root}/${ARG_DIR} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${ARG_DIR} ${root}/${ARG_DIR}
       SYMBOLIC)
  add_library(${name} STATIC ${sources} ${empty})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} ${ARG_SYSTEM_DEPS})
  # Headers of the layers below are needed to compile this one's sources,
  # and by whoever includes this layer's headers (which may name types of
  # the layers below); linking stays private.
  foreach(dep IN LISTS ARG_DEPS)
    target_include_directories(${name} PUBLIC
      $<TARGET_PROPERTY:${dep},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()
endfunction()

# talvo_test(NAME SOURCES ... LIBS ...): one GoogleTest program, registered
# with CTest.
# Every test program reuses one precompiled GoogleTest header.
function(talvo_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARGET talvo_gtest_pch)
    set(source ${CMAKE_BINARY_DIR}/empty/talvo_gtest_pch.cc)
    file(CONFIGURE OUTPUT ${source}
         CONTENT "// Owner of the tests' precompiled header.\n" @ONLY)
    add_library(talvo_gtest_pch OBJECT ${source})
    target_link_libraries(talvo_gtest_pch PRIVATE GTest::gtest)
    target_precompile_headers(talvo_gtest_pch PRIVATE <gtest/gtest.h>)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # Qt's targets compile position-independent code, which the shared
  # header was not made for.
  if(NOT ARG_LIBS MATCHES "Qt6::")
    target_precompile_headers(${name} REUSE_FROM talvo_gtest_pch)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TALVO_TEST_BIN=${CMAKE_BINARY_DIR}")
endfunction()

# talvo_fuzz(NAME SOURCES ... LIBS ... [SEEDS folder]): a libFuzzer target,
# built only with TALVO_FUZZ (clang); scripts/test.sh runs each for a bounded
# time, starting from a copy of the seed folder when one is given.
function(talvo_fuzz name)
  cmake_parse_arguments(ARG "" "SEEDS" "SOURCES;LIBS" ${ARGN})
  if(NOT TALVO_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set_property(GLOBAL APPEND PROPERTY TALVO_FUZZ_TARGETS ${name})
  set_property(GLOBAL APPEND PROPERTY TALVO_FUZZ_LINES "${name} ${ARG_SEEDS}")
endfunction()
