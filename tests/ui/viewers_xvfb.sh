#!/usr/bin/env bash
# Opens the certificate and the CRL viewer through the test driver on a
# virtual screen: each window appears under its title and draws something,
# Escape closes it and the driver exits 0; bytes that are no certificate or
# CRL open no window at all.
# Usage: viewers_xvfb.sh PATH_TO_VIEWER_DRIVER
set -u
HERE="$(cd "$(dirname "$0")" && pwd)"
SRC="$(cd "$HERE/../.." && pwd)"
DRIVER="${1:?usage: viewers_xvfb.sh VIEWER_DRIVER}"
source "$SRC/tests/integration/lib/assertions.sh"
export LC_ALL=C.UTF-8
# The toolkit keeps caches for the life of the process that a leak checker
# would report at exit; they are not this program's to free.
export LSAN_OPTIONS="suppressions=$HERE/toolkit_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

if [ "${2:-}" != "--on-screen" ]; then
    for tool in xvfb-run xdotool import convert openssl; do
        if ! command -v "$tool" >/dev/null; then
            missing "$tool is not installed"
            finish; exit
        fi
    done
    D=$(mktemp -d)
    trap 'rm -rf "$D"' EXIT
    bash "$SRC/tools/test-pki/mint.sh" "$D/pki" >/dev/null
    openssl x509 -in "$D/pki/certs/signer.pem" -outform DER -out "$D/signer.der"
    cp "$D/pki/crls/issuing-ca.crl" "$D/issuing-ca.crl"
    head -c 2000 /dev/urandom > "$D/garbage.bin"
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$DRIVER" --on-screen "$D"
fi
D="$3"

# waitGone PID: true once the process has ended, within 30 s.
waitGone() {
    local tries=0
    while kill -0 "$1" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -gt 300 ] && return 1
        sleep 0.1
    done
}

# notBlank FILE: the screenshot holds more than a handful of colours (an
# empty screen has one).
notBlank() { [ "$(convert "$1" -format '%k' info: 2>/dev/null || echo 0)" -gt 16 ]; }

# view KIND FILE TITLE PATTERN: opens the viewer, finds its window by title,
# screenshots it and closes it with Escape.
view() {
    local kind="$1" file="$2" title="$3" pattern="$4"
    "$DRIVER" "$kind" "$file" 2>"$D/$kind.err" &
    local pid=$!
    local id
    id=$(timeout 30 xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
    check "$kind viewer window appears" test -n "$id"
    if [ -z "$id" ]; then
        kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
        cat "$D/$kind.err" >&2
        return
    fi
    check "$kind viewer window title" equals "$(xdotool getwindowname "$id")" "$title"
    local HEIGHT=0 WIDTH=0
    eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    check "$kind viewer fits on a 1024x768 screen" test "$WIDTH" -le 1024 -a "$HEIGHT" -le 768
    # The window may be mapped before it is drawn: look again a few times.
    local shot="$D/$kind.png" tries=0
    until import -window root "$shot" 2>/dev/null && notBlank "$shot"; do
        tries=$((tries + 1))
        [ "$tries" -ge 50 ] && break
        sleep 0.2
    done
    check "$kind viewer draws something" notBlank "$shot"
    [ -n "${TESSAL_KEEP_SCREENSHOTS:-}" ] && cp "$shot" "$TESSAL_KEEP_SCREENSHOTS/"
    xdotool windowfocus --sync "$id" 2>/dev/null
    xdotool key --clearmodifiers Escape
    check "$kind viewer closes on Escape" waitGone "$pid"
    kill "$pid" 2>/dev/null
    wait "$pid"
    local rc=$?
    check "$kind viewer driver exits 0" equals "$rc" 0
    [ "$rc" -eq 0 ] || cat "$D/$kind.err" >&2
}

view cert "$D/signer.der" "Sertifikato duomenys" "^Sertifikato duomenys$"
view crl "$D/issuing-ca.crl" "Atšauktų sertifikatų sąrašas (CRL)" "sertifikat.* \(CRL\)$"

# Bytes that are neither: the viewer returns at once, no window is left open.
for kind in cert crl; do
    rc=$(timeout 30 "$DRIVER" "$kind" "$D/garbage.bin" >/dev/null 2>&1; echo $?)
    check "$kind viewer shows nothing for garbage" equals "$rc" 0
done
check "no window is left on the screen" \
    bash -c "! xdotool search --onlyvisible --name 'Sertifikato|\(CRL\)' >/dev/null 2>&1"
finish
