#!/usr/bin/env bash
# Builds the universal binary of one core family, and its packages. The
# binary is modem-dialmode linked statically, as a position-independent
# executable, against musl (built once from Debian's source into
# build-musl-FAMILY/; for x86-64, Debian's musl-dev), with soft float where
# the family has cores without an FPU: it needs no C library on the device
# and runs on every core of its family. Into BUILD/packages (default
# build-FAMILY-musl): the release tarball; for arm and aarch64, the .deb for
# Debian's armhf or arm64; and the OpenWrt packages for each of OpenWrt's
# names for the family's cores, in a folder each (with the .apk where
# MODEM_DIALMODE_APK names apk-tools 3's apk). Fails when the stripped
# binary is over its flash budget. Installs what it needs.
#   scripts/universal.sh mipsel|mips|arm|aarch64|x86_64 [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
family=$1 build=${2:-build-$1-musl} musl=(-DMODEM_DIALMODE_MUSL_LIBDIR="$PWD/build-musl-$1/lib")
case $family in
    mipsel | mips | aarch64) cross=$family-linux-gnu toolchain=$family-linux-musl.cmake ;;
    arm) cross=arm-linux-gnueabi toolchain=arm-linux-musleabi.cmake ;;
    x86_64) cross=x86_64-linux-gnu toolchain=x86_64-linux-musl.cmake musl=() ;;
    *) echo "no such family: $family (mipsel, mips, arm, aarch64, x86_64)" >&2; exit 2 ;;
esac
need_packages cmake=cmake ninja=ninja-build "$cross-g++=g++-$cross" dpkg-deb=dpkg
if [[ $family == x86_64 ]]; then
    need_packages /usr/lib/x86_64-linux-musl/libc.a=musl-dev
else
    scripts/musl.sh "$family" "build-musl-$family"
fi
build_target "$build" "cmake/$toolchain" "$musl_budget" "${musl[@]}" \
    ${MODEM_DIALMODE_APK:+"-DMODEM_DIALMODE_APK=$MODEM_DIALMODE_APK"}
cpack -G TGZ --config "$build/CPackConfig.cmake" -B "$build/packages" >/dev/null
[[ $family != arm && $family != aarch64 ]] || cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/packages" >/dev/null
cmake --build "$build" --target openwrt-packages >/dev/null
echo "$family packages: $(cd "$build/packages" && ls -d ./*.tar.gz ./*.deb ./*/*.ipk ./*/*.apk 2>/dev/null | paste -sd ' ')"
