#!/usr/bin/env bash
# Builds musl for 32-bit little-endian MIPS32r2 with soft float, from Debian's
# own source package, into ROOT (headers, crt files, libc.a and the specs
# file), once: a second run finds it there and builds nothing.
#   musl-soft-float.sh ROOT
# Debian ships musl for mipsel only as hard-float code, and its printf saves
# an FPU register on entry, so a router without an FPU (and without the
# kernel's FPU emulator, as OpenWrt builds commonly are) dies of SIGILL at
# the tool's first message. Built with -msoft-float, musl has no FPU
# instruction at all.
set -euo pipefail
root=$(mkdir -p "$1" && cd "$1" && pwd)
[[ -s $root/lib/libc.a && -s $root/lib/musl-gcc.specs ]] && exit 0
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
need_packages mipsel-linux-gnu-gcc=gcc-mipsel-linux-gnu dpkg-source=dpkg-dev make=make

work=$root/source
rm -rf "$work" && mkdir -p "$work"
(cd "$work" && "$here/debian-apt.sh" mipsel apt-get source --download-only musl >/dev/null)
dpkg-source --no-check -x "$work"/musl_*.dsc "$work/musl" >/dev/null
cd "$work/musl"
echo "building musl $(cat VERSION) for mipsel, soft float, into $root" >&2
./configure --target=mipsel-linux-musl --prefix="$root" --disable-shared \
    CROSS_COMPILE=mipsel-linux-gnu- CC=mipsel-linux-gnu-gcc CFLAGS=-msoft-float >/dev/null
# musl's own warnings are not ours to mend: kept in the log, shown on failure.
make -j"$(nproc)" >"$work/make.log" 2>&1 && make install >>"$work/make.log" 2>&1 ||
    { tail -n 30 "$work/make.log" >&2; exit 1; }
rm -rf "$work"
