#!/usr/bin/env bash
# Builds the tool, the simulated modem and the tests, cross-builds the tool
# for mipsel, then runs the whole suite: the host binary, the mipsel binary
# under qemu-user, and the mipsel binary on a Malta kernel in qemu-system.
# Installs what it needs on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages "${build_tools[@]}" /usr/include/gtest/gtest.h=libgtest-dev \
    mipsel-linux-gnu-g++=g++-mipsel-linux-gnu qemu-mipsel=qemu-user \
    qemu-system-mipsel=qemu-system-mips cpio=cpio

scripts/cross-build.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_WERROR=ON \
    -DMODEM_DIALMODE_TARGET_TOOL="$PWD/build-mipsel/modem-dialmode" \
    -DMODEM_DIALMODE_TARGET_STATIC_TOOL="$PWD/build-mipsel-static/modem-dialmode"
cmake --build "$build"
# Most cases sleep through the tool's fixed waits, so many run at once.
ctest --test-dir "$build" --output-on-failure -j 24
