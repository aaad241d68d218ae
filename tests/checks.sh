# Sourced by the shell tests: named checks that count failures, so that a
# test reports every broken expectation, not only the first.
failures=0

# check WHAT ACTUAL PATTERN: ACTUAL must match the extended regex PATTERN.
check() {
    if [[ $2 =~ $3 ]]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: got '$2', wanted /$3/"
        failures=$((failures + 1))
    fi
}

# literal TEXT: TEXT as an extended regex that matches it alone.
literal() { sed 's/[][\\.*^$+?(){}|]/\\&/g' <<<"$1"; }

# to_hex: the bytes on standard input as one line of hex pairs.
to_hex() { od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ *//; s/ *$//'; }

# hex FORMAT [ARG]...: the bytes printf makes of its arguments, as to_hex shows them.
hex() { printf "$@" | to_hex; }
