#!/usr/bin/env bash
# Makes the certificates of the NTS tests with openssl, into a folder of the test's own; they
# are never committed. Two days of validity, P-256 keys.
#   root.pem           the test root CA (what --ca names, or the Wine prefix's ROOT store holds)
#   server-chain.pem   leaf for localhost, 127.0.0.1, ::1 and each ADDRESS given, then the
#   server.key         intermediate CA that signed it (the server sends both); the leaf's key
#   other.pem          the leaf for ntp.invalid only, signed by the same intermediate, and
#   other-chain.pem    with it; other.key its key (a name mismatch)
#   stranger-root.pem  another root CA that signed nothing here (a wrong CA)
#   cn-only-chain.pem  a leaf naming localhost only as its subject's CN, no alternative
#   cn-only.key        names, with the intermediate; its key
#
# Usage: make_test_certs.sh DIR [ADDRESS...]
set -euo pipefail
dir=${1:?usage: make_test_certs.sh DIR [ADDRESS...]}
shift
names=DNS:localhost,IP:127.0.0.1,IP:::1
for address in "$@"; do
    names+=",IP:$address"
done
mkdir -p "$dir"
cd "$dir"

key() {  # key NAME
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
}
root() {  # root NAME SUBJECT
    key "$1"
    openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 2 -out "$1.pem" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
signed() {  # signed NAME SUBJECT ISSUER EXTENSIONS
    key "$1"
    openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 2 -extfile <(printf '%b' "$4") -out "$1.pem" 2>/dev/null
    rm -f "$1.csr"
}

leaf='basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n'
root root "Quillon test root"
root stranger-root "Quillon stranger root"
signed intermediate "Quillon test intermediate" root \
    'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n'
signed server localhost intermediate "${leaf}subjectAltName=$names\n"
signed other ntp.invalid intermediate "${leaf}subjectAltName=DNS:ntp.invalid\n"
cat server.pem intermediate.pem >server-chain.pem
cat other.pem intermediate.pem >other-chain.pem
signed cn-only localhost intermediate "$leaf"
cat cn-only.pem intermediate.pem >cn-only-chain.pem
chmod 644 ./*.pem ./*.key
