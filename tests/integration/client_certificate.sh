#!/usr/bin/env bash
# A certificate service that demands a client certificate: without a selected
# signer the public host answers over plain http; with one, the signer's
# certificate is presented with its key in the SoftHSM2 token, over TLS 1.3
# and 1.2; a server that refuses it leaves the answer to the public host.
# Usage: client_certificate.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

if ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
    missing "softhsm2-util or pkcs11-tool (client certificates)"
    finish
    exit
fi
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 signer)
subject=$(name_text "$P/certs/signer.pem" subject)
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"

# The public host serves a copy of the PKI whose time text tells it apart.
cp -r "$P" "$D/public"
printf 'public time' > "$D/public/time"
printf 'authenticated time' > "$P/time"
PUBLIC_PID=""
trap '[ -n "$PUBLIC_PID" ] && { kill "$PUBLIC_PID"; wait "$PUBLIC_PID"; } 2>/dev/null; rig_cleanup' EXIT
start_service "$D/public" --request-log "$D/public.log"
PUBLIC_PORT=$PORT PUBLIC_PID=$PID PID=""

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$D/tls.key" -subj "/CN=127.0.0.1" -days 30 \
    -out "$D/tls.pem" 2>/dev/null
cat "$P/certs/issuing-ca.pem" "$P/certs/root-ca.pem" > "$D/our-cas.pem"
demanding() {  # demanding CLIENT_CA [SERVICE OPTION...]: the https service that demands a certificate
    start_service "$P" --tls-cert "$D/tls.pem" --tls-key "$D/tls.key" --client-ca "$@"
    write_config --domain "https://127.0.0.1:$PORT" --hsm "Demo HSM" --pin 1234 --log "$D/global.log" \
        --platform "publicHost = 127.0.0.1:$PUBLIC_PORT" --platform "caFile = $D/tls.pem"
    : >"$D/global.log"
    : >"$D/public.log"
}
log() { cat "$D/global.log"; }
count() { grep -c -F -- "$1" "$D/global.log"; }
public_times() { grep -c '^/pki/time' "$D/public.log"; }
# Signs, which selects the signer, then asks for the time twice.
signed_sync_time() {
    "$TESSAL" call --json KeyContainer s:signer :: signXml "sf:$D/doc.xml" \
        :: syncTime s:https://x/pki/time :: syncTime s:https://x/pki/time
}

# --- no signer selected: the public host answers --------------------------------
demanding "$D/our-cas.pem"
out=$("$TESSAL" call --json syncTime s:https://x/pki/time)
check "without a signer the public host's answer is the answer" contains "$out" '"value":"public time"'
check "the demand is traced" contains "$(log)" "Reikalaujama autentifikuota HTTPS sesija"
check "with the public host named" \
    contains "$(log)" "Nerastas sertifikatas autentifikuotai HTTPS sesijai. Bandoma jungtis per 127.0.0.1:$PUBLIC_PORT"
check "which is asked the same path over plain http" \
    contains "$(log)" "Vykdomas TrevCert kreipinys adresu \"http://127.0.0.1:$PUBLIC_PORT/pki/time\""

# --- the selected signer's certificate, over TLS 1.3 and 1.2 -------------------------
for version in 1.3 1.2; do
    demanding "$D/our-cas.pem" --tls-max "$version"
    out=$(signed_sync_time)
    check "TLS $version: the demanding server answers both requests" \
        equals "$(grep -c '"value":"authenticated time"' <<<"$out")" 2
    check "TLS $version: the signer's certificate is offered each time" \
        equals "$(count "Bandoma autentifikuotis sertifikatu $subject")" 2
    check "TLS $version: it is bound to its key once" \
        equals "$(count "Papildomas sertifikato kontekstas (CERT_KEY_PROV_HANDLE_PROP_ID)")" 1
    check "TLS $version: no authenticated session fails" equals "$(count "Nesėkminga autentifikuota HTTPS sesija")" 0
    check "TLS $version: the public host is not asked for the time" equals "$(public_times)" 0
done

# --- a server that does not accept the signer's issuer ---------------------------------
demanding "$P/certs/foreign-ca.pem"
out=$(signed_sync_time)
check "refused: the public host's answer is the answer" equals "$(grep -c '"value":"public time"' <<<"$out")" 2
check "refused: the failed session is traced" contains "$(log)" "Nesėkminga autentifikuota HTTPS sesija - "
check "refused: the public host is asked once per call" equals "$(public_times)" 2

# --- caFile adds authorities; it does not switch the check off ---------------------------
write_config --domain "https://127.0.0.1:$PORT" --hsm "Demo HSM" --pin 1234 \
    --platform "publicHost = 127.0.0.1:$PUBLIC_PORT" --platform "caFile = $P/certs/root-ca.pem"
: >"$D/public.log"
out=$("$TESSAL" call --json syncTime s:https://x/pki/time)
check "a server from no trusted authority is not used" contains "$out" '"hresult":"0x80020009"'
check "nor is the public host asked instead" equals "$(public_times)" 0
finish
