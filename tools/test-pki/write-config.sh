#!/usr/bin/env bash
# Writes DIR/tessal.conf for a test rig, the demo or the benchmark and prints
# its path. The product section names the PKI domains (the stand-in
# certificate web service's address, or none); a SoftHSM2 provider section
# may follow, and then p11-kit discovery is switched off so that only that
# token is searched. More sections can be appended by the caller.
#
# Usage: tools/test-pki/write-config.sh DIR [OPTION...]
#   --domain LIST     defaultPkiDomain, e.g. 127.0.0.1:PORT of the stand-in service
#   --log FILE        logFilePath, the component's detailed trace
#   --hsm NAME        a provider section NAME for the SoftHSM2 module
#   --module PATH     that provider's module (default /usr/lib/softhsm/libsofthsm2.so)
#   --pin PIN         that provider's PIN (without one the PIN is asked for)
#   --platform LINE   a "key = value" line of the [platform] section (repeatable)
set -euo pipefail
usage() { sed -n '8,14p' "$0" >&2; exit 2; }
DIR="${1:-}"
[ -n "$DIR" ] || usage
shift
domain="" log="" hsm="" module=/usr/lib/softhsm/libsofthsm2.so pin="" platform=()
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
        --domain) domain="$2" ;;
        --log) log="$2" ;;
        --hsm) hsm="$2" ;;
        --module) module="$2" ;;
        --pin) pin="$2" ;;
        --platform) platform+=("$2") ;;
        *) usage ;;
    esac
    shift 2
done
if [ -n "$hsm" ]; then platform=("p11kitDiscovery = no" "${platform[@]}"); fi

mkdir -p "$DIR"
CONF="$(cd "$DIR" && pwd)/tessal.conf"
{
    echo '[SOFTWARE\Classes\Tessal.Sign]'
    if [ -n "$log" ]; then echo "logFilePath = $log"; fi
    if [ -n "$domain" ]; then echo "defaultPkiDomain = $domain"; fi
    if [ -n "$hsm" ]; then
        echo
        echo "[SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\$hsm]"
        echo "module = $module"
        if [ -n "$pin" ]; then echo "pin = $pin"; fi
    fi
    if [ ${#platform[@]} -gt 0 ]; then
        echo
        echo '[platform]'
        printf '%s\n' "${platform[@]}"
    fi
} >"$CONF"
echo "$CONF"
