#!/usr/bin/env bash
# Signature verification end to end, on signatures made independently of our
# code (tools/test-signatures/make.sh: xmlsec1 and openssl), with the signer's
# certificate fetched from the stand-in certificate web service.
# Usage: verify_command.sh PATH_TO_TESSAL (the service binary lies next to it).
set -u
source "$(dirname "$0")/lib/rig.sh" "$1"

set_up_verification
subject=$(name_text "$P/certs/signer.pem" subject)
revoked_subject=$(name_text "$P/certs/signer-revoked.pem" subject)

verify() { run "$TESSAL" verify "$S/$1"; }
member() { run "$TESSAL" call verifyXmlSign "b:$S/$1"; }

# --- valid signatures: the signer's subject, through the command and the member
for f in signed.xml signed-pkcs1.xml signed-sha256.xml signed-reversed.xml signed-timestamp.xml \
    signed-archive.xml signed-external-cert.xml qpref-uppercase.xml signed-digest-only.xml signed-doctype.xml \
    signed-many-entries.xml; do
    verify "$f"
    check "verify $f exits 0" equals "$RC" 0
    check "verify $f prints the subject" equals "$OUT" "$subject"
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    member "$f"
    check "verifyXmlSign $f answers the subject" equals "$OUT" "$subject"
done

# --- broken signatures and documents -------------------------------------------
verify tampered.xml
check "tampered content fails" equals "$RC" 1
check "tampered content is reported as modified" contains "$ERR" "neleistinai modifikuotas"
check "nothing on stdout for a failure" equals "$OUT" ""
member tampered.xml
check "verifyXmlSign reports tampered content" contains "$ERR" "neleistinai modifikuotas"

# The external DTD subset is not read; an external entity the content uses is refused.
verify entity-content.xml
check "external entity in the content fails" equals "$RC" 1
check "external entity in the content: the parse failure" contains "$ERR" "failed to load external entity"
check "external entity in the content: place 301, message 49" contains "$ERR" "70301049"
check "external entity in the content: nothing of the file read" bash -c '! grep -q "ELEMENT" <<< "$1"' _ "$ERR"

verify tampered-digest.xml
check "altered properties digest fails" equals "$RC" 1
check "altered properties digest is reported as modified" contains "$ERR" "neleistinai modifikuotas"

verify signed-no-code.xml
check "signer without user code fails" equals "$RC" 1
check "signer without user code: certificate check message" \
    contains "$ERR" "Pasirašiusio asmens sertifikato tikrinimo klaida"

verify tampered-timestamp.xml
check "time-stamp over other bytes fails" equals "$RC" 1
check "time-stamp over other bytes is reported" contains "$ERR" "neleistinai modifikuotas po laiko žymos suformavimo"

# --- archive time-stamps and external time-stamped data -----------------------
verify tampered-archive.xml
check "archive time-stamp over other bytes fails" equals "$RC" 1
check "archive time-stamp over other bytes is reported" \
    contains "$ERR" "XML pasirašytas dokumentas neleistinai modifikuotas po laiko žymos suformavimo"

# The reference names the issuing CA's answer; the token is over the signer's.
verify tampered-external-cert.xml
check "external data other than the stamped answer fails" equals "$RC" 1
check "external data other than the stamped answer is reported" \
    contains "$ERR" "neleistinai modifikuotas po laiko žymos suformavimo"

verify external-other.xml
check "time-stamped data from an ordinary web address fails" equals "$RC" 1
check "ordinary web address in time-stamp data: unexpected form" \
    contains "$ERR" "Nenumatytos formos XML elektroninis parašas"
check "ordinary web address in time-stamp data: only certificates and CRLs" \
    contains "$ERR" "Išorinėmis nuorodomis galima perduoti tik sertifikatų ir sertifikatų atšaukimo bylų duomenis"

verify qpref-page.xml
check "properties reference to a web page fails" equals "$RC" 1
check "properties reference to a web page: unexpected form" \
    contains "$ERR" "Nenumatytos formos XML elektroninis parašas"
check "properties reference to a web page: its own wording" \
    contains "$ERR" "Išorimėmis nuorodomis galima perduoti tik sertifikatų ir sertifikatų atšaukimo bylų duomenis"
check "properties reference to a web page: not the time-stamp wording" \
    bash -c '[[ "$1" != *"Išorinėmis"* ]]' _ "$ERR"

run "$TESSAL" info "$S/signed-archive.xml"
check "info signed-archive.xml exits 0" equals "$RC" 0
check "info: one row per archive time-stamp" equals "$(grep -o 'Archyvavimo laiko žymą' <<<"$OUT$ERR" | wc -l)" 2
check "info: the signature time-stamp row too" contains "$OUT$ERR" "Laiko žymą"
check "info: archived signature holds" contains "$OUT$ERR" "Skaitmeninis parašas galioja"

