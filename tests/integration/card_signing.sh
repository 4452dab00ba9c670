#!/usr/bin/env bash
# Signing with a card key end to end: a real pcscd with the virtual reader,
# a virtual card whose presence stands for the card, and the signer's key in
# a SoftHSM2 token that the configuration binds to the reader. The PIN comes
# from a stand-in desktop prompt, so every signing asks it.
# Usage: card_signing.sh PATH_TO_TESSAL (the service binary lies next to it).
# Needs root (pcscd's socket is /run/pcscd/pcscd.comm, one daemon per machine).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
source "$(dirname "$0")/lib/card_rig.sh"
cleanup() {
    card_rig_cleanup
    rig_cleanup
}
trap cleanup EXIT
card_rig_require "card signing"

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
card_table_config "extra, card"
unset TESSAL_PIN

# --- the resource manager and the card -------------------------------------------
start_pcscd
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
