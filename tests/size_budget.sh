#!/usr/bin/env bash
# Builds the mipsel tool in each build type and with flags like those
# Buildroot and OpenWrt pass, for glibc (dynamic) and for musl (the universal
# static binary), and fails when a stripped binary is over its flash budget.
#   size_budget.sh SOURCE WORK MUSL_LIBDIR
set -euo pipefail
source=$1 work=$2 musl=$3
. "$source/tests/checks.sh"
. "$source/scripts/common.sh"
mkdir -p "$work"

# NAME|CMAKE OPTIONS, one build each (Debug has no budget: it is for gdb).
# Buildroot's cmake packages take Release, keep only -DNDEBUG in its flags
# and put their own optimisation in CMAKE_CXX_FLAGS; OpenWrt takes Release
# with its target's flags.
openwrt='-Os -pipe -mips32r2 -mtune=24kc -mips16 -fno-plt -fstack-protector -D_FORTIFY_SOURCE=1'
variants=(
    "Release|-DCMAKE_BUILD_TYPE=Release"
    "RelWithDebInfo|-DCMAKE_BUILD_TYPE=RelWithDebInfo"
    "MinSizeRel|-DCMAKE_BUILD_TYPE=MinSizeRel"
    "Buildroot -Os|-DCMAKE_BUILD_TYPE=Release|-DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG|-DCMAKE_CXX_FLAGS=-Os"
    "Buildroot -O2|-DCMAKE_BUILD_TYPE=Release|-DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG|-DCMAKE_CXX_FLAGS=-O2"
    "OpenWrt|-DCMAKE_BUILD_TYPE=Release|-DCMAKE_CXX_FLAGS=$openwrt"
)
for libc in glibc musl; do
    if [[ $libc == glibc ]]; then
        toolchain=mipsel-linux-gnu.cmake budget=$glibc_budget extra=()
    else
        toolchain=mipsel-linux-musl.cmake budget=$musl_budget extra=(-DMODEM_DIALMODE_MUSL_LIBDIR="$musl")
    fi
    for variant in "${variants[@]}"; do
        name=${variant%%|*}
        IFS='|' read -r -a options <<<"${variant#*|}"
        build=$work/$libc-${name// /}
        rm -rf "$build"
        if ! cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/$toolchain" \
                -DBUILD_TESTING=OFF "${extra[@]}" "${options[@]}" >"$build.log" 2>&1 ||
           ! cmake --build "$build" --target modem-dialmode >>"$build.log" 2>&1; then
            cat "$build.log"
            check "$libc $name builds" no '^yes$'
            continue
        fi
        mipsel-linux-gnu-strip -o "$build/stripped" "$build/modem-dialmode"
        size=$(stat -c %s "$build/stripped")
        if ((size <= budget)); then
            echo "ok: $libc $name: $size bytes stripped, $((budget - size)) to spare"
        else
            check "$libc $name within $budget bytes" "$size bytes" '^$'
        fi
    done
done
((failures == 0))
