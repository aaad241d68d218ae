#!/usr/bin/env bash
# Checks the Debian packages. The host one is unpacked with dpkg -x into a
# staging root, and the binary found there is run against the simulated
# modem; its man page must render without warnings. The target one is checked
# for its architecture, its contents and the libc it depends on.
#   package_test.sh SIM_MODEM HOST_PACKAGE_DIR [TARGET_PACKAGE]
set -euo pipefail
sim=$1 host_dir=$2 target_deb=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

host_deb=$(ls "$host_dir"/modem-dialmode_*.deb)
field() { dpkg-deb -f "$1" "$2"; }
# The newest glibc symbol version the binary asks for, as in "libc6 (>= 2.34)".
newest_glibc() { readelf -V "$1" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1; }

echo "== $host_deb"
check "package name" "$(field "$host_deb" Package)" '^modem-dialmode$'
check "architecture" "$(field "$host_deb" Architecture)" "^$(dpkg --print-architecture)\$"
check "depends on libc alone" "$(field "$host_deb" Depends)" '^libc6 \(>= [0-9.]+\)$'
dpkg -x "$host_deb" "$work/host"
tool=$work/host/usr/bin/modem-dialmode
check "binary installed" "$(stat -c %A "$tool" 2>&1)" '^-rwxr-xr-x$'
status=0
out=$("$sim" --script 'await; delay 100; send "\r\nOK\r\n"' -- "$tool" | to_hex) || status=$?
check "unpacked binary's exchange: status" "$status" '^0$'
check "unpacked binary's exchange: output (hex)" "$out" "^$(hex '\r\nOK\r\n\n')\$"
page=$work/host/usr/share/man/man1/modem-dialmode.1
warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || warnings+=" (man failed)"
check "man page renders without warnings" "$warnings" '^$'
check "man page names the device" "$(grep -c '/dev/ttyACM2' "$page")" '^[1-9]'

if [[ -n $target_deb ]]; then
    echo "== $target_deb"
    check "package name" "$(field "$target_deb" Package)" '^modem-dialmode$'
    check "architecture" "$(field "$target_deb" Architecture)" '^mipsel$'
    dpkg -x "$target_deb" "$work/target"
    tool=$work/target/usr/bin/modem-dialmode
    header=$(readelf -h "$tool" | tr -s ' ')
    check "binary is 32-bit ELF" "$header" 'Class: ELF32'
    check "binary is little-endian" "$header" 'little endian'
    check "binary is MIPS" "$header" 'Machine: MIPS'
    check "depends on the libc the binary needs" "$(field "$target_deb" Depends)" \
        "^libc6 \\(>= $(newest_glibc "$tool")\\)\$"
    check "man page included" "$(ls "$work/target/usr/share/man/man1")" '^modem-dialmode\.1$'
fi
((failures == 0))
