# corvane.exe: the native window (app/win32/) and, with --headless, the headless run. A GUI
# program, so that the window starts without a console; a headless run attaches to the
# console it was started from. Linked statically: no DLL beyond Windows' own.
set(CORVANE_EXE_SOURCES ${CMAKE_SOURCE_DIR}/app/main_win.cpp)
if(EXISTS ${CMAKE_SOURCE_DIR}/app/win32/window.h)
  enable_language(RC)
  file(GLOB CORVANE_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/win32/*.cpp
    ${CMAKE_SOURCE_DIR}/app/win32/*.h ${CMAKE_SOURCE_DIR}/app/win32/*.rc
    ${CMAKE_SOURCE_DIR}/app/inventory.cpp ${CMAKE_SOURCE_DIR}/app/inventory.h)
  list(APPEND CORVANE_EXE_SOURCES ${CORVANE_WIN32_SOURCES})
endif()
add_executable(corvane WIN32 ${CORVANE_EXE_SOURCES})
target_link_libraries(corvane PRIVATE corvane_headless_lib)
target_compile_definitions(corvane PRIVATE CORVANE_VERSION="${PROJECT_VERSION}")
