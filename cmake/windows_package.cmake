# The Windows program as a zip: corvane.exe and how to use it, side by side in one folder (the
# program's folder, where the load files and log\ go).
install(TARGETS corvane RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/dist/README-windows.txt DESTINATION .)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "bridge between a PLATO terminal on a serial port and a PLATO host over TCP")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME corvane-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
