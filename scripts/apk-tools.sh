#!/usr/bin/env bash
# Builds apk-tools 3's apk for this machine: its `apk mkpkg` makes the OpenWrt
# .apk (MODEM_DIALMODE_APK for the openwrt-packages target). No Debian release
# has apk-tools 3; give its sources (https://gitlab.alpinelinux.org/alpine/apk-tools,
# a release tarball or a checkout). Prints the path of the apk it built; a
# second run builds nothing.
#   scripts/apk-tools.sh SOURCES BUILD
set -euo pipefail
sources=$1 build=$2
# shellcheck disable=SC1091 # common.sh, beside this file
. "$(dirname "$0")/common.sh"
need_packages meson=meson ninja=ninja-build pkg-config=pkg-config \
    /usr/include/openssl/ssl.h=libssl-dev /usr/include/zlib.h=zlib1g-dev
if [[ ! -x $build/src/apk ]]; then
    if [[ -f $sources ]]; then
        mkdir -p "$build.sources" && tar -xf "$sources" -C "$build.sources" --strip-components=1
        sources=$build.sources
    fi
    # Without Lua, zstd or the docs: mkpkg needs none of them.
    if ! { meson setup "$build" "$sources" --auto-features=disabled && ninja -C "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" src/apk; } >"$build.log" 2>&1
    then
        tail -n 40 "$build.log" >&2
        exit 1
    fi
fi
echo "$(cd "$build/src" && pwd)/apk"
