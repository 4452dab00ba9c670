#!/usr/bin/env bash
# Signing end to end: signer keys in a SoftHSM2 token, certificates and CRLs
# from the stand-in certificate web service, the signed documents checked by
# our verifier and by xmlsec1.
# Usage: sign_command.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

if ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
    missing "softhsm2-util or pkcs11-tool (signing)"
    finish
    exit
fi
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 \
    signer signer-no-code signer-expired signer-foreign signer-revoked signer-markup)
subject=$(name_text "$P/certs/signer.pem" subject)

start_service "$P"
write_config --domain "127.0.0.1:$PORT" --hsm "Demo HSM" --pin 1234
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"

# --- a signature that both verifiers accept -----------------------------------
run "$TESSAL" sign "$D/doc.xml" --container signer --log "$D/sign.log"
check "sign exits 0" equals "$RC" 0
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
check "sign prints where the document went" equals "$OUT" "$D/doc.signed.xml"
run "$TESSAL" verify "$D/doc.signed.xml"
check "our verifier accepts the signature" equals "$OUT" "$subject"
check "the root is EDoc around the message" contains "$(head -c 200 "$D/doc.signed.xml")" "<EDoc><Msg "
check "the signature is the root's last child" contains "$(tail -c 40 "$D/doc.signed.xml")" "</Signature></EDoc>"
check "the trace shows the steps" contains "$(cat "$D/sign.log")" "XML dokumentas pasirašytas sėkmingai"

xmlsec() { xmlsec1 --verify --enabled-key-data key-name --pubkey-cert-pem "$P/certs/signer.pem" \
    --id-attr:Id 'http://uri.etsi.org/01903/v1.1.1#:SignedProperties' "$1" 2>&1; }
# xmlsec1 reads the value in PKCS #1 order; ours is least significant byte first.
python3 - "$D/doc.signed.xml" "$D/pkcs1.xml" <<'PY'
import base64, re, sys
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<SignatureValue>([^<]*)</SignatureValue>', text)
value = base64.b64encode(base64.b64decode(m.group(1))[::-1]).decode()
open(sys.argv[2], 'w', encoding='utf-8').write(text[:m.start(1)] + value + text[m.end(1):])
PY
check "xmlsec1 judges both references ok as written" contains "$(xmlsec "$D/doc.signed.xml")" "SignedInfo References (ok/all): 2/2"
check "xmlsec1 verifies the reversed value" contains "$(xmlsec "$D/pkcs1.xml")" "OK"
run "$TESSAL" verify "$D/pkcs1.xml"
check "our verifier accepts the PKCS #1 order too" equals "$RC" 0

# --- an issuer name holding & < > and " stays text in the signature ---------------
run "$TESSAL" sign "$D/doc.xml" --container signer-markup -o "$D/markup.xml"
check "a signer whose issuer name holds markup characters signs" equals "$RC" 0
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
run "$TESSAL" verify "$D/markup.xml"
check "that signature verifies" equals "$OUT" "$(name_text "$P/certs/signer-markup.pem" subject)"
issuer_name=$(python3 - "$D/markup.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
names = [e.text for e in ET.parse(sys.argv[1]).iter('{http://www.w3.org/2000/09/xmldsig#}X509IssuerName')]
print(len(names), names[0] if names else '')
PY
)
check "the issuer name is one text element" contains "$issuer_name" "1 "
check "the issuer name reads back unchanged" contains "$issuer_name" "Norvata & Keldas <Bandymai>"
check "xmlsec1 accepts both references of that signature" \
    contains "$(xmlsec1 --verify --enabled-key-data key-name --pubkey-cert-pem "$P/certs/signer-markup.pem" \
        --id-attr:Id 'http://uri.etsi.org/01903/v1.1.1#:SignedProperties' "$D/markup.xml" 2>&1)" \
    "SignedInfo References (ok/all): 2/2"

