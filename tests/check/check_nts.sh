#!/usr/bin/env bash
# quillon-query --check --nts end to end (quillon-query.exe under Wine):
#  - against chronyd serving NTS with its clock shifted by libfaketime: authenticated, the
#    shift measured, several samples on the cookies of one key exchange;
#  - trust: a wrong CA and a certificate for another name end in "nts failed"; the system's
#    trust (Linux: $SSL_CERT_FILE; Wine: the prefix's ROOT store, with the test CA added by
#    wine_root_store.exe and removed again);
#  - no downgrade: a server whose key exchange fails is never asked on its NTP port;
#  - a UDP relay that the key exchange names as the NTP server: answers it flips a bit in,
#    strips of their extension fields or replays are never used; a NAK ends nothing by
#    itself: before an authentic answer it changes nothing, alone it reads "kod NTSN";
#  - a key-exchange server that never speaks ends in "nts failed" within the time-out;
#  - a badly wrong local clock (shifted by libfaketime, kernel receive stamps refused):
#    certificates judged at the agreed time, or at the local clock with --cert-time local;
#    a certificate expired for real rejected; one server alone, or servers agreeing on a
#    time before the release date, give no result.
# Certificates are made by openssl for the run.
#
# Usage: check_nts.sh PATH/quillon-query[.exe] [PATH/wine_root_store.exe]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
query=${1:?usage: check_nts.sh PATH/quillon-query[.exe] [PATH/wine_root_store.exe]}
root_store=${2:-}
source "$repo/tests/tools/checks.sh"
source "$repo/scripts/lib/chrony.sh"

