#!/usr/bin/env bash
# Runs the stand-in certificate web service over a freshly minted test PKI and
# fetches every endpoint form with curl. Usage: pki_service.sh PATH_TO_TESSAL
# (the service binary lies next to it).
set -u
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
SERVICE="$(dirname "$1")/tessal-pki-service"
D=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$D"
}
trap cleanup EXIT
source "$(dirname "$0")/lib/assertions.sh"
source "$(dirname "$0")/lib/pki_service_start.sh"

bash "$SRC/tools/test-pki/mint.sh" "$D/pki" >/dev/null
P="$D/pki"
source "$(dirname "$0")/lib/pki_texts.sh"
# The answer's Base64 between the opening and closing tags of element $2.
answer_base64() { sed -n "s|.*<$2[^>]*>\([^<]*\)</$2>.*|\1|p" <<<"$1"; }

start() {  # start [OPTION...]: the service on P on a free port, sets PORT and PID
    start_pki_service "$SERVICE" "$P" "$D" "$@"
    pids+=("$PID")
}
stop() { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; }
get() { curl -s --max-time 10 "http://127.0.0.1:$PORT/pki/$1"; }
code() { curl -s -o /dev/null -w '%{http_code}' --max-time 10 "http://127.0.0.1:$PORT/pki/$1"; }

CERT_PATH=EncapsulatedX509Certificate
CRL_PATH=EncapsulatedCRLValue
signer="$P/certs/signer.pem"
signer_b64=$(pem_base64 "$signer")
issuing_b64=$(pem_base64 "$P/certs/issuing-ca.pem")
issuing_crl_b64=$(base64 -w0 < "$P/crls/issuing-ca.crl")
root_crl_b64=$(base64 -w0 < "$P/crls/root-ca.crl")
foreign_crl_b64=$(base64 -w0 < "$P/crls/foreign-ca.crl")

echo "2024-01-01T00:00:00Z" > "$P/time"
start --request-log "$D/requests.log"
check "service prints the port it listens on" bash -c "[[ '$PORT' =~ ^[0-9]+$ ]] && [ '$PORT' -gt 0 ]"

# --- certificate endpoints -------------------------------------------------
answer=$(get "cert/?hex&$(der_sha1 "$signer")")
check "certificate by SHA-1 answers the signer" equals "$(answer_base64 "$answer" $CERT_PATH)" "$signer_b64"
check "certificate answer is rooted at QualifyingProperties" contains "$answer" "<QualifyingProperties"
check "certificate answer has the client's element path" contains "$answer" \
    "<UnsignedProperties><UnsignedSignatureProperties><CertificateValues"
lower=$(der_sha1 "$signer" | tr 'A-F' 'a-f')
check "certificate by lower-case SHA-1 answers the signer" \
    equals "$(answer_base64 "$(get "cert/?hex&$lower")" $CERT_PATH)" "$signer_b64"
sha256=$(openssl x509 -in "$signer" -outform DER | sha256sum | cut -c1-64 | upper)
check "certificate by SHA-256 answers the signer" \
    equals "$(answer_base64 "$(get "cert/?hex&$sha256")" $CERT_PATH)" "$signer_b64"
check "certificate by public-key hash answers the signer" \
    equals "$(answer_base64 "$(get "cert/?pkhex&$(key_hash "$signer")")" $CERT_PATH)" "$signer_b64"

code_text=$(cat "$P/user-code.txt")
subject=$(name_text "$signer" subject)
issuer=$(name_text "$signer" issuer)
check "signer subject text carries the user code" contains "$subject" "CN=Jonas Jonaitis, O=UAB Ąžuolynas, C=LT, OID.0.9.2342.19200300.100.1.1=$code_text"
check "certificate by subject text answers the signer" \
    equals "$(answer_base64 "$(get "cert/?subject&${subject// /%20}")" $CERT_PATH)" "$signer_b64"
