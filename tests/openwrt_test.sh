#!/usr/bin/env bash
# What can be shown of the OpenWrt package without an OpenWrt tree: its
# start-up files pass shellcheck and BusyBox's sh parses them; what
# Build/Prepare copies of the project builds the tool, and the Makefile's
# Build/Install and Package/install recipes then install exactly what the
# project's OpenWrt packages hold; the hotplug script has the service tell
# a new plug, for an added node of the modem's AT port only, and only while
# the service is enabled. (procd running all of it: the start-up boot cases.)
#   openwrt_test.sh PACKAGE_DIR IPK
set -euo pipefail
package=$1 ipk=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

node=$(sed -n 's/^MODEM_DIALMODE_DEVICE?=//p' "$package/Makefile")
check "the Makefile's default node" "$node" '^/dev/ttyACM2$'
for f in init hotplug; do
    sed "s|@DEVICE@|$node|" "$package/files/modem-dialmode.$f" >"$work/$f"
    check "shellcheck on the $f script" "$(shellcheck -s sh "$work/$f" 2>&1)" '^$'
    check "busybox sh parses the $f script" "$(busybox sh -n "$work/$f" 2>&1)" '^$'
done

# What Build/Prepare copies of the project must be enough for OpenWrt's
# cmake.mk to configure and build the tool (here with the host's compiler,
# and Ninja and the prefix /usr, as cmake.mk has them).
project=$(cd "$package/../../.." && pwd)
copied=$(sed -n '/^define Build\/Prepare/,/^endef/p' "$package/Makefile" |
         grep -o '$(PKG_SOURCE_TREE)/[^ ]*' | sed 's|$(PKG_SOURCE_TREE)/||')
mkdir -p "$work/source"
for item in $copied; do cp -r "$project/$item" "$work/source/"; done
built=$( (cmake -S "$work/source" -B "$work/build" -G Ninja -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr &&
          cmake --build "$work/build" --target modem-dialmode) 2>&1 >/dev/null) || true
check "the tool builds from what Build/Prepare copies ($(echo $copied))" \
    "$([[ -x $work/build/modem-dialmode ]] && echo built || echo "$built")" '^built$'
# recipe NAME: the Makefile's define NAME, run with OpenWrt's names for
# this build's folders and for the package's root.
recipe() {
    sed -n "\\|^define $1\$|,/^endef/p" "$package/Makefile" | sed '1d;$d' |
        sed "s|\$(PKG_INSTALL_DIR)|$work/install|g; s|\$(CMAKE_BINARY_DIR)|$work/build|g;
             s|\$(CP)|cp -fpR|g; s|\$(1)|$work/package|g" | bash >/dev/null
}
mkdir -p "$work/package"
recipe Build/Install && recipe Package/modem-dialmode/install
listing() { sed 's|^\./||; /^$/d' | sort | tr '\n' ' '; }
check "what the Makefile installs is what the .ipk holds" "$(cd "$work/package" && find . | listing)" \
    "^$(literal "$(tar -xzOf "$ipk" ./data.tar.gz | tar -tz | sed 's|/$||' | listing)")\$"

# hotplug ACTION DEVNAME ENABLED: what the hotplug script asks of the
# service, and of the helper.
mkdir -p "$work/init.d" "$work/sbin"
sed "s|/etc/init.d/|$work/init.d/|g; s|/usr/sbin/|$work/sbin/|g" "$work/hotplug" >"$work/hotplug.here"
printf '#!/bin/sh\necho "helper $*"\n' >"$work/sbin/modem-dialmode-plugged"
hotplug() {
    printf '#!/bin/sh\n[ "$1" = enabled ] && exit %s\necho "$1"\n' "$3" >"$work/init.d/modem-dialmode"
    chmod +x "$work/init.d/modem-dialmode" "$work/sbin/modem-dialmode-plugged"
    ACTION=$1 DEVNAME=$2 busybox sh "$work/hotplug.here" | tr '\n' ' '
}
check "the modem's node added" "$(hotplug add ttyACM2 0)" '^plugged $'
check "a node removed: the helper ends a run whose node went" "$(hotplug remove ttyACM2 1)" "^helper -r $node \$"
check "another node added" "$(hotplug add ttyACM0 0)" '^$'
check "the service disabled" "$(hotplug add ttyACM2 1)" '^$'
((failures == 0))
