#!/usr/bin/env bash
# Cross-builds modem-dialmode for 32-bit little-endian MIPS Linux, dynamically
# linked (build-mipsel/) and static (build-mipsel-static/), prints the size
# and library needs of each stripped binary, and fails when the dynamic one
# is over the flash budget. Packages the dynamic one as a mipsel .deb in
# build-mipsel/packages/. Installs the cross compiler when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages cmake=cmake ninja=ninja-build mipsel-linux-gnu-g++=g++-mipsel-linux-gnu \
    dpkg-deb=dpkg

budget=6144
for variant in dynamic static; do
    build=build-mipsel
    [[ $variant == static ]] && build=build-mipsel-static
    # The generator and the toolchain are fixed at the first configure, maybe
    # by hand as the README shows; given again, CMake refuses another
    # generator and warns that the toolchain file went unused.
    first=()
    [[ -f $build/CMakeCache.txt ]] || first=(-G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake)
    cmake -S . -B "$build" "${first[@]}" \
        -DBUILD_TESTING=OFF -DMODEM_DIALMODE_WERROR=ON \
        -DMODEM_DIALMODE_STATIC=$([[ $variant == static ]] && echo ON || echo OFF) >/dev/null
    cmake --build "$build" >/dev/null
    mipsel-linux-gnu-strip -o "$build/modem-dialmode.stripped" "$build/modem-dialmode"
    size=$(stat -c %s "$build/modem-dialmode.stripped")
    needed=$(mipsel-linux-gnu-readelf -d "$build/modem-dialmode.stripped" |
             sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
    echo "mipsel $variant: $build/modem-dialmode, stripped $size bytes, needs: ${needed:-nothing}"
done

cpack --config build-mipsel/CPackConfig.cmake -B build-mipsel/packages >/dev/null
echo "mipsel package: $(ls build-mipsel/packages/*.deb)"

size=$(stat -c %s build-mipsel/modem-dialmode.stripped)
if ((size > budget)); then
    echo "the stripped dynamic binary is $size bytes, over the $budget-byte budget" >&2
    exit 1
fi
