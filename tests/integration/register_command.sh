#!/usr/bin/env bash
# Drives `tessal register` and `tessal unregister` in a private home folder and
# in a named manifest folder: the manifests the browsers read, idempotence, and
# that unregister removes only what register wrote.
# Usage: register_command.sh PATH_TO_TESSAL
set -u
TESSAL="$1"
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
source "$(dirname "$0")/lib/assertions.sh"
export HOME="$D/home"
unset XDG_CONFIG_HOME
mkdir -p "$HOME" "$D/bin"
# The manifests only name the host program; any executable file stands for it.
HOST="$D/bin/tessal-host"
printf '#!/bin/sh\nexit 0\n' > "$HOST"
chmod +x "$HOST"

CHROMIUM="$HOME/.config/chromium/NativeMessagingHosts/tessal.sign.json"
CHROME="$HOME/.config/google-chrome/NativeMessagingHosts/tessal.sign.json"
FIREFOX="$HOME/.mozilla/native-messaging-hosts/tessal.sign.json"
CHROMIUM_ORIGIN=$(sed -n 's/^set(TESSAL_CHROMIUM_EXTENSION_ID "\(.*\)")$/chrome-extension:\/\/\1\//p' \
    "$(dirname "$0")/../../extension/ids.cmake")
FIREFOX_ID=$(sed -n 's/^set(TESSAL_FIREFOX_EXTENSION_ID "\(.*\)")$/\1/p' "$(dirname "$0")/../../extension/ids.cmake")

# manifest FILE ALLOW_KEY ALLOWED: the whole manifest a browser reads.
manifest() {
    jq -e --arg path "$HOST" --arg key "$2" --arg allowed "$3" \
        '.name == "tessal.sign" and .type == "stdio" and .path == $path and .[$key] == [$allowed]
         and (.description | length > 0)' "$1" >/dev/null
}

# --- usage -------------------------------------------------------------------------
check "help" contains "$("$TESSAL" register --help)" "--manifest-dir DIR"
check "user and system" equals "$(status "$TESSAL" register --user --system --host "$HOST")" 2
check "unknown browser" equals "$(status "$TESSAL" register --browser opera --host "$HOST")" 2
check "manifest folder for every browser" equals "$(status "$TESSAL" register --manifest-dir "$D/m" --host "$HOST")" 2
check "host that is not a program" equals "$(status "$TESSAL" register --host "$D/none")" 1
check "nothing written on errors" equals "$(find "$HOME" "$D" -name 'tessal.sign.json' | wc -l)" 0

# --- the user's folders ---------------------------------------------------------------
out=$(cd "$D" && "$TESSAL" register --host bin/tessal-host)
check "register exits 0" equals "$?" 0
check "one line per written file" equals "$out" "written: $CHROMIUM
written: $CHROME
written: $FIREFOX"
check "chromium manifest" manifest "$CHROMIUM" allowed_origins "$CHROMIUM_ORIGIN"
check "chrome manifest" manifest "$CHROME" allowed_origins "$CHROMIUM_ORIGIN"
check "firefox manifest" manifest "$FIREFOX" allowed_extensions "$FIREFOX_ID"
check "readable by the browser's user" equals "$(stat -c %a "$FIREFOX")" 644
before=$(cat "$CHROMIUM" "$CHROME" "$FIREFOX")
out=$("$TESSAL" register --user --browser all --host "$HOST")
check "second register changes nothing" equals "$(cat "$CHROMIUM" "$CHROME" "$FIREFOX")" "$before"
check "second register says so" equals "$out" "unchanged: $CHROMIUM
unchanged: $CHROME
unchanged: $FIREFOX"

echo '{"name":"other.host","path":"/usr/bin/other","type":"stdio"}' > "$(dirname "$FIREFOX")/other.host.json"
out=$("$TESSAL" unregister)
check "unregister exits 0" equals "$?" 0
check "one line per removed file" equals "$out" "removed: $CHROMIUM
removed: $CHROME
removed: $FIREFOX"
check "manifests gone" equals "$(find "$HOME" -name 'tessal.sign.json' | wc -l)" 0
check "another host's manifest stays" equals "$(ls "$(dirname "$FIREFOX")")" "other.host.json"
out=$("$TESSAL" unregister --browser firefox)
check "second unregister exits 0" equals "$?" 0
check "second unregister finds nothing" equals "$out" "absent: $FIREFOX"

# --- a named folder, one browser ------------------------------------------------------
out=$("$TESSAL" register --manifest-dir "$D/m" --browser firefox --host "$HOST")
check "named folder written" equals "$out" "written: $D/m/tessal.sign.json"
check "named folder manifest" manifest "$D/m/tessal.sign.json" allowed_extensions "$FIREFOX_ID"
out=$("$TESSAL" register --manifest-dir "$D/m" --browser chromium --host "$HOST")
check "switching browser rewrites" equals "$out" "written: $D/m/tessal.sign.json"
check "named folder chromium manifest" manifest "$D/m/tessal.sign.json" allowed_origins "$CHROMIUM_ORIGIN"

# A file of our name that another program wrote, or a link, is left in place.
echo '{"name":"tessal.sign","path":"/opt/else/other-program","type":"stdio"}' > "$D/m/tessal.sign.json"
out=$("$TESSAL" unregister --manifest-dir "$D/m" --browser chromium)
check "foreign content kept" equals "$out" "kept (not ours): $D/m/tessal.sign.json"
check "foreign content still there" contains "$(cat "$D/m/tessal.sign.json")" "other-program"
"$TESSAL" register --manifest-dir "$D/n" --browser chrome --host "$HOST" >/dev/null
rm "$D/m/tessal.sign.json"
ln -s "$D/n/tessal.sign.json" "$D/m/tessal.sign.json"
out=$("$TESSAL" unregister --manifest-dir "$D/m" --browser chrome)
check "link kept" equals "$out" "kept (not ours): $D/m/tessal.sign.json"
check "link's target kept" manifest "$D/n/tessal.sign.json" allowed_origins "$CHROMIUM_ORIGIN"

# A folder that cannot be written is a failure, not a success.
if [ "$(id -u)" -ne 0 ]; then
    mkdir -p "$D/ro" && chmod 555 "$D/ro"
    check "unwritable folder fails" equals "$(status "$TESSAL" register --manifest-dir "$D/ro" --browser firefox --host "$HOST")" 1
else
    touch "$D/file"
    check "folder that is a file fails" equals "$(status "$TESSAL" register --manifest-dir "$D/file" --browser firefox --host "$HOST")" 1
fi

finish
