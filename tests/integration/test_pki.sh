#!/usr/bin/env bash
# Mints the test PKI and checks with openssl that each certificate is what the
# signer-requirement tests rely on. Usage: test_pki.sh PATH_TO_TESSAL (unused)
set -u
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
source "$(dirname "$0")/lib/assertions.sh"

bash "$SRC/tools/test-pki/mint.sh" "$D/pki" >/dev/null
P="$D/pki"
chain=(-CAfile "$P/certs/root-ca.pem" -untrusted "$P/certs/issuing-ca.pem")
openssl crl -inform DER -in "$P/crls/issuing-ca.crl" -out "$D/issuing.crl.pem"
check "signer chain verifies" bash -c "openssl verify ${chain[*]} '$P/certs/signer.pem' >/dev/null"
check "revoked signer fails the CRL check" bash -c "! openssl verify -crl_check -CRLfile '$D/issuing.crl.pem' ${chain[*]} '$P/certs/signer-revoked.pem' >/dev/null 2>&1"
check "good signer passes the CRL check" bash -c "openssl verify -crl_check -CRLfile '$D/issuing.crl.pem' ${chain[*]} '$P/certs/signer.pem' >/dev/null 2>&1"
check "foreign signer is not of our chain" bash -c "! openssl verify ${chain[*]} '$P/certs/signer-foreign.pem' >/dev/null 2>&1"
subject=$(openssl x509 -in "$P/certs/signer.pem" -noout -subject -nameopt utf8,sep_comma_plus)
check "signer carries a 32-character user code" contains "$subject" "UID=$(cat "$P/user-code.txt")"
short=$(openssl x509 -in "$P/certs/signer-no-code.pem" -noout -subject -nameopt utf8,sep_comma_plus)
check "short user code has 31 characters" bash -c "[[ '$short' =~ UID=([0-9A-F]+) ]] && [ \${#BASH_REMATCH[1]} -eq 31 ]"
check "issuer is the organisation" contains "$(openssl x509 -in "$P/certs/signer.pem" -noout -issuer -nameopt utf8,sep_comma_plus)" "O=Norvata Keldas"
check "expired signer" contains "$(openssl x509 -in "$P/certs/signer-expired.pem" -noout -enddate)" "2021"
check "future signer" contains "$(openssl x509 -in "$P/certs/signer-not-yet-valid.pem" -noout -startdate)" "2099"
check "tsa marked for time-stamping" contains "$(openssl x509 -in "$P/certs/tsa.pem" -noout -ext extendedKeyUsage)" "Time Stamping"
echo data > "$D/data.txt"
openssl ts -query -data "$D/data.txt" -sha1 -cert -out "$D/q.tsq" 2>/dev/null
openssl ts -reply -config "$P/tsa.cnf" -queryfile "$D/q.tsq" -token_out -out "$D/token.der" 2>/dev/null
check "tsa issues a token" test -s "$D/token.der"
check "token verifies against the chain" bash -c "openssl ts -verify -data '$D/data.txt' -in '$D/token.der' -token_in -CAfile '$P/certs/root-ca.pem' -untrusted '$P/certs/issuing-ca.pem' >/dev/null 2>&1"
finish
