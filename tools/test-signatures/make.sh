#!/usr/bin/env bash
# Writes signed business messages of the form that our signer produces, made
# independently of our code with xmlsec1 (signing), openssl (certificate
# digests, time-stamp authority), xmllint (canonical octets) and python3
# (text edits). Each intact signature is checked with `xmlsec1 --verify`
# before its name is printed; the deliberately broken files are not.
#
# Usage: tools/test-signatures/make.sh PKI_DIR OUT_DIR
#   PKI_DIR  a PKI minted by tools/test-pki/mint.sh
#
# Files written into OUT_DIR:
#   signed.xml             rsa-sha1, sha1 digests, signer
#   signed-pkcs1.xml       the same file (xmlsec1 writes big-endian PKCS #1 order)
#   signed-sha256.xml      rsa-sha256, sha256 digests, signer
#   signed-reversed.xml    signed.xml with the signature bytes least significant first
#   signed-timestamp.xml   signed with a SignatureTimeStamp over the SignatureValue
#   signed-revoked.xml     signer-revoked
#   signed-foreign.xml     signer-foreign (issued by a foreign organisation)
#   signed-no-code.xml     signer-no-code (user code one character short)
#   tampered.xml           signed.xml with one character of the message changed
#   tampered-digest.xml    signed.xml with the SignedProperties digest changed
#   tampered-timestamp.xml signed-timestamp.xml with a token over other bytes
#                          (the signature itself still holds)
#
# The time-stamped bytes are the inclusive canonical form of the SignatureValue
# element as it stands in the signature: the element is copied out into a
# document of its own with the XML-Signature default namespace declared on it
# (the only declaration in scope there) and canonicalised with `xmllint --c14n`.
set -euo pipefail
PKI="${1:?usage: make.sh PKI_DIR OUT_DIR}"
OUT="${2:?usage: make.sh PKI_DIR OUT_DIR}"
PKI=$(cd "$PKI" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

DS=http://www.w3.org/2000/09/xmldsig#
XADES=http://uri.etsi.org/01903/v1.1.1#
ID_ATTR=(--id-attr:Id "${XADES}:SignedProperties")
SIGNING_TIME=2026-12-09T10:11:12+02:00

for tool in xmlsec1 openssl xmllint python3; do
    command -v "$tool" >/dev/null || { echo "make.sh: $tool is required" >&2; exit 1; }
done

new_id() { od -An -N16 -tx1 /dev/urandom | tr -d ' \n' | tr 'a-f' 'A-F'; }
cert_b64() { openssl x509 -in "$1" -outform DER | base64 -w0; }
cert_sha1_b64() { openssl x509 -in "$1" -outform DER | openssl dgst -sha1 -binary | base64 -w0; }
issuer_text() {
    openssl x509 -in "$1" -noout -issuer -nameopt utf8,sep_comma_plus_space,sname |
        sed -e 's/^issuer=//' -e 's/UID=/OID.0.9.2342.19200300.100.1.1=/'
}
serial_decimal() {
    local hex; hex=$(openssl x509 -in "$1" -noout -serial | cut -d= -f2)
    python3 -c "print(int('$hex', 16))"
}

# The business message: an EDoc root wrapping a Msg with Header and Docs.
message() {
    cat <<'XML'
<Msg Type="Invoice" Version="1.0">
  <Header>
    <Sender>UAB Ąžuolynas</Sender>
    <Receiver>Norvata Kelde</Receiver>
    <MsgId>INV-2026-000123</MsgId>
    <System>Apskaita</System>
    <Date>2026-12-09T08:30:00</Date>
    <Priority>1</Priority>
  </Header>
  <Docs>
    <Doc>
      <Header>
        <DocId>SF-000123</DocId>
        <Type>PVM sąskaita faktūra</Type>
      </Header>
      <Body>
        <Line Item="Popierius A4" Quantity="10" Price="4.20"/>
        <Total Currency="EUR">42.00</Total>
      </Body>
    </Doc>
  </Docs>
</Msg>
XML
}

# template NAME ALG ID: the unsigned document for signer NAME; ALG is sha1 or
# sha256. Digest and signature values are left empty for xmlsec1 to fill.
template() {
    local cert="$PKI/certs/$1.pem" alg="$2" id="$3" sigmethod digest
    if [ "$alg" = sha256 ]; then
        sigmethod=http://www.w3.org/2001/04/xmldsig-more#rsa-sha256
        digest=http://www.w3.org/2001/04/xmlenc#sha256
    else
        sigmethod=${DS}rsa-sha1
        digest=${DS}sha1
    fi
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<EDoc>'
    message
    printf '<Signature Id="DS_%s" xmlns="%s">' "$id" "$DS"
    printf '<SignedInfo><CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>'
    printf '<SignatureMethod Algorithm="%s"/>' "$sigmethod"
    printf '<Reference URI=""><Transforms><Transform Algorithm="%senveloped-signature"/></Transforms>' "$DS"
    printf '<DigestMethod Algorithm="%s"/><DigestValue></DigestValue></Reference>' "$digest"
    printf '<Reference URI="#SP_%s" Type="%sSignedProperties">' "$id" "$XADES"
    printf '<DigestMethod Algorithm="%s"/><DigestValue></DigestValue></Reference></SignedInfo>' "$digest"
    printf '<SignatureValue Id="SV_%s"></SignatureValue>' "$id"
    printf '<KeyInfo><X509Data><X509Certificate>%s</X509Certificate></X509Data></KeyInfo>' "$(cert_b64 "$cert")"
    printf '<ds:Object xmlns="%s" xmlns:ds="%s">' "$XADES" "$DS"
    printf '<QualifyingProperties Target="#DS_%s"><SignedProperties Id="SP_%s"><SignedSignatureProperties>' "$id" "$id"
    printf '<SigningTime>%s</SigningTime><SigningCertificate><Cert><CertDigest>' "$SIGNING_TIME"
    printf '<DigestMethod Algorithm="%ssha1"/><DigestValue>%s</DigestValue></CertDigest>' "$DS" "$(cert_sha1_b64 "$cert")"
    printf '<IssuerSerial><ds:X509IssuerName>%s</ds:X509IssuerName>' "$(issuer_text "$cert")"
    printf '<ds:X509SerialNumber>%s</ds:X509SerialNumber></IssuerSerial></Cert></SigningCertificate>' "$(serial_decimal "$cert")"
    printf '<SignaturePolicyIdentifier><SignaturePolicyImplied/></SignaturePolicyIdentifier>'
    printf '</SignedSignatureProperties></SignedProperties></QualifyingProperties></ds:Object></Signature></EDoc>\n'
}

verify() {  # verify FILE SIGNER_NAME: xmlsec1 must accept the signature
    if ! xmlsec1 --verify --enabled-key-data key-name --pubkey-cert-pem "$PKI/certs/$2.pem" \
            "${ID_ATTR[@]}" "$1" >"$WORK/verify.log" 2>&1; then
        echo "make.sh: xmlsec1 rejects $1:" >&2
        cat "$WORK/verify.log" >&2
        exit 1
    fi
}

sign() {  # sign NAME ALG OUT_FILE
    local id; id=$(new_id)
    template "$1" "$2" "$id" > "$WORK/template.xml"
    # --insecure: the signer's certificate chain is not this tool's concern.
    xmlsec1 --sign --insecure --privkey-pem "$PKI/keys/$1.key,$PKI/certs/$1.pem" "${ID_ATTR[@]}" \
        --output "$3" "$WORK/template.xml" 2>"$WORK/sign.log" ||
        { echo "make.sh: xmlsec1 cannot sign for $1:" >&2; cat "$WORK/sign.log" >&2; exit 1; }
    verify "$3" "$1"
}

written() { echo "$OUT/$1"; }

# In-place text edits with python3; FILE is rewritten. The script reads the
# text as `s` and must leave the result in `s`.
edit() {  # edit FILE PYTHON
    python3 - "$1" "$2" <<'PY'
import sys, re, base64
path, code = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8") as f:
    s = f.read()
env = {"s": s, "re": re, "base64": base64}
exec(code, env)
if env["s"] == s:
    sys.exit("make.sh: edit left %s unchanged" % path)
with open(path, "w", encoding="utf-8") as f:
    f.write(env["s"])
PY
}

sign signer sha1 "$OUT/signed.xml"; written signed.xml
cp "$OUT/signed.xml" "$OUT/signed-pkcs1.xml"; verify "$OUT/signed-pkcs1.xml" signer; written signed-pkcs1.xml
sign signer sha256 "$OUT/signed-sha256.xml"; written signed-sha256.xml
sign signer-revoked sha1 "$OUT/signed-revoked.xml"; written signed-revoked.xml
sign signer-foreign sha1 "$OUT/signed-foreign.xml"; written signed-foreign.xml
sign signer-no-code sha1 "$OUT/signed-no-code.xml"; written signed-no-code.xml

# Signature value least significant byte first; xmlsec1 cannot read this
# order, so the check is that reversing it back gives the verified file's value.
cp "$OUT/signed.xml" "$OUT/signed-reversed.xml"
edit "$OUT/signed-reversed.xml" '
m = re.search(r"(<SignatureValue[^>]*>)([^<]*)(</SignatureValue>)", s)
raw = base64.b64decode(m.group(2))
s = s[:m.start(2)] + base64.b64encode(raw[::-1]).decode() + s[m.end(2):]'
python3 - "$OUT/signed.xml" "$OUT/signed-reversed.xml" <<'PY'
import sys, re, base64
value = lambda p: base64.b64decode(re.search(r"<SignatureValue[^>]*>([^<]*)<", open(p, encoding="utf-8").read()).group(1))
a, b = value(sys.argv[1]), value(sys.argv[2])
if len(a) != 256 or a != b[::-1]:
    sys.exit("make.sh: reversed signature value is wrong")
PY
written signed-reversed.xml

# One character of the business content changed after signing.
cp "$OUT/signed.xml" "$OUT/tampered.xml"
edit "$OUT/tampered.xml" 's = s.replace(">42.00</Total>", ">43.00</Total>", 1)'
written tampered.xml

# The SignedProperties reference digest altered (its first Base64 character).
cp "$OUT/signed.xml" "$OUT/tampered-digest.xml"
edit "$OUT/tampered-digest.xml" '
m = re.search(r"Type=\"[^\"]*#SignedProperties\"><DigestMethod [^>]*/><DigestValue>(.)", s)
c = "B" if m.group(1) != "B" else "C"
s = s[:m.start(1)] + c + s[m.end(1):]'
written tampered-digest.xml

# Signature time-stamp over the canonical SignatureValue element.
sign signer sha1 "$WORK/ts-signed.xml"
python3 - "$WORK/ts-signed.xml" "$DS" > "$WORK/sigvalue.xml" <<'PY'
import sys, re
s = open(sys.argv[1], encoding="utf-8").read()
m = re.search(r'<SignatureValue Id="([^"]*)">([^<]*)</SignatureValue>', s)
print('<SignatureValue xmlns="%s" Id="%s">%s</SignatureValue>' % (sys.argv[2], m.group(1), m.group(2)))
PY
xmllint --c14n "$WORK/sigvalue.xml" > "$WORK/sigvalue.c14n"
sv_id=$(sed -n 's/.*<SignatureValue [^>]*Id="\([^"]*\)".*/\1/p' "$WORK/sigvalue.xml")
openssl ts -query -data "$WORK/sigvalue.c14n" -sha1 -cert -out "$WORK/query.tsq" 2>/dev/null
openssl ts -reply -config "$PKI/tsa.cnf" -queryfile "$WORK/query.tsq" -token_out \
    -out "$WORK/token.der" 2>"$WORK/ts.log" || { cat "$WORK/ts.log" >&2; exit 1; }
openssl ts -verify -token_in -in "$WORK/token.der" -data "$WORK/sigvalue.c14n" \
    -CAfile "$PKI/certs/root-ca.pem" -untrusted "$PKI/certs/issuing-ca.pem" >/dev/null 2>&1 ||
    { echo "make.sh: the time-stamp token does not verify" >&2; exit 1; }
# with_timestamp TOKEN_FILE OUT_FILE: the signed file with a SignatureTimeStamp added.
with_timestamp() {
    local token; token=$(base64 -w0 < "$1")
    cp "$WORK/ts-signed.xml" "$2"
    edit "$2" "
s = s.replace('</SignedProperties></QualifyingProperties>',
    '</SignedProperties><UnsignedProperties><UnsignedSignatureProperties><SignatureTimeStamp>'
    '<HashDataInfo uri=\"#$sv_id\"/><EncapsulatedTimeStamp>$token</EncapsulatedTimeStamp>'
    '</SignatureTimeStamp></UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>', 1)"
    verify "$2" signer
}
with_timestamp "$WORK/token.der" "$OUT/signed-timestamp.xml"
written signed-timestamp.xml

# A genuine token whose imprint is over other bytes (the canonical octets
# followed by a line feed); the unsigned properties are outside every signed
# reference, so xmlsec1 still accepts the signature.
{ cat "$WORK/sigvalue.c14n"; echo; } > "$WORK/other.bin"
openssl ts -query -data "$WORK/other.bin" -sha1 -cert -out "$WORK/other.tsq" 2>/dev/null
openssl ts -reply -config "$PKI/tsa.cnf" -queryfile "$WORK/other.tsq" -token_out \
    -out "$WORK/other.der" 2>"$WORK/ts.log" || { cat "$WORK/ts.log" >&2; exit 1; }
with_timestamp "$WORK/other.der" "$OUT/tampered-timestamp.xml"
written tampered-timestamp.xml
