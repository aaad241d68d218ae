# Sourced by the full-system tests: a Malta board in qemu-system-mipsel that
# boots the kernel target_packages.sh fetched, with an initramfs made here
# from busybox and the tool. The guest reports on its console in lines
# "@@ NAME VALUE", which fact() picks out.
#   malta_root CACHE WORK TOOL        makes WORK/root with busybox, the tool
#                                     and the USB modules
#   guest_start                       prints the start of the guest's init
#   guest_usb_drivers DEVICE          prints the lines that load the USB
#                                     modules and, for a DEVICE other than
#                                     /dev/ttyACM2, link it to that node
#   guest_run_tool [PREFIX]           prints the lines that run the tool (after
#                                     PREFIX, e.g. setsid), wait for it (a
#                                     watchdog kills it after a minute) and
#                                     report; $during runs while it works
#   malta_boot CPU SIM SIM_ARGS...    makes the initramfs, boots it under the
#                                     simulated modem (cued on a UART), sets $status; qemu's
#                                     own modem wiring is in $qemu_modem, and
#                                     anything else it needs (a disk) in $qemu_more;
#                                     it is given $boot_limit seconds
#   check_boot CPU                    qemu ended by the guest's reboot on CPU
#   check_line PATTERN...             the guest's stty -a after the run shows
#                                     each; $raw_line is the tool's whole line
#   malta_verdict                     fails, showing the console, if a check did
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/checks.sh"

malta_root() {
    cache=$1/malta work=$2
    [[ $cpu != cortex-* ]] || cache=$1/arm64
    rm -rf "$work" && mkdir -p "$work/root"/{bin,dev,proc,tmp,usr/bin,lib/modules}
    install -m 755 "$cache/busybox" "$work/root/bin/busybox"
    install -m 755 "$3" "$work/root/usr/bin/modem-dialmode"
    cp "$cache/modules/"* "$work/root/lib/modules/"
}

guest_start() {
    cat <<'INIT'
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
mount -t proc proc /proc
echo "@@ cpu $(grep -m 1 '^cpu model' /proc/cpuinfo)"
echo "@@ clock $(dmesg | sed -n 's/.*CPU frequency \([0-9.]*\) MHz.*/\1/p' | head -n 1)"
uptime_s() { cut -d ' ' -f 1 /proc/uptime; }
INIT
}

guest_usb_drivers() {
    echo 'for m in $(cat /lib/modules/order); do insmod /lib/modules/$m.ko; done'
    [[ $1 == /dev/ttyACM2 ]] || echo "mkdir -p ${1%/*} && ln -s /dev/ttyACM2 $1"
}

guest_run_tool() {
    cat <<INIT
start=\$(uptime_s)
$* modem-dialmode >/tmp/out 2>/tmp/err &
tool=\$!
INIT
    cat <<'INIT'
(sleep 60; kill -9 $tool) 2>/dev/null &
dog=$!
eval "$during"
wait $tool
echo "@@ status $?"
kill $dog
echo "@@ seconds $(awk "BEGIN { print $(uptime_s) - $start }")"
echo "@@ stdout $(od -An -v -tx1 /tmp/out | tr -s ' \n' ' ')"
echo "@@ stderr $(cat /tmp/err)"
INIT
}

# The kernel times itself by a counter whose rate it measures against the
# RTC at boot. On a host too busy to run the guest through that second the
# measure can come out wrong, and then the guest's seconds are not the
# host's, while the simulated modem keeps the host's: such a boot proves
# nothing about timing and is made again (twice at most).
clock_mhz_low=300 clock_mhz_high=367

