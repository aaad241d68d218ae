#!/usr/bin/env bash
# Builds the amd64 .deb, the release tarball and the OpenWrt packages (the
# universal mipsel tool; the .apk where APK, apk-tools 3, is given) twice, from two copies of the sources in different folders, seconds apart,
# with no SOURCE_DATE_EPOCH, once with Ninja and once with Makefiles (CMake's
# default, as the README builds): the packages and the checksum must be the same
# bytes. The copies are clones of the checkout, with its uncommitted files
# laid over them. The tarball must also be what Debian's reproducible-builds
# advice asks of an archive: names sorted, owned by root, no name or date in
# its gzip header.
#   reproducible_test.sh PROJECT WORK MUSL_LIBDIR [APK]
set -euo pipefail
project=$1 work=$2 musl_libdir=$3 apk=${4:-}
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
    cmake -S "$src" -B "$1/universal" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mipsel-linux-musl.cmake" \
        -DMODEM_DIALMODE_MUSL_LIBDIR="$musl_libdir" -DMODEM_DIALMODE_APK="$apk" >/dev/null
    cmake --build "$1/universal" --target all openwrt-packages >/dev/null 2>&1
    (cd "$1/universal" && cpack -G TGZ -B "$1/packages" >/dev/null)
    cp "$1"/universal/packages/modem-dialmode[-_]*-r* "$1/packages/"
}
build "$work/first" Ninja
sleep 2
build "$work/second/elsewhere" 'Unix Makefiles'

for made in "$work"/first/packages/*; do
    [[ -f $made ]] || continue
    name=${made##*/}
    other=$work/second/elsewhere/packages/$name
    echo "$(sha256sum <"$made" | cut -c1-64)  $name"
    check "$name, built twice" "$(cmp "$made" "$other" 2>&1 && echo same)" '^same$'
done
tarball=$(echo "$work"/first/packages/*.tar.gz)
names=$(tar -tzf "$tarball")
check "the tarball's names sorted" "$(LC_ALL=C sort -c <<<"$names" 2>&1 && echo sorted)" '^sorted$'
check "the tarball's owners" "$(tar -tvzf "$tarball" | awk '{ print $2 }' | sort -u)" '^0/0$'
check "the gzip header: no name, no date" "$(od -An -tx1 -N 8 "$tarball" | tr -d ' ')" '^1f8b080000000000$'
((failures == 0)) && rm -rf "$work"
