# Asio and fmt for the Windows build, from Debian's Linux packages (libasio-dev, libfmt-dev):
# both are headers (fmt used header-only). mingw must not search /usr/include, which holds
# glibc's headers too: a folder of links to these three only.
set(CORVANE_WIN_INCLUDE ${CMAKE_BINARY_DIR}/win-include)
file(MAKE_DIRECTORY ${CORVANE_WIN_INCLUDE})
foreach(name asio asio.hpp fmt)
  if(NOT EXISTS /usr/include/${name})
    message(FATAL_ERROR "/usr/include/${name} is missing: install libasio-dev and libfmt-dev")
  endif()
  file(CREATE_LINK /usr/include/${name} ${CORVANE_WIN_INCLUDE}/${name} SYMBOLIC)
endforeach()

add_library(corvane_fmt INTERFACE)
target_include_directories(corvane_fmt SYSTEM INTERFACE ${CORVANE_WIN_INCLUDE})
target_compile_definitions(corvane_fmt INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS corvane_fmt)
