#!/usr/bin/env bash
# Builds the router kit's Buildroot package with real Buildroot, offline:
# `make modem-dialmode` in a BR2_EXTERNAL build for a MIPS32r2 glibc board,
# with Debian's mipsel cross compiler as the external toolchain, with BusyBox
# init and with systemd and ModemManager. Checks that check-package says
# nothing of the tree, and what the package put in the target: the tool for
# the configured node, the start-up files and ModemManager's rule, as shipped.
#   buildroot_test.sh PROJECT WORK [BUILDROOT]
# BUILDROOT (default: $MODEM_DIALMODE_BUILDROOT) is a Buildroot source tree,
# or a tarball of one; without it, the long-term release beside the project in
# shared/vendor/. Where there is neither, the test skips (exit 77) and says
# why. WORK keeps Buildroot's outputs and host tools from one run to the
# next; the package is built anew (its dirclean), in a target of its own.
set -euo pipefail
project=$1 work=$2 buildroot=${3:-${MODEM_DIALMODE_BUILDROOT:-}}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
[[ -n $buildroot ]] || buildroot=$project/../shared/vendor/buildroot-2026.02.3.tar.xz
if [[ ! -e $buildroot ]]; then
    echo "skipped: no Buildroot at $buildroot (name a Buildroot tree of your own in MODEM_DIALMODE_BUILDROOT)"
    exit 77
fi
kit=$project/packaging/buildroot
device=/dev/modem-at   # not the default, to see the option reach the tool and the script

# Buildroot is unpacked outside the source tree.
if [[ -d $buildroot ]]; then
    src=$(cd "$buildroot" && pwd)
else
    compgen -G "$work/buildroot-*" >/dev/null || tar -xf "$buildroot" -C "$work"
    src=$(echo "$work"/buildroot-*)
fi

echo "== check-package"
findings=$(cd "$kit" && /usr/bin/python3 "$src/utils/check-package" -b \
    $(find . -type f ! -name README.md | sort) 2>&1 | grep -v 'lines processed\|warnings generated' || true)
check "check-package finds nothing in the kit" "$findings" '^$'

# ---- Test-only scaffolding: what a build machine with a Buildroot toolchain
# would not need, and that no integrator gets with the kit. ----
# 1. Buildroot takes the sysroot to be the folder above the lib/ that holds
#    libc.a, with usr/include and usr/lib under it; Debian's cross packages
#    have /usr/mipsel-linux-gnu/{include,lib}. A private copy of them gets that
#    layout, with links where the compiler looks for its own. The libc.so
#    linker script names absolute paths; bare names are found on the library
#    path, whether Buildroot's wrapper gives the compiler a --sysroot or not.
#    The gcc-ar, -nm and -ranlib links become the real -12 programs, or
#    Buildroot's wrapper hands them --sysroot and its LTO check fails.
toolchain=$work/toolchain triple=mipsel-linux-gnu
mkdir -p "$toolchain/bin" "$toolchain/lib/gcc-cross" "$toolchain/$triple/usr"
cp -L /usr/bin/$triple-* "$toolchain/bin/"
cp -a /usr/lib/gcc-cross/$triple "$toolchain/lib/gcc-cross/"
cp -a /usr/$triple/bin "$toolchain/$triple/"
cp -a /usr/$triple/include /usr/$triple/lib "$toolchain/$triple/usr/"
ln -sfn usr/include "$toolchain/$triple/include"
ln -sfn usr/lib "$toolchain/$triple/lib"
grep -l -s '^GROUP' "$toolchain/$triple/usr/lib/"*.so | xargs sed -i "s|/usr/$triple/lib/||g"
# 2. Buildroot refuses a distribution's compiler (built --with-sysroot=/). The
#    output's local.mk is read after that check is defined, and disarms it.
# 3. host-tar and host-pkgconf have no offline source here: Debian's source
#    packages of tar and pkgconf stand in for them.
sources=$work/sources
mkdir -p "$sources"
compgen -G "$sources/*.dsc" >/dev/null || (cd "$sources" && "$project/scripts/debian-apt.sh" mipsel apt-get source -d tar pkgconf >/dev/null &&
    for dsc in *.dsc; do dpkg-source --no-check -x "$dsc" >/dev/null; done)
cat >"$work/local.mk" <<LOCAL
check_unusable_toolchain = true
HOST_TAR_OVERRIDE_SRCDIR = $(echo "$sources"/tar-*/)
HOST_PKGCONF_OVERRIDE_SRCDIR = $(echo "$sources"/pkgconf-*/)
LOCAL
# ---- end of the scaffolding ----

