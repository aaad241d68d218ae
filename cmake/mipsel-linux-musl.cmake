# Cross build for 32-bit little-endian MIPS Linux against musl, linked as a
# static PIE: one binary for any MIPS32r2 router, whatever its C library.
#   cmake -S . -B build-mipsel-musl -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-musl.cmake \
#         [-DMODEM_DIALMODE_MUSL_LIBDIR=DIR]
# DIR holds musl's crt files, libc.a and musl-gcc.specs: by default Debian's
# musl-dev:mipsel (hard float); scripts/musl-soft-float.sh makes a soft-float
# one, which a core without an FPU can run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

# The checks that build whole projects (link-time optimisation) read this
# file again without the cache: the environment carries the directory there.
set(musl_default /usr/lib/mipsel-linux-musl)
if(DEFINED ENV{MODEM_DIALMODE_MUSL_LIBDIR})
    set(musl_default $ENV{MODEM_DIALMODE_MUSL_LIBDIR})
endif()
set(MODEM_DIALMODE_MUSL_LIBDIR ${musl_default} CACHE PATH
    "musl's library directory for the target (crt files, libc.a, musl-gcc.specs)")
set(ENV{MODEM_DIALMODE_MUSL_LIBDIR} ${MODEM_DIALMODE_MUSL_LIBDIR})
set(musl ${MODEM_DIALMODE_MUSL_LIBDIR})
if(NOT EXISTS ${musl}/musl-gcc.specs)
    message(FATAL_ERROR "no musl-gcc.specs in ${musl}: set MODEM_DIALMODE_MUSL_LIBDIR")
endif()
# The specs belong to the compiler command, where flags an integrator passes
# (CMAKE_CXX_FLAGS) cannot drop them. Objects must use the C library's float
# ABI; a soft-float musl names its loader ld-musl-mipsel-sf.
set(musl_options -specs=${musl}/musl-gcc.specs
    -specs=${CMAKE_CURRENT_LIST_DIR}/musl-static-pie.specs -B${musl}/)
file(READ ${musl}/musl-gcc.specs musl_specs)
if(musl_specs MATCHES "ld-musl-mipsel-sf")
    list(APPEND musl_options -msoft-float)
endif()
# The C driver builds the C++ sources too: they use C headers only, and g++
# would link Debian's libstdc++, which is built for glibc.
# Debian's libgcc is hard-float, so the link warns of mixed float ABIs. The
# tool takes only integer helpers from it, and the double-precision ones that
# musl's printf calls to format floating-point numbers, which the tool never
# prints: those helpers hold the binary's only FPU instructions, which the
# tests check.
set(cross mipsel-linux-gnu)
set(CMAKE_CXX_COMPILER ${cross}-gcc ${musl_options})
set(CMAKE_AR ${cross}-ar CACHE FILEPATH "ar for the target")
set(CMAKE_RANLIB ${cross}-ranlib CACHE FILEPATH "ranlib for the target")
set(CMAKE_READELF ${cross}-readelf CACHE FILEPATH "readelf for the target")
set(CMAKE_STRIP ${cross}-strip CACHE FILEPATH "strip for the target")

# These specs link nothing but a static binary.
set(MODEM_DIALMODE_STATIC ON CACHE BOOL "Link the tool statically" FORCE)

set(CMAKE_FIND_ROOT_PATH ${musl})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
