# Fails when a hardening feature has gone missing from a built binary, read
# from its ELF header, program headers, dynamic section and imports:
#   pie      position-independent executable
#   relro    a read-only-after-relocation segment
#   now      all symbols bound at start-up (so the RELRO covers them)
#   nxstack  a stack that is not executable
#   fortify  buffer-checking variants of libc calls (_FORTIFY_SOURCE)
#   ssp      the stack protector's failure hook
# cmake -DREADELF=... -DBINARY=... -DFEATURES="pie;relro;..." -P hardening.cmake
execute_process(COMMAND ${READELF} -hlW -d --dyn-syms ${BINARY}
                OUTPUT_VARIABLE elf RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "readelf could not read ${BINARY}")
endif()

set(pie_pattern "Type:[ ]+DYN.*FLAGS_1\\)[^\n]*PIE")
set(relro_pattern "\n[ ]+GNU_RELRO ")
set(now_pattern "\\(FLAGS\\)[^\n]*BIND_NOW")
set(nxstack_pattern "\n[ ]+GNU_STACK[^\n]* RW  ")
set(fortify_pattern " UND __[a-z]+_chk@")
set(ssp_pattern " UND __stack_chk_fail@")

set(missing "")
foreach(feature IN LISTS FEATURES)
    if(NOT DEFINED ${feature}_pattern)
        message(FATAL_ERROR "unknown feature ${feature}")
    endif()
    if(NOT elf MATCHES "${${feature}_pattern}")
        list(APPEND missing ${feature})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "${BINARY} lacks: ${missing}")
endif()
message(STATUS "${BINARY} has: ${FEATURES}")
