#!/usr/bin/env bash
# A server that answers every request twice. 200 exchanges in a row on one TimeClient: the
# duplicate of one exchange must never be taken for the answer of the next, so every
# exchange succeeds with the server's offset (within half its round-trip delay); the
# duplicates did reach this host.
# Usage: answers_twice.sh QUILLON_QUERY EXCHANGE_LOOP
set -uo pipefail
source "$(dirname "$0")/netns.sh"
if [ "${1:-}" != --inside ]; then
    netfault_enter "$0" "$@"
    exit $?
fi
query=$2
loop=$3
offset=3.5
exchanges=200

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nf-twice.XXXXXX")
trap 'netfault_stop_all; rm -rf "$work"' EXIT
netfault_spawn python3 "$NETFAULT_REPO/tests/tools/fake_ntp_server.py" --address 127.0.0.1 \
    --port 123 --behaviour twice --offset "$offset" >"$work/server.out" 2>&1
wait_ready "$work/server.out" || exit 1
nft -f - <<'RULES' || exit 1
table inet quillon_faults {
    chain input {
        type filter hook input priority 0; policy accept;
        udp sport 123 counter
    }
}
RULES

"$query" 127.0.0.1 --verbose </dev/null >"$work/query" 2>&1
status=$?
check "quillon-query: exit status 0" [ "$status" -eq 0 ]
printed=$(sed -nE 's/^ +(-?[0-9]+\.[0-9]+) seconds$/\1/p' "$work/query")
check "quillon-query: offset '$printed' within 2 ms of $offset" within "$offset" "${printed:-0}" 0.002

"$loop" 127.0.0.1 123 "$exchanges" "$offset" >"$work/loop" 2>&1
sed 's/^/    | /' "$work/loop"
value() { sed -nE "s/^$1 (.*)$/\\1/p" "$work/loop"; }
check "all $exchanges exchanges in a row succeeded" [ "$(value succeeded)" = "$exchanges" ]
check "every offset within half its delay (+1 ms) of $offset" [ "$(value offset_outside_bound)" = 0 ]
answers=$(nft list chain inet quillon_faults input | sed -nE 's/.*counter packets ([0-9]+).*/\1/p')
check "the server's answers all arrived twice ($answers datagrams for $((exchanges + 1)) requests)" \
    [ "${answers:-0}" -eq $((2 * (exchanges + 1))) ]
finish
