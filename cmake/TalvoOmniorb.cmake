# omniORB, the ORB the interoperability tests and benchmarks talk to.
#
#   TALVO_OMNIORB            true when omniidl and omniORB4 (pkg-config) are
#                            installed; nothing below is made without them
#   talvo_omniidl(TARGET IDL...)
#                            generates C++ stubs and skeletons of the IDL
#                            files (idl/<name>.idl, or a path) into the build
#                            folder and adds them, omniORB and its include
#                            path to the executable TARGET
# Included by each folder that builds against omniORB; the search runs once.
find_program(TALVO_OMNIIDL omniidl)
if(NOT TARGET PkgConfig::TALVO_OMNIORB4)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(TALVO_OMNIORB4 QUIET IMPORTED_TARGET GLOBAL omniORB4)
  endif()
endif()
if(TALVO_OMNIIDL AND TARGET PkgConfig::TALVO_OMNIORB4)
  set(TALVO_OMNIORB TRUE)
else()
  set(TALVO_OMNIORB FALSE)
  get_property(told GLOBAL PROPERTY TALVO_OMNIORB_TOLD)
  if(NOT told)
    set_property(GLOBAL PROPERTY TALVO_OMNIORB_TOLD TRUE)
    message(STATUS "omniORB not found: no interoperability tests "
                   "(scripts/setup.sh installs it)")
  endif()
endif()

function(talvo_omniidl target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_idl)
  file(MAKE_DIRECTORY ${out})
  foreach(idl IN LISTS ARGN)
    if(NOT IS_ABSOLUTE ${idl})
      set(idl ${CMAKE_SOURCE_DIR}/idl/${idl}.idl)
    endif()
    get_filename_component(name ${idl} NAME_WE)
    add_custom_command(
      OUTPUT ${out}/${name}.hh ${out}/${name}SK.cc
      COMMAND ${TALVO_OMNIIDL} -bcxx -C ${out} ${idl}
      DEPENDS ${idl}
      COMMENT "omniidl ${name}.idl"
      VERBATIM)
    target_sources(${target} PRIVATE ${out}/${name}SK.cc)
    # Each generated file defines the same file-scope names: never batched.
    set_source_files_properties(${out}/${name}SK.cc PROPERTIES
      SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
  target_include_directories(${target} PRIVATE ${out})
  # Generated code: its warnings are omniidl's.
  target_compile_options(${target} PRIVATE -Wno-unused-parameter)
  target_link_libraries(${target} PRIVATE PkgConfig::TALVO_OMNIORB4)
endfunction()
