#!/usr/bin/env bash
# Card removal as a web page sees it: a page of an approved site registers a
# function with onCardRemoved and signs with a key on the virtual card; pulling
# the card calls the function once, through tessal-host and the extension, and
# with the card back the page signs again.
# Usage: browser_card_removal.sh PATH_TO_TESSAL (tessal-host and the service lie next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
source "$(dirname "$0")/lib/card_rig.sh"
source "$(dirname "$0")/lib/browser_rig.sh"
cleanup() {
    browser_rig_cleanup
    card_rig_cleanup
    rig_cleanup
}
trap cleanup EXIT
browser_rig_require
card_rig_require "card removal in a page"

mint_pki
start_service "$P"
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" card 1234 signer)
# No PKI domain: in a page the page's host is the domain.
write_config --hsm "Card Provider" --pin 1234
card_table_config
unset TESSAL_PIN
browser_rig_start

start_pcscd
start_vicc
check "the card is in the reader" wait_card "Card inserted"

browse card
wait_report signed
check "the page signs with the card's key" test -n "$REPORT"
stop_vicc
check "the reader is empty" wait_card "Card removed"
touch "$D/out/pulled"
wait_report called
start_vicc
check "the card is back" wait_card "Card inserted"
touch "$D/out/back"
wait_report card
check "the page reached its end" equals "$(field .failure)" "null"
check "the first signing worked" equals "$(field .signedBefore)" "true"
check "the pulled card called the page's function" equals "$(field .callsAfterPull)" "1"
check "with the card back the page signs again" equals "$(field .signedAfter)" "true"
check "the function was called once in all" equals "$(field .calls)" "1"
close_browser
finish
