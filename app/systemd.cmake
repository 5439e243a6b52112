# libsystemd's sd_notify for the headless program: READY, STATUS and the watchdog of a
# Type=notify unit. Only corvane-headless links it; the engine, the window and the tests do
# not. Include after corvane-headless is defined.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_sources(corvane-headless PRIVATE ${CMAKE_CURRENT_LIST_DIR}/systemd_notify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/systemd_notify.h)
target_link_libraries(corvane-headless PRIVATE PkgConfig::LIBSYSTEMD)
