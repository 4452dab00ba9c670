#!/usr/bin/env bash
# Writes signed business messages of the form that our signer produces, made
# independently of our code with xmlsec1 (signing), openssl (certificate
# digests, time-stamp authority), xmllint (canonical octets) and python3
# (text edits). Each intact signature is checked with `xmlsec1 --verify`
# before its name is printed; the deliberately broken files are not.
#
# Usage: tools/test-signatures/make.sh PKI_DIR OUT_DIR [SERVICE_URL]
#   PKI_DIR      a PKI minted by tools/test-pki/mint.sh
#   SERVICE_URL  the stand-in certificate web service serving PKI_DIR, e.g.
#                http://127.0.0.1:PORT; the documents that time-stamp one of
#                its answers are made only when it is given (needs curl)
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
#   signed-archive.xml     signed-timestamp.xml's signature with two ArchiveTimeStamps
#                          as well: the first over the SignatureValue, the second
#                          over the SignatureValue followed by the SignedProperties
#   signed-many-entries.xml signed-timestamp.xml's signature with an ArchiveTimeStamp
#                          of 3000 HashDataInfo entries, each the whole document
#                          without the signature
#   tampered-archive.xml   a valid SignatureTimeStamp and an ArchiveTimeStamp whose
#                          token is over other bytes
#   external-other.xml     a SignatureTimeStamp that also names a document on an
#                          ordinary web address (not certificate or CRL data)
#   qpref-page.xml         a QualifyingPropertiesReference to an ordinary web page
#   qpref-uppercase.xml    no KeyInfo; the signer's certificate named only by a
#                          QualifyingPropertiesReference whose path is in capitals
#   signed-digest-only.xml no KeyInfo and no reference: only the SigningCertificate
#                          digest names the signer's certificate
#   forged-time-unsigned.xml signed.xml with an unsigned SigningTime (2001-02-03)
#                          put in QualifyingProperties before the SignedProperties
#   forged-props-keyinfo.xml signed.xml with its SignedProperties copied into KeyInfo
#                          (where the Id now finds it first) and the SigningTime of
#                          the one in QualifyingProperties changed to 2001-02-03
#   forged-props-after.xml signed.xml with a copy of its SignedProperties, SigningTime
#                          2001-02-03, appended after the real one
#   timestamp-elsewhere.xml signed.xml with signed-timestamp.xml's genuine token,
#                          whose HashDataInfo names a copy of that other
#                          signature's SignatureValue placed in the unsigned properties
#   archive-elsewhere.xml  a SignatureTimeStamp of the revoked authority and an
#                          ArchiveTimeStamp over the SignedProperties alone
#   signed-doctype.xml     signed.xml's form with a DOCTYPE naming an external DTD
#                          subset (edoc.dtd, written beside it; it declares
#                          nothing that changes the canonical form)
#   entity-content.xml     signed-doctype.xml whose message text uses an external
#                          entity declared in an internal subset (not signed anew)
# and with SERVICE_URL:
#   signed-external-cert.xml an ArchiveTimeStamp over the certificate service's
#                          answer for the signer (a reference without "#", so the
#                          answer document's root element)
#   tampered-external-cert.xml that token, with the reference naming the
#                          issuing CA's answer instead of the signer's
#
# The time-stamped bytes are the inclusive canonical form of the SignatureValue
# element as it stands in the signature: the element is copied out into a
# document of its own with the XML-Signature default namespace declared on it
# (the only declaration in scope there) and canonicalised with `xmllint --c14n`.
set -euo pipefail
PKI="${1:?usage: make.sh PKI_DIR OUT_DIR}"
OUT="${2:?usage: make.sh PKI_DIR OUT_DIR}"
SERVICE_URL="${3:-}"
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
if [ -n "$SERVICE_URL" ]; then
    command -v curl >/dev/null || { echo "make.sh: curl is required with SERVICE_URL" >&2; exit 1; }
