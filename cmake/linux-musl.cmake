# What the universal builds share: a cross build for Linux against musl,
# linked as a static PIE, so that one binary runs on every core of its
# family, whatever C library the device has. A family's toolchain file sets
# CMAKE_SYSTEM_PROCESSOR, cross (the prefix of Debian's cross compiler for
# it) and target_flags (how its cores are told apart, if need be), then
# includes this one. Give MODEM_DIALMODE_MUSL_LIBDIR the folder that holds
# musl's crt files, libc.a and musl-gcc.specs (scripts/musl.sh makes one).
set(CMAKE_SYSTEM_NAME Linux)

# The checks that build whole projects (link-time optimisation) read the
# toolchain file again without the cache: the environment carries the
# folder there.
set(musl_default /usr/lib/${CMAKE_SYSTEM_PROCESSOR}-linux-musl)
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
# ABI; a soft-float MIPS musl names its loader ld-musl-mips(el)-sf.
set(musl_options -specs=${musl}/musl-gcc.specs
    -specs=${CMAKE_CURRENT_LIST_DIR}/musl-static-pie.specs -B${musl}/ ${target_flags})
file(READ ${musl}/musl-gcc.specs musl_specs)
if(musl_specs MATCHES "ld-musl-mips[a-z]*-sf")
    list(APPEND musl_options -msoft-float)
endif()
# The C driver builds the C++ sources too: they use C headers only, and g++
# would link Debian's libstdc++, which is built for glibc.
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
