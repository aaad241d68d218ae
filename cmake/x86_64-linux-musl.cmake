# Build for x86-64 Linux against musl, linked as a static PIE: one binary for
# any x86-64 router or box (OpenWrt's x86_64), whatever its C library, with
# `scripts/musl.sh x86_64 DIR`'s musl (or Debian's musl-dev, the default).
#   cmake -S . -B build-x86_64-musl -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-linux-musl.cmake \
#         -DMODEM_DIALMODE_MUSL_LIBDIR=DIR
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(cross x86_64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
