#!/usr/bin/env bash
# Revocation inside an approved page, where chain and revocation checks run:
# only the CRL of the signer's own issuer decides. A service that has no CRL
# for the issuer, or serves another key's CRL under the issuer's name, makes
# the check fail; it never clears a revoked signer, and the summary never
# shows such a signer as not revoked.
# Usage: revocation_page.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

printf '127.0.0.1 pki.nk.example\n' > "$D/hosts"
if ! unshare -m sh -c "mount --bind '$D/hosts' /etc/hosts" 2>/dev/null; then
    echo "note: browser-page checks skipped (no private mount namespace; needs root)"
    finish
    exit
fi

mint_pki
make_signatures
subject=$(name_text "$P/certs/signer.pem" subject)

# The same PKI without the issuing CA's CRL: the issuer's name is not in the
# service's current list, whose first CRL is another authority's.
cp -r "$P" "$D/no-issuer-crl"
rm "$D/no-issuer-crl/crls/issuing-ca.crl"

# The same PKI with an empty CRL in the issuing CA's name, signed by a key
# that is not the issuing CA's.
cp -r "$P" "$D/impostor"
I="$D/impostor-ca"
mkdir -p "$I"
: > "$I/index.txt"
echo 1000 > "$I/crlnumber"
openssl req -new -x509 -newkey rsa:2048 -nodes -keyout "$I/ca.key" -out "$I/ca.pem" -days 30 -sha256 \
    -subj "/C=LT/O=Norvata Keldas/CN=Norvata Keldas Issuing CA" -utf8 2>/dev/null
cat > "$I/ca.cnf" <<CNF
[ca]
default_ca = this
[this]
database = $I/index.txt
crlnumber = $I/crlnumber
certificate = $I/ca.pem
private_key = $I/ca.key
default_md = sha256
default_crl_days = 30
CNF
openssl ca -batch -config "$I/ca.cnf" -gencrl -out "$I/crl.pem" 2>/dev/null
openssl crl -in "$I/crl.pem" -outform DER -out "$D/impostor/crls/issuing-ca.crl"

# Signing in a page needs the signers' keys in a SoftHSM2 token.
can_sign=no
if command -v softhsm2-util >/dev/null && command -v pkcs11-tool >/dev/null; then
    export SOFTHSM2_CONF=$(bash "$SRC/tools/test-pki/make-token.sh" "$D/hsm" "$P" demo 1234 signer signer-revoked)
    can_sign=yes
fi
# No PKI domain: in a page the page's host is the domain.
write_config --hsm "Demo HSM" --pin 1234
cp "$SRC/examples/messages/20_invoice.xml" "$D/doc.xml"
# page FILE: verifyXmlSign, then the summary, in a page served from pki.nk.example.
page() {
    run unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec "$2" call --page "http://pki.nk.example:$3/app" verifyXmlSign "b:$4" :: info' \
        _ "$D/hosts" "$TESSAL" "$PORT" "$S/$1"
}
# page_sign CONTAINER OUT: signXml in that page with the key of CONTAINER.
page_sign() {
    rm -f "$2"
    run unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec "$2" call --page "http://pki.nk.example:$3/app" --out "$5" KeyContainer "s:$4" :: signXml "sf:$6"' \
        _ "$D/hosts" "$TESSAL" "$PORT" "$1" "$2" "$D/doc.xml"
}
# serve ROOT: the stand-in service on ROOT, with a fresh certificate cache.
serve() {
    stop_service
    rm -rf "$D/cache"
    start_service "$1"
}
not_revoked="Pasirašiusio asmens sertifikatas neatšauktas"
revoked_row="Pasirašiusio asmens sertifikatas atšauktas"
crl_missing="Paieškos kriterijus atitinkanti sertifikatų atšaukimo byla Norvata Keldo sertifikatų saugykloje nerasta"

# --- the genuine CRL: a listed signer is refused and shown as revoked -----------
serve "$P"
page signed.xml
check "genuine CRL: valid signer verifies" contains "$OUT" "$subject"
check "genuine CRL: valid signer shown as not revoked" contains "$OUT$ERR" "$not_revoked"
page signed-revoked.xml
check "genuine CRL: revoked signer is reported" contains "$OUT$ERR" "Sertifikatas atšauktas"
check "genuine CRL: revoked signer shown as revoked" contains "$OUT$ERR" "$revoked_row"
check "genuine CRL: revoked signer not shown as not revoked" bash -c '[[ "$1" != *"$2"* ]]' _ "$OUT$ERR" "$not_revoked"

# --- no CRL of the issuer: nothing passes on another authority's list -----------
for root in no-issuer-crl impostor; do
    serve "$D/$root"
    page signed-revoked.xml
    check "$root: revoked signer is not accepted" bash -c '[[ "$1" != *"Skaitmeninis parašas galioja"* ]]' _ "$OUT$ERR"
    check "$root: the missing CRL is reported" contains "$OUT$ERR" "$crl_missing"
    check "$root: revoked signer not shown as not revoked" bash -c '[[ "$1" != *"$2"* ]]' _ "$OUT$ERR" "$not_revoked"
    check "$root: revocation shown as not ruled out" contains "$OUT$ERR" "$revoked_row"
    page signed.xml
    check "$root: without the issuer's CRL a valid signer fails too" contains "$OUT$ERR" "$crl_missing"
    check "$root: valid signer not shown as not revoked" bash -c '[[ "$1" != *"$2"* ]]' _ "$OUT$ERR" "$not_revoked"
    if [ "$can_sign" = yes ]; then
        page_sign signer-revoked "$D/$root-revoked.xml"
        check "$root: a revoked signer is refused for signing" contains "$ERR" "$crl_missing"
        check "$root: nothing signed by the revoked signer" bash -c '[ ! -s "$1" ]' _ "$D/$root-revoked.xml"
    fi
done
finish
