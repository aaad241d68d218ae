# Cross build for 32-bit big-endian MIPS Linux against musl, linked as a
# static PIE: one binary for any MIPS32r2 router (OpenWrt's mips_24kc, as on
# ath79), whatever its C library; with `scripts/musl.sh mips DIR`'s soft-float
# musl, for cores without an FPU too (see mipsel-linux-musl.cmake).
#   cmake -S . -B build-mips-musl -DCMAKE_TOOLCHAIN_FILE=cmake/mips-linux-musl.cmake \
#         -DMODEM_DIALMODE_MUSL_LIBDIR=DIR
set(CMAKE_SYSTEM_PROCESSOR mips)
set(cross mips-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
