#!/usr/bin/env bash
# The page API end to end: headless Chromium with the built extension and a
# host manifest that `tessal register --user` writes, on a page of an
# approved organisation site that also serves the certificate service's /pki/.
# The page signs with the SoftHSM2 key, verifies (text and bytes), reads the
# signer, draws the face, round-trips a 3 MB document; a cross-origin frame of
# an unapproved site is refused; a host killed under a pending call rejects it.
# Usage: browser_bridge.sh PATH_TO_TESSAL (tessal-host and the service lie next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
source "$(dirname "$0")/lib/browser_rig.sh"
cleanup() {
    browser_rig_cleanup
    rig_cleanup
}
trap cleanup EXIT
browser_rig_require

mint_pki
start_service "$P"
export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 signer)
# No PKI domain: in a page the page's host is the domain.
write_config --hsm "Demo HSM" --pin 1234
browser_rig_start

subject=$(name_text "$P/certs/signer.pem" subject)
refused="Neleistina komponentės veikimo aplinka"

# --- an approved site signs, verifies, draws; a foreign frame in it is refused --
browse main
wait_report main
check "the page reached its end" equals "$(field .failure)" "null"
check "the page sees every published member" equals "$(field '.members | length')" "18"
check "the signed document comes as bytes by default" equals "$(field .signedIsBytes)" "true"
check "the signed document comes as text on request" equals "$(field .signedIsText)" "true"
check "the page reads the signer" equals "$(text .signer)" "$subject"
check "bytes verify like text" equals "$(text .signerFromBytes)" "$subject"
check "no face before a signature" equals "$(field .faceBefore)" "0"
check "the face shows a pattern after verification" test "$(field .faceAfterVerify.count)" -gt 0
check "a reset clears the face" equals "$(field .faceAfterReset)" "0"
check "a failure carries the component's text" equals "$(text .emptyError.description)" "Bandymas išsaugoti tuščią dokumentą"
check "a failure carries the component's source" equals "$(text .emptyError.source)" "Tessal.Sign.1"
check "a failure carries its status" equals "$(field '.emptyError.hresult >= 2147483648')" "true"
check "a 3 MB document is signed whole" equals "$(field .bigSignedKeepsFiller)" "true"
check "a 3 MB signed document verifies" equals "$(text .bigSigner)" "$subject"
check "a released object answers nothing" equals "$(field '.afterRelease.source')" '"Tessal.Sign.1"'
wait_report unapproved
check "the frame is on the other site" equals "$(text .origin)" "http://other.example:$WEB_PORT"
check "an unapproved site is refused" equals "$(text .error.description)" "$refused"
check "a refused frame gets no answer" equals "$(field .answer)" "null"
close_browser

# --- a host that dies under a pending call rejects it ---------------------------
browse kill
wait_report ready
host=$(head -n1 "$D/host.pids" 2>/dev/null)
if [ -n "$host" ]; then
    kill -STOP "$host"
    touch "$D/out/stopped"
    wait_report pending
    kill -KILL "$host"
fi
wait_report kill
check "the host's process was seen" test -n "$host"
check "the pending call is rejected" contains "$(text .error.message)" "The signing component stopped"
check "the pending call got no answer" equals "$(field .answer)" "null"
check "a later call is rejected at once" contains "$(text .laterError.message)" "The signing component stopped"
close_browser

# --- Firefox: the same extension signs and verifies -----------------------------
if ! command -v firefox-esr >/dev/null; then
    missing "firefox-esr is not installed"
else
    FIREFOX_ID=$(sed -n 's/^set(TESSAL_FIREFOX_EXTENSION_ID "\(.*\)")$/\1/p' "$SRC/extension/ids.cmake")
    mkdir -p "$D/ff-home/.mozilla/native-messaging-hosts" "$D/ff-profile"
    cat > "$D/ff-home/.mozilla/native-messaging-hosts/tessal.sign.json" <<JSON
{"name": "tessal.sign", "description": "Tessal", "path": "$D/host.sh", "type": "stdio",
 "allowed_extensions": ["$FIREFOX_ID"]}
JSON
    MARIONETTE_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    # A dead proxy keeps the browser from calling its own servers; the test sites bypass it.
    cat > "$D/ff-profile/user.js" <<PREFS
user_pref("marionette.port", $MARIONETTE_PORT);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.no_proxies_on", ".example");
user_pref("network.trr.mode", 5);
user_pref("app.update.disabledForTesting", true);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
PREFS
    HOME="$D/ff-home" unshare -m sh -c 'mount --bind "$1" /etc/hosts && shift && exec "$@"' _ "$D/hosts" \
        firefox-esr --headless --marionette --no-remote --profile "$D/ff-profile" about:blank >"$D/browser.log" 2>&1 &
    BROWSER_PID=$!
    if python3 "$(dirname "$0")/browser/marionette.py" "$MARIONETTE_PORT" "$BUILD/extension/firefox" \
            "http://pki.nk.example:$WEB_PORT/page.html?mode=basic" 2>"$D/marionette.err"; then
        wait_report basic
        check "Firefox: the page reached its end" equals "$(field .failure)" "null"
        check "Firefox: the page reads the signer" equals "$(text .signer)" "$subject"
        check "Firefox: bytes verify like text" equals "$(text .signerFromBytes)" "$subject"
    else
        cat "$D/marionette.err" >&2
        check "Firefox takes the extension and opens the page" false
    fi
    close_browser
fi

finish
