# Build for x86-64 Linux against musl, linked as a static PIE: one binary for
# any x86-64 router or box (OpenWrt's x86_64), whatever its C library, with
# Debian's musl-dev (its folder is the default; musl.sh builds no x86-64 musl).
#   cmake -S . -B build-x86_64-musl -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-linux-musl.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(cross x86_64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
