#!/usr/bin/env bash
# The component's main job on the embedded defaults, end to end on this
# machine: installs what is missing, builds, mints a demo PKI of the issuing
# organisation, puts the demo signer's key and certificate into a SoftHSM2
# token (the embedded default HSM), starts the stand-in certificate web
# service on loopback, and then runs the daily loop: business messages
# dropped into an inbox are taken in priority order, signed, verified, shown
# as the signature summary, archived compressed and moved on.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessal_cli tessal-pki-service >/dev/null
TESSAL="$ROOT/build/bin/tessal"

WORK=$(mktemp -d /tmp/tessal-demo-XXXXXX)
SERVICE_PID=""
stop_service() { [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null && wait "$SERVICE_PID" 2>/dev/null || true; }
trap stop_service EXIT

echo "== minting the demo PKI in $WORK/pki"
bash tools/test-pki/mint.sh "$WORK/pki" >/dev/null
echo "== creating the SoftHSM2 token 'demo' with the container 'signer'"
export SOFTHSM2_CONF=$(bash tools/test-pki/make-token.sh "$WORK/hsm" "$WORK/pki" demo 1234 signer)

source tests/integration/lib/pki_service_start.sh
start_pki_service "$ROOT/build/bin/tessal-pki-service" "$WORK/pki" "$WORK"
SERVICE_PID=$PID
echo "== certificate web service on 127.0.0.1:$PORT (pid $SERVICE_PID)"

TESSAL_CONFIG=$(bash tools/test-pki/write-config.sh "$WORK" --log "$WORK/tessal.log" \
    --domain "127.0.0.1:$PORT" --hsm "Demo HSM" --pin 1234)
export TESSAL_CONFIG
export XDG_CACHE_HOME="$WORK/cache"

mkdir -p "$WORK/inbox" "$WORK/signed" "$WORK/done" "$WORK/archive"
cp examples/messages/*.xml "$WORK/inbox/"
echo "== inbox: $WORK/inbox"
ls -l "$WORK/inbox"
while :; do
    xml=$("$TESSAL" call readNextFileXml "s:$WORK/inbox")
    [ "$xml" = "<Result/>" ] && break
    name=$("$TESSAL" call readNextFileXml "s:$WORK/inbox" :: getProcessedFileName | tail -n 1)
    base=$(basename "$name" .xml)
    echo
    echo "== taking $name"
    "$TESSAL" sign "$name" --container signer -o "$WORK/signed/$base.xml" | sed 's/^/   signed: /'
    echo "   signer: $("$TESSAL" verify "$WORK/signed/$base.xml")"
    "$TESSAL" info "$WORK/signed/$base.xml" | sed 's/^/   | /'
    "$TESSAL" call --out "$WORK/archive/$base.xml.gz" compress "sf:$WORK/signed/$base.xml"
    gzip -t "$WORK/archive/$base.xml.gz" && echo "   archived as $WORK/archive/$base.xml.gz (gzip -t ok)"
    "$TESSAL" call readNextFileXml "s:$WORK/inbox" :: moveProcessedFile "s:$WORK/done" >/dev/null
done
echo
echo "== done: $(ls "$WORK/done" | tr '\n' ' ')"
echo "== the component's trace ($WORK/tessal.log): $(grep -c . "$WORK/tessal.log") lines; the last ones:"
tail -n 5 "$WORK/tessal.log"
