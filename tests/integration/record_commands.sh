#!/usr/bin/env bash
# `tessal cert` and `tessal crl` on material from the test PKI and from plain
# openssl, in every input form, with the expected texts computed by openssl.
# Usage: record_commands.sh PATH_TO_TESSAL
set -u
TESSAL="$1"
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
source "$(dirname "$0")/lib/assertions.sh"
source "$(dirname "$0")/lib/pki_texts.sh"

bash "$SRC/tools/test-pki/mint.sh" "$D/pki" >/dev/null
P="$D/pki"
json() { jq -r "$2" <<<"$1"; }  # json TEXT FILTER

# --- a signer certificate in every form ---------------------------------
signer="$P/certs/signer.pem"
openssl x509 -in "$signer" -outform DER -out "$D/signer.der"
base64 -w76 < "$D/signer.der" > "$D/signer.b64"
printf '<QualifyingProperties xmlns="http://uri.etsi.org/01903/v1.1.1#"><UnsignedProperties><UnsignedSignatureProperties><CertificateValues><EncapsulatedX509Certificate>%s</EncapsulatedX509Certificate></CertificateValues></UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>' \
    "$(base64 -w0 < "$D/signer.der")" > "$D/signer.xml"

pem=$("$TESSAL" cert "$signer")
check "cert on PEM exits 0" equals "$?" 0
for form in der b64 xml; do
    check "cert on $form prints what PEM prints" equals "$("$TESSAL" cert "$D/signer.$form")" "$pem"
done
check "id is the upper-case SHA-1 of the DER" equals "$(json "$pem" .id)" "$(der_sha1 "$signer")"
check "idBase64 is the Base64 SHA-1" equals "$(json "$pem" .idBase64)" \
    "$(openssl dgst -sha1 -binary "$D/signer.der" | base64 -w0)"
check "sha256Id" equals "$(json "$pem" .sha256Id)" "$(sha256sum < "$D/signer.der" | cut -c1-64 | upper)"
check "sha384Id" equals "$(json "$pem" .sha384Id)" "$(sha384sum < "$D/signer.der" | cut -c1-96 | upper)"
check "sha512Id" equals "$(json "$pem" .sha512Id)" "$(sha512sum < "$D/signer.der" | cut -c1-128 | upper)"
serial_hex=$(openssl x509 -in "$signer" -noout -serial | cut -d= -f2)
check "serialNumber is decimal" equals "$(json "$pem" .serialNumber)" "$(echo "ibase=16; $serial_hex" | bc)"
check "subject text" equals "$(json "$pem" .subject)" "$(name_text "$signer" subject)"
check "issuer text" equals "$(json "$pem" .issuer)" "$(name_text "$signer" issuer)"
check "subjectCommonName is lower-cased" equals "$(json "$pem" .subjectCommonName)" "jonas jonaitis"
check "issuerCommonName is lower-cased" equals "$(json "$pem" .issuerCommonName)" "norvata keldas issuing ca"
check "userCode" equals "$(json "$pem" .userCode)" "$(cat "$P/user-code.txt")"
check "selfSigned is false for the signer" equals "$(json "$pem" .selfSigned)" false
check "keyHash is SHA-1 of the public-key blob" equals "$(json "$pem" .keyHash)" "$(key_hash "$signer")"
check "keyHashBase64 carries the same bytes" equals \
    "$(json "$pem" .keyHashBase64 | base64 -d | xxd -p -c 100 | upper)" "$(key_hash "$signer")"

root=$("$TESSAL" cert "$P/certs/root-ca.pem")
check "the root is self-signed" equals "$(json "$root" .selfSigned)" true
check "a certificate without the user code has an empty userCode" \
    equals "$(json "$("$TESSAL" cert "$P/certs/signer-no-code.pem")" .userCode)" ""

# --- plain openssl material ------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$D/plain.key" -subj "/C=LT/O=Bandymas/CN=Plain Root" \
    -days 5 -set_serial 0x0123456789ABCDEF0123 -out "$D/plain.pem" 2>/dev/null
plain=$("$TESSAL" cert "$D/plain.pem")
check "openssl certificate: subject in encoded order" equals "$(json "$plain" .subject)" "C=LT, O=Bandymas, CN=Plain Root"
check "openssl certificate: a long serial in decimal" equals "$(json "$plain" .serialNumber)" \
    "$(echo "ibase=16; 0123456789ABCDEF0123" | bc)"
# Long serials: the decimal text matches bc's for a few lengths; one past the
# converter's limit is refused as a malformed certificate instead of converted.
for bytes in 20 64 500 8192; do
    hex="7$(head -c "$bytes" /dev/urandom | xxd -p -c 100000 | tr 'a-f' 'A-F' | cut -c2-)"
    openssl req -x509 -key "$D/plain.key" -subj "/C=LT/CN=Long Serial" -days 5 -set_serial "0x$hex" \
        -out "$D/serial.pem" 2>/dev/null
    check "a serial of $bytes bytes in decimal" equals "$(json "$("$TESSAL" cert "$D/serial.pem")" .serialNumber)" \
        "$(echo "ibase=16; $hex" | BC_LINE_LENGTH=0 bc)"
done
openssl req -x509 -key "$D/plain.key" -subj "/C=LT/CN=Long Serial" -days 5 \
    -set_serial "0x7$(head -c 8192 /dev/zero | xxd -p -c 100000)" -out "$D/serial.pem" 2>/dev/null
