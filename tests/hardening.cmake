# Fails when a hardening feature has gone missing from a built binary, read
# from its ELF header, program headers, dynamic section and symbols:
#   pie      position-independent executable (a static PIE counts)
#   relro    a read-only-after-relocation segment, which the dynamic loader
#            named in INTERP applies (a static musl start-up applies none)
#   now      all symbols bound at start-up (so the RELRO covers them)
#   nxstack  a stack that is not executable
#   fortify  buffer-checking variants of libc calls (_FORTIFY_SOURCE)
#   ssp      the stack protector's failure hook
# A build that cannot have a feature names it in ABSENT, "feature=why": the
# check then fails if the feature turns up after all, so that what is said
# of each build stays true.
# cmake -DREADELF=... -DBINARY=... -DFEATURES="pie;now" -DABSENT="relro=why" -P hardening.cmake
execute_process(COMMAND ${READELF} -hlW -d -sW ${BINARY}
                OUTPUT_VARIABLE elf RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "readelf could not read ${BINARY}")
endif()

set(pie_pattern "Type:[ ]+DYN.*FLAGS_1\\)[^\n]*PIE")
set(relro_pattern "\n[ ]+INTERP .*\n[ ]+GNU_RELRO ")
set(now_pattern "\\(FLAGS\\)[^\n]*BIND_NOW")
set(nxstack_pattern "\n[ ]+GNU_STACK[^\n]* RW  ")
# Imported from a shared libc (versioned with glibc) or linked in statically.
set(fortify_pattern " __[a-z]+_chk(@[^\n]*)?\n")
set(ssp_pattern " __stack_chk_fail(@[^\n]*)?\n")

function(known feature)
    if(NOT DEFINED ${feature}_pattern)
        message(FATAL_ERROR "unknown feature ${feature}")
    endif()
endfunction()

set(missing "")
foreach(feature IN LISTS FEATURES)
    known(${feature})
    if(NOT elf MATCHES "${${feature}_pattern}")
        list(APPEND missing ${feature})
    endif()
endforeach()
set(present "")
foreach(entry IN LISTS ABSENT)
    string(REGEX REPLACE "=.*" "" feature "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" why "${entry}")
    known(${feature})
    if(elf MATCHES "${${feature}_pattern}")
        list(APPEND present ${feature})
    endif()
    message(STATUS "${BINARY} cannot have ${feature}: ${why}")
endforeach()
if(missing)
    message(FATAL_ERROR "${BINARY} lacks: ${missing}")
endif()
if(present)
    message(FATAL_ERROR "${BINARY} has ${present}, said above to be out of its reach: "
                        "the build's account of its hardening is out of date")
endif()
message(STATUS "${BINARY} has: ${FEATURES}")
