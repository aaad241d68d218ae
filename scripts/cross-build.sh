#!/usr/bin/env bash
# Cross-builds modem-dialmode for the routers' and boards' cores:
#   build-mipsel/         32-bit little-endian MIPS, glibc, dynamically
#                         linked, and its .deb in packages/;
#   build-mipsel-static/  the same, static;
#   build-FAMILY-musl/    the universal binary of each core family named
#                         (default all: mipsel mips arm aarch64 x86_64) and
#                         its packages: see scripts/universal.sh.
# Prints each stripped binary's size and library needs, builds the hardening
# probe beside each, and fails when a binary is over its flash budget.
# Installs the cross compilers when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages cmake=cmake ninja=ninja-build mipsel-linux-gnu-g++=g++-mipsel-linux-gnu dpkg-deb=dpkg

build_target build-mipsel cmake/mipsel-linux-gnu.cmake "$glibc_budget" -DMODEM_DIALMODE_STATIC=OFF
build_target build-mipsel-static cmake/mipsel-linux-gnu.cmake - -DMODEM_DIALMODE_STATIC=ON
cpack --config build-mipsel/CPackConfig.cmake -B build-mipsel/packages >/dev/null
echo "mipsel package: $(ls build-mipsel/packages/*.deb)"
(($#)) || set -- mipsel mips arm aarch64 x86_64
for family; do
    scripts/universal.sh "$family"
done
