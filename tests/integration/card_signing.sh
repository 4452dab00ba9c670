#!/usr/bin/env bash
# Signing with a card key end to end: a real pcscd with the virtual reader,
# a virtual card whose presence stands for the card, and the signer's key in
# a SoftHSM2 token that the configuration binds to the reader. The PIN comes
# from a stand-in desktop prompt, so every signing asks it.
# Usage: card_signing.sh PATH_TO_TESSAL (the service binary lies next to it).
# Needs root (pcscd's socket is /run/pcscd/pcscd.comm, one daemon per machine).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
SOCKET=/run/pcscd/pcscd.comm
READER="Virtual PCD 00 00"
VPCD=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
PCSCD_PID=""; VICC_PID=""

stop_vicc() {
    [ -n "$VICC_PID" ] || return 0
    kill "$VICC_PID" 2>/dev/null
    wait "$VICC_PID" 2>/dev/null
    VICC_PID=""
}
cleanup() {
    stop_vicc
    if [ -n "$PCSCD_PID" ]; then
        kill -TERM "$PCSCD_PID" 2>/dev/null
        # pcscd removes its socket as it leaves; the next user of the daemon needs it gone.
        for _ in $(seq 50); do [ -e "$SOCKET" ] || break; sleep 0.1; done
        wait "$PCSCD_PID" 2>/dev/null
    fi
    rig_cleanup
}
trap cleanup EXIT

skip() { missing "$1 (card signing)"; finish; exit; }
for tool in pcscd vicc pcsc_scan softhsm2-util pkcs11-tool; do
    command -v "$tool" >/dev/null || skip "$tool missing"
done
[ -e "$VPCD" ] || skip "the virtual reader driver $VPCD is missing"
[ "$(id -u)" -eq 0 ] || skip "not root"
[ -e "$SOCKET" ] && skip "another pcscd is running ($SOCKET exists)"

# --- the signer's key on the token bound to the reader -------------------------
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" card 1234 signer)
# The card shows a second token (one per PIN) beside the signer's: both are
# bound to the reader, and the key is found on the token that holds it.
softhsm2-util --init-token --free --label extra --so-pin 12345678 --pin 5678 >/dev/null
subject=$(name_text "$P/certs/signer.pem" subject)

start_service "$P"

# The desktop prompt: answers every Assuan command, and GETPIN with the PIN
# in $D/pin; records the commands it was given.
echo 1234 > "$D/pin"
cat > "$D/pinentry" <<SH
#!/bin/sh
echo OK
while IFS= read -r line; do
    echo "\$line" >> "$D/pinentry.log"
    case "\$line" in
        GETPIN*) echo "D \$(cat "$D/pin")"; echo OK ;;
        BYE*) echo OK; exit 0 ;;
        *) echo OK ;;
    esac
done
SH
chmod +x "$D/pinentry"

# No pin for the provider: the card's PIN must come from the prompt.
write_config --domain "127.0.0.1:$PORT" --hsm "Card Provider" \
    --platform "pinentryProgram = $D/pinentry" --platform "pinentryTimeout = 10"
cat >> "$TESSAL_CONFIG" <<CONF

[SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Virtual Card]
ATR = 3B951381018073FF01000B
Crypto Provider = Card Provider

[SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\$READER]
token = extra, card
CONF
unset TESSAL_PIN

# --- the resource manager and the card -------------------------------------------
mkdir -p "$D/reader.conf.d" "$D/pyshim"
cat > "$D/reader.conf.d/vpcd" <<EOF
FRIENDLYNAME "Virtual PCD"
DEVICENAME   /dev/null:0x8C7B
LIBPATH      $VPCD
CHANNELID    0x8C7B
EOF
# Debian's vicc imports Crypto, which Debian ships as Cryptodome.
ln -sfn /usr/lib/python3/dist-packages/Cryptodome "$D/pyshim/Crypto"
start_vicc() {
    PYTHONPATH=/usr/lib/python3/site-packages/virtualsmartcard:$D/pyshim \
        vicc -t iso7816 -H 127.0.0.1 -P 35963 >>"$D/vicc.log" 2>&1 &
    VICC_PID=$!
}
# What pcscd reports for the reader: "Card inserted" or "Card removed".
# pcsc_scan asks the daemon itself, so the state seen is the one the
# signing will see; polled for up to 10 s.
card_state() {
    timeout 5 pcsc_scan -c 2>/dev/null |
        awk -v r="$READER" '/Reader [0-9]+:/ { here = index($0, r) > 0 } here && /Card state:/ { print; exit }'
}
wait_card() {  # wait_card "Card inserted"|"Card removed"
    for _ in $(seq 50); do
        [[ "$(card_state)" == *"$1"* ]] && return 0
        sleep 0.2
    done
    echo "  reader state: $(card_state)" >&2
    return 1
}

