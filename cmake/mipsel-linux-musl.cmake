# Cross build for 32-bit little-endian MIPS Linux against musl, linked as a
# static PIE: one binary for any MIPS32r2 router (OpenWrt's mipsel_24kc),
# whatever its C library.
#   cmake -S . -B build-mipsel-musl -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-musl.cmake \
#         [-DMODEM_DIALMODE_MUSL_LIBDIR=DIR]
# DIR holds musl's crt files, libc.a and musl-gcc.specs: by default Debian's
# musl-dev:mipsel (hard float); `scripts/musl.sh mipsel DIR` makes a
# soft-float one, which a core without an FPU can run. Debian's libgcc is
# hard-float, so the link warns of mixed float ABIs: the tool takes only
# integer helpers from it, and the double-precision ones that musl's printf
# calls to format floating-point numbers, which the tool never prints. Those
# helpers hold the binary's only FPU instructions, which the tests check.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(cross mipsel-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
