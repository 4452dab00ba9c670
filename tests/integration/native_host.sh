#!/usr/bin/env bash
# The browser's host program end to end: the framing both ways (long
# messages in chunks), the page check by the address the browser reported,
# signing with a SoftHSM2 key in an approved page, and a standard output that
# carries nothing but frames.
# Usage: native_host.sh PATH_TO_TESSAL (tessal-host and the service lie next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
HOST="$(dirname "$TESSAL")/tessal-host"
DRIVER="$RIG_LIB/native_host.py"

# session NAME: runs the driver on $D/NAME.json; the transcript is $D/NAME.out.
session() { python3 "$DRIVER" "$HOST" "$D/$1.json" "$D/$1.out" 2>"$D/$1.err"; }
# field NAME EXPR: a Python expression over the transcript t (messages m by id in r).
field() {
    python3 - "$D/$1.out" "$2" <<'PY'
import json, sys
t = json.load(open(sys.argv[1]))
r = {x['id']: x for x in t['messages'] if x.get('type') == 'result'}
m = t['messages']
print(eval(sys.argv[2]))
PY
}
clean_stdout() { check "$1: standard output holds only frames" equals "$(field "$1" 't["bad"]')" "[]"; }

# --- a page outside the approved sites ----------------------------------------------
cat > "$D/evil.json" <<'JSON'
[{"type":"invoke","id":0,"member":"reset","args":[]},
 {"type":"hello","url":"https://evil.example/app","origin":"https://evil.example"},
 {"type":"invoke","id":1,"member":"readFile","args":["/etc/hostname"],"origin":"https://www.nk.example"},
 {"type":"invoke","id":2,"member":"compress","args":[{"bytes":"aGVsbG8="},"gzip"],"url":"https://www.nk.example/"},
 {"type":"release"}]
JSON
session evil
check "nothing is served before hello" equals "$(field evil 'r[0]["ok"]')" "False"
check "ready lists the members" contains "$(field evil 'm[1]["members"]')" "'signXml'"
members_json=$("$TESSAL" members --json | python3 -c 'import json, sys; print([m["name"] for m in json.load(sys.stdin)])')
check "members --json lists what the host offers" equals "$members_json" "$(field evil 'm[1]["members"]')"
check "members --json gives defaults" contains "$("$TESSAL" members --json | grep '"signXml"')" '"optional":true,"default":'
check "an unapproved page is refused" equals "$(field evil 'r[1]["description"]')" "Neleistina komponentės veikimo aplinka"
check "the refusal names the component" equals "$(field evil 'r[1]["source"]')" "Tessal.Sign.1"
check "the status is DISP_E_EXCEPTION" equals "$(field evil 'r[1]["hresult"]')" "$((0x80020009))"
check "an origin inside a call does not count" equals "$(field evil 'r[2]["ok"]')" "False"
check "release ends the host" equals "$(field evil 't["exit"]')" "0"
clean_stdout evil
# What the component or a child prints must never reach the channel.
check "standard input is /dev/null" equals "$(field evil 't["fds"]["0"]')" "/dev/null"
check "standard output is standard error" equals "$(field evil 't["fds"]["1"] == t["fds"]["2"] and t["fds"]["1"] not in t["fds"]["ours"]')" "True"
check "the channel is two private descriptors closed on exec" \
    equals "$(field evil 'sorted((c["fd"] > 2, c["cloexec"]) for c in t["fds"]["channel"])')" "[(True, True), (True, True)]"

# --- a frame that is not a message ends the host -----------------------------------
for garbage in 050000006162636465 ffffffff 02000000 03000000313233; do
    printf '[{"type":"hello","url":"https://evil.example/"},{"raw":"%s"},{"type":"invoke","id":1,"member":"reset"}]' \
        "$garbage" > "$D/garbage.json"
    session garbage
    check "garbage $garbage ends the host" equals "$(field garbage 't["exit"]')" "1"
    check "garbage $garbage: nothing is answered after it" equals "$(field garbage '1 in r')" "False"
done
# The page is fixed by the first hello: a second one ends the host unanswered.
printf '[{"type":"hello","url":"https://evil.example/"},{"type":"hello","url":"https://www.nk.example/"},{"type":"invoke","id":1,"member":"reset"}]' > "$D/rehello.json"
session rehello
check "a second hello ends the host" equals "$(field rehello 't["exit"], 1 in r')" "(1, False)"
# Chunks must follow each other: a chunk that skips an index is refused.
printf '[{"type":"chunk","message":1,"index":0,"count":3,"data":"eyJ0"},{"type":"chunk","message":1,"index":2,"count":3,"data":"eXBl"}]' > "$D/skip.json"
session skip
check "a chunk out of order ends the host" equals "$(field skip 't["exit"]')" "1"
python3 -c 'import sys; print("[{\"type\":\"hello\",\"url\":\"https://evil.example/\"},{\"type\":\"invoke\",\"id\":1,\"member\":\"reset\",\"args\":" + "["*100 + "]"*100 + "}]")' > "$D/deep.json"
session deep
check "nesting beyond the bound ends the host" equals "$(field deep 't["exit"]')" "1"

# --- signing in an approved page --------------------------------------------------------
if ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
    missing "softhsm2-util or pkcs11-tool (signing through the host)"
    finish
    exit
