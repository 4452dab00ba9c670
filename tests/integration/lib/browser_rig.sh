# The browser checks' common rig, sourced after rig.sh: a web server for the
# test page that also passes /pki/ on to the certificate service (in a page
# the PKI domain is the page's own host and port), a wrapper that notes the
# host's processes, the user's Chromium profile with the manifest that
# `tessal register --user` writes for it, and Chromium started in a mount
# namespace where the approved site (pki.nk.example) and a foreign one
# (other.example) are this machine.
#   browser_rig_require     skips the script unless chromium, SoftHSM2 and a private mount namespace are there
#   browser_rig_start       starts the web server (after start_service) and writes the profile
#   browse MODE             Chromium on the test page in that mode
#   wait_report NAME        waits up to 120 s for the page's report NAME; sets REPORT
#   close_browser, field JQ, text JQ
#   browser_rig_cleanup     stops the browser and the web server (the script's own trap calls it)
BIN="$(cd "$(dirname "$TESSAL")" && pwd)"
BUILD="$(dirname "$BIN")"
PAGES="$SRC/tests/integration/browser"
CHROMIUM_ID=$(sed -n 's/^set(TESSAL_CHROMIUM_EXTENSION_ID "\(.*\)")$/\1/p' "$SRC/extension/ids.cmake")
WEB_PID=""; BROWSER_PID=""

browser_rig_cleanup() {
    [ -n "$BROWSER_PID" ] && { kill -KILL "$BROWSER_PID" 2>/dev/null; wait "$BROWSER_PID" 2>/dev/null; }
    [ -n "$WEB_PID" ] && { kill "$WEB_PID" 2>/dev/null; wait "$WEB_PID" 2>/dev/null; }
    return 0
}

browser_rig_require() {
    if ! command -v chromium >/dev/null; then missing "chromium is not installed"; finish; exit; fi
    if ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
        missing "softhsm2-util or pkcs11-tool is not installed"; finish; exit
    fi
    printf '127.0.0.1 pki.nk.example other.example\n' > "$D/hosts"
    if ! unshare -m sh -c "mount --bind '$D/hosts' /etc/hosts" 2>/dev/null; then
        missing "no private mount namespace for an approved site (needs root)"; finish; exit
    fi
    [ -x "$BIN/tessal-host" ] && [ -f "$BUILD/extension/chromium/manifest.json" ] || {
        echo "FAIL: build tessal-host and configure the extension first" >&2; exit 1; }
}

browser_rig_start() {
    mkdir -p "$D/web" "$D/out"
    cp "$PAGES/page.html" "$D/web/"
    cp "$SRC/examples/messages/20_invoice.xml" "$D/web/doc.xml"
    python3 "$PAGES/serve.py" "$D/web" "$D/out" "$PORT" >"$D/web.out" 2>"$D/web.err" &
    WEB_PID=$!
    WEB_PORT=""
    for _ in $(seq 200); do WEB_PORT=$(head -n1 "$D/web.out" 2>/dev/null); [ -n "$WEB_PORT" ] && break; sleep 0.05; done
    [ -n "$WEB_PORT" ] || { cat "$D/web.err" >&2; echo "FAIL: the web server did not start" >&2; exit 1; }

    # The browser starts the host through this wrapper, which notes its process.
    cat > "$D/host.sh" <<HOST
#!/bin/sh
echo \$\$ >> "$D/host.pids"
exec "$BIN/tessal-host" "\$@"
HOST
    chmod +x "$D/host.sh"
    # The user's own Chromium profile, whose host manifest `tessal register`
    # writes as it would for a person at a desktop.
    UDD="$D/.config/chromium"
    HOME="$D" XDG_CONFIG_HOME= "$TESSAL" register --user --browser chromium --host "$D/host.sh" >"$D/register.out" 2>&1 ||
        { cat "$D/register.out" >&2; echo "FAIL: tessal register did not write the manifest" >&2; exit 1; }
}

browse() {
    rm -f "$D/host.pids"
    HOME="$D" unshare -m sh -c 'mount --bind "$1" /etc/hosts && shift && exec "$@"' _ "$D/hosts" \
        chromium --headless=new --no-sandbox --user-data-dir="$UDD" --load-extension="$BUILD/extension/chromium" \
        --disable-gpu --no-first-run --no-default-browser-check --disable-background-networking \
        --disable-component-update --disable-sync --proxy-server=127.0.0.1:9 --proxy-bypass-list='*.example' \
        "http://pki.nk.example:$WEB_PORT/page.html?mode=$1" >"$D/browser.log" 2>&1 &
    BROWSER_PID=$!
}

wait_report() {
    REPORT=""
    for _ in $(seq 1200); do [ -f "$D/out/$1.json" ] && break; sleep 0.1; done
    [ -f "$D/out/$1.json" ] && REPORT=$(cat "$D/out/$1.json")
    [ -n "$REPORT" ] || { echo "  no report $1 from the page" >&2; tail -20 "$D/browser.log" >&2; }
}
close_browser() {
    kill -KILL "$BROWSER_PID" 2>/dev/null; wait "$BROWSER_PID" 2>/dev/null; BROWSER_PID=""
}
field() { jq -c "$1" <<<"$REPORT"; }
text() { jq -r "$1" <<<"$REPORT"; }
