#!/usr/bin/env bash
# Makes the certificates of the NTS tests with openssl, into a folder of the test's own; they
# are never committed. Two days of validity, P-256 keys.
#   root.pem           the test root CA (what --ca names, or the Wine prefix's ROOT store holds)
#   server-chain.pem   leaf for localhost, 127.0.0.1, ::1 and each ADDRESS given, then the
#   server.key         intermediate CA that signed it (the server sends both); the leaf's key
#   other.pem          the leaf for ntp.invalid only, signed by the same intermediate, and
#   other-chain.pem    with it; other.key its key (a name mismatch)
#   stranger-root.pem  another root CA that signed nothing here (a wrong CA)
#   expired-chain.pem  the leaf as server.pem (key expired.key), valid from 60 to 10 days
#                      ago, then the intermediate: expired, or valid at a time 40 days back
# The earlier times come from libfaketime (scripts/peers).
#
# Usage: make_test_certs.sh DIR [ADDRESS...]
set -euo pipefail
dir=${1:?usage: make_test_certs.sh DIR [ADDRESS...]}
shift
names=DNS:localhost,IP:127.0.0.1,IP:::1
for address in "$@"; do
    names+=",IP:$address"
done
repo=$(cd "$(dirname "$0")/../.." && pwd)
faketime_lib=${QUILLON_PEERS_ROOT:-${BUILD:-$repo/build}/peers/root}/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
[ -e "$faketime_lib" ] || { echo "make_test_certs.sh: no $faketime_lib (run scripts/peers)" >&2; exit 1; }
mkdir -p "$dir"
cd "$dir"
back() {  # back DAYS COMMAND...: runs COMMAND with the clock DAYS days behind
    local days=$1
    shift
    LD_PRELOAD=$faketime_lib FAKETIME="-${days}d" "$@"
}

key() {  # key NAME
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
}
root() {  # root NAME SUBJECT
    key "$1"
    back 100 openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 200 -out "$1.pem" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
signed() {  # signed NAME SUBJECT ISSUER EXTENSIONS [DAYS-BACK DAYS]
    key "$1"
    openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"
    back "${5:-0}" openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days "${6:-2}" -extfile <(printf '%b' "$4") \
        -out "$1.pem" 2>/dev/null
    rm -f "$1.csr"
}

leaf='basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n'
root root "Quillon test root"
root stranger-root "Quillon stranger root"
signed intermediate "Quillon test intermediate" root \
    'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n' 100 200
signed server localhost intermediate "${leaf}subjectAltName=$names\n"
signed other ntp.invalid intermediate "${leaf}subjectAltName=DNS:ntp.invalid\n"
signed expired localhost intermediate "${leaf}subjectAltName=$names\n" 60 50
cat server.pem intermediate.pem >server-chain.pem
cat expired.pem intermediate.pem >expired-chain.pem
cat other.pem intermediate.pem >other-chain.pem
chmod 644 ./*.pem ./*.key
