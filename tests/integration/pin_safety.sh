#!/usr/bin/env bash
# PINs given to a token by `tessal sign`: a PIN the token refuses is not
# presented again by the same signing, however many providers, containers
# and key specs reach the token, and a token on its last try or with its PIN
# blocked is not given a stored PIN at all. The token's logins are counted
# by the tests' pass-through module, named by COUNTING_PKCS11 (the test
# registration sets it).
# Usage: pin_safety.sh PATH_TO_TESSAL
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

if ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
    missing "softhsm2-util or pkcs11-tool (PIN checks)"
    finish
    exit
fi
if [ ! -f "${COUNTING_PKCS11:-}" ]; then
    missing "the counting PKCS#11 module (COUNTING_PKCS11)"
    finish
    exit
fi
mint_pki
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 signer)
start_service "$P"
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"
export COUNTING_PKCS11_LOG="$D/logins"

# Three providers reach the one token: the key search builds a candidate in
# each, and each candidate asks for both key specs.
configure() {  # configure PIN
    write_config --domain "127.0.0.1:$PORT" --hsm "First" --module "$COUNTING_PKCS11" --pin "$1"
    for name in Second Third; do
        printf '[SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\%s]\nmodule = %s\npin = %s\n' \
            "$name" "$COUNTING_PKCS11" "$1" >>"$TESSAL_CONFIG"
    done
}
logins() { if [ -f "$COUNTING_PKCS11_LOG" ]; then grep -c "^$1\$" "$COUNTING_PKCS11_LOG"; else echo 0; fi; }
sign() { rm -f "$COUNTING_PKCS11_LOG"; run "$TESSAL" sign "$D/doc.xml" --container signer -o "$D/out.xml" --log "$D/sign.log"; }

configure 1234
sign
check "the right PIN signs" equals "$RC" 0
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
check "the right PIN is presented once for the three providers" equals "$(logins ok)" 1

# --- a wrong PIN --------------------------------------------------------------------
configure 0000
sign
check "a wrong configured PIN fails" equals "$RC" 1
check "a wrong configured PIN is presented once" equals "$(logins refused)" 1
check "no other login follows it" equals "$(wc -l <"$COUNTING_PKCS11_LOG")" 1

configure 1234
TESSAL_PIN=0000 sign
check "a wrong TESSAL_PIN fails" equals "$RC" 1
check "a wrong TESSAL_PIN is presented once" equals "$(logins refused)" 1
check "the configured PIN is not tried after it" equals "$(logins ok)" 0
rm -f "$COUNTING_PKCS11_LOG"
TESSAL_PIN=0000 run "$TESSAL" call KeyContainer s:signer :: signXml "sf:$D/doc.xml" :: signXml "sf:$D/doc.xml"
check "each signXml call of a wrong PIN presents it once" equals "$(logins refused)" 2

# --- the token's own state ------------------------------------------------------------
COUNTING_PKCS11_FLAGS=final-try sign
check "a token on its last try is not signed with" equals "$RC" 1
check "a token on its last try is given no stored PIN" equals "$(logins refused)$(logins ok)" 00
COUNTING_PKCS11_FLAGS=locked sign
check "a blocked token is not signed with" equals "$RC" 1
check "a blocked token is given no PIN" equals "$(logins refused)$(logins ok)" 00
check "the trace says the PIN is blocked" contains "$(cat "$D/sign.log")" "8010006C"

finish
