#!/usr/bin/env bash
# Plants plausible slips in src/, one at a time, and reports for each which
# tests caught it: a test earns its place by failing when the slip it guards
# against is there. Builds in build-faults/ (a copy of the test build's
# options) and restores src/ after every slip, also when interrupted.
#   scripts/plant-faults.sh [CTEST_ARGS...]   (default: -LE target, the host suite;
#   the target cases run the cross-built binaries, which no slip here reaches)
#   scripts/plant-faults.sh --target [CTEST_ARGS...]
#                                   only the slips that need a real driver to
#                                   show, planted in static cross builds of
#                                   their own too (default: -R target_usb, the
#                                   boots through the kernel's cdc-acm)
#   scripts/plant-faults.sh --kit [CTEST_ARGS...]
#                                   slips in the router kit's start-up scripts
#                                   (packaging/, and the install rules in
#                                   CMakeLists.txt), against the test build
#                                   that scripts/test.sh left (default: its
#                                   host and Malta cases of the start-up, and
#                                   the OpenWrt and Buildroot kits' checks)
# PLANT_ONLY=REGEX plants only the slips whose description it matches.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
target=no dir=src
[[ ${1:-} == --target ]] && { target=yes; shift; }
[[ ${1:-} == --kit ]] && { target=kit dir=packaging; shift; }
build=build-faults
ctest_args=("$@")
if [[ $target == yes ]]; then
    build=build-faults-target
    (($#)) || ctest_args=(-R target_usb)
elif [[ $target == kit ]]; then
    build=${BUILD_DIR:-build-test}
    (($#)) || ctest_args=(-R 'recipe_judges_the_output|target_startup|kit_openwrt|kit_buildroot')
else
    (($#)) || ctest_args=(-LE target)
fi
# Slips that a pseudo-terminal cannot show: the line's data bits and modem
# lines, and the open on a line without carrier.
target_slips='^(7 data bits|DTR and RTS dropped|TIOCMSET removed|only DTR raised|O_NONBLOCK dropped|O_NOCTTY dropped|CLOCAL not set)$'

# FILE#WHAT#FIND#REPLACE: a slip is one literal replacement in FILE; {NL}
# stands for a line break.
slips=(
    'modem_port.cpp#O_NOCTTY dropped#O_RDWR | O_NOCTTY | O_NONBLOCK#O_RDWR | O_NONBLOCK'
    'modem_port.cpp#O_NONBLOCK dropped#O_RDWR | O_NOCTTY | O_NONBLOCK#O_RDWR | O_NOCTTY'
    'modem_port.cpp#19 open attempts#open_attempts = 20#open_attempts = 19'
    'modem_port.cpp#retry wait 0.1 s#open_retry_wait_us = 1000000#open_retry_wait_us = 100000'
    'modem_port.cpp#descriptor 0 accepted#if (port_fd > 0)#if (port_fd >= 0)'
    'modem_port.cpp#port left on descriptor 1#if (port_fd == STDOUT_FILENO) {#if (false) {'
    'modem_port.cpp#exit status 1#exit(-1)#exit(1)'
    'modem_port.cpp#blocking mode not set#fcntl(port_fd, F_SETFL, O_RDWR);#'
    'modem_port.cpp#cfmakeraw dropped#cfmakeraw(&port_settings);#'
    'modem_port.cpp#input speed not set#cfsetispeed(&port_settings, port_speed);#'
    'modem_port.cpp#output speed not set#cfsetospeed(&port_settings, port_speed);#'
    'modem_port.cpp#7 data bits#CS8 | CREAD#CS7 | CREAD'
    'modem_port.cpp#CLOCAL not set#CS8 | CREAD | CLOCAL#CS8 | CREAD'
    'modem_port.cpp#CREAD not set#CS8 | CREAD | CLOCAL#CS8 | CLOCAL'
    'modem_port.cpp#CSTOPB not cleared#CSIZE | CSTOPB | PARENB#CSIZE | PARENB'
    'modem_port.cpp#TCSAFLUSH#TCSANOW#TCSAFLUSH'
    'modem_port.cpp#only DTR raised#TIOCM_DTR | TIOCM_RTS#TIOCM_DTR'
    'modem_port.cpp#DTR and RTS dropped#modem_lines |= TIOCM_DTR | TIOCM_RTS#modem_lines &= ~(TIOCM_DTR | TIOCM_RTS)'
    'modem_port.cpp#TIOCMSET removed#ioctl(port_fd, TIOCMSET, &modem_lines);#'
    'modem_port.cpp#settle 1 s#settle_wait_us = 2000000#settle_wait_us = 1000000'
    'line_rates.h#fallback B115200#fallback_rate = LINE_RATE(230400)#fallback_rate = LINE_RATE(115200)'
    'line_rates.h#9600 row dropped#LINE_RATE(9600),#'
    'modem_port.cpp#fallback unused#return fallback_rate.code;#return B115200;'
    'modem_port.cpp#port not closed#return close(port_fd);#return 0;'
    'at_exchange.cpp#read of 4096#chunk_max = reply_buf_size - 1#chunk_max = reply_buf_size'
    'at_exchange.cpp#answer wait 3 s#answer_wait_us = 4000000#answer_wait_us = 3000000'
    'at_exchange.cpp#wait after read 0.5 s#after_read_wait_us = 1000000#after_read_wait_us = 500000'
    'at_exchange.cpp#read bound 1 s#read_bound_ms = 10000#read_bound_ms = 1000'
    'at_exchange.cpp#read bound 10 ms#read_bound_ms = 10000#read_bound_ms = 10'
    'at_exchange.cpp#no read bound#read_bound_ms = 10000#read_bound_ms = -1'
    'at_exchange.cpp#listing cut after 63#listing_chunks_max = 64#listing_chunks_max = 63'
    'at_exchange.cpp#marker in later chunks#            listing_active = 0;#            listing_active = strstr(reply_buf, listing_marker) != nullptr;'
    'at_exchange.cpp#full chunk by >= 4094#if (strlen(reply_buf) == chunk_max)#if (strlen(reply_buf) >= chunk_max - 1)'
    'at_exchange.cpp#full chunk not printed#            puts(reply_buf);#            ;'
    'at_exchange.cpp#marker not looked for#if (strstr(reply_buf, listing_marker))#if (false)'
    'at_exchange.cpp#verdict inverted#strstr(reply_buf, expected) ? reply_buf : failure_word#strstr(reply_buf, expected) ? failure_word : reply_buf'
    'at_exchange.cpp#buffer not cleared at the end#    memset(reply_buf, 0, sizeof reply_buf);{NL}}#}'
    'at_exchange.cpp#buffer not cleared per chunk#        memset(reply_buf, 0, sizeof reply_buf);{NL}        if (chunks#        if (chunks'
    'at_exchange.cpp#command without its line feed#strlen(command));#strlen(command) - 1);'
    'at_exchange.cpp#command written twice#    (void)!write(port_fd, command, strlen(command));#    (void)!write(port_fd, command, strlen(command));{NL}    (void)!write(port_fd, command, strlen(command));'
    'run.cpp#SIGPIPE not ignored#    signal(SIGPIPE, SIG_IGN);#'
    'run.cpp#lost verdict not reported#if (fflush(stdout) != 0 || ferror(stdout))#if (false)'
    'run.cpp#earlier write errors missed#fflush(stdout) != 0 || ferror(stdout)#fflush(stdout) != 0'
    'run.cpp#command without its carriage return#AT+DIALMODE=0\r\n#AT+DIALMODE=0\n'
    'run.cpp#expected text in small letters#at_expected = "OK"#at_expected = "ok"'
    'run.cpp#57600 baud#line_rate = 115200#line_rate = 57600'
    'run.cpp#status 1#    return 0;{NL}}#    return 1;{NL}}'
)
helper=common/modem-dialmode-plugged init=buildroot/package/modem-dialmode/S50modem-dialmode
openwrt=openwrt/modem-dialmode
kit_slips=(
    "$helper#the tool's status ignored#if [ \"\$status\" -eq 0 ] && out#if out"
    "$helper#a stopped run leaves its tool#	if [ -n \"\$child\" ]; then{NL}		kill \"\$child\" 2>/dev/null{NL}		wait \"\$child\"{NL}	fi{NL}#"
    "$helper#a stopped run exits 143#	trap - EXIT \"\$1\"{NL}	kill \"-\$1\" \$\$#	exit 143"
    "$helper#a stopped watcher leaves its run#[ \"\$holder\" = \"\$ended\" ] || kill \"\$holder\" 2>/dev/null#:"
    "$helper#a gone node's run gives a verdict#	[ -z \"\$plug\" ] || [ \"\$(plug_of \"\$1\")\" = \"\$plug\" ] || return 1{NL}		if#		if"
    "$helper#a run outlives its node#|| kill \"\$holder\" 2>/dev/null{NL}	return 0#|| :{NL}	return 0"
    "$helper#a killed run's lock removed whole#rm -rf \"\${lock:?}/\$holder\"#rm -rf \"\$lock\""
    "$helper#no run takes over#elif [ \"\$held\" = \"\$plug\" ]; then#elif true; then"
    "$helper#a run for the same node takes over#elif [ \"\$held\" = \"\$plug\" ]; then#elif false; then"
    "$helper#a plug heard of twice said to be served#[ -z \"\$2\" ] || exit 0#"
    "$helper#verdicts for syslog only#	elif ! {#	elif false && ! {"
    "$helper#a stopped syslogd taken for one#[ -S /dev/log ] || return 1#[ -S /dev/log ] && return 0"
    "$helper#an unusable lock folder not named#if ! error=#if false && ! error="
    "$helper#no look once the listener hears#	[ \"\$(plug_of \"\$1\")\" = \"\$2\" ] || spawn \"\$1\"{NL}#"
    "$helper#a listener heard again tells its plug again#[ \"\$(plug_of \"\$1\")\" = \"\$2\" ] || spawn#spawn"
    "$helper#a dead listener ends the watching#			sleep 1{NL}		done#			exit 1{NL}		done"
    "$helper#a killed watcher's listener acts#if [ \"\$(parent_of \"\$PPID\")\" != \"\$2\" ]; then#if false; then"
    "$helper#events of other nodes taken#[ \"/dev/\${DEVNAME:-}\" = \"\$1\" ] ||#true ||"
    "$helper#retry wait in the foreground#sleep \"\$retry\" &{NL}		child=\$!{NL}		wait \"\$child\"#sleep \"\$retry\""
    "$helper#a stopped poll leaves its nap#		sleep 1{NL}	done{NL}}#		sleep 1 &{NL}		wait \$!{NL}	done{NL}}"
    "$init#stop signals a process group#	kill \"\$pid\"#	kill -TERM -- \"-\$pid\""
    "$init#stop does not wait#while running && #while false && "
    "$init#stop keeps the pidfile#	rm -f \"\$PIDFILE\"{NL}	echo \"OK\"#	echo \"OK\""
    "$init#stop forgets the watcher#	kill \"\$pid\"#	rm -f \"\$PIDFILE\""
    "$openwrt/Makefile#the feed without the start-up files#	DESTDIR=\$(PKG_INSTALL_DIR) cmake --install \$(CMAKE_BINARY_DIR) --component openwrt{NL}#"
    "$openwrt/files/modem-dialmode.init#procd respawns the run#	procd_set_param stdout 1#	procd_set_param respawn{NL}	procd_set_param stdout 1"
    "$openwrt/files/modem-dialmode.init#the configuration not passed on#	procd_set_param env MODEM_DIALMODE_TRIES#	: procd_set_param env MODEM_DIALMODE_TRIES"
    "$openwrt/files/modem-dialmode.init#the plug not in procd's command#\"\$DEVICE\" \"\$told\"#\"\$DEVICE\""
    "$openwrt/files/modem-dialmode.init#a plug told again after a stop#	echo \"\$told\" >\"\$TOLD\"{NL}#"
    "$openwrt/files/modem-dialmode.hotplug#a disabled service restarted#/etc/init.d/modem-dialmode enabled || exit 0#"
    "$openwrt/files/modem-dialmode.hotplug#a served plug restarted#/etc/init.d/modem-dialmode plugged#/etc/init.d/modem-dialmode restart"
    "$openwrt/files/modem-dialmode.hotplug#a removed node ignored#	remove) exec /usr/sbin/modem-dialmode-plugged -r \"\$DEVICE\" ;;#	remove) exit 0 ;;"
    "common/78-mm-modem-dialmode.rules#no rule for ModemManager#SUBSYSTEM==\"tty\", KERNEL==\"@DEVICE_NAME@\", ENV{ID_MM_PORT_IGNORE}=\"1\"{NL}#"
    "common/78-mm-modem-dialmode.rules#a rule line ModemManager cannot parse#\"1\"{NL}#\"1\"{NL}SUBSYSTEM==\"tty\", TAG+=\"modem-dialmode\"{NL}"
    "buildroot/package/modem-dialmode/modem-dialmode.mk#an image with systemd gets no start-up#--component systemd#--component none"
    "../CMakeLists.txt#the rule misnamed for ModemManager#DESTINATION /lib/udev/rules.d{NL}#DESTINATION /lib/udev/rules.d RENAME 78-modem-dialmode.rules{NL}"
)
[[ $target == kit ]] && slips=("${kit_slips[@]}")

saved=$(mktemp -d)
cp -r "$dir/." "$saved/"
# The kit's install rules are the build's: they are planted in too.
[[ $target != kit ]] || cp CMakeLists.txt "$saved.cmake"
trap 'cp -r "$saved/." "$dir/"; [[ ! -f $saved.cmake ]] || mv "$saved.cmake" CMakeLists.txt; rm -rf "$saved"' EXIT
cross=()
if [[ $target == yes ]]; then
    cross=(build-faults-mipsel-static build-faults-mipsel-musl)
    [[ -f ${cross[0]}/CMakeCache.txt ]] || cmake -S . -B "${cross[0]}" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake -DMODEM_DIALMODE_STATIC=ON >/dev/null
    [[ -f ${cross[1]}/CMakeCache.txt ]] || cmake -S . -B "${cross[1]}" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-musl.cmake \
        -DMODEM_DIALMODE_MUSL_LIBDIR="$PWD/build-musl-mipsel/lib" >/dev/null
    [[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=ON \
        -DMODEM_DIALMODE_TARGET_STATIC_TOOL="$PWD/${cross[0]}/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_MUSL_TOOL="$PWD/${cross[1]}/modem-dialmode" >/dev/null
elif [[ $target == kit ]]; then
    [[ -f $build/CMakeCache.txt ]] || { echo "no test build in $build: run scripts/test.sh first" >&2; exit 1; }
    # The systemd boot installs the cross build's .deb, which holds the helper.
    deb_build=build-mipsel
elif [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_WERROR=ON -DBUILD_TESTING=ON \
        -DMODEM_DIALMODE_TARGET_TOOL="$PWD/build-mipsel/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_STATIC_TOOL="$PWD/build-mipsel-static/modem-dialmode" >/dev/null
fi
build_all() {
    local dir
    cmake --build "$build" || return 1
    for dir in "${cross[@]}"; do cmake --build "$dir" --target modem-dialmode || return 1; done
    # Built first, so that the files it configures (the udev rules) take the slip too.
    [[ -z ${deb_build:-} ]] || { cmake --build "$deb_build" &&
        cpack --config "$deb_build/CPackConfig.cmake" -B "$deb_build/packages"; }
}
build_all >/dev/null
run_suite "$build" "${ctest_args[@]}" >/dev/null || {
    echo "the suite fails without any slip planted" >&2
    exit 1
}

echo "| slip | file | caught by |"
echo "|---|---|---|"
for slip in "${slips[@]}"; do
    IFS='#' read -r file what find replace <<<"$slip"
    [[ $target != yes || $what =~ $target_slips ]] || continue
    [[ $what =~ ${PLANT_ONLY:-.} ]] || continue
    cp -r "$saved/." "$dir/"  # a fresh mtime, so that the build sees the change
    [[ ! -f $saved.cmake ]] || cp "$saved.cmake" CMakeLists.txt
    FIND=$find REPLACE=$replace perl -0pi -e '
        BEGIN { ($f, $r) = ($ENV{FIND}, $ENV{REPLACE}); s/\{NL\}/\n/g for $f, $r }
        $n += s/\Q$f\E/$r/; END { exit($n ? 0 : 3) }' "$dir/$file" ||
        { echo "| $what | $file | (not planted: text not found) |"; continue; }
    if ! build_all >/dev/null 2>&1; then
        echo "| $what | $file | the build |"
        continue
    fi
    failed=$(run_suite "$build" "${ctest_args[@]}" 2>&1 |
             sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' | paste -sd ' ' || true)
    echo "| $what | $file | ${failed:-NOTHING} |"
done