check "issuer found by its subject text" \
    equals "$(answer_base64 "$(get "cert/?subject&${issuer// /%20}")" $CERT_PATH)" "$issuing_b64"
serial_hex=$(openssl x509 -in "$signer" -noout -serial | cut -d= -f2)
serial=$((16#$serial_hex))
check "certificate by issuer and decimal serial answers the signer" \
    equals "$(answer_base64 "$(get "cert/?issuerserial&${issuer// /%20}&$serial")" $CERT_PATH)" "$signer_b64"
sha1_b64=$(openssl x509 -in "$signer" -outform DER | openssl dgst -sha1 -binary | base64 -w0)
check "certificate by Base64 digest answers the signer" \
    equals "$(answer_base64 "$(get "cert/?${sha1_b64//+/%2B}")" $CERT_PATH)" "$signer_b64"

check "unknown certificate hash is 404" equals "$(code "cert/?hex&0000000000000000000000000000000000000000")" 404
check "unknown subject is 404" equals "$(code "cert/?subject&CN=Nobody")" 404
check "issuer with the wrong serial is 404" equals "$(code "cert/?issuerserial&${issuer// /%20}&1")" 404
check "'+' is not an escaped space" equals "$(code "cert/?subject&${subject// /+}")" 404
check "certificate endpoint without a key is 404" equals "$(code "cert/")" 404
check "unknown path is 404" equals "$(code "nothing/here")" 404
check "path outside /pki/ is 404" equals "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORT/cert/?hex&$(der_sha1 "$signer")")" 404
check "malformed escape is refused" equals "$(code "cert/?subject&CN=%ZZ")" 400

# --- CRL endpoints ---------------------------------------------------------
answer=$(get "crl/?hex&$(crl_sha1 "$P/crls/issuing-ca.crl")")
check "CRL by SHA-1 answers the issuing CA's CRL" equals "$(answer_base64 "$answer" $CRL_PATH)" "$issuing_crl_b64"
check "CRL answer has the client's element path" contains "$answer" \
    "<UnsignedSignatureProperties><RevocationValues><CRLValues><EncapsulatedCRLValue"
# File-name order: foreign-ca.crl, issuing-ca.crl, root-ca.crl, then the first again.
check "CRL list position 0 is the first file" equals "$(answer_base64 "$(get crl/0.htm)" $CRL_PATH)" "$foreign_crl_b64"
check "CRL list position 1" equals "$(answer_base64 "$(get crl/1.htm)" $CRL_PATH)" "$issuing_crl_b64"
check "CRL list position 2 is the last file" equals "$(answer_base64 "$(get crl/2.htm)" $CRL_PATH)" "$root_crl_b64"
check "CRL list repeats the first CRL after the last" \
    equals "$(answer_base64 "$(get crl/3.htm)" $CRL_PATH)" "$foreign_crl_b64"
check "CRL list ends after the repeat" equals "$(code crl/4.htm)" 404
check "CRL by issuer common name" \
    equals "$(answer_base64 "$(get "crl/norvata%20keldas%20issuing%20ca.htm")" $CRL_PATH)" "$issuing_crl_b64"
check "CRL name is the lower-cased common name" equals "$(code "crl/Norvata%20Keldas%20Issuing%20CA.htm")" 404
check "unknown CRL name is 404" equals "$(code "crl/nobody%20at%20all.htm")" 404
check "unknown CRL hash is 404" equals "$(code "crl/?hex&0000000000000000000000000000000000000000")" 404
check "CRL name without .htm is 404" equals "$(code "crl/0")" 404

# --- time, request log ------------------------------------------------------
check "time resource served" equals "$(get time)" "2024-01-01T00:00:00Z"
check "request log has the path and query as sent" \
    contains "$(cat "$D/requests.log")" "/pki/cert/?subject&${subject// /%20}"
check "request log has one line per request" contains "$(grep -c '' "$D/requests.log")" "$(grep -c '^/' "$D/requests.log")"
lines_before=$(wc -l < "$D/requests.log")
get crl/0.htm >/dev/null
check "each request appends one line" equals "$(wc -l < "$D/requests.log")" "$((lines_before + 1))"

# --- reload on SIGHUP --------------------------------------------------------
extra_key="$D/extra.key"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$extra_key" -subj "/C=LT/CN=Papildomas" -days 30 \
    -outform DER -out "$D/extra.der" 2>/dev/null
extra_hash=$(sha1sum < "$D/extra.der" | cut -c1-40 | upper)
check "certificate added later is unknown before the reload" equals "$(code "cert/?hex&$extra_hash")" 404
cp "$D/extra.der" "$P/certs/extra.der"
rm "$P/time"
kill -HUP "$PID"
for _ in $(seq 50); do [ "$(code "cert/?hex&$extra_hash")" = 200 ] && break; sleep 0.1; done
check "DER certificate served after SIGHUP" \
    equals "$(answer_base64 "$(get "cert/?hex&$extra_hash")" $CERT_PATH)" "$(base64 -w0 < "$D/extra.der")"
check "removed time resource is 404 after SIGHUP" equals "$(code time)" 404
check "service still answers the old certificates" equals "$(code "cert/?hex&$(der_sha1 "$signer")")" 200
stop "$PID"
check "service stops on SIGTERM" bash -c "! kill -0 $PID 2>/dev/null"

# --- fault injection and delay ----------------------------------------------
start --fail /pki/crl/=503 --fail "/pki/cert/?hex&$(der_sha1 "$signer")=500" --delay-ms 300
check "failed prefix answers its status" equals "$(code crl/0.htm)" 503
check "failed prefix covers every CRL form" equals "$(code "crl/?hex&$(crl_sha1 "$P/crls/issuing-ca.crl")")" 503
check "failed certificate key answers its status" equals "$(code "cert/?hex&$(der_sha1 "$signer")")" 500
check "other keys are still served" equals "$(code "cert/?hex&$(der_sha1 "$P/certs/issuing-ca.pem")")" 200
started=$(date +%s%N)
get time >/dev/null
elapsed=$(( ($(date +%s%N) - started) / 1000000 ))
check "answers are delayed" bash -c "[ $elapsed -ge 300 ]"
stop "$PID"

# --- options ------------------------------------------------------------------
check "missing --root is a usage error" equals "$(status "$SERVICE" --listen 127.0.0.1:0)" 2
check "bad --fail is a usage error" equals "$(status "$SERVICE" --root "$P" --listen 127.0.0.1:0 --fail /pki/)" 2
check "--tls-cert without --tls-key is a usage error" \
    equals "$(status "$SERVICE" --root "$P" --listen 127.0.0.1:0 --tls-cert "$signer")" 2

# --- HTTPS, with and without a client certificate -------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$D/tls.key" -subj "/CN=127.0.0.1" -days 30 \
    -addext "subjectAltName=IP:127.0.0.1" -out "$D/tls.pem" 2>/dev/null
start --tls-cert "$D/tls.pem" --tls-key "$D/tls.key"
check "https answers the signer" equals "$(answer_base64 "$(curl -s --max-time 10 --cacert "$D/tls.pem" \
    "https://127.0.0.1:$PORT/pki/cert/?hex&$(der_sha1 "$signer")")" $CERT_PATH)" "$signer_b64"
stop "$PID"
start --tls-cert "$D/tls.pem" --tls-key "$D/tls.key" --client-ca "$P/certs/root-ca.pem"
url="https://127.0.0.1:$PORT/pki/time"
check "client certificate demanded" bash -c "! curl -s --max-time 10 --cacert '$D/tls.pem' '$url' >/dev/null"
cat "$signer" "$P/certs/issuing-ca.pem" > "$D/client-chain.pem"
check "client certificate of the organisation accepted" equals "$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 \
    --cacert "$D/tls.pem" --cert "$D/client-chain.pem" --key "$P/keys/signer.key" "$url")" 404
stop "$PID"

finish