fi
printf '127.0.0.1 pki.nk.example\n' > "$D/hosts"
if ! unshare -m sh -c "mount --bind '$D/hosts' /etc/hosts" 2>/dev/null; then
    missing "no private mount namespace here, needs root (the host in an approved page)"
    finish
    exit
fi
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 signer)
subject=$(name_text "$P/certs/signer.pem" subject)
start_service "$P"
write_config --domain "127.0.0.1:$PORT" --hsm "Demo HSM" --pin 1234
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"
# A document of about 3 MB: its request and its answer both travel in chunks.
python3 - "$D/doc.xml" "$D/big.xml" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
at = text.rindex('</')
open(sys.argv[2], 'w', encoding='utf-8').write(text[:at] + '<!--' + 'ą' * 1_500_000 + '-->' + text[at:])
PY
# readFile answers Base64, a third longer: 51 MB pass the 64 MiB bound.
head -c 51000000 /dev/zero > "$D/large.bin"
page_session() {
    unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec python3 "$2" "$3" "$4" "$5"' \
        _ "$D/hosts" "$DRIVER" "$HOST" "$D/$1.json" "$D/$1.out" 2>"$D/$1.err"
}
cat > "$D/page.json" <<JSON
[{"type":"hello","url":"http://pki.nk.example:$PORT/app","origin":"http://pki.nk.example:$PORT"},
 {"type":"invoke","id":1,"member":"keycontainer","args":["signer"]},
 {"type":"invoke","id":2,"member":"signXml","args":[{"bytesFile":"$D/doc.xml"},1]},
 {"type":"invoke","id":3,"member":"verifyXmlSign","args":[{"resultOf":2}]},
 {"type":"face","id":4,"width":64,"height":32},
 {"type":"invoke","id":5,"member":"signXml","args":[{"bytesFile":"$D/big.xml"},1]},
 {"type":"invoke","id":6,"member":"verifyXmlSign","args":[{"resultOf":5}]},
 {"type":"invoke","id":7,"member":"PkiDomain","args":["a.example"]},
 {"type":"invoke","id":8,"member":"readFile","args":["$D/large.bin"]},
 {"type":"invoke","id":9,"member":"reset"},
 {"type":"invoke","id":10,"member":"onCardRemoved","args":[{"callback":7}]},
 {"type":"invoke","id":11,"member":"signXml","args":[$(python3 -c 'import json,sys; print(json.dumps(open(sys.argv[1], encoding="utf-8").read()))' "$D/doc.xml"),0]},
 {"type":"release"}]
JSON
page_session page
check "page: KeyContainer is set" equals "$(field page 'r[1]["ok"]')" "True"
check "page: signXml succeeds" equals "$(field page 'r[2]["ok"]')" "True"
[ "$(field page 'r[2]["ok"]')" = True ] || { field page 'r[2]' >&2; cat "$D/page.err" >&2; }
field page '__import__("base64").b64decode(r[2]["value"]["bytes"]).decode("latin-1")' > /dev/null
python3 - "$D/page.out" "$D/page.signed.xml" "$D/big.signed.xml" <<'PY'
import base64, json, sys
r = {x['id']: x for x in json.load(open(sys.argv[1]))['messages'] if x.get('type') == 'result'}
for id_, path in ((2, sys.argv[2]), (5, sys.argv[3])):
    value = r.get(id_, {}).get('value')
    open(path, 'wb').write(base64.b64decode(value['bytes']) if isinstance(value, dict) else b'')
PY
run "$TESSAL" verify "$D/page.signed.xml"
check "page: the signed document verifies with the command" equals "$OUT" "$subject"
check "page: verifyXmlSign reads the signer" equals "$(field page 'r[3]["value"]')" "$subject"
check "page: the signing asked for a repaint" contains "$(field page '[x.get("name") for x in m]')" "'repaint'"
check "page: the face has cells to draw" equals "$(field page 'len(r[4]["value"]["rectangles"]) > 0')" "True"
# 64 × 32 pixels hold cells of 1 × 3 pixels: the page fills exactly those.
check "page: the face's rectangles are the grid's cells" \
    equals "$(field page 'all(R - L == 1 and B - T == 3 for L, T, R, B in r[4]["value"]["rectangles"])')" "True"
check "page: a 3 MB document signs" equals "$(field page 'r[5]["ok"]')" "True"
run "$TESSAL" verify "$D/big.signed.xml"
check "page: the 3 MB signed document verifies" equals "$OUT" "$subject"
check "page: verifyXmlSign of the 3 MB document" equals "$(field page 'r[6]["value"]')" "$subject"
check "page: PkiDomain is refused in a browser" equals "$(field page 'r[7]["ok"]')" "False"
check "page: an answer over the bound is a failure" equals "$(field page 'r[8]["ok"], r[8]["hresult"]')" "(False, $((0x8007000E)))"
check "page: and the host goes on" equals "$(field page 'r[9]["ok"]')" "True"
check "page: a page function is taken as the card-removal callback" equals "$(field page 'r[10]["ok"]')" "True"
python3 - "$D/page.out" "$D/text.signed.xml" <<'PY'
import json, sys
r = {x['id']: x for x in json.load(open(sys.argv[1]))['messages'] if x.get('type') == 'result'}
value = r.get(11, {}).get('value')
open(sys.argv[2], 'w', encoding='utf-8').write(value if isinstance(value, str) else '')
PY
run "$TESSAL" verify "$D/text.signed.xml"
check "page: a document passed and answered as text verifies" equals "$OUT" "$subject"
clean_stdout page

finish
