# Cross build for 64-bit ARM Linux against musl, linked as a static PIE: one
# binary for any AArch64 board or router (OpenWrt's aarch64_cortex-a53,
# Debian's arm64), whatever its C library, with `scripts/musl.sh aarch64 DIR`'s
# musl.
#   cmake -S . -B build-aarch64-musl -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-musl.cmake \
#         -DMODEM_DIALMODE_MUSL_LIBDIR=DIR
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(cross aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
