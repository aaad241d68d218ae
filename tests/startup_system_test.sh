#!/usr/bin/env bash
# Boots the Malta kernel as a router boots, with the router kit's start-up as
# it ships: BusyBox init as PID 1 and its rcS starting each
# /etc/init.d/S??* script in turn, as on Buildroot; OpenWrt's procd with
# its hotplug, ubusd and logd; or systemd with udev, as on Debian. The USB modem
# (sim-modem --usb) is plugged in once the tool's own 20 attempts from the
# kit's start would have run out, then unplugged and plugged in again, each
# step when the guest cues it, so that a slow host makes the boot slower.
# Checks that the boot went on at once, that the modem got the command once
# per plug, and what the log holds.
#   startup_system_test.sh CASE SIM_MODEM STATIC_TOOL CACHE WORK CPU [DEVICE]
# CASE mdev: syslogd and mdev run; the modem refuses, is plugged in again in
# the retry wait, and the service is restarted. CASE bare: no mdev and no
# syslog daemon (the kernel's log); the node is announced again during the
# first run, and the service is stopped as the tool talks.
# CASE systemd: Debian's, with udev, and the project's mipsel .deb
# ($MODEM_DIALMODE_DEB) installed by dpkg; the modem is there at power-on and
# refuses at first, then is plugged in again three times. CASE dpkg, on an
# ARM core (QEMU's virt board, Debian's arm64 kernel and root): the project's
# arm64 .deb, then its armhf one, installed by dpkg in the running guest while
# the modem is there (probed by ModemManager: passed over), each told at once
# and after a plug again.
# CASE procd-files, procd-opkg, procd-apk: the OpenWrt package's files in the
# image (a refusal asked again as configured), or the package installed by
# opkg or apk at boot; the modem is plugged in four times, and at the fourth
# the service is stopped as the tool talks, then disabled before a fifth.
# Each case's own comments say the rest.
# The procd cases need the runtime that openwrt_runtime.sh built in CACHE,
# and the packages in $MODEM_DIALMODE_OPENWRT_PACKAGES; the systemd case,
# debian_root.sh's root; they skip without.
set -euo pipefail
case=$1 sim=$2 tool=$3 cpu=$6 device=${7:-/dev/ttyACM2}
here=$(cd "$(dirname "$0")" && pwd)
kit=$here/../packaging
. "$here/malta.sh"
malta_root "$4" "$5" "$tool"
root=$work/root openwrt=$4/openwrt packages=${MODEM_DIALMODE_OPENWRT_PACKAGES:-}
ok='send "\r\nOK\r\n"'
prelude='/etc/init.d/S50modem-dialmode start >/dev/null 2>&1; echo "@@ second_start $?"' epilogue=: probe=$root/probe
# The probe's cues, one for each cue step of the modem's script (see ready()
# below). It is done 12 s after the last, unless a case says otherwise.
plan= finished='[ -z "$plan" ] && [ "$cued" -le $(($(now) - 12)) ]'
if [[ $case == procd-* ]]; then
    [[ -e $openwrt/built && -n $(ls "$packages"/*.ipk "$packages"/*.apk 2>/dev/null) ]] ||
        { echo "skipped: no OpenWrt runtime in $openwrt or no packages in '$packages'"; exit 77; }
    cp -a "$openwrt/root/." "$root/" && rm "$root/usr/bin/modem-dialmode"
    mkdir -p "$root"/{sys,pkg,etc/hotplug.d} && ln -s tmp "$root/var"
    cp "$packages"/*.ipk "$packages"/*.apk "$root/pkg/"
    { guest_start; guest_usb_drivers "$device"; echo 'exec /sbin/init'; } >"$root/init"
    printf '%s\n' '::sysinit:/etc/init.d/rcS S boot' 'console::respawnlate:/bin/sh /probe' >"$root/etc/inittab"
    echo 'exit 0' >"$root/etc/preinit"
    log='/sbin/logread'
    service='ubus call service list "{\"name\":\"modem-dialmode\"}" | tr -d " \t\n"'
    # During the first run, the plug and procd's instance, and the node
    # announced again (as when the boot's start and a plug meet); a second
    # into the last told plug's wait for the answer, a stop, the node's add
    # event run again (late, as a busy router's hotplug queue runs it), and disabled.
    act='[ -n "$seen" ] || ! tool_runs || { seen=1; echo "@@ instance $(ls -iL "$device" | awk "{ print \$1 }") $('"$service"')"
             announce; }
         [ "$verdicts" -lt 2 ] || [ -n "$acted" ] || ! tool_runs || { acted=$(uptime_s)
             sleep 3
             /etc/init.d/modem-dialmode stop 2>&1
             ACTION=add SUBSYSTEM=tty DEVNAME=${device#/dev/} /sbin/hotplug-call tty
             for _ in $(seq 25); do [ "$('"$service"')" = "{}" ] && break; sleep 0.2; done
             echo "@@ stop $({ tool_runs && echo tool; '"$service"'; } 2>&1)"
             /etc/init.d/modem-dialmode disable; }'
    # Plugged in late, then twice more, the first cut off as the tool talks and
    # back once ModemManager has let go of the other ports; once disabled, again.
    again="delay 100; $ok; cue; hangup; cue; plug; await"
    script="absent; cue; plug; await; $again; delay 500; hangup; cue; plug; await; $again; cue; hangup; cue; plug"
    plan='late accepted1 gone gone accepted2 gone acted gone'
    case $case in
    procd-files)
        tar -xzOf "$packages"/*.ipk ./data.tar.gz | tar -xz -C "$root"
        ln -s ../init.d/modem-dialmode "$root/etc/rc.d/S99modem-dialmode"
        rm "$root"/etc/rc.d/S*{dbus,modemmanager}
        sed -i "s/option retry .*/option retry '5'/" "$root/etc/config/modem-dialmode"
        prelude=:
        # 3 s into the refusal's retry wait, the modem resets.
        script=${script/plug; await;/plug; await; send \"\\r\\nERROR\\r\\n\"; cue; hangup; cue; plug; await;}
        plan="late refused+3 gone ${plan#late }" ;;
    procd-opkg) prelude='echo "@@ install $(opkg install /pkg/*.ipk 2>&1 | tr "\n" ";")"' epilogue='opkg remove' ;;
    procd-apk) prelude='echo "@@ install $(apk add --allow-untrusted --force-non-repository --initdb /pkg/*.apk 2>&1 | tr "\n" ";")"'
        epilogue='apk del' ;;
    esac
    # ModemManager's modem of the last plug; removed again, enabled: the
    # package's own script disables it.
    [[ $epilogue == : ]] || epilogue="echo \"@@ modem \$(modem)\"; /etc/init.d/modem-dialmode enable
        $epilogue modem-dialmode >/dev/null; echo \"@@ removed \$(ls /etc/rc.d /etc/init.d /usr/bin | grep -c modem-dialmode)\""
    prelude="start=\$(uptime_s); $prelude; echo \"@@ installed \$(awk \"BEGIN { print \$(uptime_s) - \$start }\")\""
    prelude+='; echo "@@ booted $(uptime_s) $(cat /proc/1/comm) $(pidof ubusd logd | wc -w)"'
elif [[ $case == systemd || $case == dpkg ]]; then
    image=$4/debian/root.img debs=(${MODEM_DIALMODE_DEB:-}) kdeb=$(echo "$cache"/debs/linux-image-*.deb)
    [[ $cpu != cortex-* ]] || image=$4/debian-arm64/root.img cues=/dev/ttyS0
    [[ -e $image && -f ${debs[0]:-} ]] || { echo "skipped: no Debian root at $image or no package '${debs[*]}'"; exit 77; }
    kernel=$(dpkg-deb -f "$kdeb" Package) && modules=lib/modules/${kernel#linux-image-}
    files=$root/files/etc/systemd/system
    mkdir -p "$root"/{newroot,$modules,files/etc/default} "$files"/{multi-user,sysinit}.target.wants
    # A busybox stage before systemd: the USB drivers (as if built in), the
    # virtio and ext4 modules (those the root's depmod names), the root
    # mounted (a snapshot), this case's files put into it. The package goes in with dpkg -i before udev starts, as if
    # installed on an earlier boot; the probe runs once multi-user is reached.
    debugfs -R "dump /$modules/modules.dep $root/$modules/modules.dep" "$image" 2>/dev/null
    dpkg-deb --fsys-tarfile "$kdeb" | tar -x -C "$root" $(grep -E '/(virtio_pci|virtio_blk|crc32c_generic|ext4)\.ko:' \
        "$root/$modules/modules.dep" | tr -d : | tr ' ' '\n' | sort -u | sed "s|^|./$modules/|")
    { guest_start; guest_usb_drivers "$device"; printf '%s\n' 'modprobe -a virtio_pci virtio_blk crc32c_generic ext4' \
        'until [ -b /dev/vda ]; do sleep 1; done' 'mount -t ext4 /dev/vda /newroot && cp -a /files/. /newroot/' \
        'umount /proc && mount -o move /dev /newroot/dev && exec switch_root /newroot /sbin/init'; } >"$root/init"
    cp "${debs[@]}" "$root/files/" && probe=$root/files/probe
    printf '%s\n' '[Unit]' DefaultDependencies=no Before=systemd-udevd.service '[Service]' Type=oneshot \
        "ExecStart=dpkg -i /${debs[0]##*/}" >"$files/install-package.service"
    printf '%s\n' '[Unit]' After=multi-user.target '[Service]' Type=exec 'ExecStart=/bin/sh /probe' \
        StandardOutput=tty StandardError=tty >"$files/probe.service"
    [[ $case == dpkg ]] || ln -s ../install-package.service "$files/sysinit.target.wants/"
    ln -s ../probe.service "$files/multi-user.target.wants/"
    # The refusal's retry is far off, so that the boot is done while the first
    # plug's run still goes on (with Type=oneshot it would wait for the run).
    echo 'MODEM_DIALMODE_RETRY=30' >"$root/files/etc/default/modem-dialmode"
    qemu_more=(-drive file="$image",if=virtio,format=raw,snapshot=on)
    unit=modem-dialmode@${device##*/}
    log='journalctl -t modem-dialmode -o cat | sed "s/^/modem-dialmode: /"'
    prelude='systemctl is-system-running --wait >/dev/null
        echo "@@ booted $(uptime_s) $(cat /proc/1/comm) $(systemctl is-active '"$unit"')"'
    prelude+='; echo "@@ install $(dpkg-query -W -f "\${Status}" modem-dialmode)"'
    prelude+='; echo "@@ startup $(systemd-analyze time | head -n 1)"'
    # Masked, as the kit's README says to turn it off: the last plug is not
    # told. Then the package removed; no unit may have failed, not even one
    # that the next plug started anew.
    act='[ "$verdicts" -lt 3 ] || [ -n "$acted" ] || { systemctl mask '"$unit"' 2>/dev/null; acted=1; }'
    epilogue="echo \"@@ unit \$(systemctl is-active $unit) \$(systemctl is-enabled $unit)\"; echo \"@@ modem \$(modem)\"
        failed() { echo \$(systemctl list-units --all --failed --plain --no-legend) \$(systemctl is-system-running); }
        echo \"@@ failed \$(journalctl -b -o cat -u 'modem-dialmode@*' | grep 'Failed with') \$(failed) / \$(dpkg -r modem-dialmode >/dev/null; failed)\""
    # There at power-on, refusing at first; the second plug cut off, and back
    # once ModemManager has let go of the other ports.
    again="cue; hangup; cue; plug; await"
    script="await; await; delay 100; $ok; $again; delay 500; hangup; cue; plug; await; delay 100; $ok"
    script+="; $again; delay 100; $ok; cue; hangup; cue; plug"
    plan='accepted1 gone gone accepted2 gone acted gone'
    if [[ $case == dpkg ]]; then
        install='s=$(uptime_s); dpkg -i "/$1" >/dev/null; echo "@@ installed $s $(dpkg-query -W -f "\${Status} \${Architecture}" modem-dialmode)"'
        prelude+="; install() { $install; }; modem >/dev/null; cue install; install ${debs[0]##*/}"
        act='[ "$verdicts" -lt 2 ] || [ -n "$acted" ] || { acted=1; dpkg -r modem-dialmode >/dev/null; dpkg --add-architecture armhf
             install '"${debs[1]##*/}"'; }'
        epilogue="echo \"@@ modem \$(modem)\""
        script="cue; forget; await; delay 100; $ok; $again; delay 100; $ok; await; delay 100; $ok; $again; delay 100; $ok"
        plan='accepted1 gone accepted3 gone' finished='[ "$verdicts" -ge 4 ] && [ "$cued" -le $(($(now) - 12)) ]'
    fi
else
mkdir -p "$root"/{etc/init.d,etc/default,usr/sbin,var/run,var/log,sys}
install -m 755 "$kit/common/modem-dialmode-plugged" "$root/usr/sbin/"
install -m 755 "$kit/buildroot/package/modem-dialmode/S50modem-dialmode" "$root/etc/init.d/"
echo "DEVICE=\"$device\"" >"$root/etc/default/modem-dialmode"
case $case in
mdev)
    # The refusal's retry is far off, to tell it from the new plug's run
    # even on a host so busy that the guest runs at a tenth of its speed;
    # the new plug ends the wait, so it costs nothing.
    echo 'MODEM_DIALMODE_RETRY=120' >>"$root/etc/default/modem-dialmode"
    printf '#!/bin/sh\nsyslogd\n' >"$root/etc/init.d/S01syslogd"
    # As Buildroot's S10mdev starts it.
    printf '#!/bin/sh\nstart-stop-daemon -S -b -m -p /var/run/mdev.pid -x /sbin/mdev -- -df\n' \
        >"$root/etc/init.d/S10mdev"
    log='grep modem-dialmode /var/log/messages'
    # 3 s into the unplug in the retry wait: the runs left. Once the new plug
    # is told: a restart, with the modem there, and init's child watchers then.
    act='[ "$node" = present ] || [ -z "$plugs" ] || [ -n "$unplugged" ] || [ "$changed" -gt $(($(cut -d . -f 1 /proc/uptime) - 3)) ] ||
            { unplugged=1; echo "@@ unplugged $(ps | grep -c "[m]odem-dialmode-plugged /dev")"; }
         [ "$verdicts" -lt 1 ] || [ -n "$acted" ] || { acted=1
            echo "@@ restart $(/etc/init.d/S50modem-dialmode restart 2>&1 | tr "\n" ";")" \
                "watchers $(for p in /proc/[0-9]*; do [ "$(cut -d " " -f 4 "$p/stat" 2>/dev/null)" = 1 ] &&
                    tr "\0" " " <"$p/cmdline" 2>/dev/null | grep -q "[m]odem-dialmode-plugged -w" && echo; done | wc -l)"; }'
    finished='[ "$verdicts" -ge 2 ]'
    # Unplugged 4 s into the retry wait. The restart's run is cut off half a
    # second after its command.
    script="absent; cue; plug; await; delay 100; send \"\r\nERROR\r\n\"; cue; hangup; cue
            plug; await; delay 100; $ok; await; delay 500; hangup; cue; plug; await; delay 100; $ok"
    plan='late refused+4 gone gone' ;;
bare)
    log='dmesg'
    # The node announced again during the first run. After it, the modem's
    # other port announced, and the listener killed: neither may tell the
    # modem again. After the second plug, the watcher killed outright, and
    # 3 s into the next plug, which nothing may tell, a start; a stop during
    # its run. The modem stays 6 s after the first of these, so that a
    # listener that tells its plug again, or takes another port's event, is caught.
    act='[ -n "$seen" ] || ! tool_runs || { seen=1; announce; }
         [ "$verdicts" -lt 1 ] || [ -n "$deaf" ] || { deaf=$(uptime_s)
            for p in /sys/class/tty/ttyACM*; do [ "/dev/${p##*/}" = "$(readlink -f "$device")" ] || { echo add >"$p/uevent"; break; }; done
            sleep 1; kill $(pidof uevent); }
         [ "$verdicts" -lt 2 ] || [ -n "$killed" ] || { killed=$(cut -d . -f 1 /proc/uptime)
            kill -9 "$(cat /var/run/modem-dialmode.pid)"; }
         [ -n "$killed" ] && [ -z "$started" ] && [ "$node" = present ] && [ "$changed" -gt "$killed" ] &&
            [ "$changed" -lt $(($(cut -d . -f 1 /proc/uptime) - 3)) ] && { started=1
            echo "@@ start $(/etc/init.d/S50modem-dialmode start 2>&1)"; }
         [ -n "$started" ] && [ -z "$acted" ] && tool_runs && { acted=$(uptime_s)
            echo "@@ listeners $(pidof uevent | wc -w)"
            sleep 3
            echo "@@ stop $({ /etc/init.d/S50modem-dialmode stop 2>&1; pidof modem-dialmode uevent
                             ps | grep "[m]odem-dialmode-plugged"; ls /var/run | grep modem-dialmode; } | tr "\n" ";")"; }'
    script="absent; cue; plug; await; delay 100; $ok; cue; hangup; cue
            plug; await; delay 100; $ok; cue; hangup; cue; plug; await; cue; hangup; cue; plug"
    plan='late deaf+6 gone killed+4 gone acted gone' ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac
