#!/usr/bin/env bash
# Boots the Malta kernel in qemu-system-mipsel with an initramfs made here
# from busybox and the static tool, its second UART wired to the simulated
# modem, and checks what the tool did on a real MIPS kernel and serial driver.
#   target_system_test.sh present|absent SIM_MODEM STATIC_TOOL CACHE WORK [CPU]
# CPU is a qemu-system-mipsel -cpu model (default 24Kf, the board's own).
set -euo pipefail
mode=$1 sim=$2 tool=$3 cache=$4 work=$5 cpu=${6:-24Kf}
here=$(cd "$(dirname "$0")" && pwd)

"$here/target_packages.sh" "$cache"
rm -rf "$work" && mkdir -p "$work/root"/{bin,dev,proc,tmp,usr/bin}
install -m 755 "$cache/busybox" "$work/root/bin/busybox"
install -m 755 "$tool" "$work/root/usr/bin/modem-dialmode"

# The guest's init. ttyS1 (character device 4, 65) is the UART that QEMU
# wires to the modem; the node is only made when the modem is present.
{
    cat <<'INIT'
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
mount -t proc proc /proc
rm -f /dev/ttyACM2
INIT
    # Present, the line is left as an earlier user might have left it, so
    # that the tool has to set each thing it relies on. (Flow control it
    # leaves as found, so that stays off.)
    [[ $mode == present ]] && echo 'mknod /dev/ttyACM2 c 4 65 && stty -F /dev/ttyACM2 9600 cs7 parenb cstopb -cread -clocal'
    cat <<'INIT'
echo "@@ cpu $(grep -m 1 '^cpu model' /proc/cpuinfo)"
start=$(date +%s)
modem-dialmode >/tmp/out 2>/tmp/err &
tool=$!
# The tool holds the line open from about 0 s to 7 s; look half way.
sleep 4
echo "@@ lines during: $(grep '^1:' /proc/tty/driver/serial)"
wait $tool
echo "@@ status $?"
echo "@@ seconds $(( $(date +%s) - start ))"
echo "@@ stdout $(od -An -tx1 /tmp/out | tr -s ' \n' ' ')"
echo "@@ stderr $(cat /tmp/err)"
echo "@@ lines after: $(grep '^1:' /proc/tty/driver/serial)"
[ -e /dev/ttyACM2 ] && echo "@@ stty $(stty -F /dev/ttyACM2 -a 2>/dev/null | tr -s ' \n;' ' ')"
reboot -f
INIT
} >"$work/root/init"
chmod +x "$work/root/init"
(cd "$work/root" && find . | cpio -o -H newc --owner 0:0 --quiet) >"$work/initrd.cpio"

status=0
timeout 240 "$sim" --record "$work/record" \
    --script 'await; echo; delay 100; send "\r\nOK\r\n"' -- \
    qemu-system-mipsel -M malta -cpu "$cpu" -m 128 -net none -vga none -display none -monitor none \
        -no-reboot -kernel "$cache/vmlinuz" -initrd "$work/initrd.cpio" \
        -append "console=ttyS0 panic=-1 quiet loglevel=1" \
        -chardev file,id=console,path="$work/console.log" -serial chardev:console \
        -chardev serial,id=modem,path=/dev/ttyACM2 -serial chardev:modem || status=$?

. "$here/checks.sh"
fact() { # the guest's line "@@ NAME VALUE", VALUE trimmed
    sed -n "s/^@@ $1 *//p" "$work/console.log" | tr -d '\r' | head -n 1 | sed 's/ *$//'
}
check "qemu ended by the guest's reboot" "$status" '^0$'
# The kernel names a 24Kf a 24Kc with an FPU: what tells them apart is the FPU.
has_fpu=no want_fpu=no
[[ $(fact cpu) == *FPU* ]] && has_fpu=yes
[[ $cpu == *f ]] && want_fpu=yes
check "whether the guest's CPU has an FPU ($(fact cpu | tr -s '\t' ' '))" "$has_fpu" "^$want_fpu\$"

if [[ $mode == present ]]; then
    reply=$(hex 'AT+DIALMODE=0\r\n\r\nOK\r\n\n')
    check "exit status" "$(fact status)" '^0$'
    check "standard output (hex)" "$(fact stdout)" "^$reply\$"
    check "standard error" "$(fact stderr)" '^$'
    check "command bytes the modem got" "$(sed -n 's/^received //p' "$work/record")" '^15 "AT\+DIALMODE=0\\r\\n"$'
    settings="$(fact stty) "
    echo "guest line settings after the run: $settings"
    echo "guest line states during the run: $(fact 'lines during:'); after: $(fact 'lines after:')"
    for flag in 'speed 115200 baud' ' cs8 ' ' -parenb ' ' -cstopb ' ' cread ' ' clocal ' ' -icanon ' ' -isig ' \
                ' -echo ' ' -opost ' ' -icrnl ' ' -ixon ' ' min = 1 ' ' time = 0 '; do
        check "line setting '$flag'" "$settings" "$flag"
    done
    check "DTR and RTS raised while the tool waits" "$(fact 'lines during:')" 'RTS\|DTR$'
    check "DTR and RTS dropped by the close" "$(fact 'lines after:')" '^1: uart:[^|]*$'
else
    check "exit status" "$(fact status)" '^255$'
    check "standard error" "$(fact stderr)" '^Unable to open the serial port /dev/ttyACM2$'
    check "standard output" "$(fact stdout)" '^$'
    check "twenty attempts a second apart (seconds)" "$(fact seconds)" '^(19|2[0-3])$'
    check "nothing reached the modem" "$(sed -n 's/^received //p' "$work/record")" '^0 ""$'
fi

if ((failures)); then
    echo "--- guest console ($work/console.log):"
    cat "$work/console.log"
    exit 1
fi
