# Checked builds instrument every binary, tests included, so that the tool's
# code is checked wherever it runs. They are for finding faults, not shipping:
# the size and hardening measures give way to them.
option(MODEM_DIALMODE_SANITIZE
       "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(MODEM_DIALMODE_FUZZ "Build the libFuzzer target (needs clang)" OFF)
if(MODEM_DIALMODE_SANITIZE OR MODEM_DIALMODE_FUZZ)
    set(checked_build ON)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()
if(MODEM_DIALMODE_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
