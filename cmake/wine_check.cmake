# corvane-wine-check: the Windows program's headless run under Wine between the rig's pty and a
# loopback host (the Windows stage of .ci/run runs it). Linux only; not a CTest case of this
# build, which has no corvane.exe.
add_executable(corvane-wine-check ${CMAKE_SOURCE_DIR}/rig/wine_check_main.cpp)
target_link_libraries(corvane-wine-check PRIVATE corvane_rig)
set_target_properties(corvane-wine-check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
