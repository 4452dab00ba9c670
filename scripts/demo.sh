#!/usr/bin/env bash
# The component's daily job on the embedded defaults, end to end on this
# machine: installs what is missing, builds, and runs a document intake loop
# with the `tessal` command. Business messages dropped into an inbox are
# taken in priority order, read, archived compressed and moved to a done
# folder, with the component's trace in a log file.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tessal_cli >/dev/null
TESSAL="$ROOT/build/bin/tessal"

WORK=$(mktemp -d /tmp/tessal-demo-XXXXXX)
mkdir -p "$WORK/inbox" "$WORK/done" "$WORK/archive"
cp examples/messages/*.xml "$WORK/inbox/"
cat > "$WORK/tessal.conf" <<CONF
[SOFTWARE\\Classes\\Tessal.Sign]
logFilePath = $WORK/tessal.log
defaultPkiDomain = http://127.0.0.1:8080
CONF
export TESSAL_CONFIG="$WORK/tessal.conf"

echo "== inbox: $WORK/inbox"
ls -l "$WORK/inbox"
while :; do
    xml=$("$TESSAL" call readNextFileXml "s:$WORK/inbox")
    [ "$xml" = "<Result/>" ] && break
    name=$("$TESSAL" call readNextFileXml "s:$WORK/inbox" :: getProcessedFileName | tail -n 1)
    base=$(basename "$name" .xml)
    echo "== taking $name"
    echo "$xml" | head -n 4
    "$TESSAL" call --out "$WORK/archive/$base.xml.gz" compress "s:$xml"
    "$TESSAL" call readNextFileXml "s:$WORK/inbox" :: moveProcessedFile "s:$WORK/done" >/dev/null
    gzip -t "$WORK/archive/$base.xml.gz" && echo "   archived as $WORK/archive/$base.xml.gz ($(stat -c %s "$WORK/archive/$base.xml.gz") bytes, gzip -t ok)"
done
echo "== done: $(ls "$WORK/done" | tr '\n' ' ')"
echo "== the component's trace ($WORK/tessal.log):"
grep -c . "$WORK/tessal.log" | sed "s/$/ lines; the last ones:/"
tail -n 6 "$WORK/tessal.log"
echo
echo "Signing and verification join this loop with the signing subsystem."
