#!/usr/bin/env bash
# Boots the Malta kernel as a Buildroot router boots: BusyBox init as PID 1,
# its rcS starting each /etc/init.d/S??* script in turn, syslogd among them,
# and the router kit's start-up script as it ships. The USB modem
# (sim-modem --usb) is plugged in 30 s after the start, long after the tool's
# own 20 attempts would have run out, then unplugged and plugged in again.
# Checks that the boot went on at once, that the modem got the command once
# per plug, and that the system log holds one acceptance per plug.
#   startup_system_test.sh CASE SIM_MODEM STATIC_TOOL CACHE WORK CPU [DEVICE]
# CASE is replug, the only one.
set -euo pipefail
sim=$2 tool=$3 cpu=$6 device=${7:-/dev/ttyACM2}
[[ $1 == replug ]] || { echo "unknown case $1" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
kit=$here/../packaging
. "$here/malta.sh"
malta_root "$4" "$5" "$tool"
root=$work/root
mkdir -p "$root"/{etc/init.d,etc/default,usr/sbin,var/run,var/log}
install -m 755 "$kit/common/modem-dialmode-plugged" "$root/usr/sbin/"
install -m 755 "$kit/buildroot/package/modem-dialmode/S50modem-dialmode" "$root/etc/init.d/"
echo "DEVICE=\"$device\"" >"$root/etc/default/modem-dialmode"

# The kernel's USB drivers as a router has them, before init.
{
    guest_start
    guest_usb_drivers "$device"
    echo 'exec /bin/busybox init'
} >"$root/init"
cat >"$root/etc/inittab" <<'INITTAB'
::sysinit:/etc/init.d/rcS
::once:/bin/sh /probe
INITTAB
# As Buildroot's: each start-up script in turn, in the foreground.
cat >"$root/etc/init.d/rcS" <<'RCS'
#!/bin/sh
echo "@@ rcs_start $(cut -d ' ' -f 1 /proc/uptime)"
for i in /etc/init.d/S??*; do
    [ -f "$i" ] && "$i" start
done
echo "@@ rcs_done $(cut -d ' ' -f 1 /proc/uptime)"
RCS
printf '#!/bin/sh\nsyslogd\n' >"$root/etc/init.d/S01syslogd"
chmod +x "$root/etc/init.d/rcS" "$root/etc/init.d/S01syslogd"

# Runs once rcS is done: starts the kit a second time, as a careless script
# might, then notes when the node comes and goes and when each verdict is
# logged, until two are (or two minutes pass).
cat >"$root/probe" <<PROBE
device=$device
PROBE
cat >>"$root/probe" <<'PROBE'
uptime_s() { cut -d ' ' -f 1 /proc/uptime; }
/etc/init.d/S50modem-dialmode start >/dev/null 2>&1
echo "@@ second_start $?"
node=absent verdicts=0 plugs=
while [ "$verdicts" -lt 2 ] && [ "$(cut -d . -f 1 /proc/uptime)" -lt 150 ]; do
    now=absent
    [ -c "$device" ] && now=present
    [ "$now" = "$node" ] || { node=$now; plugs="$plugs $now@$(uptime_s)"; }
    v=$(grep -c 'dial mode 0' /var/log/messages 2>/dev/null)
    [ "${v:-0}" -gt "$verdicts" ] && { verdicts=$v; echo "@@ verdict$v $(uptime_s)"; }
    usleep 200000
done
echo "@@ node $plugs"
echo "@@ log $(grep 'modem-dialmode' /var/log/messages | sed 's/.*modem-dialmode[^:]*: //' | tr '\n' ';')"
reboot -f
PROBE

ok='send "\r\nOK\r\n"'
# Each answer is left 6 s for the tool to read before the unplug.
script="appear 30000; await; delay 100; $ok; delay 6000; hangup; delay 5000; plug; await; delay 100; $ok"
qemu_modem=(-chardev socket,id=modem,path="$work/usb.sock" -device usb-redir,chardev=modem)
malta_boot "$cpu" "$sim" --usb "$work/usb.sock" --script "$script"

check_boot "$cpu"
events=$(sed -n 's/^event [0-9]* //p' "$work/record" | grep -v '^state' | tr '\n' ';')
echo "what the modem saw over USB: $events"
echo "modem plugged and unplugged, ms after the start: $(grep -E '^event [0-9]+ (plugged|unplugged)' "$work/record" | cut -d ' ' -f 2,3 | tr '\n' ' ')"
echo "in the guest, s after its boot: rcS from $(fact rcs_start) to $(fact rcs_done); the node:$(fact node);" \
     "verdicts logged at $(fact verdict1) and $(fact verdict2)"
check "the second start refused while the first runs" "$(fact second_start)" '^[1-9]'
check "the command once per plug" "$(grep -o -E '(un)?plugged|data [0-9]+' <<<"$events" | tr '\n' ';')" \
    '^plugged;data 15;unplugged;plugged;data 15;$'
check "the bytes the modem got" "$(sed -n 's/^received //p' "$work/record")" \
    '^30 "AT\+DIALMODE=0\\r\\nAT\+DIALMODE=0\\r\\n"$'
check "the system log: one acceptance per plug" "$(fact log)" \
    '^modem accepted dial mode 0;modem accepted dial mode 0;$'
# A busy host slows the guest's own boot a lot, but rcS only starts things.
check_within "seconds rcS took, less than one run of the tool" 0 7 \
    "$(awk "BEGIN { print $(fact rcs_done) - $(fact rcs_start) }")"
first=no
in_range 0 "$(fact verdict1)" "$(fact rcs_done)" && first=yes
check "rcS done before the first verdict" "$first" '^yes$'
malta_verdict