# The kernel's USB drivers as a router has them, before init.
{
    guest_start
    echo 'mount -t sysfs sysfs /sys'
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
chmod +x "$root"/etc/init.d/*
fi

# Runs once rcS is done: starts the kit a second time, as a careless script
# might, then notes when the node comes and goes and when each verdict is
# logged, acts as the case says and cues the modem, until it is done (or 300
# s pass).
cat >"$probe" <<PROBE
device=$device plan='$plan' cues=${cues:-/dev/ttyS1}
log() { $log; }
act() { $act; }
finished() { $finished; }
PROBE
cat >>"$probe" <<'PROBE'
uptime_s() { cut -d ' ' -f 1 /proc/uptime; }
now() { cut -d . -f 1 /proc/uptime; }
# The node announced again, as udevadm trigger does.
announce() { n=$(readlink -f "$device") && echo add >"/sys/class/tty/${n##*/}/uevent"; }
# ready CUE: whether the guest is ready for the modem's next step: the kit's
# own attempts over; N acceptances; the node gone 3 s and no ttyACM node held
# (which keeps its number), or a minute; N s after MARK; MARK set.
ready() {
    case $1 in
    late) [ "$(now)" -ge $((since + 21)) ] ;;
    accepted*) [ "$verdicts" -ge "${1#accepted}" ] ;;
    gone) [ "$node" = absent ] && [ "$changed" -ge "$cued" ] && [ "$(now)" -ge $((changed + 3)) ] &&
        { ! ls -l /proc/[0-9]*/fd 2>/dev/null | grep -q /dev/ttyACM || [ "$(now)" -ge $((changed + 60)) ]; } ;;
    *+*) eval "mark=\${${1%+*}}" && [ -n "$mark" ] && [ "$(now)" -ge $((${mark%.*} + ${1#*+})) ] ;;
    *) eval "[ -n \"\$$1\" ]" ;;
    esac
}
cue() { cued=$(now); echo "@@ cue $1 $(uptime_s)"; echo "$1" >"$cues"; }
# The ports of the modem ModemManager made of the last plug, once it has.
modem() { for _ in $(seq 120); do mmcli -m any 2>/dev/null | sed -n 's/.* ports: //p' | grep . && return; sleep 1; done; }
# The tool, not an init script of its name.
tool_runs() { for p in $(pidof modem-dialmode); do [ "$(readlink "/proc/$p/exe")" = /usr/bin/modem-dialmode ] && return; done; false; }
PROBE
echo "$prelude" >>"$probe"
cat >>"$probe" <<'PROBE'
node=absent verdicts=0 plugs= acted= seen= refused= changed=0 cued=0 since=$(now) end=$(($(now) + 300))
while ! finished && [ "$(cut -d . -f 1 /proc/uptime)" -lt "$end" ]; do
    now=absent
    [ -c "$device" ] && now=present
    [ "$now" = "$node" ] || { node=$now; plugs="$plugs $now@$(uptime_s)"; changed=$(cut -d . -f 1 /proc/uptime); }
    v=$(log | grep -c 'modem-dialmode: modem accepted')
    [ "${v:-0}" -gt "$verdicts" ] && { verdicts=$v; echo "@@ verdict$v $(uptime_s)"; }
    [ -n "$refused" ] || ! log | grep -q 'modem-dialmode: modem did not accept' || refused=$(now)
    act
    next=${plan%% *}
    [ -z "$plan" ] || ! ready "$next" || { cue "$next"; plan=${plan#"$next"}; plan=${plan# }; }
    sleep 0.2
done
[ -z "$plan" ] || echo "@@ ran out waiting to cue: $plan"
echo "@@ node $plugs"
echo "@@ log $(log | sed -n 's/.*modem-dialmode: //p' | tr '\n' ';')"
PROBE
printf '%s\n' "$epilogue" 'reboot -f' >>"$probe"

qemu_modem=(-chardev socket,id=modem,path="$work/usb.sock" -device usb-redir,chardev=modem)
# A busy host can slow a guest tenfold: systemd's boot alone then takes two
# minutes, and the probe gives the case 300 s after it.
boot_limit=420
malta_boot "$cpu" "$sim" --usb "$work/usb.sock" --script "$script"

check_boot "$cpu"
events=$(sed -n 's/^event [0-9]* //p' "$work/record" | grep -v '^state' | tr '\n' ';')
echo "what the modem saw over USB: $events"
echo "in the guest, s after its boot: rcS from $(fact rcs_start) to $(fact rcs_done) (procd or systemd:" \
     "$(fact booted); $(fact startup)); package installed in $(fact installed) s; the node:$(fact node);" \
     "verdicts logged at $(fact verdict1), $(fact verdict2) and $(fact verdict3)"
# From each new node (the driver sets the line's coding as it makes it) to
# the tool's open (which raises DTR and RTS), and to its command, in ms.
plug_times=$(awk '$3 == "plugged" { fresh = 1 } $3 == "line" && fresh { node = $2; fresh = 0 }
                  $3 == "lines" && $4 == "dtr" && node && !open { open = $2 }
                  $3 == "data" && node { printf "%d %d;", open - node, $2 - node; node = 0; open = 0 }' "$work/record")
echo "per plug, ms from the node to the tool's open and to its command: $plug_times"
booted=$(fact rcs_done)
if [[ $case == procd-* ]]; then
    booted=$(fact booted | cut -d ' ' -f 1)
    check "procd is PID 1, with ubusd and logd" "$(fact booted)" ' procd 2$'
elif [[ $case == systemd || $case == dpkg ]]; then
    booted=$(fact booted | cut -d ' ' -f 1) run=active; [[ $case == systemd ]] || run=inactive # no package yet
    check "systemd is PID 1, the boot done while the first run goes on" "$(fact booted)" " systemd $run\$"
else
    check "the second start refused while the first runs" "$(fact second_start)" '^[1-9]'
    # A busy host slows the guest's own boot a lot, but rcS only starts things.
    check_within "seconds rcS took, less than one run of the tool" 0 7 \
        "$(awk "BEGIN { print $(fact rcs_done) - $(fact rcs_start) }")"
fi
first=no
in_range 0 "$(fact verdict1)" "$booted" && first=yes
check "the boot done before the first verdict" "$first" '^yes$'
commands=$(grep -o -E '(un)?plugged|data [0-9]+' <<<"$events" | tr '\n' ';')
mm_ports='^(ttyACM[01] \(at\), ){1,2}ttyACM2 \(ignored\)$' # one may fail its probe on a starved guest
accepted='modem accepted dial mode 0;' twice=''
case $case in
systemd)
    check "dpkg installed the package" "$(fact install)" '^install ok installed$'
    check "the command once per plug, then none once masked" "$commands" \
        '^plugged;data 15;data 15;unplugged;plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;$'
    check "the journal: the refusal asked again as configured, one acceptance per plug" "$(fact log)" \
        "^modem did not accept dial mode 0; trying again in 30 s;$accepted$accepted$accepted\$"
    check "the unit inactive and masked afterwards" "$(fact unit)" '^inactive masked$'
    check "ModemManager's modem of the other ports, the kit's left alone" "$(fact modem)" "$mm_ports"
    check "no unit failed, before the package is removed and after" "$(fact failed)" '^running / running$' ;;
dpkg)
    installs=$(sed -n 's/^@@ installed //p' "$work/console.log" | tr -d '\r')
    check "dpkg installed the arm64 package, then the armhf one" "$(cut -d ' ' -f 2- <<<"$installs" | tr '\n' ';')" \
        '^install ok installed arm64;install ok installed armhf;$'
    check "from the first install: the command at each install and once per plug" \
        "$(grep -o -E '(un)?plugged|data [0-9]+' <<<"${events#*;cue;}" | tr '\n' ';')" '^data 15;unplugged;plugged;data 15;data 15;unplugged;plugged;data 15;$'
    check "the journal: one acceptance each" "$(fact log)" "^$accepted$accepted$accepted$accepted\$"
    for n in 1 2; do
        check_within "seconds from install $n to its verdict, told at once" 0 30 \
            "$(awk "BEGIN { print $(fact verdict$((2 * n - 1))) - $(sed -n "${n}p" <<<"$installs" | cut -d ' ' -f 1) }")"
    done
    check "ModemManager's modem of the other ports, the kit's left alone" "$(fact modem)" "$mm_ports" ;;
procd-files) retry=5 refused="modem did not accept dial mode 0; trying again in 5 s;" reset='data 15;unplugged;plugged;' ;&
procd-*)
    case $case in
    procd-opkg) check "opkg installs the package" "$(fact install)" 'Configuring modem-dialmode' ;;
    procd-apk) check "apk installs the package" "$(fact install)" 'Installing modem-dialmode \(0' ;;
    esac
    check "the command once per plug, none once disabled" "$commands" \
        "^plugged;${reset:-}data 15;unplugged;plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;\$"
    check "logread: one acceptance per plug" "$(fact log)" "^${refused:-}$accepted$accepted\$"
    plug=$(fact instance | cut -d ' ' -f 1)
    check "procd's instance: the helper for the node and its plug, its settings, no respawn" "$(fact instance)" \
        "\"command\":\[\"/usr/sbin/modem-dialmode-plugged\",\"$(literal "$device")\",\"${plug:-none}\"\],\"term_timeout\":5,\"env\":\{\"MODEM_DIALMODE_RETRY\":\"${retry:-10}\",\"MODEM_DIALMODE_TRIES\":\"5\"\}\}\}\}\}\$"
    check "the stop ends the run and the instance" "$(fact stop)" '^\{\}$'
    [[ $case == procd-files ]] || check "ModemManager's modem, the port left alone" "$(fact modem)" "$mm_ports"
    [[ $case == procd-files ]] || check "removed: its files gone, the service disabled" "$(fact removed)" '^0$' ;;
