# Assertions shared by the integration scripts (sourced, not run).
# A script counts its checks and ends with finish, which prints the closing
# line "N passed, N failed" and answers the exit status.
passed=0; failed=0

check() {  # check NAME CONDITION...
    local name="$1"; shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $name" >&2; fi
}
contains() { [[ "$1" == *"$2"* ]] || { echo "  expected to find: $2" >&2; echo "  in: $1" >&2; return 1; }; }
equals() { [[ "$1" == "$2" ]] || { echo "  expected: $2" >&2; echo "  got:      $1" >&2; return 1; }; }
status() { "$@" >/dev/null 2>&1; echo $?; }
# missing REASON: something a group of checks needs (a tool, a daemon, a
# privilege) is not there. The checks are skipped with a note; when CI is set
# that is a failure instead, so CI never passes checks that did not run.
missing() {
    if [ -n "${CI:-}" ]; then
        failed=$((failed + 1)); echo "FAIL: $1 (CI is set: these checks must run)" >&2
    else
        echo "note: $1: checks skipped"
    fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
