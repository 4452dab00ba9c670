#!/usr/bin/env bash
# Creates a SoftHSM2 token in a directory of its own holding the key pairs
# and certificates of minted signers, one container per signer, labelled with
# the signer's name. Prints the SOFTHSM2_CONF to export.
#
# Usage: tools/test-pki/make-token.sh DIR PKI_DIR LABEL PIN SIGNER...
#   DIR      where the token directory and softhsm2.conf go
#   PKI_DIR  the output of mint.sh (keys/NAME.key, certs/NAME.pem)
#   LABEL    the token label; PIN its user PIN (the SO PIN is 12345678)
set -euo pipefail
DIR="${1:?usage: make-token.sh DIR PKI_DIR LABEL PIN SIGNER...}"
PKI="${2:?}"; LABEL="${3:?}"; PIN="${4:?}"; shift 4
MODULE=/usr/lib/softhsm/libsofthsm2.so
mkdir -p "$DIR/tokens"
DIR=$(cd "$DIR" && pwd)
cat > "$DIR/softhsm2.conf" <<CONF
directories.tokendir = $DIR/tokens
objectstore.backend = file
slots.removable = false
CONF
export SOFTHSM2_CONF="$DIR/softhsm2.conf"
softhsm2-util --init-token --free --label "$LABEL" --so-pin 12345678 --pin "$PIN" >/dev/null
id=1
for signer in "$@"; do
    hex=$(printf '%02x' "$id")
    openssl pkey -in "$PKI/keys/$signer.key" -outform DER -out "$DIR/$signer.key.der"
    openssl x509 -in "$PKI/certs/$signer.pem" -outform DER -out "$DIR/$signer.cert.der"
    pkcs11-tool --module "$MODULE" --token-label "$LABEL" --login --pin "$PIN" \
        --write-object "$DIR/$signer.key.der" --type privkey --id "$hex" --label "$signer" >/dev/null 2>&1
    pkcs11-tool --module "$MODULE" --token-label "$LABEL" --login --pin "$PIN" \
        --write-object "$DIR/$signer.cert.der" --type cert --id "$hex" --label "$signer" >/dev/null 2>&1
    rm -f "$DIR/$signer.key.der"
    id=$((id + 1))
done
echo "$SOFTHSM2_CONF"
