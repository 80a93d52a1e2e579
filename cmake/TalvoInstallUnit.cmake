# Runs when installing (an install(CODE) of Install.cmake sets
# TALVO_SOURCE_DIR, TALVO_BINARY_DIR and TALVO_SBINDIR): writes the unit for
# the prefix being installed to, which may differ from the build's (the
# package is made for /usr), and installs it with its drop-in into that
# prefix's systemd unit folder (/lib/systemd/system for /usr).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unit_dir /lib/systemd/system)
else()
  set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(TALVOD_INSTALLED ${CMAKE_INSTALL_PREFIX}/${TALVO_SBINDIR}/talvod)
# One file per prefix: a package and a plain install may run at once.
string(MAKE_C_IDENTIFIER "${CMAKE_INSTALL_PREFIX}" prefix_id)
set(unit ${TALVO_BINARY_DIR}/etc/installed/${prefix_id}/talvo-daemon.service)
configure_file(${TALVO_SOURCE_DIR}/etc/talvo-daemon.service.in ${unit} @ONLY)
file(INSTALL ${unit} DESTINATION ${unit_dir})
file(INSTALL ${TALVO_SOURCE_DIR}/etc/packaging/talvo-user.conf
     DESTINATION ${unit_dir}/talvo-daemon.service.d)
