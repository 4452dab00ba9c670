# Starts the stand-in certificate web service on a free loopback port.
# Sourced. start_pki_service SERVICE_BINARY ROOT WORKDIR [OPTION...] sets PID
# and PORT (empty when the service never reported its port).
start_pki_service() {
    local binary="$1" root="$2" work="$3"
    shift 3
    # Emptied here, before the service starts: a port left by an earlier
    # service in WORKDIR must not be read as this one's.
    : >"$work/service.out"
    "$binary" --root "$root" --listen 127.0.0.1:0 "$@" >"$work/service.out" 2>"$work/service.err" &
    PID=$!
    PORT=""
    for _ in $(seq 400); do  # up to 20 s on a loaded machine
        PORT=$(head -n1 "$work/service.out" 2>/dev/null)
        [ -n "$PORT" ] && break
        sleep 0.05
    done
}