# --- only what SignedInfo covers is read as signed ------------------------------
# The real signing time is 2026-12-09T10:11:12+02:00; each forgery says 2001-02-03.
signed_at() { TZ=UTC run "$TESSAL" info "$S/$1"; }
signed_at forged-time-unsigned.xml
check "an unsigned SigningTime leaves the signature valid" equals "$RC" 0
check "an unsigned SigningTime is not reported" contains "$OUT$ERR" "Dokumentą 2026-12-09 08:11:12 pasirašė"
for f in forged-props-keyinfo.xml forged-props-after.xml; do
    signed_at "$f"
    check "$f: never the forged signing time" bash -c '[[ "$1" != *"2001-02-03"* ]]' _ "$OUT$ERR"
    check "$f: the real signing time or a failure" bash -c \
        '[[ "$1" == *"Dokumentą 2026-12-09 08:11:12 pasirašė"* || "$2" -ne 0 ]]' _ "$OUT$ERR" "$RC"
done
verify forged-props-keyinfo.xml
check "properties that no reference covers fail" equals "$RC" 1
verify forged-props-after.xml
check "a copy beside the covered properties is passed over" equals "$OUT" "$subject"

# A genuine token over another signature's value proves nothing about this one.
verify timestamp-elsewhere.xml
check "a time-stamp over another signature's value fails" equals "$RC" 1
check "a time-stamp over another signature's value is reported" contains "$ERR" "70466081"

printf 'tai ne XML dokumentas\n' > "$D/plain.txt"
run "$TESSAL" verify "$D/plain.txt"
check "a file that is not XML fails" equals "$RC" 1
check "a file that is not XML is reported" bash -c '[ -n "$1" ]' _ "$ERR"

# Outside a browser chain and revocation checks are switched off, so a revoked
# signer's signature holds there.
verify signed-revoked.xml
check "revoked signer verifies outside a browser" equals "$RC" 0
check "revoked signer's subject" equals "$OUT" "$revoked_subject"

# The organisation test applies everywhere: a certificate issued by another
# organisation is refused even with certificate checks off.
verify signed-foreign.xml
check "foreign issuer fails outside a browser" equals "$RC" 1
check "foreign issuer: certificate check message" contains "$ERR" "Pasirašiusio asmens sertifikato tikrinimo klaida"
check "foreign issuer: organisation named" contains "$ERR" "Sertifikatas išduotas ne Norvata Kelde"

# --- the information summary -----------------------------------------------------
run "$TESSAL" info "$S/signed.xml"
check "info signed.xml exits 0" equals "$RC" 0
check "info: signature holds" contains "$OUT$ERR" "Skaitmeninis parašas galioja"
check "info: content unchanged" contains "$OUT$ERR" "Pasirašyto dokumento turinys nepakeistas"
run "$TESSAL" info "$S/tampered.xml"
check "info tampered.xml exits 1" equals "$RC" 1
check "info: tampered signature does not hold" bash -c \
    '[[ "$1" == *"Pakeistas pasirašyto dokumento turinys"* || "$1" == *"Skaitmeninis parašas negalioja"* ]]' _ "$OUT$ERR"

