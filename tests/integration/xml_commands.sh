#!/usr/bin/env bash
# Checks `tessal c14n` against xmllint's canonicaliser and `tessal header` on
# real business messages, and that no command lets a document read a local file.
# Usage: xml_commands.sh PATH_TO_TESSAL
set -u
TESSAL="$1"
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
export TESSAL_CONFIG="$D/none.conf"
source "$(dirname "$0")/lib/assertions.sh"

cat > "$D/ns.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE r [<!ATTLIST e kind CDATA "default"><!ENTITY who "Ąžuolas">]>
<!-- leading comment -->
<r xmlns="urn:default" xmlns:p="urn:p" xmlns:unused="urn:unused">
  <p:e b="2" a="1" p:c="3">&who; &amp; &lt;tag&gt;</p:e>
  <e/>
  <![CDATA[ <raw> & ]]>
  <?pi target?>
  <p:inner xmlns:p="urn:p"><deep xml:lang="lt">t&#x9;&#xD;</deep></p:inner>
</r>
XML
for f in "$D/ns.xml" "$SRC"/examples/messages/*.xml; do
    n=$(basename "$f")
    # xmllint's canonical forms keep comments.
    "$TESSAL" c14n --method http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments "$f" > "$D/ours" && xmllint --c14n "$f" > "$D/theirs"
    check "inclusive c14n of $n equals xmllint's" cmp -s "$D/ours" "$D/theirs"
    "$TESSAL" c14n --method http://www.w3.org/2001/10/xml-exc-c14n#WithComments "$f" > "$D/ours" && xmllint --exc-c14n "$f" > "$D/theirs"
    check "exclusive c14n of $n equals xmllint's" cmp -s "$D/ours" "$D/theirs"
done
"$TESSAL" c14n --method 'HTTP://WWW.W3.ORG/TR/2001/REC-XML-C14N-20010315#WITHCOMMENTS' "$D/ns.xml" > "$D/ours"
check "method names ignore case; comments kept" grep -q 'leading comment' "$D/ours"
"$TESSAL" c14n "$D/ns.xml" > "$D/ours"
check "default method drops comments" bash -c "! grep -q 'leading comment' '$D/ours'"
check "default method equals xmllint's without its comments" cmp -s "$D/ours" <(xmllint --c14n "$D/ns.xml" | sed 's/<!-- leading comment -->//' | sed '1{/^$/d}')
check "unknown method" contains "$("$TESSAL" c14n --method urn:nope "$D/ns.xml" 2>&1)" 'Nepalaikomas algoritmas "urn:nope"'
check "unknown method exits 1" test "$(status "$TESSAL" c14n --method urn:nope "$D/ns.xml")" = 1

header=$("$TESSAL" header "$SRC/examples/messages/20_invoice.xml")
check "header fields" contains "$header" '"Type":"Invoice","Sender":"UAB Ąžuolynas","Receiver":"Norvata Kelde","MsgId":"INV-2026-000123"'
check "header entries from Docs" contains "$header" '"sender":"UAB Ąžuolynas","id":"SF-000123"'
check "header of a non-message" contains "$("$TESSAL" header "$D/ns.xml")" '"MsgId":""'
check "header usage" test "$(status "$TESSAL" header)" = 2

echo 'TOPSECRET' > "$D/secret.txt"
printf '<!DOCTYPE a [<!ENTITY x SYSTEM "file://%s">]><a>&x;</a>' "$D/secret.txt" > "$D/xxe.xml"
out=$("$TESSAL" c14n "$D/xxe.xml" 2>&1)
check "external entity refused by c14n" contains "$out" "Klaidingas XML dokumentas"
check "secret not in c14n output" bash -c "! grep -q TOPSECRET <<< \"\$1\"" _ "$out"
out=$("$TESSAL" call --json readFile "s:$D/xxe.xml" 2>&1)
check "readFile gives the text as it is" contains "$out" '&x;'
printf 'not xml at all' > "$D/bad.xml"
out=$("$TESSAL" c14n "$D/bad.xml" 2>&1)
check "bad xml report" contains "$out" "XML duomenų fragmentas:"
check "bad xml exits 1" test "$(status "$TESSAL" c14n "$D/bad.xml")" = 1

finish
