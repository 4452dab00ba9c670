# The texts the certificate layer derives, computed independently with
# openssl and coreutils, for the suites that check them. Sourced.
upper() { tr 'a-f' 'A-F'; }
der_sha1() { openssl x509 -in "$1" -outform DER | sha1sum | cut -c1-40 | upper; }
crl_sha1() { sha1sum < "$1" | cut -c1-40 | upper; }
pem_base64() { openssl x509 -in "$1" -outform DER | base64 -w0; }
# SHA-1 of the RSA public-key blob (header, "RSA1", bit length, exponent, modulus little-endian).
key_hash() {
    local modulus; modulus=$(openssl x509 -in "$1" -noout -modulus | cut -d= -f2)
    local reversed; reversed=$(fold -w2 <<<"$modulus" | tac | tr -d '\n')
    printf '%s' "0602000000a400005253413100080000010001 00$reversed" | tr -d ' ' | xxd -r -p | sha1sum | cut -c1-40 | upper
}
# The name text: attributes in encoded order, "KEY=value" joined by ", ", unknown keys as "OID.".
name_text() {
    openssl x509 -in "$1" -noout "-$2" -nameopt utf8,sep_comma_plus_space,sname |
        sed -e "s/^$2=//" -e 's/UID=/OID.0.9.2342.19200300.100.1.1=/'
}