check "a serial past the limit is refused" contains "$("$TESSAL" cert "$D/serial.pem" 2>&1)" "Klaidingas sertifikato formatas"
# Names the text form cannot cut: the UTF8String CN "bankXevil" of one
# certificate is patched in place (same length) to hold a NUL, or retagged as
# a T61String holding UTF-8 or Latin-1.
openssl req -x509 -key "$D/plain.key" -subj "/C=LT/O=Bandymas/CN=bankXevil" -days 5 -outform DER \
    -out "$D/name.der" 2>/dev/null
patched() {  # patched HEX_OF_TAG_LENGTH_AND_VALUE FILE
    xxd -p "$D/name.der" | tr -d '\n' | sed "s/0c0962616e6b586576696c/$1/g" | xxd -r -p > "$2"
}
patched 0c0962616e6b006576696c "$D/nul.der"
patched 140962616e6bc3a976696c "$D/t61-utf8.der"
patched 140962616e6be96576696c "$D/t61-latin1.der"
nul=$("$TESSAL" cert "$D/nul.der")
check "a CN holding a NUL is shown whole, as its encoding" equals "$(json "$nul" .subject)" \
    "C=LT, O=Bandymas, CN=#0C0962616E6B006576696C"
check "and the common name is not cut at the NUL" equals "$(json "$nul" .subjectCommonName)" "#0c0962616e6b006576696c"
check "a T61String holding UTF-8 reads as UTF-8" equals "$(json "$("$TESSAL" cert "$D/t61-utf8.der")" .subject)" \
    "C=LT, O=Bandymas, CN=bankévil"
check "a T61String of other bytes reads as Latin-1" equals \
    "$(json "$("$TESSAL" cert "$D/t61-latin1.der")" .subject)" "C=LT, O=Bandymas, CN=bankéevil"
openssl ecparam -name prime256v1 -genkey -noout -out "$D/ec.key" 2>/dev/null
openssl req -x509 -new -key "$D/ec.key" -subj "/CN=Elliptic" -days 5 -out "$D/ec.pem" 2>/dev/null
check "a non-RSA certificate exits 1" equals "$(status "$TESSAL" cert "$D/ec.pem")" 1

# --- CRLs ---------------------------------------------------------------------
crl="$P/crls/issuing-ca.crl"
crl_json=$("$TESSAL" crl "$crl")
check "crl on DER exits 0" equals "$?" 0
openssl crl -inform DER -in "$crl" -out "$D/crl.pem"
base64 -w0 < "$crl" > "$D/crl.b64"
check "crl on PEM prints what DER prints" equals "$("$TESSAL" crl "$D/crl.pem")" "$crl_json"
check "crl on Base64 prints what DER prints" equals "$("$TESSAL" crl "$D/crl.b64")" "$crl_json"
check "CRL id is the SHA-1 of its DER" equals "$(json "$crl_json" .id)" "$(crl_sha1 "$crl")"
check "CRL issuer text" equals "$(json "$crl_json" .issuer)" "CN=Norvata Keldas Issuing CA, O=Norvata Keldas, C=LT"
check "CRL issuer common name" equals "$(json "$crl_json" .issuerCommonName)" "norvata keldas issuing ca"

# A CRL made with plain openssl.
mkdir -p "$D/ca/newcerts" && : > "$D/ca/index.txt" && echo 01 > "$D/ca/crlnumber"
cat > "$D/ca.cnf" <<CNF
[ca]
default_ca = own
[own]
database = $D/ca/index.txt
crlnumber = $D/ca/crlnumber
default_md = sha256
default_crl_days = 3
CNF
openssl ca -config "$D/ca.cnf" -gencrl -keyfile "$D/plain.key" -cert "$D/plain.pem" -out "$D/plain.crl" 2>/dev/null
check "crl on an openssl-made PEM CRL" equals "$(json "$("$TESSAL" crl "$D/plain.crl")" .issuer)" "C=LT, O=Bandymas, CN=Plain Root"

# --- bad input ----------------------------------------------------------------
printf 'not a certificate' > "$D/junk"
check "cert on junk exits 1" equals "$(status "$TESSAL" cert "$D/junk")" 1
check "cert on junk says why on stderr" contains "$("$TESSAL" cert "$D/junk" 2>&1 >/dev/null)" "Kriptografinių funkcijų paketo klaida"
head -c 100 "$D/signer.der" > "$D/truncated.der"
check "cert on truncated DER exits 1" equals "$(status "$TESSAL" cert "$D/truncated.der")" 1
check "cert on a CRL exits 1" equals "$(status "$TESSAL" cert "$crl")" 1
check "crl on a certificate exits 1" equals "$(status "$TESSAL" crl "$D/signer.der")" 1
printf '<QualifyingProperties/>' > "$D/empty.xml"
check "crl on an answer without the element exits 1" equals "$(status "$TESSAL" crl "$D/empty.xml")" 1
check "cert on a missing file exits 1" equals "$(status "$TESSAL" cert "$D/nothing")" 1
check "cert without FILE is a usage error" equals "$(status "$TESSAL" cert)" 2
check "crl with two files is a usage error" equals "$(status "$TESSAL" crl a b)" 2
check "unknown option is a usage error" equals "$(status "$TESSAL" cert --pem x)" 2

finish
