#!/usr/bin/env bash
# Builds the seed corpora of the fuzz harnesses from the test material: a
# freshly minted test PKI (tools/test-pki/mint.sh), the signed documents made
# independently of our code (tools/test-signatures/make.sh), the example
# messages, and a time-stamp token of the test authority. Also writes the
# DER certificates the harnesses preload into the stores.
#
# Usage: tests/fuzz/make-seeds.sh BUILD_DIR   (writes BUILD_DIR/fuzz-seeds)
set -euo pipefail
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="$(cd "${1:?usage: make-seeds.sh BUILD_DIR}" && pwd)"
OUT="$BUILD/fuzz-seeds"
rm -rf "$OUT"
mkdir -p "$OUT"/{certs,corpus}
P="$OUT/pki"
W="$OUT/work"
mkdir -p "$W"
bash "$SRC/tools/test-pki/mint.sh" "$P" >/dev/null
bash "$SRC/tools/test-signatures/make.sh" "$P" "$OUT/sig" >"$W/make-signatures.log" 2>&1 || {
    cat "$W/make-signatures.log" >&2
    exit 1
}

corpus() { mkdir -p "$OUT/corpus/$1"; echo "$OUT/corpus/$1"; }
seed() {  # seed HARNESS NAME: stdin becomes one seed
    cat > "$(corpus "$1")/$2"
}
cert_xml() {  # the service answer that carries the certificate of Base64 $1
    printf '<QualifyingProperties Target="DS" xmlns="http://uri.etsi.org/01903/v1.1.1#"><UnsignedProperties><UnsignedSignatureProperties><CertificateValues Id="CV"><EncapsulatedX509Certificate Id="CV_1">%s</EncapsulatedX509Certificate></CertificateValues></UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>' "$1"
}
crl_xml() {
    printf '<QualifyingProperties Target="DS" xmlns="http://uri.etsi.org/01903/v1.1.1#"><UnsignedProperties><UnsignedSignatureProperties><RevocationValues><CRLValues><EncapsulatedCRLValue>%s</EncapsulatedCRLValue></CRLValues></RevocationValues></UnsignedSignatureProperties></UnsignedProperties></QualifyingProperties>' "$1"
}

