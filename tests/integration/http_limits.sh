#!/usr/bin/env bash
# The limits of the web-service client against the stand-in service, through
# syncTime: an answer later than the step limit, a body over the size limit,
# and a body trickled out more slowly than the request deadline allows.
# Usage: http_limits.sh PATH_TO_TESSAL (the service binary lies next to it)
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

mint_pki
printf '2026-12-09 08:30:00' > "$P/time"
size=$(stat -c %s "$P/time")

serve() { start_service "$P" "$@"; }  # serve [SERVICE OPTION...]: (re)starts the service
configure() {  # configure [PLATFORM LINE...]
    local lines=() line
    for line in "$@"; do lines+=(--platform "$line"); done
    write_config --domain "127.0.0.1:$PORT" "${lines[@]}"
}
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
