#!/usr/bin/env bash
# Answers dropped at random: nftables inside the namespace drops about 30 % of the answers
# of a chronyd serving a clock 5 s ahead. Forty quillon-query runs at once: each either
# reports the offset (within half its round-trip delay, plus the 1 ms clock step, of the
# shift) or fails with 10060 after its time-out, and
# the failures are exactly the answers that the rule dropped.
# Usage: dropped_answers.sh QUILLON_QUERY EXCHANGE_LOOP
set -uo pipefail
source "$(dirname "$0")/netns.sh"
if [ "${1:-}" != --inside ]; then
    netfault_enter "$0" "$@"
    exit $?
fi
query=$2
shift_seconds=5
runs=40

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nf-dropped.XXXXXX")
trap 'netfault_stop_chronyd; rm -rf "$work"' EXIT
netfault_peers_ready || exit 1
netfault_chronyd 127.0.0.1 "$work/chrony" "+${shift_seconds}s" || exit 1

nft -f - <<'RULES' || exit 1
table inet quillon_faults {
    chain output {
        type filter hook output priority 0; policy accept;
        udp sport 123 numgen random mod 100 < 30 counter drop
    }
}
RULES

echo "$(date +%T.%N) starting $runs queries"
pids=()
for ((i = 0; i < runs; i++)); do
    "$query" 127.0.0.1 --verbose </dev/null >"$work/run-$i" 2>&1 &
    pids+=("$!")
done
succeeded=0
timed_out=0
other=0
for ((i = 0; i < runs; i++)); do
    wait "${pids[$i]}"
    status=$?
    out="$work/run-$i"
    if [ "$status" -eq 0 ]; then
        # Forty clients at once on a small machine wait unevenly for the processor: the
        # offset can be off by up to half the round-trip delay, never more.
        offset=$(sed -nE 's/^ +(-?[0-9]+\.[0-9]+) seconds$/\1/p' "$out")
        delay=$(sed -nE 's/^round-trip delay: (-?[0-9.]+) seconds$/\1/p' "$out")
        bound=$(calc "abs(${delay:-1e9}) / 2 + 0.001")
        if [ -n "$offset" ] && within "$shift_seconds" "$offset" "$bound"; then
            succeeded=$((succeeded + 1))
        else
            echo "run $i: offset '$offset' is farther than half the delay '$delay' from $shift_seconds s"
            other=$((other + 1))
        fi
    elif [ "$status" -eq 1 ] && grep -q '^last-error code: 10060 (no answer in time)$' "$out" &&
        grep -q '^Failed to retreive time from NTP server$' "$out"; then
        timed_out=$((timed_out + 1))
    else
        echo "run $i: exit status $status:"
        sed 's/^/    | /' "$out"
        other=$((other + 1))
    fi
done
echo "$(date +%T.%N) all ended"
dropped=$(nft list chain inet quillon_faults output | sed -nE 's/.*counter packets ([0-9]+).*/\1/p')
echo "runs $runs: $succeeded answered, $timed_out timed out, $other otherwise; rule dropped ${dropped:-?}"

check "every run either reports the right offset or times out with 10060" [ "$other" -eq 0 ]
check "the timed-out runs are exactly the dropped answers" [ "$timed_out" = "${dropped:-x}" ]
check "some answers were dropped and some came through" [ "$timed_out" -gt 0 -a "$succeeded" -gt 0 ]
finish