pcscd -f -c "$D/reader.conf.d" >"$D/pcscd.log" 2>&1 &
PCSCD_PID=$!
for _ in $(seq 50); do [ -e "$SOCKET" ] && break; sleep 0.1; done
check "pcscd takes connections" test -e "$SOCKET"
start_vicc
check "the card is in the reader" wait_card "Card inserted"

# Every command is bounded: a card wait that never ends fails the check.
bounded() { timeout 60 "$@"; }
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"

# --- the card search finds the key without a container name ----------------------
run bounded "$TESSAL" sign "$D/doc.xml" -o "$D/signed.xml" --log "$D/sign.log"
check "a card key signs" equals "$RC" 0
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
run bounded "$TESSAL" verify "$D/signed.xml"
check "the card's signature verifies" equals "$OUT" "$subject"
LOG=$(cat "$D/sign.log" 2>/dev/null)
check "the signing went the card's way" contains "$LOG" "Tikrinamas operacinės sistemos kortelių posistemio veikimas"
check "the signing did not fall back to the HSM search" bash -c "! grep -q 'HSM įrenginyje' '$D/sign.log'"
PROMPT=$(cat "$D/pinentry.log" 2>/dev/null)
check "the PIN was asked at the prompt" contains "$PROMPT" "GETPIN"
check "the prompt names the reader" contains "$PROMPT" "$READER"

# --- a wrong PIN fails in bounded time ------------------------------------------
echo 0000 > "$D/pin"
: > "$D/pinentry.log"
run bounded "$TESSAL" sign "$D/doc.xml" -o "$D/wrong.xml"
check "a wrong PIN does not hang" bash -c "[ $RC -ne 124 ]"
check "a wrong PIN fails" equals "$RC" 1
check "a wrong PIN finds no usable key" contains "$ERR" "Nerasta nei vieno sertifikato"
check "a wrong PIN writes no document" test ! -e "$D/wrong.xml"
check "a wrong PIN is asked for once" equals "$(grep -c '^GETPIN' "$D/pinentry.log")" 1
echo "wrong PIN: $ERR"
echo 1234 > "$D/pin"

# --- the card pulled: the empty reader is reported -------------------------------
stop_vicc
check "the reader is empty" wait_card "Card removed"
run bounded "$TESSAL" sign "$D/doc.xml" -o "$D/pulled.xml"
check "with the card out signing fails" equals "$RC" 1
check "with the card out no certificate is found" contains "$ERR" \
    "Nerasta nei vieno sertifikato, atitinkančio sistemos reikalavimus."
check "the empty reader is named" contains "$ERR" "Nėra kortelės skaitytuve \"$READER\""
echo "card out: $ERR"

# --- the card back: signing works again ------------------------------------------
start_vicc
check "the card is back in the reader" wait_card "Card inserted"
run bounded "$TESSAL" sign "$D/doc.xml" -o "$D/again.xml"
check "with the card back signing works" equals "$RC" 0
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
run bounded "$TESSAL" verify "$D/again.xml"
check "the second card signature verifies" equals "$OUT" "$subject"

# --- another container name rejects the card's key -------------------------------
run bounded "$TESSAL" sign "$D/doc.xml" -o "$D/other.xml" --container nosuch
check "another container name fails" equals "$RC" 1
check "the card's key is counted and refused" contains "$ERR" "Rasta sertifikatų: 1."
check "the refusal gives the container rule" contains "$ERR" \
    "Nepriimtinas kriptografinių raktų poros konteineris \"signer\". Raktų poros ieškoma konteineryje \"nosuch\""
echo "other container: $ERR"

finish
