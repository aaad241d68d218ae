#!/usr/bin/env bash
# Checks the Debian packages: their contents, the tool's start-up for
# systemd among them. The host one is unpacked with dpkg -x into a
# staging root, and the binary found there is run against the simulated
# modem; its man page must render without warnings. The target one is checked
# for its architecture, its contents and the libc it depends on. The release
# tarball of the universal binary is checked against its checksum file,
# unpacked, and its binary run under qemu-user on a CPU without an FPU.
#   package_test.sh SIM_MODEM DEVICE HOST_PACKAGE_DIR [TARGET_PACKAGE [RELEASE_DIR]]
# DEVICE is the node the tools were built for.
set -euo pipefail
sim=$1 device=$2 host_dir=$3 target_deb=${4:-} release_dir=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

host_deb=$(ls "$host_dir"/modem-dialmode_*.deb)
field() { dpkg-deb -f "$1" "$2"; }
contents() { # a package's files: the tool, its man page, its start-up for systemd, the rule for ModemManager
    check "contents" "$(dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort | paste -sd ' ')" \
        '^\./usr/bin/modem-dialmode \./usr/lib/systemd/system/modem-dialmode@\.service \./usr/lib/udev/rules\.d/60-modem-dialmode\.rules \./usr/lib/udev/rules\.d/78-mm-modem-dialmode\.rules \./usr/sbin/modem-dialmode-plugged \./usr/share/man/man1/modem-dialmode\.1$'
}
# The newest glibc symbol version the binary asks for, as in "libc6 (>= 2.34)".
newest_glibc() { readelf -V "$1" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1; }

echo "== $host_deb"
check "package name" "$(field "$host_deb" Package)" '^modem-dialmode$'
check "architecture" "$(field "$host_deb" Architecture)" "^$(dpkg --print-architecture)\$"
check "depends on libc alone" "$(field "$host_deb" Depends)" '^libc6 \(>= [0-9.]+\)$'
contents "$host_deb"
dpkg -x "$host_deb" "$work/host"
check "the udev rules' node" "$(cat "$work/host/usr/lib/udev/rules.d/"*.rules | grep -c "KERNEL==\"${device##*/}\"")" '^2$'
tool=$work/host/usr/bin/modem-dialmode
check "binary installed" "$(stat -c %A "$tool" 2>&1)" '^-rwxr-xr-x$'
# exchange COMMAND...: an accepting modem's exchange with the unpacked binary.
exchange() {
    local status=0 out
    out=$("$sim" --script 'await; delay 100; send "\r\nOK\r\n"' -- "$@" | to_hex) || status=$?
    check "unpacked binary's exchange: status" "$status" '^0$'
    check "unpacked binary's exchange: output (hex)" "$out" "^$(hex '\r\nOK\r\n\n')\$"
}
man_page() {
    local warnings
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null) || warnings+=" (man failed)"
    check "man page renders without warnings" "$warnings" '^$'
    check "man page names the device" "$(grep -cF "$device" "$1")" '^[1-9]'
}
exchange "$tool"
man_page "$work/host/usr/share/man/man1/modem-dialmode.1"

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
    contents "$target_deb"
fi

if [[ -n $release_dir ]]; then
    tarball=$(ls "$release_dir"/modem-dialmode-*-linux-mipsel-static.tar.gz)
    echo "== $tarball"
    check "checksum file matches" "$(cd "$release_dir" && sha256sum -c "$(basename "$tarball").sha256" 2>&1)" ': OK$'
    top=$(basename "$tarball" .tar.gz)
    check "contents: the binary and the man page" "$(tar -tzf "$tarball" | grep -v '/$' | sort | paste -sd ' ')" \
        "^$top/bin/modem-dialmode $top/share/man/man1/modem-dialmode\.1\$"
    tar -xzf "$tarball" -C "$work"
    tool=$work/$top/bin/modem-dialmode
    check "binary is a static MIPS32r2 PIE" "$(file -b "$tool")" \
        '^ELF 32-bit LSB pie executable, MIPS, MIPS32 rel2 .*static-pie linked, stripped$'
    check "binary is soft-float" "$(readelf -A "$tool" | sed -n 's/^ *FP ABI: *//p')" '^Soft float$'
    exchange qemu-mipsel -cpu 24Kc "$tool"
    man_page "$work/$top/share/man/man1/modem-dialmode.1"
fi
((failures == 0))
