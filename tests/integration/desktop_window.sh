#!/usr/bin/env bash
# The information window and the save dialog on a desktop: the window program
# the library runs as a child, what it may see of the host, how a failed
# child is taken, and the real window and file chooser under Xvfb.
# Usage: desktop_window.sh PATH_TO_TESSAL (tessal-ui and the service lie next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"
UI="$(dirname "$TESSAL")/tessal-ui"
# Under the sanitizers, what the toolkit keeps until exit is no leak of ours.
export LSAN_OPTIONS="suppressions=$SRC/tests/ui/toolkit_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

set_up_verification
subject=$(name_text "$P/certs/signer.pem" subject)

# A stand-in window program: notes that it ran and which descriptors it was
# given, prints to its stdout, answers garbage and fails.
FAKE="$D/fake-ui"
cat >"$FAKE" <<FAKE_EOF
#!/bin/sh
ls /proc/\$\$/fd >"$D/fake-ran"
echo LEAKED-TO-STDOUT
echo garbage >&3
exit 1
FAKE_EOF
chmod +x "$FAKE"
write_config --domain "127.0.0.1:$PORT" --platform "uiProgram = $FAKE"

# --- no display: as without a window, no child ----------------------------------
run env -u DISPLAY -u WAYLAND_DISPLAY "$TESSAL" call verifyXmlSign "b:$S/signed.xml" :: info
check "no display: info succeeds" equals "$RC" 0
check "no display: the summary is printed" contains "$OUT" "Skaitmeninis parašas galioja"
check "no display: no window program runs" test ! -e "$D/fake-ran"
run env -u DISPLAY -u WAYLAND_DISPLAY "$TESSAL" call saveFileXml s: s:"<a/>"
check "no display: saveFileXml without a name is cancelled" contains "$ERR" "Neperduotas bylos pavadinimas"
check "no display: no window program runs for the dialog" test ! -e "$D/fake-ran"

# --- a display, but the child fails: no window, info still succeeds ------------
# Descriptor 7 is left open without close-on-exec: the child must not get it.
run env -u WAYLAND_DISPLAY DISPLAY=:97 bash -c 'exec 7</dev/null; exec "$@"' _ \
    "$TESSAL" call verifyXmlSign "b:$S/signed.xml" :: info
check "failed child: info succeeds" equals "$RC" 0
check "failed child: the window program was run" test -e "$D/fake-ran"
check "failed child: nothing of the child on our stdout" bash -c '! grep -q LEAKED <<<"$1"' _ "$OUT"
check "failed child: the summary is not printed instead" bash -c '! grep -q "galioja" <<<"$1"' _ "$OUT"
check "the child gets the channel" grep -qx 3 "$D/fake-ran"
check "the child does not inherit the host's other descriptors" bash -c '! grep -qx 7 "$1"' _ "$D/fake-ran"
rm -f "$D/fake-ran"
run env DISPLAY=:97 "$TESSAL" call saveFileXml s: s:"<a/>"
check "failed child: the dialog answers as cancelled" equals "$RC" 1
check "failed child: cancelled message" contains "$ERR" "Neperduotas bylos pavadinimas"
check "failed child: a garbage answer names no file" bash -c '! ls "$1" | grep -q garbage' _ "$D"
run env DISPLAY=:97 "$TESSAL" call --no-window verifyXmlSign "b:$S/signed.xml" :: info
check "--no-window prints the summary" contains "$OUT" "Skaitmeninis parašas galioja"

# --- a child that answers a name: the host takes it, even one that ignores
# SIGCHLD (its children are then reaped without a status)
if command -v python3 >/dev/null; then
    ANSWER="$D/answer-ui"
    cat >"$ANSWER" <<'ANSWER_EOF'
