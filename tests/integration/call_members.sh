#!/usr/bin/env bash
# Drives the members through `tessal call` as a script would, and checks what
# lands on disk, in the logs and in the event log socket.
# Usage: call_members.sh PATH_TO_TESSAL
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
export TESSAL_CONFIG="$D/none.conf"   # no configuration: global log off

# --- usage -------------------------------------------------------------------
check "help" equals "$(status "$TESSAL" --help)" 0
check "call help" contains "$("$TESSAL" call --help)" "sf:PATH"
check "no member" equals "$(status "$TESSAL" call)" 2
check "unknown member" equals "$(status "$TESSAL" call frobnicate)" 2
check "wrong argument count" equals "$(status "$TESSAL" call readFile s:a s:b)" 2
check "bad argument form" equals "$(status "$TESSAL" call readFile q:x)" 2
check "usage error runs nothing" equals "$(status "$TESSAL" call saveFileXml "s:$D/never.xml" s:x :: readFile)" 2
check "usage error wrote nothing" test ! -e "$D/never.xml"
check "members lists eighteen" equals "$("$TESSAL" members | wc -l)" 18

# --- readFile and saveFileXml ----------------------------------------------------
printf '\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8"?>\n<doc>Šiauliai</doc>' > "$D/utf8.xml"
printf '<doc>Šiauliai</doc>' | iconv -f UTF-8 -t UTF-16LE > "$D/le.body"
{ printf '\xff\xfe'; cat "$D/le.body"; } > "$D/utf16.xml"
r8=$("$TESSAL" call --json readFile "s:$D/utf8.xml")
r16=$("$TESSAL" call --json readFile "s:$D/utf16.xml")
check "utf-8 read drops mark and declaration" contains "$r8" '"value":"<doc>\u0160iauliai</doc>"'
check "utf-16 reads like its utf-8 twin" equals "$r16" "$r8"
printf '\x00\x01\x02' > "$D/blob.bin"
check "other files come as base64" equals "$("$TESSAL" call readFile "s:$D/blob.bin")" "AAEC"
out=$("$TESSAL" call --json readFile "s:$D/missing.xml")
check "missing file message" contains "$out" '"description":"Klaida skaitant \"'"$D"'/missing.xml\" byl\u0105"'
check "missing file status" contains "$out" '"hresult":"0x80020009"'

check "save string" equals "$(status "$TESSAL" call saveFileXml "s:$D/saved.xml" "s:<a>ąč</a>")" 0
check "saved as utf-8" equals "$(cat "$D/saved.xml")" "<a>ąč</a>"
check "save bytes" equals "$(status "$TESSAL" call saveFileXml "s:$D/bytes.xml" "b:$D/blob.bin")" 0
check "bytes saved unchanged" cmp -s "$D/bytes.xml" "$D/blob.bin"
out=$("$TESSAL" call --json saveFileXml "s:$D/x.xml" e :: saveFileXml "s:$D/x.xml" s: :: saveFileXml "s:$D/no/dir/x.xml" s:x :: saveFileXml s: s:x)
check "save empty variant" contains "$out" 'Klaidingas duomen\u0173 formatas'
check "save empty string" contains "$out" 'Bandymas i\u0161saugoti tu\u0161\u010di\u0105 dokument\u0105'
check "save unwritable" contains "$out" 'Klaida i\u0161saugant byl\u0105 \"'"$D"'/no/dir/x.xml\" (2)'
check "save without name and without dialog" contains "$out" '"description":"Neperduotas bylos pavadinimas"'
check "failed saves leave nothing" test ! -e "$D/x.xml"

# --- convert, compress, --out ----------------------------------------------------
check "convert to bytes" equals "$("$TESSAL" call convert s:ąčę s:2BA)" "C485C48DC499"
check "convert number" equals "$("$TESSAL" call convert i:12 s:2ba)" "3132"
check "convert boolean" equals "$("$TESSAL" call convert t:true s:2ba)" "54727565"
check "convert bytes to string" equals "$("$TESSAL" call convert x:C485)" "ą"
out=$("$TESSAL" call --json convert n)
check "failed conversion carries no error info" equals "$out" '{"member":"convert","hresult":"0x80020005"}'
head -c 100000 /dev/urandom | base64 > "$D/plain.txt"
check "compress to file" equals "$(status "$TESSAL" call --out "$D/plain.gz" compress "b:$D/plain.txt")" 0
check "gzip accepts it" gzip -t "$D/plain.gz"
check "gzip restores it" cmp -s <(gzip -dc "$D/plain.gz") "$D/plain.txt"
check "gzip header" equals "$(head -c 10 "$D/plain.gz" | od -An -tx1 | tr -d ' \n')" "1f8b080000000000000b"
out=$("$TESSAL" call --json compress s:x s:deflate)
check "unknown method" contains "$out" 'Nepalaikomas duomen\u0173 suspaudimo metodas \"deflate\"'

