# The tool keeps its locals off the stack, so it has no protected frame to
# show: this probe, built with exactly its flags, shows whether the stack
# protector is on. Every build defines it, cross builds too, since the tests
# read it beside each binary they check; nothing builds it unless asked
# (`--target hardening_probe`, or the tests).
add_executable(hardening_probe EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/hardening_probe.cpp)
target_link_libraries(hardening_probe PRIVATE modem_dialmode_target)
set_target_properties(hardening_probe PROPERTIES POSITION_INDEPENDENT_CODE ON)