# --- two signatures of one document differ --------------------------------------
run "$TESSAL" sign "$D/doc.xml" --container signer -o "$D/again.xml"
ids() { grep -o 'Id="[A-Z]\{2\}_[0-9A-F]\{32\}"' "$1" | sort -u | tr '\n' ' '; }
value() { grep -o '<SignatureValue>[^<]*' "$1"; }
check "a second signature has other identifiers" bash -c "[ '$(ids "$D/doc.signed.xml")' != '$(ids "$D/again.xml")' ]"
check "a second signature has another value" bash -c "[ '$(value "$D/doc.signed.xml")' != '$(value "$D/again.xml")' ]"
check "identifiers are 32 upper-case hex digits" contains "$(ids "$D/again.xml")" 'Id="DS_'

# --- the member through the call host --------------------------------------------
run "$TESSAL" call --out "$D/member.xml" KeyContainer s:signer :: signXml "sf:$D/doc.xml"
check "KeyContainer then signXml exits 0" equals "$RC" 0
run "$TESSAL" verify "$D/member.xml"
check "the member's document verifies" equals "$OUT" "$subject"
run "$TESSAL" call --json KeyContainer s:signer :: signXml "sf:$D/doc.xml" i:0
check "bRaw 0 answers a string" contains "$(tail -n 1 <<<"$OUT")" '"type":"string"'

# --- certificates that fail the requirements are reported ------------------------
run "$TESSAL" sign "$D/doc.xml" --container signer-no-code
check "a signer without user code is refused" equals "$RC" 1
check "the refusal counts the certificates" contains "$ERR" "Rasta sertifikatų: 1. Nei vienas iš sertifikatų neatitinka sistemos reikalavimų."
check "the refusal names the certificate" contains "$ERR" "Sertifikatas:"
check "the refusal gives the reason" contains "$ERR" "vartotojo identifikacijos"
run "$TESSAL" sign "$D/doc.xml" --container signer-expired
check "an expired signer is refused" contains "$ERR" "Atmetimo priežastis:"
run "$TESSAL" sign "$D/doc.xml" --container signer-foreign
check "a foreign signer is refused" contains "$ERR" "Sertifikatas išduotas ne Norvata Kelde"
run "$TESSAL" sign "$D/doc.xml" --container nobody
check "a missing container finds no certificate" contains "$ERR" "Nerasta nei vieno sertifikato, atitinkančio sistemos reikalavimus."
TESSAL_PIN=0000 run "$TESSAL" sign "$D/doc.xml" --container signer
check "a wrong PIN fails" equals "$RC" 1
check "a wrong PIN finds no usable key" contains "$ERR" "Nerasta nei vieno sertifikato"

# --- bad documents -----------------------------------------------------------------
printf 'not xml' > "$D/bad.xml"
run "$TESSAL" sign "$D/bad.xml" --container signer
check "a document that is not XML fails" equals "$RC" 1
check "a document that is not XML is reported by the parser" contains "$ERR" "70301"
: > "$D/empty.xml"
run "$TESSAL" sign "$D/empty.xml" --container signer
check "an empty document is refused" contains "$ERR" "Bandymas išsaugoti tuščią dokumentą"

# --- inside an approved page chain and revocation checks run ----------------------
printf '127.0.0.1 pki.nk.example\n' > "$D/hosts"
page() {  # page CONTAINER OUT
    run unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec "$2" call --page "http://pki.nk.example:$3/app" --out "$5" KeyContainer "s:$4" :: signXml "sf:$6"' \
        _ "$D/hosts" "$TESSAL" "$PORT" "$1" "$2" "$D/doc.xml"
}
if unshare -m sh -c "mount --bind '$D/hosts' /etc/hosts" 2>/dev/null; then
    page signer "$D/page.xml"
    check "page: the valid signer signs" equals "$RC" 0
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    page signer-revoked "$D/page-revoked.xml"
    check "page: a revoked signer is refused" contains "$ERR" "Sertifikatas atšauktas"
else
    missing "no private mount namespace here, needs root (signing in a page)"
fi

finish