# --- inside a browser page of an approved organisation host ----------------------
# There the page's host is the PKI domain and chain and revocation checks are on.
# The host name reaches the loopback service through a private /etc/hosts.
printf '127.0.0.1 pki.nk.example\n' > "$D/hosts"
page() {  # page FILE: verifyXmlSign in a page served from pki.nk.example
    run unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec "$2" call --page "http://pki.nk.example:$3/app" verifyXmlSign "b:$4"' \
        _ "$D/hosts" "$TESSAL" "$PORT" "$S/$1"
}
if unshare -m sh -c "mount --bind '$D/hosts' /etc/hosts" 2>/dev/null; then
    page signed.xml
    check "page: valid signature verifies" equals "$OUT" "$subject"
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    page signed-timestamp.xml
    check "page: time-stamped signature verifies" equals "$OUT" "$subject"
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    # Chain checks on: the second archive time-stamp's authority is judged
    # at the first one's time, the signer at the signature time-stamp's.
    page signed-archive.xml
    check "page: archive time-stamped signature verifies" equals "$OUT" "$subject"
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    page signed-external-cert.xml
    check "page: signature with a stamped service answer verifies" equals "$OUT" "$subject"
    [ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
    # A revoked authority's signature time-stamp is not excused by an
    # archive time-stamp that covers some other part of the signature.
    page archive-elsewhere.xml
    check "page: revoked stamp authority fails" equals "$RC" 1
    check "page: the stamp authority is reported" contains "$ERR" "Klaida tikrinant laiko žymos išdavėjo sertifikatą : 71117087"
    page signed-revoked.xml
    check "page: revoked signer fails" equals "$RC" 1
    check "page: revoked signer is reported" contains "$ERR" "Sertifikatas atšauktas"
    page signed-foreign.xml
    check "page: foreign issuer fails" equals "$RC" 1
    check "page: foreign issuer is reported" contains "$ERR" "Sertifikatas išduotas ne Norvata Kelde"
else
    missing "no private mount namespace here, needs root (verification in a page)"
fi

# --- the control's face as an image ------------------------------------------------
# png_colours FILE: "WIDTH HEIGHT" and then each distinct colour as RRGGBB, one a
# line, decoded here independently of the writer (CRCs and zlib checked).
png_colours() {
    python3 - "$1" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
pos, idat, width = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    assert zlib.crc32(kind + body) == struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0], "crc"
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        assert (depth, colour) == (8, 2), "8-bit RGB"
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
raw = zlib.decompress(idat)
stride = 3 * width + 1
assert len(raw) == stride * height, "size"
colours = set()
for y in range(height):
    row = raw[y * stride:(y + 1) * stride]
    assert row[0] == 0, "filter"
    colours.update(row[1 + 3 * x:4 + 3 * x].hex() for x in range(width))
print(width, height)
print("\n".join(sorted(colours)))
PY
}
run "$TESSAL" face "$S/signed.xml" -o "$D/face.png"
check "face of a valid signature exits 0" equals "$RC" 0
check "face: the image is 256x40 by default" equals "$(identify -format '%w %h' "$D/face.png" 2>&1)" "256 40"
colours=$(png_colours "$D/face.png")
check "face: green cells on white" equals "$colours" $'256 40\n669966\nffffff'
run "$TESSAL" face --size 320x50 "$S/tampered.xml" -o "$D/face-bad.png"
check "face of a failed signature still draws it" equals "$RC" 0
check "face of a failed signature: red cells on white, at the asked size" \
    equals "$(png_colours "$D/face-bad.png")" $'320 50\n996666\nffffff'
printf '<Doc><Text>nepasirašytas</Text></Doc>\n' > "$D/unsigned.xml"
run "$TESSAL" face "$D/unsigned.xml" -o "$D/face-none.png"
check "face of an unsigned document exits 1" equals "$RC" 1
check "face of an unsigned document writes no file" bash -c '[ ! -e "$1" ]' _ "$D/face-none.png"
check "face of an unsigned document says why" contains "$ERR" "no signature value"
run "$TESSAL" face --size 0x40 "$S/signed.xml" -o "$D/face-zero.png"
check "face refuses a size of nothing" equals "$RC" 2

# --- libcurl is mapped by the first real request, and only then ------------------
# loaded_files: the shared objects the dynamic loader opened in the last traced run.
traced_verify() { LD_DEBUG=files LD_DEBUG_OUTPUT="$D/ld-trace" run "$TESSAL" verify "$S/signed.xml"; }
loaded_files() { cat "$D"/ld-trace.* 2>/dev/null; rm -f "$D"/ld-trace.*; }
export XDG_CACHE_HOME="$D/cache-lazy"
traced_verify
check "first verification with an empty cache verifies" equals "$OUT" "$subject"
check "first verification with an empty cache opens libcurl" contains "$(loaded_files)" "libcurl.so"
# A libcurl that cannot be used (here: another library under its name) fails
# the request with 12001, and nothing crashes.
mkdir -p "$D/no-curl" && ln -s "$(ldd "$TESSAL" | awk '/libz\.so/ {print $3}')" "$D/no-curl/libcurl.so.4"
XDG_CACHE_HOME="$D/cache-no-curl" LD_LIBRARY_PATH="$D/no-curl" run "$TESSAL" verify "$S/signed.xml"
check "an unusable libcurl fails the verification" equals "$RC" 1
check "an unusable libcurl is reported as 12001" contains "$ERR" "klaida (12001)"
stop_service
traced_verify
check "verification from the warm cache, service stopped, verifies" equals "$OUT" "$subject"
[ "$RC" -eq 0 ] || echo "  stderr: $ERR" >&2
opened=$(loaded_files)
check "verification from the warm cache does not open libcurl" bash -c '! grep -q libcurl <<< "$1"' _ "$opened"
# Cards and tokens are only for signing: neither library is mapped to verify.
check "verification opens neither pcsc-lite nor p11-kit" \
    bash -c '! grep -Eq "libpcsclite|libp11-kit" <<< "$1"' _ "$opened"
finish