# --- certificates and CRLs ---------------------------------------------------------
for pem in "$P"/certs/*.pem; do
    name=$(basename "$pem" .pem)
    openssl x509 -in "$pem" -outform DER -out "$OUT/certs/$name.der"
    b64=$(base64 -w0 "$OUT/certs/$name.der")
    { printf '\000'; cat "$OUT/certs/$name.der"; } | seed records "$name-der"
    { printf '\001'; printf '%s' "$b64"; } | seed records "$name-base64"
    { printf '\002'; cert_xml "$b64"; } | seed records "$name-answer"
    { printf '\003<KeyInfo xmlns="http://www.w3.org/2000/09/xmldsig#"><X509Data><X509Certificate>%s</X509Certificate></X509Data></KeyInfo>' "$b64"; } |
        seed records "$name-keyinfo"
    { printf '\000'; cert_xml "$b64"; } | seed service_answer "$name-by-hash"
    { printf '\002'; cert_xml "$b64"; } | seed service_answer "$name-by-url"
done
for crl in "$P"/crls/*; do
    name=$(basename "$crl"); name=${name%.*}
    b64=$(base64 -w0 "$crl")
    { printf '\004'; crl_xml "$b64"; } | seed records "crl-$name"
    { printf '\003'; crl_xml "$b64"; } | seed service_answer "crl-$name-by-hash"
    { printf '\004'; crl_xml "$b64"; } | seed service_answer "crl-$name-by-name"
    { printf '\005'; crl_xml "$b64"; } | seed service_answer "crl-$name-current"
done

# --- signed documents: whole, and each reference with its transforms ----------------
for doc in "$OUT"/sig/*.xml "$SRC"/examples/messages/*; do
    [ -f "$doc" ] || continue
    cp "$doc" "$(corpus verify)/$(basename "$doc")"
done
python3 - "$OUT/sig" "$(corpus c14n)" <<'PY'
import pathlib, re, sys
source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
reference = re.compile(rb'<(?:\w+:)?Reference\b[^>]*?URI="([^"]*)"[^>]*>(.*?)</(?:\w+:)?Reference>', re.S)
transforms = re.compile(rb'<((?:\w+:)?)Transforms\b.*?</\1Transforms>', re.S)
count = 0
for doc in sorted(source.glob('*.xml')):
    text = doc.read_bytes()
    for uri, body in reference.findall(text):
        found = transforms.search(body)
        seed = uri.lstrip(b'#') + b'\n' + (found.group(0) if found else b'') + b'\0' + text
        (target / f'{doc.stem}-{count}').write_bytes(seed)
        count += 1
PY

# --- time-stamp tokens of the test authority ---------------------------------------
printf 'bytes the test authority stamps' > "$W/stamped"
(cd "$P" && openssl ts -query -data "$W/stamped" -sha1 -cert -out "$W/q.tsq" 2>/dev/null &&
    openssl ts -reply -config tsa.cnf -queryfile "$W/q.tsq" -token_out -out "$W/token.der" 2>/dev/null)
openssl cms -verify -noverify -inform DER -in "$W/token.der" -binary -out "$W/tstinfo.der" 2>/dev/null
{ printf '\000'; base64 -w0 "$W/token.der"; printf '\n'; cat "$W/stamped"; } | seed time_stamp token
{ printf '\001'; base64 -w0 "$W/tstinfo.der"; printf '\n'; cat "$W/stamped"; } | seed time_stamp tstinfo
python3 - "$OUT/sig" "$(corpus time_stamp)" <<'PY'
import pathlib, re, sys
source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
token = re.compile(rb'<(?:\w+:)?EncapsulatedTimeStamp[^>]*>([^<]*)<')
for doc in sorted(source.glob('*.xml')):
    for i, found in enumerate(token.findall(doc.read_bytes())):
        (target / f'{doc.stem}-{i}').write_bytes(b'\0' + re.sub(rb'\s', b'', found) + b'\n')
PY

# --- texts ---------------------------------------------------------------------------
printf 'Sveiki, \xc4\x85\xc4\x8d\xc4\x99 %%41%%20 AAECAw== 0A1B\xf0\x9f\x98\x80' | seed codecs utf8
printf '\xe0\xe8\xe6\xeb\xe1\xf0\xf8\xfb\xfe\x80\x00tail' | seed codecs baltic
printf 'CN=Signer, O=Norvata Keldas, C=LT' | seed codecs name
printf 'https://User:pw@PKI.NK.Example:8443/app/%%70age?x=1#f' | seed addresses page
printf 'file:///C:/dir/page.html' | seed addresses file
printf 'http://pki.nk.example/pki/cert/?hex&0A1B2C3D' | seed addresses cert-hex
printf 'http://pki.nk.example/pki/cert/?subject&CN%%3DSigner%%2C%%20O%%3DNorvata' | seed addresses cert-subject
printf 'http://pki.nk.example/pki/crl/?nca&Issuing%%20CA' | seed addresses crl-name
printf 'http://pki.nk.example/pki/crl/issuing-ca.crl' | seed addresses crl-file
printf 'pki.nk.example, https://pki.norvatakeldas.example:8443; http://127.0.0.1:80\tother' | seed addresses domains
# URL splitting: one seed for each kind of host, port, path and scheme rule.
n=0
for url in 'http://a/b' 'HTTPS://User:pw@Host:8443/a/./b/../c?q=1#f' 'http:/a' 'http:///a' 'http:////a' \
    'ftp://a/' 'foo://a/' 'file:///x' 'file://localhost/c:/x' 'file:a|/' 'http://[fe80::1%25eth0]:80/' \
    'http://[0:0:0:0:0:ffff:1.2.3.4]/' 'http://0x7f.1/' 'http://0177.0.0.1/' 'http://1.2.65535/' \
    'http://a%41%zz/' 'http://a%2f/' 'http://a:0080/' 'http://a:/' 'http://a:65536/' 'http://u@v@a/' \
    'http://a/b c?d e#f g' 'http://a?#' 'http://a#b?c'; do
    printf '%s' "$url" | seed url_split "url-$n"
    n=$((n + 1))
done
printf 'file:\001?1' | seed url_split file-control
printf 's:tekstas \xc4\x85\ni:-5\nu:4294967295\nx:00ff10\nd:1.5e3\nt:true\ne\nn\nr:s:x\nr:i:7\n-' | seed call_arguments forms
# Framed host messages: a hello, an invoke with every argument form, and a
# message sent as a run of two chunks.
python3 - "$(corpus host_channel)" <<'PY'
import base64, json, struct, sys
def frame(message):
    text = json.dumps(message).encode()
    return struct.pack("=I", len(text)) + text
hello = frame({"type": "hello", "url": "https://pki.nk.example/app", "origin": "https://pki.nk.example"})
invoke = frame({"type": "invoke", "id": 1, "member": "signXml",
                "args": ["<a/>", 1, 2.5, True, None, {"bytes": "AAEC"}, {"callback": 3}]})
whole = json.dumps({"type": "invoke", "id": 2, "member": "verifyXmlSign", "args": ["x" * 40]}).encode()
chunks = b"".join(frame({"type": "chunk", "message": 1, "index": i, "count": 2,
                         "data": base64.b64encode(part).decode()})
                  for i, part in enumerate((whole[:30], whole[30:])))
for name, data in (("hello", hello + invoke), ("chunks", hello + chunks)):
    open(f"{sys.argv[1]}/{name}", "wb").write(data)
PY

rm -rf "$W"
echo "seed corpora in $OUT/corpus: $(ls "$OUT/corpus" | tr '\n' ' ')"
