#!/usr/bin/env bash
# Fails unless the universal binary can run on a MIPS core without an FPU:
# soft-float code, and FPU instructions only where no path of the tool leads.
#   fpu_free.sh OBJDUMP READELF BINARY     (BINARY unstripped, for its symbols)
# Debian's libgcc is hard-float, so its double-precision helpers (__adddf3 and
# the like) use the FPU. musl's printf calls them only to format a
# floating-point number, which the tool never prints; the end-to-end cases on
# an FPU-less CPU show that no path the tool takes executes one.
set -euo pipefail
objdump=$1 readelf=$2 binary=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"

check "float ABI" "$("$readelf" -A "$binary" | sed -n 's/^ *FP ABI: *//p')" '^Soft float$'

# Each function that holds an instruction of coprocessor 1 (loads, stores and
# moves ending in c1, branches on bc1, arithmetic on .s/.d/.w/.l/.ps, and
# movf/movt, which read its condition codes).
listing=$("$objdump" -d --no-show-raw-insn "$binary")
users=$(awk '/^[0-9a-f]+ <[^>]+>:$/ { fn = substr($2, 2, length($2) - 3) }
             $1 ~ /:$/ && ($2 ~ /c1/ || $2 ~ /\.(s|d|w|l|ps)$/ || $2 ~ /^mov[ft]$/) { print fn }' \
        <<<"$listing" | sort -u)
helpers='^__((add|sub|mul|div|neg|eq|ne|lt|le|gt|ge|unord)[sd]f[23]|fix(uns)?[sd]f[sd]i|float(un|uns)?[sd]i[sd]f|(extend|trunc)[sd]f[sd]f2)$'
echo "functions with FPU instructions: $(paste -sd ' ' <<<"$users")"
check "only libgcc's float helpers use the FPU" "$(grep -Ev "$helpers" <<<"$users" | paste -sd ' ')" '^$'

# Who calls those helpers: only musl's formatting of floating-point numbers.
callers=$(awk -v users="$(paste -sd '|' <<<"$users")" '
    /^[0-9a-f]+ <[^>]+>:$/ { fn = substr($2, 2, length($2) - 3) }
    $1 ~ /:$/ && $NF ~ ("^<(" users ")>$") { print fn }' <<<"$listing" | sort -u)
echo "their callers: $(paste -sd ' ' <<<"$callers")"
check "the helpers are reached from float formatting alone" \
    "$(grep -Ev '^(printf_core|fmt_fp|frexp|frexpl)$' <<<"$callers" | grep -Ev "$helpers" | paste -sd ' ')" '^$'
((failures == 0))