#!/usr/bin/env python3
import os, struct, sys
units = (sys.argv[0] + "-chosen").encode("utf-16-le")
os.write(3, struct.pack(">I", len(units) // 2) + units)
ANSWER_EOF
    chmod +x "$ANSWER"
    write_config --domain "127.0.0.1:$PORT" --platform "uiProgram = $ANSWER"
    run env DISPLAY=:97 "$TESSAL" call saveFileXml s: "s:<a>ž</a>"
    check "answered name: saved with .xml appended" equals "$(cat "$ANSWER-chosen.xml" 2>/dev/null)" "<a>ž</a>"
    rm -f "$ANSWER-chosen.xml"
    run env DISPLAY=:97 bash -c "trap '' CHLD; exec \"\$@\"" _ "$TESSAL" call saveFileXml s: "s:<b/>"
    check "answered name with SIGCHLD ignored: S_OK" equals "$RC" 0
    check "answered name with SIGCHLD ignored: saved" equals "$(cat "$ANSWER-chosen.xml" 2>/dev/null)" "<b/>"
else
    missing "python3 missing (answering window program)"
fi

# --- the window program refuses requests it cannot trust ----------------------
if [ -x "$UI" ]; then
    printf 'not a request at all' >"$D/garbled"
    run "$UI" 3<"$D/garbled"
    check "window program: garbled request refused" equals "$RC" 2
    # A header announcing 1 GiB is refused before anything is read or kept.
    printf 'TUI1\x40\x00\x00\x00' >"$D/oversize"
    run "$UI" 3<"$D/oversize"
    check "window program: oversize request refused" equals "$RC" 2
    # A well-formed header whose body is cut short.
    printf 'TUI1\x00\x00\x00\x40\x01' >"$D/short"
    run "$UI" 3<"$D/short"
    check "window program: cut-short request refused" equals "$RC" 2
else
    missing "the window program $UI was not built (GTK 3 / gcr-ui missing)"
fi

# --- the real window and dialog under Xvfb -------------------------------------
write_config --domain "127.0.0.1:$PORT"
have_desktop_tools=1
for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null || { missing "$tool missing (desktop window checks)"; have_desktop_tools=0; }
done
[ -x "$UI" ] || have_desktop_tools=0
if [ "$have_desktop_tools" -eq 1 ]; then
    SHOT="${TESSAL_WINDOW_SHOT:-$D/window.png}"
    export TESSAL S D SHOT
    cat >"$D/desktop.sh" <<'DESKTOP_EOF'
set -u
# waits (bounded) for a process; answers its status, or 124 after killing it.
wait_for() {
    local pid=$1 tries=0
    while kill -0 "$pid" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -gt 600 ] && { kill "$pid"; wait "$pid"; return 124; }
        sleep 0.1
    done
    wait "$pid"
}
window_of() { timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -1; }

"$TESSAL" info --window "$S/signed.xml" >"$D/window.out" 2>"$D/window.err" &
pid=$!
wid=$(window_of "Skaitmeninio")
echo "window=$wid"
# The window is drawn a moment after it is mapped: look again until it has
# more than a few colours, a bounded number of times.
colours=0
for _ in $(seq 1 50); do
    import -window root "$SHOT" 2>/dev/null && colours=$(convert "$SHOT" -format %k info:)
    [ "${colours:-0}" -gt 16 ] && break
    sleep 0.2
done
echo "colours=$colours"
if [ -n "$wid" ]; then
    # The first button has the focus: the signer's certificate opens in its viewer.
    xdotool windowfocus --sync "$wid"
    xdotool key Return
    viewer=$(window_of "Sertifikato duomenys")
    echo "viewer=$viewer"
    [ -n "$viewer" ] && { xdotool windowfocus --sync "$viewer"; xdotool key Escape; }
    xdotool windowfocus --sync "$wid"
    xdotool key Escape
fi
wait_for $pid
echo "window-status=$?"

mkdir -p "$D/saved"
"$TESSAL" call saveFileXml s: "s:<saved>ok</saved>" >"$D/save.out" 2>"$D/save.err" &
pid=$!
wid=$(window_of "saugoti XML")
echo "dialog=$wid"
if [ -n "$wid" ]; then
    xdotool windowfocus --sync "$wid"
    sleep 0.5
    xdotool type --delay 20 "$D/saved/result"
    # The name entry may still be completing what was typed and swallow a
    # Return: press it again while the dialog is there, a bounded number of times.
    for _ in $(seq 1 20); do
        kill -0 $pid 2>/dev/null || break
        xdotool key Return
        sleep 0.5
    done
fi
wait_for $pid
echo "save-status=$?"
DESKTOP_EOF
    # No session bus in Xvfb: keep the toolkit's settings in memory.
    export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
    result=$(timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash "$D/desktop.sh" 2>"$D/desktop.err")
    check "window: it appeared" grep -Eq "^window=[0-9]+$" <<<"$result"
    check "window: the screenshot is not blank" \
        bash -c '[ "$(sed -n "s/^colours=//p" <<<"$1")" -gt 16 ]' _ "$result"
    check "window: its first button opens the signer's certificate" grep -Eq "^viewer=[0-9]+$" <<<"$result"
    check "window: Escape closes it and the command answers 0" contains "$result" "window-status=0"
    check "window: nothing printed on stdout" equals "$(cat "$D/window.out")" ""
    check "dialog: it appeared" grep -Eq "^dialog=[0-9]+$" <<<"$result"
    check "dialog: saveFileXml answers S_OK" contains "$result" "save-status=0"
    check "dialog: the typed name got .xml and the content" equals "$(cat "$D/saved/result.xml" 2>/dev/null)" "<saved>ok</saved>"
    [ "$failed" -eq 0 ] || { echo "$result" >&2; cat "$D/desktop.err" "$D/window.err" "$D/save.err" >&2; }
fi
finish
