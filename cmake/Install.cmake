# Install rules and the Debian package.
#
#   cmake --install <build> [--prefix P]   the programs, manual pages, bash
#                                          completion, samples, unit, IDL
#   cmake --build <build> --target package the .deb (scripts/package.sh)
#
# Configuration goes to /etc/talvo whatever the prefix (the programs look
# there), the unit to the systemd unit folder of the prefix. The package is
# made for /usr whatever the build's prefix (a Debian package has nothing
# under /usr/local). Manual pages are turned into roff by scdoc and
# completion is written by talvoctl itself; both are built with the
# programs (target talvo_docs).
include(GNUInstallDirs)

# Installing and packing take what is built; they do not build the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(TALVO_SYSCONF_DIR /etc/talvo)
# Where `cmake --install` puts the unit for this build's prefix; the package
# is always made for /usr (see TalvoInstallUnit.cmake).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TALVO_UNIT_DIR /lib/systemd/system)
else()
  set(TALVO_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()

# ---- Manual pages --------------------------------------------------------
find_program(TALVO_SCDOC scdoc)
set(talvo_docs_outputs)
if(TALVO_SCDOC)
  foreach(page talvod.8 talvodw.8 talvoctl.1)
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.scd)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${TALVO_SCDOC}' < '${source}' | gzip -9n > '${output}'"
      DEPENDS ${source}
      COMMENT "Manual page ${page}"
      VERBATIM)
    list(APPEND talvo_docs_outputs ${output})
  endforeach()
else()
  message(WARNING "scdoc not found: no manual pages (scripts/setup.sh "
                  "installs it)")
endif()

# ---- Bash completion, from talvoctl's own command table ------------------
if(TARGET talvoctl)
  set(completion ${CMAKE_BINARY_DIR}/completion/talvoctl)
  add_custom_command(
    OUTPUT ${completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/completion
    COMMAND sh -c "'$<TARGET_FILE:talvoctl>' completion bash > '${completion}'"
    DEPENDS talvoctl
    COMMENT "Bash completion of talvoctl"
    VERBATIM)
  list(APPEND talvo_docs_outputs ${completion})
endif()
# The package's change log, compressed as Debian wants it.
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND sh -c "gzip -9n < '${CMAKE_SOURCE_DIR}/etc/packaging/changelog' > '${changelog}'"
  DEPENDS ${CMAKE_SOURCE_DIR}/etc/packaging/changelog
  VERBATIM)
add_custom_target(talvo_docs ALL DEPENDS ${talvo_docs_outputs} ${changelog})

# ---- What is installed ---------------------------------------------------
install(TARGETS talvod RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET talvodw)
  install(TARGETS talvodw RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()
install(TARGETS talvoctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET talvo_sample_server)
  install(TARGETS talvo_sample_server talvo_sample_client
          RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/talvo)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/etc/Talvo.cfg ${CMAKE_SOURCE_DIR}/etc/registry
              ${CMAKE_SOURCE_DIR}/etc/Talvo.err
        DESTINATION ${TALVO_SYSCONF_DIR})
# The unit names the installed program, so it is written when installing,
# for the prefix installed to. Installed, the daemon runs as the system user
# talvo (its drop-in), made by sysusers.d; tmpfiles.d makes its state and
# log folders.
install(CODE "
  set(TALVO_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
  set(TALVO_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
  set(TALVO_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/TalvoInstallUnit.cmake\")")
install(FILES ${CMAKE_SOURCE_DIR}/etc/packaging/sysusers.conf
        DESTINATION lib/sysusers.d RENAME talvo.conf)
install(FILES ${CMAKE_SOURCE_DIR}/etc/packaging/tmpfiles.conf
        DESTINATION lib/tmpfiles.d RENAME talvo.conf)

if(EXISTS ${CMAKE_SOURCE_DIR}/idl)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/idl/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/idl/talvo
          FILES_MATCHING PATTERN "*.idl")
endif()

foreach(output IN LISTS talvo_docs_outputs)
  if(output MATCHES "/man/.*\\.([0-9])\\.gz$")
    set(section ${CMAKE_MATCH_1})
    if(output MATCHES "talvodw" AND NOT TARGET talvodw)
      continue()
    endif()
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endforeach()
if(TARGET talvoctl)
  install(FILES ${completion}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/etc/packaging/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The Debian package --------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvo)
set(CPACK_PACKAGE_VERSION 2.3c)
set(CPACK_PACKAGE_CONTACT "Talvo maintainers <maintainers@talvo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "activation daemon of the Talvo CORBA object request broker")
set(CPACK_PACKAGE_DESCRIPTION
    "talvod keeps the implementation repository of a host's CORBA servers,\n\
launches them when clients bind to them, and serves the QV_daemon\n\
management interface; talvoctl administers it.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/etc/packaging/conffiles
    ${CMAKE_SOURCE_DIR}/etc/packaging/postinst
    ${CMAKE_SOURCE_DIR}/etc/packaging/prerm
    ${CMAKE_SOURCE_DIR}/etc/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The configuration files under /etc are conffiles; absolute destinations
# need the staging folder.
set(CPACK_SET_DESTDIR ON)
# A Debian package lives under /usr, whatever prefix this build installs to.
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
