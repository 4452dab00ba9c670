#!/usr/bin/env bash
# Mints a complete test PKI of the issuing organisation with openssl: a root
# and an issuing CA, signers that pass and fail each signer requirement, a
# time-stamp authority, and CRLs. The layout under OUT is what the stand-in
# certificate web service serves: OUT/certs (PEM) and OUT/crls (DER).
#
# Usage: tools/test-pki/mint.sh OUT
#
# OUT/keys/NAME.key and OUT/certs/NAME.pem for NAME in:
#   root-ca, issuing-ca        the organisation's CAs (O=Norvata Keldas)
#   signer                     valid signer with a 32-character user code
#   signer-no-code             user code of 31 characters (not accepted)
#   signer-expired             valid from 2020 to 2021
#   signer-not-yet-valid       valid from 2099
#   signer-revoked             listed in the issuing CA's CRL
#   foreign-ca, signer-foreign issued by an organisation that is not ours
#   tsa                        time-stamp authority (extended key usage timeStamping)
#   tsa-revoked                a second time-stamp authority, listed in the issuing CA's CRL
#   issuing-ca-markup, signer-markup  a CA of the organisation whose name holds
#                              the XML markup characters & < > " and a valid signer it issued
# plus OUT/tsa.cnf and OUT/tsa-revoked.cnf for `openssl ts -reply`, and OUT/user-code.txt.
set -euo pipefail
OUT="${1:?usage: mint.sh OUT}"
mkdir -p "$OUT"/{certs,crls,keys,ca}
OUT=$(cd "$OUT" && pwd)
DAYS_CA=7300
USER_CODE=0123456789ABCDEF0123456789ABCDEF

key() { openssl genrsa -out "$OUT/keys/$1.key" 2048 2>/dev/null; }

# A CA database of its own for each issuing CA, so CRLs can list revocations.
ca_config() {  # ca_config NAME
    local dir="$OUT/ca/$1"
    mkdir -p "$dir/new"
    : > "$dir/index.txt"
    echo 1000 > "$dir/serial"
    echo 1000 > "$dir/crlnumber"
    cat > "$dir/ca.cnf" <<CNF
[ca]
default_ca = this
[this]
dir = $dir
database = $dir/index.txt
new_certs_dir = $dir/new
serial = $dir/serial
crlnumber = $dir/crlnumber
certificate = $OUT/certs/$1.pem
private_key = $OUT/keys/$1.key
default_md = sha256
default_crl_days = 3650
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = optional
organizationName = optional
countryName = optional
userId = optional
[signer]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,nonRepudiation
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[subca]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
}

self_signed() {  # self_signed NAME SUBJECT
    key "$1"
    openssl req -new -x509 -key "$OUT/keys/$1.key" -out "$OUT/certs/$1.pem" -days $DAYS_CA -sha256 \
        -subj "$2" -utf8 -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    ca_config "$1"
}

issue() {  # issue CA NAME SUBJECT EXTENSIONS [STARTDATE ENDDATE]
    local ca="$1" name="$2" subject="$3" ext="$4"
    key "$name"
    openssl req -new -key "$OUT/keys/$name.key" -subj "$subject" -utf8 -out "$OUT/ca/$name.csr" 2>/dev/null
    local dates=(-days 1825)
    [ $# -ge 6 ] && dates=(-startdate "$5" -enddate "$6")
    openssl ca -batch -config "$OUT/ca/$ca/ca.cnf" -extensions "$ext" -utf8 "${dates[@]}" \
        -in "$OUT/ca/$name.csr" -out "$OUT/certs/$name.pem" -notext 2>/dev/null
    [ "$ext" = subca ] && ca_config "$name"
    return 0
}

crl() {  # crl CA
    openssl ca -batch -config "$OUT/ca/$1/ca.cnf" -gencrl -out "$OUT/ca/$1.crl.pem" 2>/dev/null
    openssl crl -in "$OUT/ca/$1.crl.pem" -outform DER -out "$OUT/crls/$1.crl"
}

ORG="/C=LT/O=Norvata Keldas"
self_signed root-ca "$ORG/CN=Norvata Keldas Root CA"
issue root-ca issuing-ca "$ORG/CN=Norvata Keldas Issuing CA" subca
issue issuing-ca signer "/C=LT/O=UAB Ąžuolynas/CN=Jonas Jonaitis/UID=$USER_CODE" signer
issue issuing-ca signer-no-code "/C=LT/O=UAB Ąžuolynas/CN=Petras Trumpas/UID=${USER_CODE:1}" signer
issue issuing-ca signer-expired "/C=LT/O=UAB Ąžuolynas/CN=Senas Signataras/UID=$USER_CODE" signer 20200101000000Z 20210101000000Z
issue issuing-ca signer-not-yet-valid "/C=LT/O=UAB Ąžuolynas/CN=Būsimas Signataras/UID=$USER_CODE" signer 20990101000000Z 21000101000000Z
issue issuing-ca signer-revoked "/C=LT/O=UAB Ąžuolynas/CN=Atšauktas Signataras/UID=$USER_CODE" signer
issue issuing-ca tsa "$ORG/CN=Norvata Keldas Time-Stamping Authority" tsa
issue issuing-ca tsa-revoked "$ORG/CN=Norvata Keldas Revoked Time-Stamping Authority" tsa
openssl ca -batch -config "$OUT/ca/issuing-ca/ca.cnf" -revoke "$OUT/certs/signer-revoked.pem" -crl_reason keyCompromise 2>/dev/null
openssl ca -batch -config "$OUT/ca/issuing-ca/ca.cnf" -revoke "$OUT/certs/tsa-revoked.pem" -crl_reason keyCompromise 2>/dev/null
self_signed foreign-ca "/C=LT/O=Kita Organizacija/CN=Kita Root CA"
issue foreign-ca signer-foreign "/C=LT/O=UAB Ąžuolynas/CN=Svetimas Signataras/UID=$USER_CODE" signer
issue root-ca issuing-ca-markup '/C=LT/O=Norvata & Keldas <Bandymai>/CN=Norvata & Keldas "Žymių" CA' subca
issue issuing-ca-markup signer-markup "/C=LT/O=UAB Ąžuolynas/CN=Ona Žymaitė/UID=$USER_CODE" signer
crl root-ca
crl issuing-ca
crl foreign-ca

cat "$OUT/certs/issuing-ca.pem" "$OUT/certs/root-ca.pem" > "$OUT/ca/chain.pem"
cat > "$OUT/tsa.cnf" <<CNF
[tsa]
default_tsa = this
[this]
dir = $OUT
serial = $OUT/ca/tsa-serial
signer_cert = $OUT/certs/tsa.pem
signer_key = $OUT/keys/tsa.key
certs = $OUT/ca/chain.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256
ess_cert_id_alg = sha1
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
other_policies = 1.2.3.4.2
CNF
echo 01 > "$OUT/ca/tsa-serial"
# The revoked authority signs with the same settings and its own key.
sed -e "s|certs/tsa.pem|certs/tsa-revoked.pem|" -e "s|keys/tsa.key|keys/tsa-revoked.key|" \
    -e "s|ca/tsa-serial|ca/tsa-revoked-serial|" "$OUT/tsa.cnf" > "$OUT/tsa-revoked.cnf"
echo 01 > "$OUT/ca/tsa-revoked-serial"
echo "$USER_CODE" > "$OUT/user-code.txt"
rm -f "$OUT"/ca/*.csr
echo "minted test PKI in $OUT"
