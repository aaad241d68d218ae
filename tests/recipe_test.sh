#!/usr/bin/env bash
# Runs the README's recipe for checking the verdict in a script, and checks
# that the man page shows the same one, against modems that accept, refuse,
# are absent, or a run cut off half way: only the first may read as accepted.
# The router kits' start-up helper must judge them alike; then its retries,
# its hold on the node, its log, and the init script under ash, dash and bash.
#   recipe_test.sh SIM_MODEM TOOL README MAN_PAGE KIT DEVICE
set -euo pipefail
sim=$1 tool=$2 readme=$3 page=$4 kit=$5 device=$6
helper=$kit/common/modem-dialmode-plugged
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
# In PID and network (and, where allowed, user) namespaces of its own: nothing
# the kit starts outlives the test, nor hears the machine's device events.
if [[ -z ${RECIPE_TEST_INSIDE:-} ]]; then
    own=(--net --pid --fork --kill-child --mount-proc) && unshare -Ur "${own[@]}" true 2>/dev/null && own+=(-Ur)
    unshare "${own[@]}" true 2>/dev/null || { echo "skipped: no namespaces of its own here (needs root)"; exit 77; }
    RECIPE_TEST_INSIDE=1 exec unshare "${own[@]}" "$0" "$@"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The fenced block after the marker line, and the man page's example.
recipe=$(sed -n '/tests\/recipe_test.sh runs this block/,/^```$/p' "$readme" | sed '1,2d;$d')
check "the README has the recipe" "$recipe" 'modem-dialmode'
example=$(sed -n '/^\.nf$/,/^\.fi$/p' "$page" | sed '1d;$d')
check "the man page shows the same recipe" "$([[ $example == "$recipe" ]] && echo same || echo "$example")" '^same$'
printf '%s\n' "$recipe" >"$work/recipe.sh"

