#!/usr/bin/env bash
# Builds the Debian package of this build tree and checks what it holds and
# that installing it registers the host manifests and removing it unregisters
# them. Installing touches the machine, so that part runs only as root under CI.
# Usage: package.sh PATH_TO_TESSAL (in BUILD/bin)
set -u
TESSAL="$1"
BUILD=$(cd "$(dirname "$TESSAL")/.." && pwd)
D=$(mktemp -d)
installed=""
# Folders registration may create; those that were not there before go again.
SYSTEM_DIRS=(/etc/chromium/native-messaging-hosts /etc/chromium /etc/opt/chrome/native-messaging-hosts
             /etc/opt/chrome /etc/opt /usr/lib/mozilla/native-messaging-hosts /usr/lib/mozilla)
new_dirs=()
for dir in "${SYSTEM_DIRS[@]}"; do [ -e "$dir" ] || new_dirs+=("$dir"); done
cleanup() {
    [ -n "$installed" ] && dpkg -r tessal >/dev/null 2>&1
    if [ -n "$installed$installed_once" ]; then
        for dir in "${new_dirs[@]}"; do rmdir "$dir" 2>/dev/null; done
    fi
    rm -rf "$D"
}
installed_once=""
trap cleanup EXIT
source "$(dirname "$0")/lib/assertions.sh"

if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
    missing "dpkg-deb or cpack not found"
    finish; exit
fi

timeout 300 cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$D/pkg" > "$D/cpack.log" 2>&1
check "cpack exits 0" equals "$?" 0 || cat "$D/cpack.log" >&2
DEB=$(ls "$D"/pkg/tessal_*.deb 2>/dev/null | head -1)
if [ -z "$DEB" ]; then
    check "a package was made" false
    finish; exit
fi
PREFIX=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
LIBDIR=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD/CMakeCache.txt")
P=".$PREFIX"

# --- contents: the expected files and nothing else --------------------------------------
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sort > "$D/files"
expected=("$P/bin/tessal" "$P/$LIBDIR/libtessal.so" "$P/$LIBDIR/libtessal.so.1"
          "$P/$LIBDIR/pkgconfig/tessal.pc" "$P/include/tessal/sign.h" "$P/include/tessal/tessal.h")
[ -x "$BUILD/bin/tessal-ui" ] && expected+=("$P/libexec/tessal/tessal-ui")
[ -x "$BUILD/bin/tessal-host" ] && expected+=("$P/libexec/tessal/tessal-host")
[ -d "$BUILD/extension/chromium" ] && expected+=("$P/share/tessal/extension/chromium/manifest.json")
[ -d "$BUILD/extension/firefox" ] && expected+=("$P/share/tessal/extension/firefox/manifest.json")
for f in "${expected[@]}"; do
    check "package holds $f" grep -qxF "$f" "$D/files"
done
unexpected=$(grep -vE "^$P/(bin/tessal|$LIBDIR/libtessal\.so(\.[0-9.]+)?|$LIBDIR/pkgconfig/tessal\.pc|include/tessal/[a-z_]+\.h|libexec/tessal/tessal-(ui|host)|share/tessal/extension/(chromium|firefox)/.+)$" "$D/files")
check "nothing else in the package" equals "$unexpected" ""

dpkg-deb -e "$DEB" "$D/control"
check "configuration registers" contains "$(cat "$D/control/postinst")" "tessal\" register --system"
check "removal unregisters" contains "$(cat "$D/control/prerm")" "tessal\" unregister --system"
depends=$(dpkg-deb -f "$DEB" Depends)
check "libraries found by shlibdeps" contains "$depends" "libxml2"
check "libraries opened at run time" contains "$depends" "libpcsclite1"

# --- install and remove ------------------------------------------------------------------
MANIFESTS=(/etc/chromium/native-messaging-hosts/tessal.sign.json
           /etc/opt/chrome/native-messaging-hosts/tessal.sign.json
           /usr/lib/mozilla/native-messaging-hosts/tessal.sign.json)
if [ -z "${CI:-}" ] || [ "$(id -u)" -ne 0 ]; then
    echo "note: installing the package needs root under CI: checks skipped"
elif [ ! -x "$BUILD/bin/tessal-host" ]; then
    missing "tessal-host is not built"
elif dpkg -s tessal >/dev/null 2>&1; then
    missing "a tessal package is already installed"
else
    installed=yes
    installed_once=yes
    timeout 300 dpkg -i "$DEB" > "$D/install.log" 2>&1
    check "dpkg -i exits 0" equals "$?" 0 || cat "$D/install.log" >&2
    for m in "${MANIFESTS[@]}"; do
        check "installed: $m" equals "$(jq -r .path "$m" 2>/dev/null)" "$PREFIX/libexec/tessal/tessal-host"
    done
    timeout 300 dpkg -r tessal > "$D/remove.log" 2>&1
    check "dpkg -r exits 0" equals "$?" 0 || cat "$D/remove.log" >&2
    installed=""
    for m in "${MANIFESTS[@]}"; do
        check "removed: $m" test ! -e "$m"
    done
fi

finish
