#!/usr/bin/env bash
# The NTS key exchange end to end, through tests/nts/ke_probe (ke_probe.exe under Wine):
#  - against chronyd serving NTS: keys, cookies, the NTP server and port it names, both
#    exchanges at once, and the exported keys proven by an authentic NTS answer from the
#    server named; a wrong CA and certificates for another name refused;
#  - the system's trust: Linux's CA bundle ($SSL_CERT_FILE); under Wine the prefix's ROOT
#    store, with the test CA added and removed by wine_root_store.exe;
#  - against the hostile server (tests/tools/fake_nts_ke_server.py): each way of failing
#    ends the exchange with its reason, and within the time-out.
# Certificates are made by openssl for the run.
#
# Usage: key_exchange.sh PATH/ke_probe[.exe] [PATH/wine_root_store.exe]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
probe=${1:?usage: key_exchange.sh PATH/ke_probe[.exe] [PATH/wine_root_store.exe]}
root_store=${2:-}
source "$repo/tests/tools/checks.sh"
source "$repo/scripts/lib/chrony.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nts-ke.XXXXXX")
run_probe=("$probe")
under_wine=false
path_for_probe() { echo "$1"; }
if [[ "$probe" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    quillon_wine_prime || exit 1
    run_probe=(wine "$probe")
    under_wine=true
    path_for_probe() { winepath -w "$1" 2>/dev/null; }
fi

fake_pids=()
root_added=false
cleanup() {
    $root_added && wine "$root_store" remove "$(path_for_probe "$work/certs/root.pem")"
    stop_chronyd
    for pid in "${fake_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {  # free_port ADDRESS: a port free for both UDP and TCP
    python3 -c '
import socket, sys
while True:
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind((sys.argv[1], 0))
    t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        t.bind((sys.argv[1], u.getsockname()[1])); print(u.getsockname()[1]); break
    except OSError:
        pass' "$1"
}

chrony_address=127.0.0.46
mismatch_address=127.0.0.47
"$repo/tests/tools/make_test_certs.sh" "$work/certs" "$chrony_address" "$mismatch_address" ||
    { echo "FAIL openssl could not make the certificates"; exit 1; }
certs=$work/certs
ca=$(path_for_probe "$certs/root.pem")
stranger=$(path_for_probe "$certs/stranger-root.pem")

mkdir -p "$work/out"
probe() {  # probe NAME ARGS...: one line per target in $work/out/NAME, status in $status
    local name=$1
    shift
    local started ended
    started=$(date +%s.%N)
    "${run_probe[@]}" "$@" </dev/null 2>"$work/out/$name.err" | tr -d '\r' >"$work/out/$name"
    status=${PIPESTATUS[0]}
    ended=$(date +%s.%N)
    wall=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
    sed "s/^/    $name | /" "$work/out/$name" | cut -c1-160
}

line_of() {  # line_of NAME HOST PORT: that target's line
    awk -v h="$2" -v p="$3" '$1 == h && $2 == p' "$work/out/$1"
}

# field KEY LINE: the value of KEY=VALUE in a success line.
field() {
    sed -nE "s/.* $1=([^ ]*).*/\\1/p" <<<"$2"
}

# --- chronyd serving NTS -------------------------------------------------------------------
ntp_port=$(free_port "$chrony_address")
ke_port=$(free_port "$chrony_address")
start_chronyd_nts "$chrony_address" "$ntp_port" "$work/chrony" "$ke_port" \
    "$certs/server-chain.pem" "$certs/server.key" || { echo "FAIL chronyd did not start"; exit 1; }

probe chrony --ntp --ca "$ca" "$chrony_address:$ke_port" "$chrony_address:$ke_port"
check "chrony: both exchanges at once succeed" [ "$status" -eq 0 ]
first=$(sed -n 1p "$work/out/chrony")
second=$(sed -n 2p "$work/out/chrony")
check "chrony: eight cookies of chrony's size" \
    [ "$(field cookies "$first")" = 8 -a "$(field cookie-bytes "$first")" -ge 64 ]
check "chrony: it names itself and its NTP port" \
    [ "$(field server "$first")" = "$chrony_address" -a "$(field port "$first")" = "$ntp_port" ]
c2s=$(field c2s "$first")
s2c=$(field s2c "$first")
check "chrony: two keys of 32 bytes, one for each direction" \
    bash -c '[[ "$0" =~ ^[0-9a-f]{64}$ && "$1" =~ ^[0-9a-f]{64}$ && "$0" != "$1" ]]' "$c2s" "$s2c"
check "chrony: no key is all zeros" bash -c '[[ "$0$1" != *0000000000000000* ]]' "$c2s" "$s2c"
check "chrony: each exchange has keys of its own" \
    [ -n "$c2s" -a "$c2s" != "$(field c2s "$second")" -a "$s2c" != "$(field s2c "$second")" ]
# chronyd reads the request with the client-to-server key and seals its answer with the other:
# both keys exported as chronyd derived them.
check "chrony: the keys get an authentic NTS answer with a new cookie, for each exchange" \
    [ "$(field ntp "$first")" = authentic -a "$(field new-cookies "$first")" = 1 -a \
      "$(field ntp "$second")" = authentic ]

probe wrong-ca --ca "$stranger" "$chrony_address:$ke_port"
check "chrony, wrong CA: refused as not trusted" \
    grep -qE "^$chrony_address $ke_port failed [0-9.]+: certificate not trusted" "$work/out/wrong-ca"

# A second chronyd whose certificate is for ntp.invalid only.
mismatch_port=$(free_port "$mismatch_address")
mismatch_ke_port=$(free_port "$mismatch_address")
start_chronyd_nts "$mismatch_address" "$mismatch_port" "$work/chrony-mismatch" \
    "$mismatch_ke_port" "$certs/other-chain.pem" "$certs/other.key" ||
    { echo "FAIL chronyd did not start"; exit 1; }
probe mismatch --ca "$ca" "$mismatch_address:$mismatch_ke_port"
check "chrony, certificate for another name: refused" \
    grep -qE "^$mismatch_address $mismatch_ke_port failed [0-9.]+: certificate does not name $mismatch_address$" \
    "$work/out/mismatch"

# --- The hostile key-exchange server: started here, asked below ------------------------------
behaviours=(good error warning no-cookies aead17 unknown-critical length-past-data endless
            trickle closes mute wrong-alpn tls12 silent)
declare -A expected=(
    [error]='the server sent error 1 \(bad request\)'
    [warning]='the server sent warning 32769'
    [no-cookies]='the server sent no cookies'
    [aead17]='AEAD algorithm 17 instead of 15'
    [unknown-critical]='unknown critical record of type 17185'
    [length-past-data]='malformed record: record length past the data'
    [endless]='more than 64 records'
    [trickle]='key exchange not finished within the time-out \(waiting for the response\)'
    [closes]='connection closed before End of Message'
    [mute]='key exchange not finished within the time-out \(waiting for the response\)'
    [wrong-alpn]='the server did not agree to ALPN ntske/1'
    [tls12]='TLS handshake failed'
    [silent]='key exchange not finished within the time-out \(TLS handshake\)'
)
# Those that say nothing in time end at the time-out; the others at once.
declare -A at_timeout=([trickle]=1 [mute]=1 [silent]=1)

serve_hostile() {  # serve_hostile ADDRESS CERT KEY OUT BEHAVIOUR...
    local address=$1 cert=$2 key=$3 out=$4
    shift 4
    python3 "$repo/tests/tools/fake_nts_ke_server.py" --address "$address" --cert "$cert" \
        --key "$key" --ntp-server 127.0.0.2 --ntp-port 1234 --request-log "$work/requests" \
        "$@" >"$out" 2>&1 &
    fake_pids+=($!)
    local deadline=$((SECONDS + 20))
    until grep -qx ready "$out" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] && kill -0 "${fake_pids[-1]}" 2>/dev/null ||
            { echo "FAIL fake key-exchange server did not start: $(cat "$out")"; exit 1; }
        sleep 0.02
    done
}
port_of() { awk -v b="$2" '$1 == "ready" && $2 == b { print $3 }' "$1"; }

serve_hostile 127.0.0.1 "$certs/server-chain.pem" "$certs/server.key" "$work/hostile.ready" \
    "${behaviours[@]}"
serve_hostile ::1 "$certs/server-chain.pem" "$certs/server.key" "$work/hostile6.ready" good
serve_hostile 127.0.0.1 "$certs/other-chain.pem" "$certs/other.key" "$work/other.ready" good
serve_hostile 127.0.0.1 "$certs/cn-only-chain.pem" "$certs/cn-only.key" "$work/cn-only.ready" good

good=$(port_of "$work/hostile.ready" good)
good6=$(port_of "$work/hostile6.ready" good)
other=$(port_of "$work/other.ready" good)
cn_only=$(port_of "$work/cn-only.ready" good)
# Names are asked with -4: the servers listen on 127.0.0.1, whatever "localhost" gives first.

# --- The system's trust ----------------------------------------------------------------------
if ! $under_wine; then
    # The machine's own CA bundle does not hold the test CA; $SSL_CERT_FILE replaces it.
    SSL_CERT_FILE= probe system "$chrony_address:$ke_port"
    check "system trust: the test CA is unknown to the system's bundle" \
        grep -qE "^$chrony_address $ke_port failed [0-9.]+: (certificate not trusted|no system CA)" \
        "$work/out/system"
    SSL_CERT_FILE=$certs/root.pem probe system-file -4 "$chrony_address:$ke_port" \
        "localhost:$good"
    check "system trust: with \$SSL_CERT_FILE naming the test CA, trusted" [ "$status" -eq 0 ]
else
    probe windows-before "$chrony_address:$ke_port"
    check "Windows trust: the test CA unknown to the ROOT store" \
        grep -qE "^$chrony_address $ke_port failed [0-9.]+: certificate not trusted by Windows \(chain status" \
        "$work/out/windows-before"
    wine "$root_store" add "$ca" && root_added=true
    check "Windows trust: the test CA added to the prefix's ROOT store" $root_added
    probe windows -4 "$chrony_address:$ke_port" "$mismatch_address:$mismatch_ke_port" \
        "localhost:$good" "localhost:$other"
    check "Windows trust: chronyd trusted by the system's chain engine" \
        grep -qE "^$chrony_address $ke_port ok " "$work/out/windows"
    check "Windows trust: a server by its DNS name trusted" \
        grep -qE "^localhost $good ok " "$work/out/windows"
    check "Windows trust: a certificate for another DNS name refused" \
        grep -qE "^localhost $other failed [0-9.]+: certificate does not name localhost$" \
        "$work/out/windows"
    check "Windows trust: an address the certificate lacks is refused by the program's own match" \
        grep -qE "^$mismatch_address $mismatch_ke_port failed [0-9.]+: certificate does not name $mismatch_address$" \
        "$work/out/windows"
    wine "$root_store" remove "$ca" && root_added=false
    probe windows-after "$chrony_address:$ke_port"
    check "Windows trust: refused again once the test CA is removed" \
        grep -qE "^$chrony_address $ke_port failed [0-9.]+: certificate not trusted by Windows" \
        "$work/out/windows-after"
fi

# --- The hostile key-exchange server, asked ---------------------------------------------------
targets=()
for behaviour in "${behaviours[@]}"; do
    targets+=("127.0.0.1:$(port_of "$work/hostile.ready" "$behaviour")")
done
refused=$(free_port 127.0.0.1)
timeout=3
probe hostile --ca "$ca" --timeout "$timeout" "${targets[@]}" "[::1]:$good6" "127.0.0.1:$refused"
check "hostile: all at once, the whole run within the time-out (${wall} s)" \
    within "$timeout" "$wall" 1.5

line=$(line_of hostile 127.0.0.1 "$good")
check "hostile, good: keys, eight cookies, the NTP server and port it names" \
    [ "$(field cookies "$line")" = 8 -a "$(field server "$line")" = 127.0.0.2 -a \
      "$(field port "$line")" = 1234 ]
check "hostile, good: the request is Next Protocol 0, AEAD 15 and End of Message, all critical" \
    grep -qx 'good 80010002000080040002000f80000000' "$work/requests"
check "hostile, good over IPv6 by address" grep -qE "^\[::1\] $good6 ok " "$work/out/hostile"
check "hostile, closed port: refused at once" \
    grep -qE "^127\.0\.0\.1 $refused failed 0\.[0-9]+: cannot connect to 127\.0\.0\.1 port $refused: refused: nothing serves that port \(last-error code 10061\)$" \
    "$work/out/hostile"

# Under Wine a start of the program and of its threads takes longer: looser bounds there.
quick=1.0
$under_wine && quick=2.0
for behaviour in "${behaviours[@]:1}"; do
    line=$(line_of hostile 127.0.0.1 "$(port_of "$work/hostile.ready" "$behaviour")")
    elapsed=$(awk '{ print $4 }' <<<"${line%%:*}")
    check "hostile, $behaviour: '${line#*: }'" \
        grep -qE "^127\.0\.0\.1 [0-9]+ failed [0-9.]+: ${expected[$behaviour]}" <<<"$line"
    if [ -n "${at_timeout[$behaviour]:-}" ]; then
        check "hostile, $behaviour: ends at the time-out (${elapsed:-?} s)" \
            within "$timeout" "${elapsed:-0}" 0.5
    else
        check "hostile, $behaviour: ends at once (${elapsed:-?} s)" \
            awk -v e="${elapsed:-99}" -v q="$quick" 'BEGIN { exit !(e < q) }'
    fi
done
check "hostile: exit status 1 when an exchange failed" [ "$status" -eq 1 ]

probe names -4 --ca "$ca" "localhost:$good" "localhost:$other" "localhost:$cn_only"
check "by DNS name: trusted" grep -qE "^localhost $good ok " "$work/out/names"
check "by DNS name, certificate for another name: refused" \
    grep -qE "^localhost $other failed [0-9.]+: certificate does not name localhost$" "$work/out/names"
# Mbed TLS falls back on the subject's CN when there are no alternative names; RFC 6125 not.
check "by DNS name, certificate naming it only in its CN: refused" \
    grep -qE "^localhost $cn_only failed [0-9.]+: certificate does not name localhost$" "$work/out/names"

probe usage
check "no server: usage error, exit status 2" [ "$status" -eq 2 ]

finish
