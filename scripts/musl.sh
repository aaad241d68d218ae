#!/usr/bin/env bash
# Builds musl for a core family from Debian's own source package, with
# Debian's cross compiler, into ROOT (headers, crt files, libc.a and the
# specs file), once: a second run finds it there and builds nothing.
#   musl.sh FAMILY ROOT      FAMILY: mipsel, mips, arm or aarch64
# MIPS gets soft float: Debian ships musl for mipsel only as hard-float code,
# and its printf saves an FPU register on entry, so a router without an FPU
# (and without the kernel's FPU emulator, as OpenWrt builds commonly are)
# dies of SIGILL at the tool's first message; built with -msoft-float, musl
# has no FPU instruction at all. ARM gets soft float, EABI and ARMv5TE, the
# oldest cores that Debian and OpenWrt still run. (For x86-64, Debian's own
# musl-dev serves.)
set -euo pipefail
family=$1 root=$(mkdir -p "$2" && cd "$2" && pwd)
[[ -s $root/lib/libc.a && -s $root/lib/musl-gcc.specs ]] && exit 0
case $family in
    mipsel | mips) cross=$family-linux-gnu flags=-msoft-float ;;
    arm) cross=arm-linux-gnueabi flags='-march=armv5te -mfloat-abi=soft' ;;
    aarch64) cross=aarch64-linux-gnu flags= ;;
    *) echo "no such family: $family (mipsel, mips, arm, aarch64)" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
need_packages "$cross-gcc=gcc-$cross" dpkg-source=dpkg-dev make=make

work=$root/source
rm -rf "$work" && mkdir -p "$work"
(cd "$work" && "$here/debian-apt.sh" "$(dpkg --print-architecture)" apt-get source --download-only musl >/dev/null)
dpkg-source --no-check -x "$work"/musl_*.dsc "$work/musl" >/dev/null
cd "$work/musl"
echo "building musl $(cat VERSION) for $family ($flags) into $root" >&2
# shellcheck disable=SC2086 # the flags are words
./configure --target="${cross%-gnu*}-musl${cross#*-gnu}" --prefix="$root" --disable-shared \
    CROSS_COMPILE="$cross-" CC="$cross-gcc" CFLAGS="$flags" >/dev/null
# musl's own warnings are not ours to mend: kept in the log, shown on failure.
make -j"${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" >"$work/make.log" 2>&1 && make install >>"$work/make.log" 2>&1 ||
    { tail -n 30 "$work/make.log" >&2; exit 1; }
rm -rf "$work"