bb=$work/busybox
mkdir -p "$bb" "$work/plain" "$work/cut" "$work/polled"
busybox --install -s "$bb"
cp -P "$bb"/* "$work/polled/" && rm "$work/polled/uevent"
# The watcher without uevent naps in sleeps that say who they are.
rm "$work/polled/sleep" && printf '#!%s\necho $$ >>%s\nexec %s "$@"\n' "$bb/sh" "$work/naps" "$bb/sleep" \
    >"$work/polled/sleep" && chmod +x "$work/polled/sleep"
ln -s "$tool" "$work/plain/modem-dialmode"
# Some chunks into a listing: some of it is out, but no verdict.
printf '#!/bin/sh\nexec timeout 12.5 %q\n' "$tool" >"$work/cut/modem-dialmode"
chmod +x "$work/cut/modem-dialmode"
# LOG COMMAND...: COMMAND with a syslog daemon of its own in the simulated
# modem's /dev, writing to LOG.
cat >"$work/syslogged" <<'SH'
syslogd -n -O "$1" & shift
syslogd=$! && export syslogd
for _ in $(seq 50); do [ -S /dev/log ] && break; sleep 0.1; done
"$@"; sleep 0.3; kill $!
SH

# verdict NAME BIN SCRIPT [COMMAND...]: what COMMAND (the recipe) logs, with
# modem-dialmode from BIN and BusyBox's applets, and what the modem got.
# NAME.log holds the messages of the tag modem-dialmode in syslog and on
# standard error. BIN polled is plain without BusyBox's uevent. With own_net,
# a network namespace (a list of sockets) free of the other cases' syslogd.
verdict() {
    local name=$1 bin=$2 script=$3 applets=$bb
    shift 3
    (($#)) || set -- "$bb/sh" "$work/recipe.sh"
    [[ $bin == polled ]] && bin=plain applets=$work/polled
    mkdir -p "$work/locks/$name"
    PATH=$work/$bin:$applets:$PATH MODEM_DIALMODE_LOCK_DIR=${MODEM_DIALMODE_LOCK_DIR:-$work/locks/$name} \
        MODEM_DIALMODE_RETRY=0 ${own_net:+unshare --net} \
        "$sim" --record "$work/$name.record" --script "$script" -- "$bb/sh" "$work/syslogged" "$work/$name.syslog" \
        "$@" >"$work/$name.out" 2>&1 || true
    cat "$work/$name.syslog" "$work/$name.out" | sed -n 's/.*modem-dialmode: //p' >"$work/$name.log"
}
received() { sed -n 's/^received //p' "$work/$1.record"; }
logged() { tr '\n' '|' <"$work/$1.log"; }
ok='send "\r\nOK\r\n"'
refuse='await; send "\r\nERROR\r\n"'
judged_alike() { # $1: recipe or helper; the rest: how to run it
    local how=$1
    shift
    verdict "$how-accepts" plain "await; $ok" "$@" &
    verdict "$how-refuses" plain "$refuse" "$@" &
    verdict "$how-absent" plain 'absent' "$@" &
    verdict "$how-cut" cut "await; send \"AT+CFTPSLIST\r\n\"; listing $(printf '4095 %.0s' {1..8})" "$@" &
}
serve=("$bb/sh" "$helper" "$device")
lock=modem-dialmode$(tr / . <<<"$device").lock

# A modem that refuses twice before it answers is told three times; one that
# keeps refusing, as often as allowed. A second run for a node that is being
# told is refused; a run for a node that came after the first run started
# takes over from it. Of two runs that find a lock left by a killed run,
# one takes it over and tells the modem. A lock folder that cannot be used
# is named.
judged_alike recipe
MODEM_DIALMODE_TRIES=1 judged_alike helper "${serve[@]}"
MODEM_DIALMODE_TRIES=3 verdict retried plain "$refuse; $refuse; await; $ok" "${serve[@]}" &
MODEM_DIALMODE_TRIES=2 verdict gave-up plain "$refuse; $refuse" "${serve[@]}" &
twice='"$0" "$@" & sleep "$delay"; "$0" "$@"; wait'
delay=1 verdict held plain "await; delay 3000; $ok" "$bb/sh" -c "$twice" "${serve[@]}" &
delay=3.5 verdict newer plain "appear 3000; await; $ok" "$bb/sh" -c "$twice" "${serve[@]}" &
# The killed run's PID has gone to another process. The first run stalls (a
# loaded router) in its look at who that is, the helper's second tr, and
# acts on what it saw after the second has taken over.
sleep 600 & reused=$!
mkdir -p "$work/locks/stale/$lock/$reused" && echo 0 >"$work/locks/stale/$lock/$reused/plug"
mkdir "$work/stalled" && printf '#!/bin/sh\n[ ! -e "$0.seen" ] || sleep 0.5\n: >"$0.seen"\nexec %q "$@"\n' \
    "$bb/tr" >"$work/stalled/tr" && chmod +x "$work/stalled/tr"
stalled=$work/stalled verdict stale plain "await; $ok" \
    "$bb/sh" -c 'PATH=$stalled:$PATH "$0" "$@" & sleep 0.2; "$0" "$@"; wait' "${serve[@]}" &
MODEM_DIALMODE_LOCK_DIR=$work/none verdict unusable plain "await; $ok" "${serve[@]}" &
# Gone during the run, and no removal told: no verdict, and no retry.
MODEM_DIALMODE_TRIES=2 verdict vanished plain "await; hangup" "${serve[@]}" &
# A run while syslogd listens, and one after it stopped, leaving /dev/log.
own_net=1 verdict stale-log plain "await; $ok; await; $ok" \
    "$bb/sh" -c '"$0" "$@"; kill $syslogd; sleep 0.5; "$0" "$@"' "${serve[@]}" &
# The watcher without uevent, for a node that comes later; stopped, it must
# leave none of its naps.
verdict polled polled "appear 1500; await; $ok" "$bb/sh" -c '"$0" "$@" & sleep 15; kill $!; wait
    for nap in $(cat '"$work/naps"'); do [ -z "$(tr -d "\0" </proc/$nap/cmdline 2>/dev/null)" ] || echo "modem-dialmode: nap $nap left"; done' \
    "$bb/sh" "$helper" -w "$device" &

# The init script and the helper, each under SHELL with BusyBox's applets,
# with their paths moved into a folder of the shell's own: a start, a second
# one, a restart and a stop, each while the tool talks to the modem; then
# what is left of this root's tool and helper, its pidfile and its lock.
cat >"$work/init-script" <<'SH'
sh=$1 root=$2
PATH=$root/bin:$PATH
init() { "$sh" "$root/S50" "$1" 2>&1 | tr '\n' ';'; }
talking() { # until the tool has sent its command
    for _ in $(seq 100); do ls "$MODEM_DIALMODE_LOCK_DIR"/*/*/reply >/dev/null 2>&1 && break; sleep 0.1; done; sleep 2.5
}
printf '%s|' "$(init start)" "$(init start)" "$(talking; init restart)" "$(talking; init stop)"
for p in /proc/[0-9]*; do
    case "$(readlink "$p/exe") $(tr '\0' ' ' <"$p/cmdline")" in *"$root/"*) echo "${p#/proc/}" ;; esac