fi

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
    printf '<?xml version="1.0" encoding="UTF-8"?>\n'
    if [ -n "${DOCTYPE:-}" ]; then printf '%s\n' "$DOCTYPE"; fi
    printf '<EDoc>'
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

printf '<!ELEMENT EDoc ANY>\n' > "$WORK/edoc.dtd"
cp "$WORK/edoc.dtd" "$OUT/edoc.dtd"
DOCTYPE='<!DOCTYPE EDoc SYSTEM "edoc.dtd">' sign signer sha1 "$OUT/signed-doctype.xml"; written signed-doctype.xml
cp "$OUT/signed-doctype.xml" "$OUT/entity-content.xml"
edit "$OUT/entity-content.xml" 's = s.replace("<!DOCTYPE EDoc SYSTEM \"edoc.dtd\">", "<!DOCTYPE EDoc SYSTEM \"edoc.dtd\" [<!ENTITY who SYSTEM \"edoc.dtd\">]>", 1).replace("UAB ", "&who;", 1)'
written entity-content.xml

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

# --- archive time-stamps and external time-stamped data ---------------------
# All of these add unsigned properties (or Object children outside every
# signed reference) to the signature of signed-timestamp.xml, so xmlsec1
# still accepts each of them.

# stamp DATA_FILE TOKEN_FILE: a token of the test authority over the bytes of DATA_FILE.
stamp() {
    openssl ts -query -data "$1" -sha1 -cert -out "$WORK/stamp.tsq" 2>/dev/null
    openssl ts -reply -config "$PKI/tsa.cnf" -queryfile "$WORK/stamp.tsq" -token_out \
        -out "$2" 2>"$WORK/ts.log" || { cat "$WORK/ts.log" >&2; exit 1; }
}
# stamp_checked DATA_FILE TOKEN_FILE: the same, and openssl confirms the token covers the data.
stamp_checked() {
    stamp "$1" "$2"
    openssl ts -verify -token_in -in "$2" -data "$1" \
        -CAfile "$PKI/certs/root-ca.pem" -untrusted "$PKI/certs/issuing-ca.pem" >/dev/null 2>&1 ||
        { echo "make.sh: the time-stamp token over $1 does not verify" >&2; exit 1; }
}
b64() { base64 -w0 < "$1"; }
# time_stamp ELEMENT TOKEN_FILE URI...: a time-stamp element with one
# HashDataInfo per URI (XML-escaped here) in the given order.
time_stamp() {
    local element="$1" token="$2" uri; shift 2
    printf '<%s>' "$element"
    for uri in "$@"; do
        printf '<HashDataInfo uri="%s"/>' "$(printf '%s' "$uri" | sed -e 's/&/\&amp;/g' -e 's/"/\&quot;/g')"
    done
    printf '<EncapsulatedTimeStamp>%s</EncapsulatedTimeStamp></%s>' "$(b64 "$token")" "$element"
}
# with_unsigned OUT_FILE ELEMENTS: the signature of ts-signed.xml with
# UnsignedSignatureProperties holding ELEMENTS.
with_unsigned() {
    cp "$WORK/ts-signed.xml" "$1"
    UNSIGNED="$2" edit "$1" "
import os
s = s.replace('</SignedProperties></QualifyingProperties>',
    '</SignedProperties><UnsignedProperties><UnsignedSignatureProperties>' + os.environ['UNSIGNED'] +
    '</UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>', 1)"
    verify "$1" signer
}

