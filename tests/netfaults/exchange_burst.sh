#!/usr/bin/env bash
# 1000 exchanges in a row on one TimeClient against a real server (chronyd) in the
# namespace: every exchange succeeds and the process ends with exactly the descriptors it
# started with, never holding more than one socket beyond them.
# Usage: exchange_burst.sh QUILLON_QUERY EXCHANGE_LOOP
set -uo pipefail
source "$(dirname "$0")/netns.sh"
if [ "${1:-}" != --inside ]; then
    netfault_enter "$0" "$@"
    exit $?
fi
loop=$3
exchanges=1000

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-nf-burst.XXXXXX")
trap 'netfault_stop_chronyd; rm -rf "$work"' EXIT
netfault_peers_ready || exit 1
netfault_chronyd 127.0.0.1 "$work/chrony" || exit 1

"$loop" 127.0.0.1 123 "$exchanges" 0 >"$work/loop" 2>&1
sed 's/^/    | /' "$work/loop"
value() { sed -nE "s/^$1 (.*)$/\\1/p" "$work/loop"; }
before=$(value descriptors_before)
check "all $exchanges exchanges succeeded" [ "$(value succeeded)" = "$exchanges" ]
check "descriptors after ($(value descriptors_after)) = before ($before)" \
    [ -n "$before" -a "$(value descriptors_after)" = "$before" ]
check "at most one socket open at a time (peak $(value sockets_peak))" \
    [ "$(value sockets_peak)" = 1 ]
check "every offset within half its delay (+1 ms) of chronyd's, which is the host clock" \
    [ "$(value offset_outside_bound)" = 0 ]
finish
