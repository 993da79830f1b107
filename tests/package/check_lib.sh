# Shared by the install and package checks: named checks, counted, with a closing line.
# shellcheck shell=bash
passed=0
failed=0
check() {
    local name=$1
    shift
    local output
    if output=$("$@" 2>&1); then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        [ -n "$output" ] && printf '%s\n' "$output" | sed 's/^/     /'
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
# A manual page renders without a warning from man or groff.
renders() {
    local warnings
    warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
    MANWIDTH=80 man -l "$1" 2>/dev/null | grep -q "^NAME"
}
# kalvo-cli's completion offers `want` for the words given.
completes() {
    local script=$1 want=$2
    shift 2
    # shellcheck disable=SC1090
    (source "$script" && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && _kalvo_cli &&
        printf '%s\n' "${COMPREPLY[@]}" | grep -qx -- "$want")
}
