#!/usr/bin/env bash
# Runs the README's recipe for checking the verdict in a script, and checks
# that the man page shows the same one, against modems that accept, refuse,
# are absent, or a run cut off half way: only the first may read as accepted.
# The router kits' start-up helper must judge them alike; then its retries
# and its hold on the node.
#   recipe_test.sh SIM_MODEM TOOL README MAN_PAGE PLUGGED_HELPER DEVICE
set -euo pipefail
sim=$1 tool=$2 readme=$3 page=$4 helper=$5 device=$6
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The fenced block after the marker line, and the man page's example.
recipe=$(sed -n '/tests\/recipe_test.sh runs this block/,/^```$/p' "$readme" | sed '1,2d;$d')
check "the README has the recipe" "$recipe" 'modem-dialmode'
example=$(sed -n '/^\.nf$/,/^\.fi$/p' "$page" | sed '1d;$d')
check "the man page shows the same recipe" "$([[ $example == "$recipe" ]] && echo same || echo "$example")" '^same$'
printf '%s\n' "$recipe" >"$work/recipe.sh"

mkdir -p "$work/plain" "$work/cut"
ln -s "$tool" "$work/plain/modem-dialmode"
printf '#!/bin/sh\nexec timeout 4 %q\n' "$tool" >"$work/cut/modem-dialmode"
for bin in plain cut; do printf '#!/bin/sh\necho "$*"\n' >"$work/$bin/logger"; done
chmod +x "$work"/*/*

# verdict NAME BIN SCRIPT [COMMAND...]: what COMMAND (the recipe) logs, with
# modem-dialmode from BIN, and what the modem got.
verdict() {
    local name=$1 bin=$2 script=$3
    shift 3
    (($#)) || set -- sh "$work/recipe.sh"
    mkdir -p "$work/locks/$name"
    PATH=$work/$bin:$PATH MODEM_DIALMODE_LOCK_DIR=$work/locks/$name MODEM_DIALMODE_RETRY=0 \
        "$sim" --record "$work/$name.record" --script "$script" -- "$@" >"$work/$name.log" 2>/dev/null || true
}
accepted='-t modem-dialmode modem accepted dial mode 0'
refused='-t modem-dialmode modem did not accept dial mode 0'
ok='send "\r\nOK\r\n"'
refuse='await; send "\r\nERROR\r\n"'
judged_alike() { # $1: recipe or helper; the rest: how to run it
    local how=$1
    shift
    verdict "$how-accepts" plain "await; $ok" "$@" &
    verdict "$how-refuses" plain "$refuse" "$@" &
    verdict "$how-absent" plain 'absent' "$@" &
    verdict "$how-cut" cut "await; delay 5000; $ok" "$@" &
}
# lock CASE PID: the helper's lock on the node in CASE, held by PID.
lock() {
    local dir=$work/locks/$1/modem-dialmode$(tr / . <<<"$device").lock
    mkdir -p "$dir" && echo "$2" >"$dir/pid"
    echo "$dir"
}

# A modem that refuses twice before it answers is told three times; one that
# keeps refusing, as often as allowed. A node some live process holds is left
# alone; one whose holder died is taken over, and one whose holder is on its
# way out (procd restarting the instance) is waited for. A helper that is
# stopped ends its run with it (a copy of it, to be told apart from the
# other runs).
sleep 60 & live=$!
sleep 2 & leaving=$!
(exit 0) & dead=$!
wait $dead
lock held $live >/dev/null
lock leaving $leaving >/dev/null
stale=$(lock stale $dead)
judged_alike recipe
MODEM_DIALMODE_TRIES=1 judged_alike helper sh "$helper" "$device"
MODEM_DIALMODE_TRIES=3 verdict retried plain "$refuse; $refuse; await; $ok" sh "$helper" "$device" &
MODEM_DIALMODE_TRIES=2 verdict gave-up plain "$refuse; $refuse" sh "$helper" "$device" &
verdict held plain "await; $ok" sh "$helper" "$device" &
verdict stale plain "await; $ok" sh "$helper" "$device" &
verdict leaving plain "await; $ok" sh "$helper" "$device" &
cp "$helper" "$work/stopped-helper"
verdict stopped plain "await; delay 5000; $ok" sh "$work/stopped-helper" "$device" &
for _ in $(seq 100); do
    runner=$(pgrep -f "^sh $work/stopped-helper") && run=$(pgrep -P "$runner" -x modem-dialmode) && break
    sleep 0.1
done
sleep 3   # past the settling, into the wait for the answer
kill -TERM "${runner:-}"
sleep 0.5
# Ended: gone, or a zombie that its reaper has not come to yet.
stopped_run=$(ps -o stat= -p "${run:-0}" | grep -q '^[^Z]' && echo "still going" || echo ended)
wait $(jobs -p | grep -v -x -e $live -e $leaving)
kill $live

for how in recipe helper; do
    check "$how: a modem that answers OK" "$(cat "$work/$how-accepts.log")" "^$accepted\$"
    check "$how: a modem that answers ERROR" "$(cat "$work/$how-refuses.log")" "^$refused\$"
    check "$how: no modem at all" "$(cat "$work/$how-absent.log")" "^$refused\$"
    check "$how: a run cut off before its verdict" "$(cat "$work/$how-cut.log")" "^$refused\$"
done
again="${refused#-t modem-dialmode }; trying again in 0 s"
check "refused twice, then accepted" "$(tr '\n' '|' <"$work/retried.log")" \
    "^-t modem-dialmode $again\|-t modem-dialmode $again\|$accepted\|\$"
check "told three times" "$(sed -n 's/^received //p' "$work/retried.record")" '^45 '
check "refused as often as allowed" "$(tr '\n' '|' <"$work/gave-up.log")" "^-t modem-dialmode $again\|$refused\|\$"
check "a node held by a live process" "$(cat "$work/held.log")" "already served by PID $live\$"
check "the held node's modem got nothing" "$(sed -n 's/^received //p' "$work/held.record")" '^0 '
check "a dead holder's node" "$(cat "$work/stale.log")" "^$accepted\$"
check "a node whose holder is leaving" "$(cat "$work/leaving.log")" "^$accepted\$"
check "the lock gone after the run" "$([[ -e $stale ]] && echo left || echo gone)" '^gone$'
check "a stopped helper's run" "$stopped_run" '^ended$'
check "the stopped helper's modem got the command" "$(sed -n 's/^received //p' "$work/stopped.record")" '^15 '
((failures == 0))
