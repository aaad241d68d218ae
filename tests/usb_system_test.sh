#!/usr/bin/env bash
# Boots the Malta kernel in qemu-system-mipsel with the simulated modem on its
# USB bus (usb-redir): the kernel's uhci-hcd enumerates it and cdc-acm makes
# the /dev/ttyACM2 the tool opens, as on a router. Checks what the tool did to
# the line, as the modem saw it over USB, and what it printed.
#   usb_system_test.sh CASE SIM_MODEM STATIC_TOOL CACHE WORK CPU [DEVICE]
# DEVICE is the node the tool was built for (default /dev/ttyACM2); any other
# is made a link to the ttyACM2 that cdc-acm makes.
# CASE is one of:
#   present   the line starts at 0 baud, so that only the tool's own calls
#             can raise DTR and RTS; the modem raises and drops its carrier
#             while the tool waits
#   late      the modem is unplugged, and comes back when the guest cues it
#             5 s later, while the tool retries its open
#   unplug    the modem is unplugged while the tool waits for the answer
#   leader    the same, with the tool a session leader
#   listing   a listing of 4095, 4095 and 100 bytes
#   dirty     an earlier user left the line at 9600 7E2, receiver off and
#             carrier honoured, and the carrier is low when the tool opens
set -euo pipefail
case=$1 sim=$2 tool=$3 cpu=$6 device=${7:-/dev/ttyACM2}
. "$(cd "$(dirname "$0")" && pwd)/malta.sh"
malta_root "$4" "$5" "$tool"

ok='send "\r\nOK\r\n"'
prefix='' script="await; delay 100; $ok"
case $case in
present)
    before='stty -F /dev/ttyACM2 0'
    script="lines dcd dsr; await; delay 500; lines dsr; delay 100; $ok" ;;
late)
    # The guest says when its tool starts, on the modem's own line.
    before='echo late >/dev/ttyACM2; while [ -e /dev/ttyACM2 ]; do usleep 10000; done'
    during='sleep 5; echo plug >/dev/ttyS1'
    script="await; hangup; cue; plug; await; delay 100; $ok" ;;
unplug) script='await; hangup' ;;
leader) prefix=setsid script='await; hangup' ;;
listing)
    # The tool reads 4 s after its command, then once a second: each chunk
    # lands half way between two reads. (Over USB the modem cannot see the
    # tool read, so the chunks are timed rather than drained.)
    script='await; send "AT+CFTPSLIST\r\n"; delay 4500; fill 4095 "a"; delay 1000; fill 4095 "b"
            delay 1000; fill 100 "c"' ;;
dirty)
    before='stty -F /dev/ttyACM2 9600 cs7 parenb cstopb -cread -clocal'
    # The carrier comes and goes after the open: without CLOCAL that would
    # hang the line up. (The open itself cannot wait for the carrier here,
    # blocking or not: cdc-acm reports none to the tty layer, which then
    # takes it as present. The UART boot is where a blocking open would hang.)
    script="lines dsr; await; lines dcd dsr; delay 300; lines dsr; delay 100; $ok" ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac

{
    guest_start
    guest_usb_drivers "$device"
    cat <<'INIT'
i=0
while [ ! -c /dev/ttyACM2 ] && [ $i -lt 300 ]; do usleep 100000; i=$((i + 1)); done
echo "@@ node $(ls -l /dev/ttyACM2 2>&1 | tr -s ' ')"
INIT
    echo "${before:-}"
    echo "during='${during:-}'"
    guest_run_tool "$prefix"
    echo '[ -e /dev/ttyACM2 ] && echo "@@ stty $(stty -F /dev/ttyACM2 -a 2>/dev/null | tr -s '"' \n;' ' '"')"'
    echo 'reboot -f'
} >"$work/root/init"

qemu_modem=(-chardev socket,id=modem,path="$work/usb.sock" -device usb-redir,chardev=modem)
malta_boot "$cpu" "$sim" --usb "$work/usb.sock" --script "$script"

check_boot "$cpu"
check "cdc-acm made the modem's node" "$(fact node)" '^crw[^ ]* 1 0 0 166, 2 .*/dev/ttyACM2$'
# The modem's record, one event a line without its time, and the bytes.
events=$(sed -n 's/^event [0-9]* //p' "$work/record" | tr '\n' ';')
echo "what the modem saw over USB: $events"
# What the host did, without the notifications the modem sent in between.
asked=$(sed -n 's/^event [0-9]* //p' "$work/record" | grep -v '^state' | tr '\n' ';')
received=$(sed -n 's/^received //p' "$work/record")
command='15 "AT\+DIALMODE=0\\r\\n"'
[[ $case == late ]] && command='21 "late\\r\\nAT\+DIALMODE=0\\r\\n"'
check "the bytes the modem got" "$received" "^$command\$"
check "exit status" "$(fact status)" '^0$'
check "standard error" "$(fact stderr)" '^$'
reply=$(hex '\r\nOK\r\n\n')

case $case in
present)
    check "standard output (hex)" "$(fact stdout)" "^$reply\$"
    # From the guest's stty 0 (the lines dropped) to the tool's close: its
    # tcsetattr sets the line coding and raises DTR, its TIOCMSET RTS.
    check "line coding and control lines, in order" "$asked" \
        ';lines none;lines dtr;line 115200 8N1;lines dtr rts;data 15;lines none;'
    check_line "${raw_line[@]}"
    check "the carrier reported, and dropped while the tool waited" "$events" 'state dcd dsr;.*data 15;.*state dsr;' ;;
late)
    check "standard output (hex)" "$(fact stdout)" "^$reply\$"
    check "unplugged, plugged again when the guest cued it, then the command" "$events" ';unplugged;cue;plugged;.*data 15;'
    # 5 s away, the node back about half a second later, the next retry, 7 s
    # of exchange; a busy guest sees the unplug late, and so starts late. A
    # run without its 2 s settle (11.1 s) is the unplug cases' to catch.
    check_within "seconds from start to end" 10.5 15.5 "$(fact seconds)" ;;
unplug | leader)
    check "standard output" "$(fact stdout)" "^$(hex 'ERROR\n')\$"
    check "unplugged after the command" "$events" ';data 15;unplugged;$'
    # 2 s settle, 4 s wait, the read finds the line gone, 1 s: not the 10 s
    # bound (16 s or more), with room for a busy host.
    check_within "seconds from start to end" 6.5 13 "$(fact seconds)" ;;
listing)
    want=$( (printf 'a%.0s' $(seq 4095); echo; printf 'b%.0s' $(seq 4095); echo; echo ERROR) | to_hex)
    check "standard output: two full chunks, then the verdict on the short one" "$(fact stdout)" "^$want\$" ;;
dirty)
    check "standard output (hex)" "$(fact stdout)" "^$reply\$"
    check "line coding set anew" "$asked" 'line 9600 7E2;.*line 115200 8N1;data 15;'
    check "the carrier rose and fell while the tool waited" "$events" 'data 15;.*state dcd dsr;.*state dsr;'
    check_line ' cs8 ' ' -parenb ' ' -cstopb ' ' cread ' ' clocal ' ;;
esac
malta_verdict
