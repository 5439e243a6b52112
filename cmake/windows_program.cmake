# corvane.exe: the native window (app/win32/) and, with --headless, the headless run. A GUI
# program, so that the window starts without a console; a run without a window takes one.
# Linked statically (the toolchain's -static): no DLL beyond Windows' own.
add_executable(corvane WIN32 ${CMAKE_SOURCE_DIR}/app/main_win.cpp)
target_compile_definitions(corvane PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
if(EXISTS ${CMAKE_SOURCE_DIR}/app/win32/window.h)
  # The window as a library of its own, which its tests link too; its manifest asks for the
  # common controls' version 6.
  enable_language(RC)
  file(GLOB CORVANE_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/win32/*.cpp
    ${CMAKE_SOURCE_DIR}/app/win32/*.h ${CMAKE_SOURCE_DIR}/app/inventory.cpp
    ${CMAKE_SOURCE_DIR}/app/inventory.h ${CMAKE_SOURCE_DIR}/app/decimal_number.cpp
    ${CMAKE_SOURCE_DIR}/app/decimal_number.h)
  add_library(corvane_win32 STATIC ${CORVANE_WIN32_SOURCES})
  target_link_libraries(corvane_win32 PUBLIC corvane_headless_lib comctl32 ole32 uuid shell32
    gdi32 user32)
  target_compile_definitions(corvane_win32 PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
  file(GLOB CORVANE_WIN32_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/win32/*.rc)
  target_sources(corvane PRIVATE ${CORVANE_WIN32_RESOURCES})
  target_link_libraries(corvane PRIVATE corvane_win32)
  target_compile_definitions(corvane PRIVATE CORVANE_WIN32_WINDOW)
else()
  target_link_libraries(corvane PRIVATE corvane_headless_lib)
endif()
