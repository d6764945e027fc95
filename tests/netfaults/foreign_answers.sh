#!/usr/bin/env bash
# Answers from another address or port than the one asked. The client's socket is
# connected, so the system drops such a datagram before the client sees it: the exchange
# times out with 10060, although the answer itself (a real chronyd answer relayed, or the
# fake server's) demonstrably reached the host. A relay answering from the address asked
# shows that the same path works otherwise.
# Usage: foreign_answers.sh QUILLON_QUERY EXCHANGE_LOOP
set -uo pipefail
source "$(dirname "$0")/netns.sh"
if [ "${1:-}" != --inside ]; then
    netfault_enter "$0" "$@"
    exit $?
fi
query=$2
here=$(dirname "$0")

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nf-foreign.XXXXXX")
trap 'netfault_stop_all; netfault_stop_chronyd; rm -rf "$work"' EXIT
netfault_peers_ready || exit 1
netfault_chronyd 127.0.0.2 "$work/chrony" || exit 1

# 127.0.0.1: relayed honestly. 127.0.0.3: relayed, answered from 127.0.0.5:123.
# 127.0.0.4: the fake server, answering from another port of its own address.
netfault_spawn python3 "$here/udp_relay.py" --listen 127.0.0.1:123 --server 127.0.0.2:123 \
    >"$work/honest.out" 2>&1
netfault_spawn python3 "$here/udp_relay.py" --listen 127.0.0.3:123 --server 127.0.0.2:123 \
    --answer-from 127.0.0.5:123 >"$work/address.out" 2>&1
netfault_spawn python3 "$NETFAULT_REPO/tests/tools/fake_ntp_server.py" --address 127.0.0.4 \
    --port 123 --behaviour other-port >"$work/port.out" 2>&1
for out in honest address port; do
    wait_ready "$work/$out.out" || exit 1
done
nft -f - <<'RULES' || exit 1
table inet quillon_faults {
    chain input {
        type filter hook input priority 0; policy accept;
        ip saddr 127.0.0.5 udp sport 123 counter comment "other address"
        ip saddr 127.0.0.4 udp sport != 123 udp dport != 123 counter comment "other port"
    }
}
RULES

"$query" 127.0.0.1 --verbose </dev/null >"$work/honest" 2>&1
check "through the honest relay: answered (exit status $?)" grep -q '^Time was successfully retreived$' "$work/honest"

"$query" 127.0.0.3 --verbose </dev/null >"$work/address" 2>&1 &
address_pid=$!
"$query" 127.0.0.4 --verbose </dev/null >"$work/port" 2>&1 &
port_pid=$!
wait "$address_pid"
address_status=$?
wait "$port_pid"
port_status=$?

counted() {  # counted COMMENT: packets the input rule with that comment saw
    nft list chain inet quillon_faults input |
        sed -nE "s/.*counter packets ([0-9]+) .*comment \"$1\".*/\\1/p"
}
for kind in address port; do
    status_var=${kind}_status
    check "answer from another $kind: exit status 1" [ "${!status_var}" -eq 1 ]
    check "answer from another $kind: timed out (10060)" grep -q '^last-error code: 10060 (no answer in time)$' "$work/$kind"
    arrived=$(counted "other $kind")
    check "answer from another $kind: it reached the host ($arrived datagram)" [ "${arrived:-0}" -ge 1 ]
done
finish