# build NAME LINES: make modem-dialmode anew in an output of its own, with
# the lines LINES added to the board's configuration.
build() {
    out=$work/$1 && target=$out/per-package/modem-dialmode/target
    mkdir -p "$out" && cp "$work/local.mk" "$out/"
    cat >"$out/defconfig" <<CONFIG
BR2_mipsel=y
BR2_mips_32r2=y
# BR2_MIPS_SOFT_FLOAT is not set
BR2_MIPS_FP32_MODE_XX=y
BR2_TOOLCHAIN_EXTERNAL=y
BR2_TOOLCHAIN_EXTERNAL_CUSTOM=y
BR2_TOOLCHAIN_EXTERNAL_PREINSTALLED=y
BR2_TOOLCHAIN_EXTERNAL_PATH="$toolchain"
BR2_TOOLCHAIN_EXTERNAL_CUSTOM_PREFIX="$triple"
BR2_TOOLCHAIN_EXTERNAL_GCC_12=y
BR2_TOOLCHAIN_EXTERNAL_HEADERS_6_1=y
BR2_TOOLCHAIN_EXTERNAL_CUSTOM_GLIBC=y
BR2_TOOLCHAIN_EXTERNAL_HAS_SSP_STRONG=y
BR2_TOOLCHAIN_EXTERNAL_CXX=y
BR2_TOOLCHAIN_EXTERNAL_OPENMP=y
# BR2_TOOLCHAIN_EXTERNAL_INET_RPC is not set
BR2_PER_PACKAGE_DIRECTORIES=y
BR2_JLEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-0}
BR2_PACKAGE_MODEM_DIALMODE=y
BR2_PACKAGE_MODEM_DIALMODE_DEVICE="$device"
$2
CONFIG
    local start=$SECONDS
    brmake BR2_DEFCONFIG="$out/defconfig" defconfig >/dev/null
    if ! brmake modem-dialmode-dirclean modem-dialmode >"$out/build.log" 2>&1; then
        tail -n 60 "$out/build.log"
        check "make modem-dialmode ($1)" failed '^passed$'
        exit 1
    fi
    echo "make modem-dialmode ($1): built in $((SECONDS - start)) s"
}
brmake() { make -C "$src" O="$out" BR2_EXTERNAL="$kit" "$@"; }
export FORCE_UNSAFE_CONFIGURE=1   # host-tar's configure, as root
# same FILE SHIPPED [-x]: FILE in the target is SHIPPED (and executable).
same() {
    local installed=$target/$1 same=no
    cmp -s "$installed" "$2" && test "${3:--e}" "$installed" && same=yes
    check "$1 is the kit's" "$same" '^yes$'
}

build busybox BR2_INIT_BUSYBOX=y
check "the tool is a mipsel executable" "$(file -L "$target/usr/bin/modem-dialmode")" 'ELF 32-bit LSB .*MIPS32 rel2'
check "the tool opens the configured node" "$(grep -c -a "$device" "$target/usr/bin/modem-dialmode")" '^[1-9]'
same etc/init.d/S50modem-dialmode "$kit/package/modem-dialmode/S50modem-dialmode" -x
same usr/sbin/modem-dialmode-plugged "$kit/../common/modem-dialmode-plugged" -x
check "the start-up script's node" "$(cat "$target/etc/default/modem-dialmode")" "^DEVICE=\"$device\"\$"

# systemd, and ModemManager: what the Debian package holds.
build systemd "$(printf '%s\n' BR2_INIT_SYSTEMD=y BR2_PACKAGE_MODEM_MANAGER=y)"
same usr/lib/systemd/system/modem-dialmode@.service "$kit/../systemd/modem-dialmode@.service"
same usr/sbin/modem-dialmode-plugged "$kit/../common/modem-dialmode-plugged" -x
check "the udev rules for the unit and ModemManager, for the node" \
    "$(cd "$target/usr/lib/udev/rules.d" && grep -v '^#' 60-modem-dialmode.rules 78-mm-modem-dialmode.rules)" \
    "^60-[^:]*:SUBSYSTEM==\"tty\", KERNEL==\"${device##*/}\", TAG\+=.*
78-[^:]*:SUBSYSTEM==\"tty\", KERNEL==\"${device##*/}\", ENV\{ID_MM_PORT_IGNORE\}=\"1\"\$"
((failures == 0))