# The inclusive canonical SignedProperties: copied out with the two
# declarations in scope where it stands (on ds:Object) put on it. Its SHA-1
# must be the digest that xmlsec1 put in the SignedProperties reference.
python3 - "$WORK/ts-signed.xml" "$XADES" "$DS" > "$WORK/signedprops.xml" <<'PY'
import sys, re
s = open(sys.argv[1], encoding="utf-8").read()
m = re.search(r'<SignedProperties( Id="[^"]*">.*?</SignedProperties>)', s, re.S)
sys.stdout.write('<SignedProperties xmlns="%s" xmlns:ds="%s"%s' % (sys.argv[2], sys.argv[3], m.group(1)))
PY
xmllint --c14n "$WORK/signedprops.xml" > "$WORK/signedprops.c14n"
sp_id=$(sed -n 's/^<SignedProperties [^>]*Id="\([^"]*\)".*/\1/p' "$WORK/signedprops.c14n" | head -n1)
python3 - "$WORK/ts-signed.xml" "$WORK/signedprops.c14n" <<'PY'
import sys, re, base64, hashlib
s = open(sys.argv[1], encoding="utf-8").read()
m = re.search(r'Type="[^"]*#SignedProperties"><DigestMethod [^>]*/><DigestValue>([^<]*)<', s)
if base64.b64decode(m.group(1)) != hashlib.sha1(open(sys.argv[2], "rb").read()).digest():
    sys.exit("make.sh: the canonical SignedProperties differ from what xmlsec1 digested")
PY

# Two archive time-stamps after the signature time-stamp. The second one's
# data is the two HashDataInfo octets one after the other.
cat "$WORK/sigvalue.c14n" "$WORK/signedprops.c14n" > "$WORK/sv-sp.bin"
stamp_checked "$WORK/sigvalue.c14n" "$WORK/archive1.der"
stamp_checked "$WORK/sv-sp.bin" "$WORK/archive2.der"
with_unsigned "$OUT/signed-archive.xml" \
    "$(time_stamp SignatureTimeStamp "$WORK/token.der" "#$sv_id")$(time_stamp ArchiveTimeStamp "$WORK/archive1.der" "#$sv_id")$(time_stamp ArchiveTimeStamp "$WORK/archive2.der" "#$sv_id" "#$sp_id")"
written signed-archive.xml

# An archive time-stamp whose 3000 HashDataInfo entries each name the whole
# document without the signature (URI "#" and the enveloped-signature
# transform); its token covers that many copies of those octets.
python3 - "$WORK/ts-signed.xml" > "$WORK/unsigned-doc.xml" <<'PY'
import sys, re
s = open(sys.argv[1], encoding="utf-8").read()
sys.stdout.write(re.sub(r"<Signature .*</Signature>", "", s, count=1, flags=re.S))
PY
xmllint --c14n "$WORK/unsigned-doc.xml" > "$WORK/unsigned-doc.c14n"
python3 - "$WORK/unsigned-doc.c14n" "$WORK/many.bin" <<'PY'
import sys
open(sys.argv[2], "wb").write(open(sys.argv[1], "rb").read() * 3000)
PY
stamp_checked "$WORK/many.bin" "$WORK/many.der"
time_stamp SignatureTimeStamp "$WORK/token.der" "#$sv_id" > "$WORK/many-unsigned.xml"
python3 - "$DS" "$(b64 "$WORK/many.der")" >> "$WORK/many-unsigned.xml" <<'PY'
import sys
entry = '<HashDataInfo uri="#"><Transforms><Transform Algorithm="%senveloped-signature"/></Transforms></HashDataInfo>' % sys.argv[1]
sys.stdout.write("<ArchiveTimeStamp>%s<EncapsulatedTimeStamp>%s</EncapsulatedTimeStamp></ArchiveTimeStamp>" % (entry * 3000, sys.argv[2]))
PY
cp "$WORK/ts-signed.xml" "$OUT/signed-many-entries.xml"
python3 - "$OUT/signed-many-entries.xml" "$WORK/many-unsigned.xml" <<'PY'
import sys
path, unsigned = sys.argv[1], open(sys.argv[2], encoding="utf-8").read()
s = open(path, encoding="utf-8").read()
s = s.replace("</SignedProperties></QualifyingProperties>",
    "</SignedProperties><UnsignedProperties><UnsignedSignatureProperties>" + unsigned +
    "</UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>", 1)
open(path, "w", encoding="utf-8").write(s)
PY
verify "$OUT/signed-many-entries.xml" signer
written signed-many-entries.xml

