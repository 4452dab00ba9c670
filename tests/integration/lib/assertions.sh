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
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
