#!/usr/bin/env bash
# Builds the amd64 .deb, and the release tarball and OpenWrt packages of each
# build whose packages are RELEASE_DIR... (the .apk where APK, apk-tools 3,
# is given) twice, from two copies of the sources in different folders, seconds apart,
# with no SOURCE_DATE_EPOCH, once with Ninja and once with Makefiles (CMake's
# default, as the README builds): the packages and the checksum must be the same
# bytes. The copies are clones of the checkout, with its uncommitted files
# laid over them. The tarball must also be what Debian's reproducible-builds
# advice asks of an archive: names sorted, owned by root, no name or date in
# its gzip header.
#   reproducible_test.sh PROJECT WORK APK RELEASE_DIR...
set -euo pipefail
project=$1 work=$2 apk=$3 releases=("${@:4}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
unset SOURCE_DATE_EPOCH
rm -rf "$work"

# build DIR GENERATOR: the packages of the sources copied to DIR, into DIR/packages.
build() {
    local src=$1/modem-dialmode generator=$2
    mkdir -p "$1"
    git clone --quiet --shared "$project" "$src"
    git -C "$project" ls-files -z --cached --others --exclude-standard | (cd "$project" && tar --null -T - -cf -) | tar -xf - -C "$src"
    cmake -S "$src" -B "$1/host" -G "$generator" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$1/host" >/dev/null
    (cd "$1/host" && cpack -G DEB -B "$1/packages" >/dev/null)
    for release in "${releases[@]}"; do
        cache=$release/../CMakeCache.txt toolchain=$(sed -n 's|^CMAKE_TOOLCHAIN_FILE:FILEPATH=\(.*/\)*||p' "$cache")
        cmake -S "$src" -B "$1/$toolchain" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DMODEM_DIALMODE_APK="$apk" \
            -DMODEM_DIALMODE_MUSL_LIBDIR="$(sed -n 's/^MODEM_DIALMODE_MUSL_LIBDIR:PATH=//p' "$cache")" >/dev/null
        cmake --build "$1/$toolchain" --target all openwrt-packages >/dev/null 2>&1
        (cd "$1/$toolchain" && cpack -G TGZ -B "$1/packages" >/dev/null && cp -r packages/*_* "$1/packages/")
    done
}
build "$work/first" Ninja
sleep 2
build "$work/second/elsewhere" 'Unix Makefiles'

for made in $(find "$work"/first/packages -type f ! -path "*/_CPack_Packages/*"); do
    name=${made#"$work"/first/packages/}
    other=$work/second/elsewhere/packages/$name
    echo "$(sha256sum <"$made" | cut -c1-64)  $name"
    check "$name, built twice" "$(cmp "$made" "$other" 2>&1 && echo same)" '^same$'
done
tarball=$(echo "$work"/first/packages/*-mipsel-static.tar.gz)
names=$(tar -tzf "$tarball")
check "the tarball's names sorted" "$(LC_ALL=C sort -c <<<"$names" 2>&1 && echo sorted)" '^sorted$'
check "the tarball's owners" "$(tar -tvzf "$tarball" | awk '{ print $2 }' | sort -u)" '^0/0$'
check "the gzip header: no name, no date" "$(od -An -tx1 -N 8 "$tarball" | tr -d ' ')" '^1f8b080000000000$'
# And OpenWrt's package managers take each: opkg (the OpenWrt runtime's, under
# qemu-user, beside the apk) and apk, into a root told the package's arch.
for dir in "$work"/first/packages/[a-z]*_*/; do
    arch=$(basename "$dir") opkg=(qemu-mipsel -L "${apk%/*}/root" "${apk%/*}/root/bin/opkg")
    printf '%s\n' 'dest root /' "arch $arch 10" >"$work/$arch.conf" && mkdir -p "$work/$arch-ipk/var/lock"
    "${opkg[@]}" -f "$work/$arch.conf" -o "$work/$arch-ipk" install "$dir"/*.ipk >/dev/null
    "$apk" add --root "$work/$arch-apk" --initdb --arch "$arch" --allow-untrusted --force-non-repository --no-scripts "$dir"/*.apk >/dev/null
    check "opkg and apk install the $arch packages" "$(ls "$work/$arch"-*/usr/bin/modem-dialmode | wc -l)" '^2$'
done
((failures == 0)) && rm -rf "$work"