# The archive token over the SignatureValue octets followed by a line feed.
with_unsigned "$OUT/tampered-archive.xml" \
    "$(time_stamp SignatureTimeStamp "$WORK/token.der" "#$sv_id")$(time_stamp ArchiveTimeStamp "$WORK/other.der" "#$sv_id")"
written tampered-archive.xml

# A signature time-stamp of the revoked authority, followed by a genuine
# archive time-stamp over the SignedProperties alone: it covers no part of
# this signature's value, so it must not excuse the authority's revocation.
openssl ts -query -data "$WORK/sigvalue.c14n" -sha1 -cert -out "$WORK/revoked.tsq" 2>/dev/null
openssl ts -reply -config "$PKI/tsa-revoked.cnf" -queryfile "$WORK/revoked.tsq" -token_out \
    -out "$WORK/revoked-tsa.der" 2>"$WORK/ts.log" || { cat "$WORK/ts.log" >&2; exit 1; }
stamp_checked "$WORK/signedprops.c14n" "$WORK/archive-props.der"
with_unsigned "$OUT/archive-elsewhere.xml" \
    "$(time_stamp SignatureTimeStamp "$WORK/revoked-tsa.der" "#$sv_id")$(time_stamp ArchiveTimeStamp "$WORK/archive-props.der" "#$sp_id")"
written archive-elsewhere.xml

# Time-stamped data drawn from an address that serves neither certificates nor CRLs.
with_unsigned "$OUT/external-other.xml" \
    "$(time_stamp SignatureTimeStamp "$WORK/token.der" "#$sv_id" "http://example.org/other.xml")"
written external-other.xml

# object_first FILE ELEMENT: ELEMENT put first inside ds:Object (the
# signature stays valid: Object is outside the signed references, except
# for SignedProperties).
object_first() {
    FIRST="$2" edit "$1" "
import os
s = re.sub(r'(<ds:Object [^>]*>)', lambda m: m.group(1) + os.environ['FIRST'], s, count=1)"
}
drop_key_info() { edit "$1" 's = re.sub(r"<KeyInfo>.*?</KeyInfo>", "", s, count=1, flags=re.S)'; }

cp "$WORK/ts-signed.xml" "$OUT/qpref-page.xml"
object_first "$OUT/qpref-page.xml" '<QualifyingPropertiesReference URI="http://example.org/page.html"/>'
verify "$OUT/qpref-page.xml" signer
written qpref-page.xml

cp "$WORK/ts-signed.xml" "$OUT/qpref-uppercase.xml"
drop_key_info "$OUT/qpref-uppercase.xml"
object_first "$OUT/qpref-uppercase.xml" \
    "<QualifyingPropertiesReference URI=\"http://pki.invalid/PKI/CERT/?$(cert_sha1_b64 "$PKI/certs/signer.pem")\"/>"
verify "$OUT/qpref-uppercase.xml" signer
written qpref-uppercase.xml

cp "$WORK/ts-signed.xml" "$OUT/signed-digest-only.xml"
drop_key_info "$OUT/signed-digest-only.xml"
verify "$OUT/signed-digest-only.xml" signer
written signed-digest-only.xml

# --- properties and time-stamps outside what the signature covers -----------
FORGED_TIME=2001-02-03T04:05:06Z
cp "$OUT/signed.xml" "$OUT/forged-time-unsigned.xml"
edit "$OUT/forged-time-unsigned.xml" "
s = re.sub(r'(<QualifyingProperties [^>]*>)', lambda m: m.group(1) + '<SigningTime>$FORGED_TIME</SigningTime>', s, count=1)"
verify "$OUT/forged-time-unsigned.xml" signer
written forged-time-unsigned.xml

