#!/usr/bin/env bash
# Runs the README's recipe for checking the verdict in a script, and checks
# that the man page shows the same one, against modems that accept, refuse,
# are absent, or a run cut off half way: only the first may read as accepted.
#   recipe_test.sh SIM_MODEM TOOL README MAN_PAGE
set -euo pipefail
sim=$1 tool=$2 readme=$3 page=$4
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

# verdict NAME BIN SCRIPT: what the recipe logs, with modem-dialmode from BIN.
verdict() {
    PATH=$work/$2:$PATH "$sim" --script "$3" -- sh "$work/recipe.sh" >"$work/$1.log" 2>/dev/null || true
}
verdict accepts plain 'await; send "\r\nOK\r\n"' &
verdict refuses plain 'await; send "\r\nERROR\r\n"' &
verdict absent plain 'absent' &
verdict cut cut 'await; delay 5000; send "\r\nOK\r\n"' &
wait
check "a modem that answers OK" "$(cat "$work/accepts.log")" '^modem accepted dial mode 0$'
check "a modem that answers ERROR" "$(cat "$work/refuses.log")" '^modem did not accept dial mode 0$'
check "no modem at all" "$(cat "$work/absent.log")" '^modem did not accept dial mode 0$'
check "a run cut off before its verdict" "$(cat "$work/cut.log")" '^modem did not accept dial mode 0$'
((failures == 0))
