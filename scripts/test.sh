#!/usr/bin/env bash
# Builds the tool, the simulated modem and the tests, then runs the whole
# suite. Installs what it needs on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
need_packages "${build_tools[@]}" /usr/include/gtest/gtest.h=libgtest-dev

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_WERROR=ON
cmake --build "$build"
# Most cases sleep through the tool's fixed waits, so many run at once.
ctest --test-dir "$build" --output-on-failure -j 24
