# The set-up the integration scripts share. Sourced after `set -u`:
#   source "$(dirname "$0")/lib/rig.sh" "$1"
# Sets TESSAL (the command under test), SRC (the source tree), SERVICE (the
# stand-in certificate web service built next to TESSAL), D (a fresh folder)
# and PID (the service's process, none yet); on exit the service is stopped
# and D removed. Brings in the assertions, start_pki_service and the PKI texts.
TESSAL="$1"
# The checks run headless; the desktop window suite sets its own display.
unset DISPLAY WAYLAND_DISPLAY
RIG_LIB="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SRC="$(cd "$RIG_LIB/../../.." && pwd)"
SERVICE="$(dirname "$TESSAL")/tessal-pki-service"
D=$(mktemp -d)
PID=""
source "$RIG_LIB/assertions.sh"
source "$RIG_LIB/pki_service_start.sh"
source "$RIG_LIB/pki_texts.sh"

stop_service() {
    [ -n "$PID" ] && { kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; }
    PID=""
}
# A script with more to stop traps its own cleanup and calls this one last.
rig_cleanup() {
    stop_service
    rm -rf "$D"
}
trap rig_cleanup EXIT

# mint_pki: the test PKI in P ($D/pki).
mint_pki() {
    P="$D/pki"
    bash "$SRC/tools/test-pki/mint.sh" "$P" >/dev/null
}

# start_service ROOT [OPTION...]: (re)starts the stand-in service on ROOT and
# sets PORT. A service that never reports its port ends the script: nothing
# after it could pass.
start_service() {
    stop_service
    start_pki_service "$SERVICE" "$1" "$D" "${@:2}"
    if [ -z "$PORT" ]; then
        cat "$D/service.err" >&2
        echo "FAIL: the certificate service did not start" >&2
        exit 1
    fi
}

# make_signatures [SERVICE_URL]: the test signatures of P in S ($D/sig), made
# without our code; with SERVICE_URL some of them time-stamp its answers.
make_signatures() {
    S="$D/sig"
    if ! bash "$SRC/tools/test-signatures/make.sh" "$P" "$S" "$@" >"$D/make.log" 2>&1; then
        cat "$D/make.log" >&2
        echo "FAIL: test signatures could not be made" >&2
        exit 1
    fi
}

# set_up_verification: the minted PKI, the service on it, the test signatures
# (some time-stamping its answers, so the service comes first) and a
# configuration that fetches from it.
set_up_verification() {
    mint_pki
    start_service "$P"
    make_signatures "http://127.0.0.1:$PORT"
    write_config --domain "127.0.0.1:$PORT"
}

# write_config [OPTION...]: $D/tessal.conf from tools/test-pki/write-config.sh
# with those options, in use from now on, with the certificate cache in $D/cache.
write_config() {
    if ! TESSAL_CONFIG=$(bash "$SRC/tools/test-pki/write-config.sh" "$D" "$@"); then
        echo "FAIL: the configuration could not be written" >&2
        exit 1
    fi
    export TESSAL_CONFIG
    export XDG_CACHE_HOME="$D/cache"
}

# run CMD...: sets OUT, ERR and RC of the command.
run() {
    "$@" >"$D/stdout" 2>"$D/stderr"
    RC=$?
    OUT=$(cat "$D/stdout")
    ERR=$(cat "$D/stderr")
}
