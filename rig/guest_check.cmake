# corvane-guest-check: the helper of scripts/real-drivers (the test stage on the kernel's own
# serial drivers, in a throw-away guest). Qt-free; not a CTest case.
add_executable(corvane-guest-check
  ${CMAKE_CURRENT_LIST_DIR}/guest_check_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/relay.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/relay.h
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/guest_rig.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/guest_rig.h
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/checks_load_unplug.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guest_check/checks.h)
target_link_libraries(corvane-guest-check PRIVATE corvane_rig)
# Built into the top of the build folder, beside corvane-headless, where the script looks.
set_target_properties(corvane-guest-check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
