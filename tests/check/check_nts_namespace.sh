#!/usr/bin/env bash
# quillon-query --check --nts (quillon-query.exe under Wine) in a network namespace of the
# test's own with only its loopback, so that nothing sent can leave:
#  - against ntpsec's ntpd serving NTS (it binds the wildcard address on 123 and 4460,
#    hence the namespace): authenticated;
#  - key exchanges whose NTP server (records 6 and 7) no client may ask: each "nts failed"
#    with the reason, and nothing reaches a tripwire listening on every local address but
#    the request of the one exchange that names its own address.
# The key-exchange servers sit on 192.0.2.x, addresses of lo that are not loopback ones, so
# that naming loopback is refused too.
#
# Usage: check_nts_namespace.sh PATH/quillon-query[.exe]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$repo/tests/netfaults/netns.sh"
if [ "${1:-}" != --inside ]; then
    query=${1:?usage: check_nts_namespace.sh PATH/quillon-query[.exe]}
    if [[ "$query" == *.exe ]]; then
        source "$repo/scripts/lib/wine-env.sh"
        quillon_wine_prefix_init || exit 1
    fi
    netfault_enter "$0" "$@"
    exit $?
fi
query=$2
source "$repo/scripts/lib/ntpsec.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nts-ns.XXXXXX")
run_query=(setpriv --bounding-set -sys_time --inh-caps -sys_time "$query")
host_path() { echo "$1"; }
wine_view=false
cleanup() {
    stop_ntpsec
    netfault_stop_all
    $wine_view && { quillon_wine_stop; umount "$WINEPREFIX"; }
    rm -rf "$work"
}
trap cleanup EXIT
if [[ "$query" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    # Wine's sockets are made by its wine server, which must be this namespace's own: it
    # gets one for a copy-on-write view of the prefix (a server serves one prefix folder),
    # and the prefix itself stays as it was.
    mkdir -p "$work/prefix-changes" "$work/prefix-work"
    mount -t overlay overlay -o "lowerdir=$WINEPREFIX,upperdir=$work/prefix-changes,workdir=$work/prefix-work" \
        "$WINEPREFIX" || { echo "FAIL cannot lay a view over the Wine prefix"; exit 1; }
    wine_view=true
    quillon_wine_prime || exit 1
    run_query=(wine "$query")
    host_path() { winepath -w "$1" 2>/dev/null; }
fi

# One key-exchange server per address, each naming one NTP server; the last names itself.
named=(0.0.0.0 0 2130706433 0x7f.1 127.1 localhost 224.0.1.1 255.255.255.255 169.254.1.1
       fe80::1 :: 127.0.0.1/0 192.0.2.13)
declare -A refused=(
    [0]='0.0.0.0, an unspecified address' [1]='0, neither a dotted-decimal'
    [2]='2130706433, neither' [3]='0x7f.1, neither' [4]='127.1, neither'
    [5]='localhost \((127\.0\.0\.1|::1)\), a loopback address' [6]='224.0.1.1, a multicast address'
    [7]='255.255.255.255, a broadcast address' [8]='169.254.1.1, a link-local address'
    [9]='fe80::1, a link-local address' [10]='::, an unspecified address'
    [11]='an NTPv4 Port record of port 0')
addresses=()
for i in "${!named[@]}"; do
    addresses+=("192.0.2.$((i + 1))")
    ip addr add "192.0.2.$((i + 1))/32" dev lo
done
"$repo/tests/tools/make_test_certs.sh" "$work/certs" "${addresses[@]}" ||
    { echo "FAIL openssl could not make the certificates"; exit 1; }
certs=$work/certs
ca=$(host_path "$certs/root.pem")
ntp_port=1123
ke_port=4461
netfault_spawn python3 "$repo/tests/tools/fake_ntp_server.py" --address 0.0.0.0 \
    --port "$ntp_port" --behaviour silent --count-file "$work/tripped" >"$work/tripwire.out" 2>&1
wait_ready "$work/tripwire.out" || exit 1
for i in "${!named[@]}"; do
    target=${named[$i]}
    [[ "$target" == */* ]] || target+="/$ntp_port"
    netfault_spawn python3 "$repo/tests/tools/fake_nts_ke_server.py" --address "${addresses[$i]}" \
        --port "$ke_port" --cert "$certs/server-chain.pem" --key "$certs/server.key" \
        "names=$target" >"$work/ke-$i.out" 2>&1
done
for i in "${!named[@]}"; do wait_ready "$work/ke-$i.out" || exit 1; done

check_query() {  # check_query NAME ARGS...: JSON output in $work/NAME (no CR), status
    local name=$1
    shift
    "${run_query[@]}" --check --nts --json --ca "$ca" "$@" </dev/null 2>"$work/$name.err" |
        tr -d '\r' >"$work/$name"
    status=${PIPESTATUS[0]}
    sed "s/^/    $name | /" "$work/$name" "$work/$name.err" | cut -c1-240
}

check_query redirect --timeout 2 --port "$ntp_port" --nts-port "$ke_port" "${addresses[@]}"
for i in "${!refused[@]}"; do
    check "named ${named[$i]}: nts failed with the reason" python3 -c '
import json, re, sys
s = [s for s in json.load(open(sys.argv[1]))["servers"] if s["address"] == sys.argv[2]][0]
assert s["status"] == "nts failed" and re.search(sys.argv[3], s["nts_error"]), s
assert s["ntp_address"] is None and s["ntp_port"] is None, s' \
        "$work/redirect" "${addresses[$i]}" "${refused[$i]}"
done
last=$((${#named[@]} - 1))
tripped=$(cat "$work/tripped")
check "named its own address: asked there, and nothing else reached the tripwire ($tripped)" \
    [ "$tripped" = 1 ]
check "named its own address: JSON says where NTP went" python3 -c '
import json, sys
s = [s for s in json.load(open(sys.argv[1]))["servers"] if s["address"] == sys.argv[2]][0]
assert s["ntp_address"] == sys.argv[2] and s["ntp_port"] == int(sys.argv[3]), s' \
    "$work/redirect" "${addresses[$last]}" "$ntp_port"
netfault_stop_all
# (ntpd was seen not to serve 127.0.0.1 while lo had these addresses too)
for address in "${addresses[@]}"; do ip addr del "$address/32" dev lo; done

# ntpsec's ntpd, on 127.0.0.1 port 123 and 4460.
start_ntpsec "$work/ntpd" "$certs/server-chain.pem" "$certs/server.key" || exit 1
check_query ntpsec --timeout 3 --samples 2 --interval 0.1 127.0.0.1
check "ntpsec: authenticated, exit 0" [ "$status" -eq 0 ]
check "ntpsec: both samples authenticated, stratum 5" python3 -c '
import json, sys
doc = json.load(open(sys.argv[1]))
s = doc["servers"][0]
assert doc["nts"] and doc["valid"] and s["status"] == "ok" and s["authenticated"], doc
assert s["samples"] == 2 and s["stratum"] == 5 and s["ntp_port"] == 123, s' "$work/ntpsec"

finish
