#!/usr/bin/env bash
# quillon-query with mode Y against a fake server on loopback, where setting the clock must
# be refused or be harmless:
#  - natively, in a child without CAP_SYS_TIME: "Failed to set the local time", clock untouched;
#  - under Wine, whose SetSystemTime never moves the host clock (it accepts only a time within
#    0.5 s of now, as a no-op, and refuses anything else): a correct server gives
#    "Time was successfully synchronised", a server an hour off "Failed to set the local time".
# Every run is also made without CAP_SYS_TIME, so no mistake here can move this machine's clock.
#
# Usage: clock_setting.sh PATH/quillon-query[.exe]
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
query=${1:?usage: clock_setting.sh PATH/quillon-query[.exe]}

no_clock_rights=(setpriv --bounding-set -sys_time --inh-caps -sys_time)
run_query=("${no_clock_rights[@]}" "$query")
if [[ "$query" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    quillon_wine_prime || exit 1
    run_query=("${no_clock_rights[@]}" wine "$query")
fi

# Refuse to go on unless the child really lacks the right to set the time (bit 25).
cap_eff=$("${no_clock_rights[@]}" sh -c 'sed -n "s/^CapEff:\t//p" /proc/self/status')
if (( (16#$cap_eff >> 25) & 1 )); then
    echo "FAIL a child under setpriv still holds CAP_SYS_TIME; not running" >&2
    exit 1
fi

source "$repo/tests/tools/checks.sh"

server_pid=
start_server() {  # start_server OFFSET_SECONDS -> sets port
    local ready
    exec {fifo}< <(python3 "$repo/tests/tools/fake_ntp_server.py" --address 127.0.0.1 --port 0 \
        --offset "$1" & echo "pid $!"; wait)
    local word value1 value2 i
    for i in 1 2; do
        read -r word value1 value2 <&"$fifo" || break
        case $word in
        pid) server_pid=$value1 ;;
        ready) ready=$word port=$value2 ;;
        esac
    done
    [ "${ready:-}" = ready ] || { echo "fake server did not start" >&2; exit 1; }
}
stop_server() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    server_pid=
}
trap stop_server EXIT

# The wall clock's distance from the monotonic clock; a clock step would change it.
clock_step_marker() {
    python3 -c 'import time; print(time.clock_gettime(time.CLOCK_REALTIME) - time.clock_gettime(time.CLOCK_MONOTONIC))'
}

run_with_y() {  # run_with_y OFFSET -> output in $out, status in $status
    start_server "$1"
    out=$("${run_query[@]}" 127.0.0.1 Y --port "$port" 2>&1)
    status=$?
    stop_server
}

before=$(clock_step_marker)
if [[ "$query" == *.exe ]]; then
    run_with_y 0
    check "correct server: synchronised (exit $status)" \
        [ "$(tail -n 1 <<<"$out" | tr -d '\r')" = "Time was successfully synchronised" ]
    check "correct server: exit status 0" [ "$status" -eq 0 ]

    run_with_y 3600
    check "an hour off: refused" [ "$(tail -n 1 <<<"$out" | tr -d '\r')" = "Failed to set the local time" ]
    check "an hour off: exit status 1" [ "$status" -eq 1 ]
    check "an hour off: the report came first" grep -q "Time was successfully retreived" <<<"$out"
else
    run_with_y 3600
    check "without CAP_SYS_TIME: refused" \
        [ "$(tail -n 1 <<<"$out")" = "Failed to set the local time" ]
    check "without CAP_SYS_TIME: exit status 1" [ "$status" -eq 1 ]
    check "the report came first" grep -q "Time was successfully retreived" <<<"$out"
fi
after=$(clock_step_marker)
check "this machine's clock was not stepped" within "$before" "$after" 0.2

finish