done 2>/dev/null
find "$root/run" "$MODEM_DIALMODE_LOCK_DIR" -mindepth 1
SH
for shell in "$bb/sh" /bin/dash /bin/bash; do
    root=$work/init-${shell##*/}
    mkdir -p "$root"/{sbin,bin,run,default}
    sed "1s|.*|#!$shell|" "$helper" >"$root/sbin/modem-dialmode-plugged" && chmod +x "$root"/sbin/*
    cp "$tool" "$root/bin/" && echo "DEVICE=$device" >"$root/default/modem-dialmode"
    sed "s|/var/run|$root/run|g; s|/usr/sbin|$root/sbin|g; s|/etc/default|$root/default|g" \
        "$kit/buildroot/package/modem-dialmode/S50modem-dialmode" >"$root/S50"
    verdict "${root##*/}" plain "await; delay 8000; await; delay 8000" "$shell" "$work/init-script" "$shell" "$root" &
done
wait $(jobs -p | grep -v -x $reused)
kill $reused

for how in recipe helper; do
    check "$how: a modem that answers OK" "$(logged "$how-accepts")" '^modem accepted dial mode 0\|$'
    check "$how: a modem that answers ERROR" "$(logged "$how-refuses")" '^modem did not accept dial mode 0\|$'
    check "$how: no modem at all" "$(logged "$how-absent")" '^modem did not accept dial mode 0\|$'
    check "$how: a listing cut off before its verdict" "$(logged "$how-cut")" '^modem did not accept dial mode 0\|$'
done
again="modem did not accept dial mode 0; trying again in 0 s"
check "refused twice, then accepted" "$(logged retried)" "^$again\|$again\|modem accepted dial mode 0\|\$"
check "told three times" "$(received retried)" '^45 '
check "refused as often as allowed" "$(logged gave-up)" "^$again\|modem did not accept dial mode 0\|\$"
check "a second run for the node being told" "$(logged held)" \
    "^$(literal "$device") is already served by PID [0-9]+\|modem accepted dial mode 0\|\$"
check "a run for a newer node takes over" "$(logged newer)" '^modem accepted dial mode 0\|$'
for name in held newer stale; do check "the modem told once ($name)" "$(received $name)" '^15 '; done
check "two runs on a killed run's lock" "$(logged stale)" \
    "^$(literal "$device") is already served by PID [0-9]+\|modem accepted dial mode 0\|\$"
check "the lock gone after the runs" "$(ls "$work/locks/stale")" '^$'
check "a lock folder that is missing" "$(logged unusable)" \
    "^cannot lock $(literal "$device") in $work/none: .*No such file or directory\|\$"
check "the modem told nothing then" "$(received unusable)" '^0 '
check "a node gone during its run" "$(logged vanished) $(received vanished)" '^ 15 '
check "the verdicts while syslogd listened, and once it had stopped" \
    "$(sed -n 's/.*modem-dialmode: //p' "$work/stale-log.syslog") / $(sed -n 's/^modem-dialmode: //p' "$work/stale-log.out")" \
    '^modem accepted dial mode 0 / modem accepted dial mode 0$'
check "the watcher without uevent, stopped" "$(logged polled)" \
    "^no uevent applet: looking for $(literal "$device") once a second\|modem accepted dial mode 0\|\$"
started='Starting modem-dialmode: OK;' stopped='Stopping modem-dialmode: OK;'
for shell in "$bb/sh" /bin/dash /bin/bash; do
    name=init-${shell##*/}
    check "$shell: start, start again, restart, stop; nothing left" "$(cat "$work/$name.out")" \
        "^$started\|Starting modem-dialmode: already running;\|$stopped$started\|$stopped\|\$"
    check "$shell: the modem told before the restart and after" "$(received $name)" '^30 '
done
((failures == 0))
