#!/usr/bin/env bash
# What can be shown of the OpenWrt package without an OpenWrt tree: its
# start-up files pass shellcheck and BusyBox's sh parses them, and their logic
# runs here with procd's and rc.common's calls stood in for. The hotplug
# script restarts the service for an added node of the modem's AT port only,
# and only while the service is enabled; the service opens its one instance,
# which runs the shared helper once, only while the node is there.
#   openwrt_test.sh PACKAGE_DIR
set -euo pipefail
package=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files as the Makefile installs them, for the default node.
node=$(sed -n 's/^MODEM_DIALMODE_DEVICE?=//p' "$package/Makefile")
check "the Makefile's default node" "$node" '^/dev/ttyACM2$'
check "the Makefile puts the node in both" "$(grep -A1 '$(SED)' "$package/Makefile" | tr -d '\t\\\n')" \
    "'s\|@DEVICE@\|\\\$\(MODEM_DIALMODE_DEVICE\)\|' *\\\$\(1\)/etc/init.d/modem-dialmode *\\\$\(1\)/etc/hotplug.d/tty/30-modem-dialmode"
for f in init hotplug; do
    sed "s|@DEVICE@|$node|" "$package/files/modem-dialmode.$f" >"$work/$f"
    check "shellcheck on the $f script" "$(shellcheck -s sh "$work/$f" 2>&1)" '^$'
    check "busybox sh parses the $f script" "$(busybox sh -n "$work/$f" 2>&1)" '^$'
done

# What Build/Prepare copies of the project must be enough for OpenWrt's
# cmake.mk to configure and build the tool (here with the host's compiler,
# and Ninja, as cmake.mk uses by default).
project=$(cd "$package/../../.." && pwd)
copied=$(sed -n '/^define Build\/Prepare/,/^endef/p' "$package/Makefile" |
         grep -o '$(PKG_SOURCE_TREE)/[^ ]*' | sed 's|$(PKG_SOURCE_TREE)/||')
mkdir -p "$work/source"
for item in $copied; do cp -r "$project/$item" "$work/source/"; done
built=$( (cmake -S "$work/source" -B "$work/build" -G Ninja -DBUILD_TESTING=OFF &&
          cmake --build "$work/build" --target modem-dialmode) 2>&1 >/dev/null) || true
check "the tool builds from what Build/Prepare copies ($(echo $copied))" \
    "$([[ -x $work/build/modem-dialmode ]] && echo built || echo "$built")" '^built$'

# hotplug ACTION DEVNAME ENABLED: what the hotplug script asks of the service.
mkdir -p "$work/init.d"
sed "s|/etc/init.d/|$work/init.d/|g" "$work/hotplug" >"$work/hotplug.here"
hotplug() {
    printf '#!/bin/sh\n[ "$1" = enabled ] && exit %s\necho "$1"\n' "$3" >"$work/init.d/modem-dialmode"
    chmod +x "$work/init.d/modem-dialmode"
    ACTION=$1 DEVNAME=$2 busybox sh "$work/hotplug.here" | tr '\n' ' '
}
check "the modem's node added" "$(hotplug add ttyACM2 0)" '^restart $'
check "the modem's node removed" "$(hotplug remove ttyACM2 0)" '^$'
check "another node added" "$(hotplug add ttyACM0 0)" '^$'
check "the service disabled" "$(hotplug add ttyACM2 1)" '^$'

# start_service DEVICE: the procd calls the service makes for DEVICE.
start_service() {
    busybox sh -c '. "$1"; DEVICE=$2
        procd_open_instance() { echo open; }
        procd_set_param() { echo "$*"; }
        procd_close_instance() { echo close; }
        start_service' start "$work/init" "$1" | tr '\n' ';'
}
check "the node there: one instance, run once, output to the log" "$(start_service /dev/null)" \
    '^open;command /usr/sbin/modem-dialmode-plugged /dev/null;stdout 1;stderr 1;close;$'
check "no node: no instance" "$(start_service "$work/none")" '^$'
((failures == 0))
