#!/usr/bin/env bash
# Boots the Malta kernel in qemu-system-mipsel with an initramfs made here
# from busybox and the static tool, its second UART wired to the simulated
# modem, and checks what the tool did on a real MIPS kernel and serial driver.
#   target_system_test.sh present|absent SIM_MODEM STATIC_TOOL CACHE WORK [CPU [DEVICE]]
# CPU is a qemu-system-mipsel -cpu model (default 24Kf, the board's own);
# DEVICE the node the tool was built for (default /dev/ttyACM2).
set -euo pipefail
mode=$1 sim=$2 tool=$3 cpu=${6:-24Kf} device=${7:-/dev/ttyACM2}
. "$(cd "$(dirname "$0")" && pwd)/malta.sh"
malta_root "$4" "$5" "$tool"

# The guest's init. ttyS1 (character device 4, 65) is the UART that QEMU
# wires to the modem; the node is only made when the modem is present.
{
    guest_start
    echo "device=$device; rm -f \$device"
    # Present, the line is left as an earlier user might have left it, so
    # that the tool has to set each thing it relies on. (Flow control it
    # leaves as found, so that stays off.)
    [[ $mode == present ]] && echo 'mkdir -p "${device%/*}" && mknod $device c 4 65 &&
        stty -F $device 9600 cs7 parenb cstopb -cread -clocal'
    # The tool holds the line open from about 0 s to 7 s; look half way.
    echo "during='sleep 4; echo \"@@ lines during: \$(grep \"^1:\" /proc/tty/driver/serial)\"'"
    guest_run_tool
    cat <<'INIT'
echo "@@ lines after: $(grep '^1:' /proc/tty/driver/serial)"
[ -e $device ] && echo "@@ stty $(stty -F $device -a 2>/dev/null | tr -s ' \n;' ' ')"
reboot -f
INIT
} >"$work/root/init"

qemu_modem=(-chardev serial,id=modem,path="$device" -serial chardev:modem)
malta_boot "$cpu" "$sim" --device "$device" --script 'await; echo; delay 100; send "\r\nOK\r\n"'

check_boot "$cpu"
if [[ $mode == present ]]; then
    reply=$(hex 'AT+DIALMODE=0\r\n\r\nOK\r\n\n')
    check "exit status" "$(fact status)" '^0$'
    check "standard output (hex)" "$(fact stdout)" "^$reply\$"
    check "standard error" "$(fact stderr)" '^$'
    check "command bytes the modem got" "$(sed -n 's/^received //p' "$work/record")" '^15 "AT\+DIALMODE=0\\r\\n"$'
    check_line "${raw_line[@]}"
    echo "guest line states during the run: $(fact 'lines during:'); after: $(fact 'lines after:')"
    check "DTR and RTS raised while the tool waits" "$(fact 'lines during:')" 'RTS\|DTR$'
    check "DTR and RTS dropped by the close" "$(fact 'lines after:')" '^1: uart:[^|]*$'
else
    check "exit status" "$(fact status)" '^255$'
    check "standard error" "$(fact stderr)" "^Unable to open the serial port $(literal "$device")\$"
    check "standard output" "$(fact stdout)" '^$'
    check_within "seconds for twenty attempts a second apart" 19 23.9 "$(fact seconds)"
    check "nothing reached the modem" "$(sed -n 's/^received //p' "$work/record")" '^0 ""$'
fi
malta_verdict