# --- file time ----------------------------------------------------------------------
touch -d '2019-11-06 08:20:17' "$D/saved.xml"
check "file time" equals "$("$TESSAL" call getFileTime "s:$D/saved.xml")" "2019-11-06 08:20:17.000"

# --- directory intake --------------------------------------------------------------
mkdir -p "$D/in" "$D/done"
echo '<a>10</a>' > "$D/in/10_a.xml"; echo '<a>90b</a>' > "$D/in/90_b.xml"; echo '<a>90c</a>' > "$D/in/90_c.xml"
echo 'not xml' > "$D/in/zz.txt"
touch -d '2020-01-01' "$D/in/90_c.xml"; touch -d '2021-01-01' "$D/in/90_b.xml"
out=$("$TESSAL" call readNextFileXml "s:$D/in" :: getProcessedFileName :: moveProcessedFile "s:$D/done" :: getProcessedFileName :: moveProcessedFile "s:$D/done" 2>/dev/null)
check "intake picks the greatest prefix, oldest first" contains "$out" "<a>90c</a>"
check "intake names the file" contains "$out" "$D/in/90_c.xml"
check "intake moved it" test -f "$D/done/90_c.xml" -a ! -e "$D/in/90_c.xml"
check "second move fails" contains "$("$TESSAL" call readNextFileXml "s:$D/in" :: moveProcessedFile "s:$D/done" :: moveProcessedFile "s:$D/done" 2>&1)" "Klaida perkeliant bylą"
# A name that is not UTF-8 comes back as bytes that name the same file.
mkdir -p "$D/raw" "$D/raw-done"; printf '<raw/>' > "$D/raw/"$'\xff'"x.xml"
picked=$("$TESSAL" call readNextFileXml "s:$D/raw" :: getProcessedFileName | tail -n 1)
check "a name that is not UTF-8 is read back" equals "$("$TESSAL" call readFile "s:$picked")" "<raw/>"
"$TESSAL" call readNextFileXml "s:$D/raw" :: moveProcessedFile "s:$D/raw-done" >/dev/null
check "and moved" equals "$(cat "$D/raw-done/"$'\xff'"x.xml")" "<raw/>"
mkdir -p "$D/linked"; echo '<secret/>' > "$D/outside.xml"; ln -s "$D/outside.xml" "$D/linked/99_link.xml"
check "a link in the inbox is passed over" equals "$("$TESSAL" call readNextFileXml "s:$D/linked")" "<Result/>"
mkdir -p "$D/empty"
check "empty directory" equals "$("$TESSAL" call readNextFileXml "s:$D/empty")" "<Result/>"
check "missing directory" contains "$("$TESSAL" call readNextFileXml "s:$D/nope" 2>&1)" "Nepasiekiamas katalogas \"$D/nope\""

# --- logs and the event log ------------------------------------------------------------
bash "$SRC/tools/test-pki/write-config.sh" "$D" --log "$D/global.log" \
    --domain "https://pki.a.example:8443, b.example" --platform "eventLogSocket = $D/log.sock" >/dev/null
python3 - "$D/log.sock" "$D/events.txt" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(20)
with open(sys.argv[2], "wb") as out:
    try:
        while True:
            out.write(s.recv(65536) + b"\n"); out.flush()
    except socket.timeout:
        pass
PY
PID=$!  # the listener, stopped on exit like a service
for _ in $(seq 50); do [ -S "$D/log.sock" ] && break; sleep 0.1; done
TESSAL_CONFIG="$D/tessal.conf" "$TESSAL" call writeEventLog s:įvykis u:1 :: writeEventLog s:klaida u:2 \
    :: writeLog "s:$D/own.log" s:eilutė :: KeyContainer s:signer :: PkiDomain s:c.example >/dev/null
