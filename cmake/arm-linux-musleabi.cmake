# Cross build for 32-bit ARM Linux against musl, linked as a static PIE: one
# binary for every ARMv5TE-and-later Linux, soft float and EABI, so it needs
# neither an FPU nor a C library on the device (OpenWrt's arm_* targets,
# Raspberry Pi OS and Debian's armhf and armel), with
# `scripts/musl.sh arm DIR`'s musl.
#   cmake -S . -B build-arm-musl -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabi.cmake \
#         -DMODEM_DIALMODE_MUSL_LIBDIR=DIR
set(CMAKE_SYSTEM_PROCESSOR arm)
set(cross arm-linux-gnueabi)
set(target_flags -march=armv5te -mfloat-abi=soft)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
