# Installed as Debian programs, in two packages: corvane-headless (the program without a
# window, the systemd unit for headless runs and the man page; no Qt, so it installs on a box
# without any GUI package) and corvane (the window, its desktop entry and icon), which
# depends on the first. Only the programs are installed, never the rig or the tests.
include(GNUInstallDirs)
set(CORVANE_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd unit goes (relative to the install prefix)")
configure_file(dist/corvane@.service.in ${CMAKE_BINARY_DIR}/corvane@.service @ONLY)
install(TARGETS corvane-headless RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT headless)
# Man pages go in compressed; -n leaves out the name and time, so the same page gives the same
# file. corvane-headless has the same page, by a link.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/corvane.1.gz
    COMMAND ${GZIP_EXECUTABLE} -9n --stdout ${CMAKE_SOURCE_DIR}/dist/corvane.1
            > ${CMAKE_BINARY_DIR}/corvane.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/corvane.1)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/corvane-headless.1.gz
    COMMAND ${CMAKE_COMMAND} -E create_symlink corvane.1.gz
            ${CMAKE_BINARY_DIR}/corvane-headless.1.gz)
add_custom_target(corvane_man ALL
    DEPENDS ${CMAKE_BINARY_DIR}/corvane.1.gz ${CMAKE_BINARY_DIR}/corvane-headless.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/corvane.1.gz ${CMAKE_BINARY_DIR}/corvane-headless.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT headless)
install(FILES ${CMAKE_BINARY_DIR}/corvane@.service DESTINATION ${CORVANE_SYSTEMD_UNIT_DIR}
    COMPONENT headless)
if(CORVANE_WINDOW)
  install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  install(FILES dist/corvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
      COMPONENT window)
  install(FILES dist/corvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
      COMPONENT window)
endif()

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane developers <corvane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "bridge between a PLATO terminal on a serial port and a PLATO host over TCP")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane relays the bytes between a PLATO terminal on a serial port and a\n\
PLATO host reached over plain TCP, and loads the terminal's resident\n\
software when the terminal asks for it. It runs as a window or headless,\n\
also as a systemd service (corvane@.service).")
# The unit names the executable by its installed path: package what was configured.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane developers <corvane@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# One package per component; `cpack -G DEB` makes both.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENTS_ALL headless)
set(CPACK_DEBIAN_HEADLESS_PACKAGE_NAME corvane-headless)
set(CPACK_COMPONENT_HEADLESS_DESCRIPTION
    "Corvane relays the bytes between a PLATO terminal on a serial port and a\n\
PLATO host reached over plain TCP, and loads the terminal's resident\n\
software when the terminal asks for it.\n\
\n\
This package holds the bridge without a window, corvane-headless, also as\n\
a systemd service (corvane@.service), and the manual page. It needs no\n\
display and no graphical toolkit.")
if(CORVANE_WINDOW)
  list(APPEND CPACK_COMPONENTS_ALL window)
  set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME corvane)
  # The window's headless runs are those of corvane-headless, of the same version.
  set(CPACK_COMPONENT_WINDOW_DEPENDS headless)
  set(CPACK_COMPONENT_WINDOW_DESCRIPTION
      "Corvane relays the bytes between a PLATO terminal on a serial port and a\n\
PLATO host reached over plain TCP, and loads the terminal's resident\n\
software when the terminal asks for it.\n\
\n\
This package holds the window, corvane, with its desktop entry and icon:\n\
the links as lamps, a communication log and hand-typed bytes to either\n\
side. Its headless runs (corvane --headless) are those of corvane-headless.")
endif()
include(CPack)