for _ in $(seq 50); do [ "$(wc -l < "$D/events.txt" 2>/dev/null)" -ge 2 ] && break; sleep 0.1; done
events=$(cat "$D/events.txt" 2>/dev/null)
check "warning event" contains "$events" "<12>1 "
check "error event" contains "$events" "<11>1 "
check "event source and id" contains "$events" " TVK "
check "event text" contains "$events" "įvykis"
log=$(cat "$D/global.log")
check "log header" contains "$log" "Įjungtas detalus įvykių registras byloje \"$D/global.log\""
check "log version" contains "$log" "Failo versija: "
check "configured domains used outside a browser" contains "$log" 'Naudojama viešojo rakto infrastruktūra srityje "https://pki.a.example"'
check "PkiDomain replaces them" contains "$log" 'Naudojama viešojo rakto infrastruktūra srityje "http://c.example"'
check "key container traced" contains "$log" "Įvestas naujas kriptografinių raktų konteinerio pavadinimas : signer"
check "caller line copied to the global log" contains "$log" "eilutė"
check "caller line in its own file" cmp -s "$D/own.log" <(printf 'eilutė\r\n')
# A log path that is a FIFO without a reader fails the write instead of hanging the member.
mkfifo "$D/pipe.log"
out=$("$TESSAL" call --json writeLog "s:$D/pipe.log" s:x :: reset)
check "writeLog to a FIFO fails" contains "$out" "Klaida i\\u0161saugant byl\\u0105 \\\"$D/pipe.log\\\" (6)"
check "and the next member answers" contains "$out" '"member":"reset","hresult":"0x00000000"'
check "log lines carry the prefix" bash -c "grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2},[0-9]{3}  I  \[[0-9]+/[0-9]+\] ' '$D/global.log'"

# --- hosted in a page ----------------------------------------------------------------------
out=$("$TESSAL" call --json --page https://www.nk.example/app readFile "s:$D/saved.xml" :: GetInterfaceSafetyOptions :: PkiDomain s:x)
check "approved page works" contains "$out" '"value":"<a>\u0105\u010d</a>"'
check "approved page safety" contains "$out" '"type":"safety","supported":1,"enabled":1'
check "approved page keeps its domain" contains "$out" 'Nar\u0161ykl\u0117s aplinkoje'
out=$("$TESSAL" call --json --page https://evil.example/ readFile "s:$D/saved.xml" :: writeLog "s:$D/evil" s:x :: reset)
check "foreign page refused" contains "$out" '"member":"readFile","hresult":"0x80020009","error":{"source":"Tessal.Sign.1","description":"Neleistina komponent\u0117s veikimo aplinka"}'
check "foreign page cannot write files" test ! -e "$D/evil"
check "subdomain trick refused" equals "$(status "$TESSAL" call --page https://evilnk.example/ readFile "s:$D/saved.xml")" 1
# A host the site match and the certificate fetches could read differently is no host.
for page in $'https://evil.example\x80.nk.example/' 'https://evil.example%00.nk.example/' 'https://evil.example%0a.nk.example/' \
            'https://nk.example%40evil.example/' 'https://www.nk.example./' 'https://ev%20il.nk.example/'; do
    out=$("$TESSAL" call --json --page "$page" readFile "s:$D/saved.xml")
    check "page $page refused" contains "$out" 'Neleistina komponent\u0117s veikimo aplinka'
done
# An administrator may serve approved sites over https only.
printf '[platform]\nrequireHttps = yes\n' > "$D/https-only.conf"
out=$(TESSAL_CONFIG="$D/https-only.conf" "$TESSAL" call --json --page http://www.nk.example/app readFile "s:$D/saved.xml")
check "requireHttps refuses an approved site over http" contains "$out" 'Neleistina komponent\u0117s veikimo aplinka'
out=$(TESSAL_CONFIG="$D/https-only.conf" "$TESSAL" call --json --page https://www.nk.example/app readFile "s:$D/saved.xml")
check "requireHttps serves it over https" contains "$out" '"value":"<a>\u0105\u010d</a>"'
out=$("$TESSAL" call --json --page http://www.nk.example/app readFile "s:$D/saved.xml")
check "without requireHttps plain http is served" contains "$out" '"value":"<a>\u0105\u010d</a>"'
check "page without safety call" equals "$(status "$TESSAL" call --no-safety --page http://nk.example/ PkiDomain s:a.example)" 0
check "all ok exits 0" equals "$(status "$TESSAL" call convert s:a :: compress s:a)" 0
check "any failure exits 1" equals "$(status "$TESSAL" call convert s:a :: compress e)" 1

finish