# copy_properties FILE WHERE: a copy of the SignedProperties of FILE, carrying
# the declarations in scope where it stands, with SigningTime forged when
# WHERE is "keyinfo" (the copy keeps the original, the real one is forged)
# or "after" (the copy itself is forged).
copy_properties() {
    python3 - "$1" "$2" "$XADES" "$DS" "$FORGED_TIME" <<'PY2'
import sys, re
path, where, xades, ds, forged = sys.argv[1:]
s = open(path, encoding="utf-8").read()
m = re.search(r'<SignedProperties( Id="[^"]*">.*?</SignedProperties>)', s, re.S)
copy = '<SignedProperties xmlns="%s" xmlns:ds="%s"%s' % (xades, ds, m.group(1))
forge = lambda t: re.sub(r'<SigningTime>[^<]*</SigningTime>', '<SigningTime>%s</SigningTime>' % forged, t, count=1)
if where == "keyinfo":
    s = s[:m.start()] + forge(m.group(0)) + s[m.end():]
    s = s.replace('</X509Data></KeyInfo>', '</X509Data>' + copy + '</KeyInfo>', 1)
else:
    s = s[:m.end()] + forge(m.group(0)) + s[m.end():]
open(path, "w", encoding="utf-8").write(s)
PY2
}
cp "$OUT/signed.xml" "$OUT/forged-props-keyinfo.xml"
copy_properties "$OUT/forged-props-keyinfo.xml" keyinfo
written forged-props-keyinfo.xml
cp "$OUT/signed.xml" "$OUT/forged-props-after.xml"
copy_properties "$OUT/forged-props-after.xml" after
written forged-props-after.xml

# A genuine signature time-stamp, but over another signature's value: the
# copy it names stands among the unsigned properties of this signature.
cp "$OUT/signed.xml" "$OUT/timestamp-elsewhere.xml"
ELSEWHERE="$(cat "$WORK/sigvalue.xml")$(time_stamp SignatureTimeStamp "$WORK/token.der" "#$sv_id")" \
    edit "$OUT/timestamp-elsewhere.xml" "
import os
s = s.replace('</SignedProperties></QualifyingProperties>',
    '</SignedProperties><UnsignedProperties><UnsignedSignatureProperties>' + os.environ['ELSEWHERE'] +
    '</UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>', 1)"
verify "$OUT/timestamp-elsewhere.xml" signer
written timestamp-elsewhere.xml

# The service's answer for the signer, time-stamped through an external
# reference without a fragment: the data is the inclusive canonical form of
# the answer document's root element.
if [ -n "$SERVICE_URL" ]; then
    signer_hex=$(openssl x509 -in "$PKI/certs/signer.pem" -outform DER | openssl dgst -sha1 -hex | sed 's/^.*= *//' | tr 'a-f' 'A-F')
    curl -fsS -o "$WORK/answer.xml" "$SERVICE_URL/pki/cert/?hex&$signer_hex" ||
        { echo "make.sh: the service at $SERVICE_URL gives no answer for the signer" >&2; exit 1; }
    xmllint --c14n "$WORK/answer.xml" > "$WORK/answer.c14n"
    # The document's canonical form is its root element's only when nothing
    # but the root (and an XML declaration) makes up the document.
    if grep -q '<?' "$WORK/answer.c14n" || [ "$(head -c1 "$WORK/answer.c14n")" != "<" ]; then
        echo "make.sh: the service answer holds more than its root element" >&2; exit 1
    fi
    stamp_checked "$WORK/answer.c14n" "$WORK/answer.der"
    with_unsigned "$OUT/signed-external-cert.xml" \
        "$(time_stamp ArchiveTimeStamp "$WORK/answer.der" "http://pki.invalid/pki/cert/?hex&$signer_hex")"
    written signed-external-cert.xml

    # The same token, but the reference names the issuing CA's answer instead.
    ca_hex=$(openssl x509 -in "$PKI/certs/issuing-ca.pem" -outform DER | openssl dgst -sha1 -hex | sed 's/^.*= *//' | tr 'a-f' 'A-F')
    with_unsigned "$OUT/tampered-external-cert.xml" \
        "$(time_stamp ArchiveTimeStamp "$WORK/answer.der" "http://pki.invalid/pki/cert/?hex&$ca_hex")"
    written tampered-external-cert.xml
fi