mdev)
    check "the command once per plug, and once after the restart" "$commands" \
        '^plugged;data 15;unplugged;plugged;data 15;data 15;unplugged;plugged;data 15;$'
    check "the log: the refusal, then one acceptance per told plug" "$(fact log)" \
        "^modem did not accept dial mode 0; trying again in 120 s;$accepted$accepted\$"
    check "no run left once its node went in the retry wait" "$(fact unplugged)" '^0$'
    check_within "seconds from the new plug's node to its command, not the retry wait" 0 60 \
        "$(cut -d ';' -f 2 <<<"$plug_times" | awk '{ print $2 / 1000 }')"
    check "the restart, and one watcher after it" "$(fact restart)" \
        '^Stopping modem-dialmode: OK;Starting modem-dialmode: OK; watchers 1$' ;;
bare)
    check "the command once per plug, none after the stop" "$commands" \
        '^plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;data 15;unplugged;plugged;$'
    check "the kernel's log: the acceptances, the listener heard again" "$(fact log)" \
        "^${accepted}the kernel's device events stopped coming: listening again for $(literal "$device");$accepted\$"
    check "a start after the watcher was killed outright, and one listener then" "$(fact start) $(fact listeners)" \
        '^Starting modem-dialmode: OK 1$'
    check_within "seconds from that plug's node to its command: the start's, 3 s in" 3 60 \
        "$(cut -d ';' -f 3 <<<"$plug_times" | awk '{ print $2 / 1000 }')"
    check "the stop, and no tool, helper, listener, lock or pidfile left" "$(fact stop)" '^Stopping modem-dialmode: OK;$' ;;
esac
malta_verdict