qemu_more=() boot_limit=240
malta_boot() {
    local cpu=$1 sim=$2 attempt mhz
    shift 2
    chmod +x "$work/root/init"
    (cd "$work/root" && find . | cpio -o -H newc --owner 0:0 --quiet) >"$work/initrd.cpio"
    for attempt in 1 2 3; do
        rm -f "$work/console.log" "$work/record"
        status=0
        # An ARM core boots QEMU's virt board instead, its USB on xHCI.
        local board=(qemu-system-mipsel -M malta -m 128 -serial chardev:console "${qemu_modem[@]}" -serial chardev:cues) console=ttyS0
        [[ $cpu != cortex-* ]] || board=(qemu-system-aarch64 -M virt -m 1024 -serial chardev:console -device qemu-xhci
                                         "${qemu_modem[@]}" -device pci-serial,chardev=cues) console=ttyAMA0
        timeout "$boot_limit" "$sim" --record "$work/record" --cues "$work/cues.sock" "$@" -- \
            "${board[@]}" -cpu "$cpu" -net none -vga none -display none -monitor none \
                -no-reboot -kernel "$cache/vmlinuz" -initrd "$work/initrd.cpio" \
                -append "console=$console panic=-1 quiet loglevel=1" \
                -chardev file,id=console,path="$work/console.log" \
                -chardev socket,id=cues,path="$work/cues.sock" "${qemu_more[@]}" || status=$?
        ((status != 124)) ||
            echo "the boot ran out of its $boot_limit s; the guest's last report: $(grep -a '^@@' "$work/console.log" | tail -n 1)"
        mhz=$(fact clock)
        # No measure at all is some other failure, which a second boot won't mend.
        if [[ -z $mhz ]] || in_range $clock_mhz_low $clock_mhz_high "$mhz"; then return 0; fi
        echo "boot $attempt: the guest measured its clock at $mhz MHz (a busy host), booting again"
    done
}

fact() { # the guest's line "@@ NAME VALUE", VALUE trimmed
    sed -n "s/^@@ $1 *//p" "$work/console.log" | tr -d '\r' | head -n 1 | sed 's/ *$//'
}

# in_range LOW HIGH VALUE: VALUE, a decimal, is from LOW to HIGH.
in_range() { awk -v low="$1" -v high="$2" -v v="$3" 'BEGIN { exit !(v != "" && v >= low && v <= high) }'; }

# check_within WHAT LOW HIGH VALUE: the same, as a named check.
check_within() {
    local in=no
    in_range "$2" "$3" "$4" && in=yes
    check "$1 ($4, wanted $2 to $3)" "$in" '^yes$'
}

check_boot() {
    check "qemu ended by the guest's reboot" "$status" '^0$'
    # An ARM guest's timer needs no measuring, and its cores all have an FPU.
    [[ $1 != cortex-* ]] || return 0
    # The kernel names a 24Kf a 24Kc with an FPU: what tells them apart is the FPU.
    local has_fpu=no want_fpu=no
    [[ $(fact cpu) == *FPU* ]] && has_fpu=yes
    [[ $1 == *f ]] && want_fpu=yes
    check "whether the guest's CPU has an FPU ($(fact cpu | tr -s '\t' ' '))" "$has_fpu" "^$want_fpu\$"
    check_within "the guest's clock as the kernel measured it (MHz)" $clock_mhz_low $clock_mhz_high "$(fact clock)"
}

# The line the tool leaves, as the guest's stty -a shows it.
raw_line=('speed 115200 baud' ' cs8 ' ' -parenb ' ' -cstopb ' ' cread ' ' clocal ' ' -icanon ' ' -isig '
          ' -echo ' ' -opost ' ' -icrnl ' ' -ixon ' ' min = 1 ' ' time = 0 ')

check_line() {
    local settings flag
    settings="$(fact stty) "
    echo "guest line settings after the run: $settings"
    for flag in "$@"; do check "line setting '$flag'" "$settings" "$flag"; done
}

# The end of every boot: the console when anything failed.
malta_verdict() {
    if ((failures)); then
        echo "--- guest console ($work/console.log):"
        cat "$work/console.log"
        exit 1
    fi
}
