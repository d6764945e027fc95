#!/usr/bin/env bash
# Answers delayed on an asymmetric path: a relay holds each request 40 ms and each answer
# 10 ms on the way between quillon-query and a chronyd whose clock is 5 s ahead. The offset
# then reads 5 s + (40 - 10) / 2 ms and the round-trip delay 50 ms; both are compared with
# what the relay measured it really held each datagram.
# Usage: delayed_answers.sh QUILLON_QUERY EXCHANGE_LOOP
set -uo pipefail
source "$(dirname "$0")/netns.sh"
if [ "${1:-}" != --inside ]; then
    netfault_enter "$0" "$@"
    exit $?
fi
query=$2
shift_seconds=5
runs=5

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nf-delayed.XXXXXX")
trap 'netfault_stop_all; netfault_stop_chronyd; rm -rf "$work"' EXIT
netfault_peers_ready || exit 1
netfault_chronyd 127.0.0.2 "$work/chrony" "+${shift_seconds}s" || exit 1
netfault_spawn python3 "$(dirname "$0")/udp_relay.py" --listen 127.0.0.1:123 \
    --server 127.0.0.2:123 --request-delay-ms 40 --answer-delay-ms 10 --log "$work/held" \
    >"$work/relay.out" 2>&1
wait_ready "$work/relay.out" || exit 1

for ((i = 1; i <= runs; i++)); do
    "$query" 127.0.0.1 --verbose </dev/null >"$work/run" 2>&1
    status=$?
    offset=$(sed -nE 's/^ +(-?[0-9]+\.[0-9]+) seconds$/\1/p' "$work/run")
    delay=$(sed -nE 's/^round-trip delay: (-?[0-9.]+) seconds$/\1/p' "$work/run")
    read -r _ held_request held_answer < <(sed -n "${i}p" "$work/held")
    echo "run $i: offset ${offset:-?} s, delay ${delay:-?} s; relay held ${held_request:-?} ms and ${held_answer:-?} ms"
    if [ "$status" -ne 0 ] || [ -z "$offset" ] || [ -z "$delay" ] || [ -z "${held_answer:-}" ]; then
        check "run $i answered" false
        sed 's/^/    | /' "$work/run"
        continue
    fi
    expected_offset=$(calc "$shift_seconds + ($held_request - $held_answer) / 2000")
    held=$(calc "($held_request + $held_answer) / 1000")
    # The relay measured its own holds; the legs between it and the two ends it cannot see.
    # Their asymmetry moves the offset by at most half their sum; the client's clock steps
    # of 1 ms add up to 1 ms to either figure.
    legs=$(calc "$delay - $held > 0 ? $delay - $held : 0")
    check "run $i: offset $offset s within half the unrelayed path (+1 ms) of $expected_offset s (nominal 5.015)" \
        within "$expected_offset" "$offset" "$(calc "$legs / 2 + 0.001")"
    check "run $i: delay $delay s at least the relay's $held s (-1 ms clock step), nominal 0.050" \
        awk -v d="$delay" -v h="$held" 'BEGIN { exit !(d >= h - 0.0011) }'
    check "run $i: delay $delay s no more than 5 ms above the relay's holds" \
        awk -v d="$delay" -v h="$held" 'BEGIN { exit !(d <= h + 0.005) }'
done
finish
