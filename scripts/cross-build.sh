#!/usr/bin/env bash
# Cross-builds modem-dialmode for 32-bit little-endian MIPS Linux:
#   build-mipsel/         glibc, dynamically linked, and its .deb in packages/;
#   build-mipsel-static/  glibc, static;
#   build-mipsel-musl/    musl with soft float, a static PIE: the universal
#                         binary for any MIPS32r2 router, FPU or not, and its
#                         release tarball in packages/.
# musl is built once from Debian's source into build-musl-soft-float/. Prints
# each stripped binary's size and library needs, builds the hardening probe
# beside each, and fails when a binary is over its flash budget. Installs the
# cross compiler when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages cmake=cmake ninja=ninja-build mipsel-linux-gnu-g++=g++-mipsel-linux-gnu \
    dpkg-deb=dpkg

musl=$PWD/build-musl-soft-float
scripts/musl-soft-float.sh "$musl"

failed=0
while read -r build toolchain budget options; do
    # The generator and the toolchain are fixed at the first configure, maybe
    # by hand as the README shows; given again, CMake refuses another
    # generator and warns that the toolchain file went unused.
    first=()
    [[ -f $build/CMakeCache.txt ]] || first=(-G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/$toolchain)
    # shellcheck disable=SC2086 # the options are words
    cmake -S . -B "$build" "${first[@]}" -DBUILD_TESTING=OFF -DMODEM_DIALMODE_WERROR=ON \
        $options >/dev/null
    if ! cmake --build "$build" --target modem-dialmode hardening_probe >"$build/build.log" 2>&1; then
        cat "$build/build.log" >&2
        exit 1
    fi
    # musl's soft-float link warns of Debian's hard-float libgcc (see the
    # toolchain file); any other warning is shown.
    grep -i warning "$build/build.log" |
        grep -v 'uses -msoft-float (set by .*), .* uses -mhard-float$' >&2 || true
    mipsel-linux-gnu-strip -o "$build/modem-dialmode.stripped" "$build/modem-dialmode"
    size=$(stat -c %s "$build/modem-dialmode.stripped")
    needed=$(mipsel-linux-gnu-readelf -d "$build/modem-dialmode.stripped" |
             sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
    echo "mipsel $build: stripped $size bytes (budget: $budget), needs: ${needed:-nothing}"
    if [[ $budget != - ]] && ((size > budget)); then
        echo "$build/modem-dialmode is $size bytes stripped, over its $budget-byte budget" >&2
        failed=1
    fi
done <<LIST
build-mipsel mipsel-linux-gnu.cmake $glibc_budget -DMODEM_DIALMODE_STATIC=OFF
build-mipsel-static mipsel-linux-gnu.cmake - -DMODEM_DIALMODE_STATIC=ON
build-mipsel-musl mipsel-linux-musl.cmake $musl_budget -DMODEM_DIALMODE_MUSL_LIBDIR=$musl/lib
LIST
((failed == 0)) || exit 1

cpack --config build-mipsel/CPackConfig.cmake -B build-mipsel/packages >/dev/null
echo "mipsel package: $(ls build-mipsel/packages/*.deb)"
cpack -G TGZ --config build-mipsel-musl/CPackConfig.cmake -B build-mipsel-musl/packages >/dev/null
echo "release tarball: $(ls build-mipsel-musl/packages/*.tar.gz)"
