#!/usr/bin/env bash
# The card monitor end to end: a key on the virtual card is watched while the
# object lives; pulling the card calls the registered callback (the `cb:`
# argument prints "cardRemoved TEXT") once, and the next signing selects the
# key again. A stopped monitor and an HSM key call nothing.
# Usage: card_monitor.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
source "$(dirname "$0")/lib/card_rig.sh"
cleanup() {
    card_rig_cleanup
    rig_cleanup
}
trap cleanup EXIT

# --- a null callback is refused (no reader needed) --------------------------------
run timeout 60 "$TESSAL" call onCardRemoved n
check "a null callback fails" equals "$RC" 1
check "a null callback gives the registration message" contains "$ERR" \
    "Kortelės būsenos stebėjimo funkcijos priskyrimo klaida: 80004003"

card_rig_require "card monitor"

# --- the card's key, and an HSM key on a token of its own --------------------------
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" card 1234 signer)
bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" hsm 1234 signer-markup >/dev/null
start_service "$P"
write_config --domain "127.0.0.1:$PORT" --hsm "Card Provider" --pin 1234
card_table_config
unset TESSAL_PIN
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"

start_pcscd
check "pcscd takes connections" test -e "$SOCKET"
start_vicc
check "the card is in the reader" wait_card "Card inserted"

SIGNED='"member":"signXml","hresult":"0x00000000"'
# wait_for FILE TEXT: waits up to 60 s for TEXT to show in FILE.
wait_for() {
    for _ in $(seq 300); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.2; done
    echo "  never saw: $2" >&2
    return 1
}
count_of() { grep -cF -- "$2" "$1" 2>/dev/null; }
# call_in_background NAME ARG...: `tessal call --json ARG...` with its output in $D/NAME.out.
call_in_background() {
    local name="$1"; shift
    timeout 120 "$TESSAL" call --json "$@" >"$D/$name.out" 2>"$D/$name.err" &
    CALL=$!
}

# --- pulled while watched: one callback, then the key is selected again -------------
call_in_background pulled onCardRemoved cb:A :: signXml "sf:$D/doc.xml" i:1 "s:$D/pulled.log" :: wait:25 \
    :: signXml "sf:$D/doc.xml" i:1 "s:$D/pulled.log"
check "a card key signs" wait_for "$D/pulled.out" "$SIGNED"
check "the signer's reader is watched" contains "$(cat "$D/pulled.log")" "Stebima kortelė skaitytuve \"$READER\""
stop_vicc
check "the pulled card calls the callback" wait_for "$D/pulled.out" "cardRemoved A"
# Back in and out again without a signing: the monitor has ended and stays silent.
start_vicc
check "the card is back" wait_card "Card inserted"
stop_vicc
check "the card is pulled a second time" wait_card "Card removed"
start_vicc
check "the card is back for the next signing" wait_card "Card inserted"
wait "$CALL"; rc=$?
check "the signing after the removal works" equals "$rc" 0
check "the callback was called exactly once" equals "$(count_of "$D/pulled.out" "cardRemoved A")" 1
check "the key was selected again" equals \
    "$(count_of "$D/pulled.log" "Išrenkamas pasirašančio asmens sertifikatas")" 2
[ "$rc" -eq 0 ] || cat "$D/pulled.err" >&2

# --- a new container name stops the monitor: pulling then calls nothing -------------
call_in_background stopped onCardRemoved cb:B :: signXml "sf:$D/doc.xml" i:1 "s:$D/stopped.log" \
    :: KeyContainer s:signer :: wait:6
check "the card key signs again" wait_for "$D/stopped.out" "$SIGNED"
check "the container name was put" wait_for "$D/stopped.out" '"member":"KeyContainer","hresult":"0x00000000"'
stop_vicc
check "the card is pulled after the stop" wait_card "Card removed"
wait "$CALL"
check "a stopped monitor calls nothing" equals "$(count_of "$D/stopped.out" "cardRemoved B")" 0
check "the key environment was cleared" contains "$(cat "$D/stopped.log")" \
    "Išvaloma pasirašančio asmens privataus rakto aplinka"

# --- an HSM key is not watched: pulling the card calls nothing ---------------------
start_vicc
check "the card is in for the HSM case" wait_card "Card inserted"
call_in_background hsm KeyContainer s:signer-markup :: onCardRemoved cb:C \
    :: signXml "sf:$D/doc.xml" i:1 "s:$D/hsm.log" :: wait:6
check "the HSM key signs" wait_for "$D/hsm.out" "$SIGNED"
check "no reader is watched for an HSM key" equals "$(count_of "$D/hsm.log" "Stebima kortelė")" 0
stop_vicc
check "the card is pulled beside the HSM key" wait_card "Card removed"
wait "$CALL"; rc=$?
check "the HSM run succeeds" equals "$rc" 0
check "an HSM key calls nothing" equals "$(count_of "$D/hsm.out" "cardRemoved C")" 0

finish
