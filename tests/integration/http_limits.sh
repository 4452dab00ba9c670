#!/usr/bin/env bash
# The limits of the web-service client against the stand-in service, through
# syncTime: an answer later than the step limit, a body over the size limit,
# and a body trickled out more slowly than the request deadline allows.
# Usage: http_limits.sh PATH_TO_TESSAL (the service binary lies next to it)
set -u
TESSAL="$1"
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
SERVICE="$(dirname "$1")/tessal-pki-service"
D=$(mktemp -d)
PID=""
trap '[ -n "$PID" ] && kill "$PID" 2>/dev/null; rm -rf "$D"' EXIT
source "$(dirname "$0")/lib/assertions.sh"
source "$(dirname "$0")/lib/pki_service_start.sh"

bash "$SRC/tools/test-pki/mint.sh" "$D/pki" >/dev/null
printf '2026-12-09 08:30:00' > "$D/pki/time"
size=$(stat -c %s "$D/pki/time")

serve() {  # serve [SERVICE OPTION...]: (re)starts the service
    [ -n "$PID" ] && { kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; }
    start_pki_service "$SERVICE" "$D/pki" "$D" "$@"
}
configure() {  # configure [PLATFORM LINE...]
    { printf '[SOFTWARE\\Classes\\Tessal.Sign]\ndefaultPkiDomain = 127.0.0.1:%s\n[platform]\n' "$PORT"
      printf '%s\n' "$@"; } > "$D/tessal.conf"
}
export TESSAL_CONFIG="$D/tessal.conf"
sync_time() { "$TESSAL" call --json syncTime s:http://x/pki/time; }

serve
configure
check "an answer in time is read" contains "$(sync_time)" '"value":"2026-12-09 08:30:00"'

configure "httpMaxAnswerBytes = $size"
check "a body of exactly the size limit is read" contains "$(sync_time)" '"value":"2026-12-09 08:30:00"'
configure "httpMaxAnswerBytes = $((size - 1))"
out=$(sync_time)
check "a body over the size limit fails" contains "$out" '"hresult":"0x80020009"'
check "while reading the body" contains "$out" '73004027'
check "saying the answer is too large" contains "$out" 'The answer is larger than allowed.'

serve --delay-ms 4500
configure
out=$(sync_time)
check "an answer later than the step limit fails" contains "$out" '73003026'
check "as a time-out" contains "$out" 'The operation timed out.'

serve --drip-ms 100
configure
check "a slow body within the deadline is read" contains "$(sync_time)" '"value":"2026-12-09 08:30:00"'
configure "httpDeadlineMs = 1000"
out=$(sync_time)
check "a body trickling past the deadline is cut" contains "$out" '73004027'
check "as a time-out too" contains "$out" 'The operation timed out.'
finish
