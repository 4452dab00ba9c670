#!/usr/bin/env bash
# syncTime end to end: the time text of a loopback web service, reached through
# the configured PKI domains, the first of which does not answer.
# Usage: sync_time.sh PATH_TO_TESSAL
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

mkdir -p "$D/www/pki"
printf '2026-12-09 08:30:00\r\n' > "$D/www/pki/time"
printf '08:30\0\0:00\0' > "$D/www/pki/time-nul"
python3 - "$D/www" "$D/port" <<'PY' &
import http.server, socketserver, sys, os
class Quiet(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *a, **k): super().__init__(*a, directory=sys.argv[1], **k)
    def log_message(self, *a): pass
with socketserver.TCPServer(("127.0.0.1", 0), Quiet) as s:
    with open(sys.argv[2] + ".tmp", "w") as f: f.write(str(s.server_address[1]))
    os.rename(sys.argv[2] + ".tmp", sys.argv[2])
    s.serve_forever()
PY
PID=$!  # stopped on exit like the stand-in service
for _ in $(seq 400); do [ -s "$D/port" ] && break; sleep 0.1; done
PORT=$(cat "$D/port")
# A port that refuses connections: bound and closed again.
DEAD=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
write_config --domain "127.0.0.1:$DEAD, localhost:$PORT"

out=$("$TESSAL" call --json syncTime s:https://ignored.example/pki/time)
check "time text passes through unchanged" contains "$out" '"value":"2026-12-09 08:30:00\u000d\u000a"'
out=$("$TESSAL" call --json syncTime s:https://ignored.example/pki/time-nul)
check "the whole body, NUL bytes and all" contains "$out" '"value":"08:30\u0000\u0000:00\u0000"'
out=$("$TESSAL" call --json syncTime s:http://x/pki/missing)
check "a status other than 200 is reported" contains "$out" '"hresult":"0x80020009"'
check "with the status in the message" contains "$out" '(404)'
out=$("$TESSAL" call --json --page https://evil.example/ syncTime s:http://x/pki/time)
check "refused in a foreign page" contains "$out" 'Neleistina komponent\u0117s veikimo aplinka'
TESSAL_CONFIG="$D/none.conf" out=$("$TESSAL" call --json syncTime s:http://x/pki/time)
check "no domains configured" contains "$out" '73001091'
finish