# No run here may set this machine's clock, whoever starts the test.
run_query=(setpriv --bounding-set -sys_time --inh-caps -sys_time "$query")
under_wine=false
host_path() { echo "$1"; }
if [[ "$query" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    quillon_wine_prime || exit 1
    run_query=(wine "$query")
    under_wine=true
    host_path() { winepath -w "$1" 2>/dev/null; }
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-check-nts.XXXXXX")
pids=()
root_added=false
cleanup() {
    $root_added && wine "$root_store" remove "$(host_path "$work/certs/root.pem")" >/dev/null
    [ -n "${shifted_prefix:-}" ] && wineserver -k 2>/dev/null
    stop_chronyd
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# One port free for UDP and TCP on every address used: NTP on it, the key exchange one above.
port=$(python3 -c '
import socket
while True:
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.81", 0))
    p = u.getsockname()[1]
    try:
        for a in ("127.0.0.81", "127.0.0.82", "127.0.0.83", "127.0.0.84", "127.0.0.85",
                  "127.0.0.86", "127.0.0.87", "127.0.0.88", "127.0.0.91", "127.0.0.92",
                  "127.0.0.93"):
            t = socket.socket(socket.AF_INET, socket.SOCK_STREAM); t.bind((a, p + 1)); t.close()
        print(p); break
    except OSError:
        pass')
ke_port=$((port + 1))

"$repo/tests/tools/make_test_certs.sh" "$work/certs" 127.0.0.81 127.0.0.82 127.0.0.83 127.0.0.84 \
    127.0.0.87 127.0.0.88 127.0.0.91 127.0.0.92 127.0.0.93 ||
    { echo "FAIL openssl could not make the certificates"; exit 1; }
certs=$work/certs
ca=$(host_path "$certs/root.pem")

# Shifted by more than a second: chronyd then stamps with its own (shifted) clock alone.
shift_spec=+2.5s
start_chronyd_nts 127.0.0.81 "$port" "$work/c81" "$ke_port" "$certs/server-chain.pem" \
    "$certs/server.key" "$shift_spec" || exit 1
start_chronyd_nts 127.0.0.82 "$port" "$work/c82" "$ke_port" "$certs/server-chain.pem" \
    "$certs/server.key" "$shift_spec" || exit 1
# Names the relay on 127.0.0.84 as its NTP server.
start_chronyd_nts 127.0.0.83 "$port" "$work/c83" "$ke_port" "$certs/server-chain.pem" \
    "$certs/server.key" "$shift_spec" 127.0.0.84 || exit 1
# A certificate for ntp.invalid only.
start_chronyd_nts 127.0.0.85 "$port" "$work/c85" "$ke_port" "$certs/other-chain.pem" \
    "$certs/other.key" "$shift_spec" || exit 1
start_chronyd_nts 127.0.0.87 "$port" "$work/c87" "$ke_port" "$certs/server-chain.pem" \
    "$certs/server.key" "$shift_spec" || exit 1
# A certificate that expired ten days ago; then three with it whose clocks are 40 days back,
# when it was valid.
start_chronyd_nts 127.0.0.88 "$port" "$work/c88" "$ke_port" "$certs/expired-chain.pem" \
    "$certs/expired.key" "$shift_spec" || exit 1
for a in 91 92 93; do
    start_chronyd_nts "127.0.0.$a" "$port" "$work/c$a" "$ke_port" "$certs/expired-chain.pem" \
        "$certs/expired.key" -40d || exit 1
done

started() {  # started OUT: waits for the "ready" line of a helper started with output in OUT
    local deadline=$((SECONDS + 20))
    until grep -qs '^ready$' "$1"; do
        [ $SECONDS -lt $deadline ] && kill -0 "${pids[-1]}" 2>/dev/null ||
            { echo "FAIL helper did not start: $(cat "$1")"; exit 1; }
        sleep 0.02
    done
}

# The program's own clock shifted (shifted SHIFT check_query ...): libfaketime, and no kernel
# receive stamps, which carry the true time.
faketime_lib=$QUILLON_PEERS_ROOT/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
cc -shared -fPIC -O2 -o "$work/no_kernel_stamps.so" "$repo/tests/tools/no_kernel_stamps.c" -ldl ||
    { echo "FAIL the receive-stamp shim does not build"; exit 1; }
clock_shift=()
shifted() {
    clock_shift=(env LD_PRELOAD="$faketime_lib:$work/no_kernel_stamps.so" FAKETIME="$1"
        FAKETIME_DONT_RESET=1)
    shift
    "$@"
    clock_shift=()
}

check_query() {  # check_query NAME ARGS...: output in $work/NAME (no CR), status, wall time
    local name=$1 t0
    shift
    t0=$(date +%s.%N)
    "${clock_shift[@]}" "${run_query[@]}" --check --nts --port "$port" --nts-port "$ke_port" "$@" </dev/null \
        2>"$work/$name.err" | tr -d '\r' >"$work/$name"
    status=${PIPESTATUS[0]}
    wall=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    sed "s/^/    $name | /" "$work/$name" | cut -c1-200
}

json_check() {  # json_check DESCRIPTION NAME PYTHON: PYTHON asserts on doc, the JSON of NAME
    check "$1" python3 -c "
import json, sys
doc = json.load(open(sys.argv[1]))
servers = {s['address']: s for s in doc['servers']}
$3" "$work/$2" "$port"
}

check_query good --json --ca "$ca" --samples 3 --interval 0.05 127.0.0.81 127.0.0.82
check "authenticated: exit 0" [ "$status" -eq 0 ]
json_check "authenticated: both servers, the shift measured" good '
assert doc["nts"] is True and doc["valid"] is True and doc["agree"] == 2, doc
for s in doc["servers"]:
    assert s["status"] == "ok" and s["authenticated"] is True and s["nts_error"] is None, s
    assert abs(s["offset"] - 2.5) < 0.05, s
    assert s["ntp_address"] == s["address"] and s["ntp_port"] == int(sys.argv[2]), s
assert abs(doc["offset"] - 2.5) < 0.05, doc'
check_query good-text --ca "$ca" 127.0.0.81
check "the summary says the result is authenticated" \
    grep -qE '^offset \+2\.[0-9]+ s .* agree, authenticated by NTS$' "$work/good-text"
check "NTP where the key exchange was: the line does not name it again" \
    grep -qE '^127\.0\.0\.81 .* ok$' "$work/good-text"
check_query good-plugin --ca "$ca" --warn 5 --crit 10 127.0.0.81
check "the plugin line says so too" \
    grep -qE '^NTP OK: .*authenticated by NTS\|offset=2\.[0-9]+s;5;10;$' "$work/good-plugin"

check_query wrong-ca --json --ca "$(host_path "$certs/stranger-root.pem")" --timeout 2 127.0.0.81
check "a wrong CA: exit 2" [ "$status" -eq 2 ]
json_check "a wrong CA: nts failed, with the reason" wrong-ca '
s = servers["127.0.0.81"]
assert s["status"] == "nts failed" and s["authenticated"] is False and s["nts_error"], s
assert s["offset"] is None and doc["valid"] is False, doc
assert s["ntp_address"] is None and s["ntp_port"] is None, s'

check_query other-name --ca "$ca" --timeout 2 127.0.0.85
check "a certificate for another name: nts failed" \
    grep -qE '^127\.0\.0\.85 .* nts failed \(.+\)$' "$work/other-name"

if $under_wine; then
    if [ -n "$root_store" ] && wine "$root_store" add "$ca" >/dev/null; then
        root_added=true
        check_query system --timeout 3 127.0.0.81
        check "Windows' own trust, the test CA in the ROOT store: exit 0" [ "$status" -eq 0 ]
        wine "$root_store" remove "$ca" >/dev/null && root_added=false
        check_query system-removed --timeout 3 127.0.0.81
        check "Windows' own trust without the test CA: nts failed" \
            grep -qE '^127\.0\.0\.81 .* nts failed' "$work/system-removed"
    else
        check "the test CA can be added to the Wine prefix's ROOT store" false
    fi
else
    SSL_CERT_FILE=$certs/root.pem check_query system --timeout 3 127.0.0.81
    check "the system's CA bundle (\$SSL_CERT_FILE) trusts the test CA: exit 0" [ "$status" -eq 0 ]
fi

# No downgrade: a key exchange that fails leaves the server's NTP port unasked.
python3 "$repo/tests/tools/fake_nts_ke_server.py" --address 127.0.0.86 --port "$ke_port" \
    --cert "$certs/server-chain.pem" --key "$certs/server.key" silent >"$work/ke-out" 2>&1 &
pids+=($!)
started "$work/ke-out"
python3 "$repo/tests/tools/fake_ntp_server.py" --address 127.0.0.86 --port "$port" \
    --count-file "$work/asked" >"$work/ntp-out" 2>&1 &
pids+=($!)
until grep -qs '^ready' "$work/ntp-out"; do sleep 0.02; done
check_query silent-ke --ca "$ca" --timeout 1 127.0.0.86
check "a silent key exchange: nts failed" grep -qE '^127\.0\.0\.86 .* nts failed' "$work/silent-ke"
check "a silent key exchange ends with the time-out (${wall} s)" \
    awk -v t="$wall" 'BEGIN { exit !(t >= 0.9 && t <= 3.5) }'
check "no downgrade: its NTP port was never asked" [ "$(cat "$work/asked")" -eq 0 ]

# The relay that the key exchange of 127.0.0.83 names as its NTP server.
relays=0
relay() {  # relay [--tamper KIND]: restarts the relay on 127.0.0.84
    [ -n "${relay_pid:-}" ] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
    relays=$((relays + 1))
    python3 "$repo/tests/netfaults/udp_relay.py" --listen "127.0.0.84:$port" \
        --server "127.0.0.83:$port" "$@" >"$work/relay-out-$relays" 2>&1 &
    relay_pid=$!
    pids+=($relay_pid)
    started "$work/relay-out-$relays"
}
relayed() {  # relayed NAME: three samples asked through the relay, as JSON
    check_query "$1" --json --ca "$ca" --timeout 1 --samples 3 --interval 0.05 127.0.0.83
}
relay
relayed relay-honest
json_check "through an honest relay: three samples, authenticated" relay-honest '
s = servers["127.0.0.83"]
assert s["status"] == "ok" and s["authenticated"] is True and s["samples"] == 3, s
assert abs(s["offset"] - 2.5) < 0.05, s
assert s["ntp_address"] == "127.0.0.84" and s["ntp_port"] == int(sys.argv[2]), s'
for kind in flip strip; do
    relay --tamper "$kind"
    relayed "relay-$kind"
    json_check "relay that does $kind: nothing used, no answer" "relay-$kind" '
s = servers["127.0.0.83"]
assert s["status"] == "no answer" and s["samples"] == 0 and s["offset"] is None, s'
done
relay --tamper replay
relayed relay-replay
json_check "relay that replays the first answer: taken once" relay-replay '
s = servers["127.0.0.83"]
assert s["status"] == "ok" and s["samples"] == 1, s' 
relay --tamper nak-first
check_query relay-nak-first --ca "$ca" --timeout 1 --samples 2 --interval 0.05 127.0.0.83
check "relay that sends a NAK before each authentic answer: ok, and the line says where NTP went" \
    grep -qE "^127\.0\.0\.83 .* ok, NTP at 127\.0\.0\.84 port $port$" "$work/relay-nak-first"
relay --tamper nak
check_query relay-nak --ca "$ca" --timeout 1 --samples 2 --interval 0.05 127.0.0.83
check "relay that sends only NAKs: kod NTSN" grep -qE '^127\.0\.0\.83 .* kod NTSN \(.*NTS NAK\)\), NTP at ' \
    "$work/relay-nak"
check "relay that sends only NAKs: an authentic answer awaited until the time-out (${wall} s)" \
    awk -v t="$wall" 'BEGIN { exit !(t >= 1.0) }'

# A badly wrong local clock. The shift is what the servers measure, their own 2.5 s aside.
good=(127.0.0.81 127.0.0.82 127.0.0.87)
agreed_check='
assert doc["valid"] is True and doc["agree"] == 3 and doc["certificate_time"] == "agreed", doc
assert abs(doc["offset"] - shift - 2.5) < 1, doc
assert doc["set"] != "refused", doc  # attempted (natively without the right to set)
for s in doc["servers"]:
    assert s["certificate_valid_from"] < s["certificate_valid_until"], s'
check_query expired --json --ca "$ca" 127.0.0.81 127.0.0.82 127.0.0.88
json_check "a certificate expired for real: rejected, the other two valid" expired '
s = servers["127.0.0.88"]
assert s["status"] == "rejected" and "certificate valid from" in s["reason"], s
assert doc["valid"] is True and doc["agree"] == 2 and doc["certificate_time"] == "local", doc'
check_query before-release --ca "$ca" --set 127.0.0.91 127.0.0.92 127.0.0.93
check "servers agreeing on a time before the release: no result, not set" \
    grep -q "^clock not set: the servers agree on .*, before this program's release" \
    "$work/before-release"

if ! $under_wine; then
    for shift_days in -400 +1100; do
        shifted "${shift_days}d" check_query "wrong-clock$shift_days" --json --ca "$ca" --set \
            "${good[@]}"
        json_check "local clock ${shift_days} days off: certificates judged at the agreed time" \
            "wrong-clock$shift_days" "shift = -($shift_days) * 86400$agreed_check"
    done
    shifted -400d check_query wrong-clock-local --json --ca "$ca" --cert-time local "${good[@]}"
    json_check "--cert-time local: nts failed, the local clock named" wrong-clock-local '
assert doc["valid"] is False and doc["answered"] == 0, doc
for s in doc["servers"]:
    assert s["status"] == "nts failed" and "but the local clock reads" in s["nts_error"], s
    assert s["nts_error"].endswith("the local clock is probably wrong"), s'
    shifted -400d check_query wrong-clock-plugin --ca "$ca" --warn 1 --crit 2 "${good[@]}"
    check "the plugin line says the certificates were judged at the agreed time" grep -qE \
        '^NTP CRITICAL: .*authenticated by NTS, certificates judged at the agreed time\|' \
        "$work/wrong-clock-plugin"
    shifted -400d check_query wrong-clock-alone --ca "$ca" 127.0.0.81
    check "one server alone cannot vouch for its own certificate's time: exit 2" [ "$status" -eq 2 ]
    check "one server alone: the reason" grep -q '^no result: .* need two servers that agree' \
        "$work/wrong-clock-alone"
else
    # A prefix of its own (a Wine run with a shifted clock may rewrite its prefix), whose
    # wine server runs on the shifted clock too.
    shifted_prefix=$work/wine-shifted
    cp -a "$WINEPREFIX" "$shifted_prefix"
    export WINEPREFIX=$shifted_prefix
    shifted -400d wineserver -p </dev/null >/dev/null 2>&1
    shifted -400d check_query wrong-clock-400 --json --ca "$ca" --set "${good[@]}"
    json_check "Wine, --ca, local clock 400 days behind: judged at the agreed time" \
        wrong-clock-400 "shift = 400 * 86400$agreed_check"
    if wine "$root_store" add "$ca" >/dev/null; then
        shifted -400d check_query wrong-clock-system --json --timeout 3 --set "${good[@]}"
        json_check "Wine, the chain engine, 400 days behind: judged again at the agreed time" \
            wrong-clock-system "shift = 400 * 86400$agreed_check"
    else
        check "the test CA can be added to the shifted prefix's ROOT store" false
    fi
fi
finish
