#!/usr/bin/env bash
# quillon-query against a real NTP server: chrony's chronyd serving a clock shifted by a
# known amount through libfaketime, on a loopback address and a free high port.
# Checks the printed report (exact texts, the date line in UTC, the offset to within 1 ms of
# the shift), the exit status of success, of a rejected answer and of a usage error.
#
# Usage: query_vs_chrony.sh PATH/quillon-query[.exe]   (an .exe runs under Wine)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
query=${1:?usage: query_vs_chrony.sh PATH/quillon-query[.exe]}
source "$repo/scripts/lib/chrony.sh"

run_query=("$query")
if [[ "$query" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    quillon_wine_prime || exit 1
    run_query=(wine "$query")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-query-vs-chrony.XXXXXX")
fake_pid=
cleanup() {
    stop_chronyd
    [ -n "$fake_pid" ] && kill "$fake_pid" 2>/dev/null && wait "$fake_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$repo/tests/tools/checks.sh"

free_udp_port() {  # free_udp_port ADDRESS
    python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' "$1"
}


# A report as the window prints it: look-up line, five report lines; offset near the shift.
check_report() {  # check_report LABEL SERVER SHIFT_SECONDS OUTPUT_FILE STATUS
    local label=$1 server=$2 shift_seconds=$3 out=$4 status=$5
    local -a lines
    mapfile -t lines <"$out"
    check "$label: exit status 0" [ "$status" -eq 0 ]
    check "$label: look-up line" [ "${lines[0]:-}" = "Looking up   --- $server ---" ]
    check "$label: success line" [ "${lines[1]:-}" = "Time was successfully retreived" ]
    check "$label: date heading" [ "${lines[2]:-}" = "CLIENT DESTINATION DATE:" ]
    check "$label: offset heading" [ "${lines[4]:-}" = "LOCAL CLOCK OFFSET:" ]
    check "$label: six report lines, nothing else" [ "${#lines[@]}" -eq 6 ]

    # The arrival time, day first, in UTC; it must lie between the run's start and end.
    local date_re='^         ([0-9]{2})/([0-9]{2})/([0-9]{4}), ([0-9]{2}):([0-9]{2}):([0-9]{2})\.([0-9]{3})$'
    if [[ "${lines[3]:-}" =~ $date_re ]]; then
        local r=("${BASH_REMATCH[@]}")
        local arrival
        arrival=$(TZ=UTC date -d "${r[3]}-${r[2]}-${r[1]} ${r[4]}:${r[5]}:${r[6]}.${r[7]}" +%s.%N)
        check "$label: arrival time $arrival within the run" \
            python3 -c 'import sys; a,b,c=map(float,sys.argv[1:]); sys.exit(not b-0.01<=a<=c+0.01)' \
            "$arrival" "$started" "$ended"
    else
        check "$label: date line format ('${lines[3]:-}')" false
    fi

    local offset_re='^         (-?[0-9]+\.[0-9]{6}) seconds$'
    if [[ "${lines[5]:-}" =~ $offset_re ]]; then
        local offset=${BASH_REMATCH[1]}
        check "$label: offset $offset within 1 ms of $shift_seconds" within "$shift_seconds" "$offset" 0.001
    else
        check "$label: offset line format ('${lines[5]:-}')" false
    fi
}

# Two servers, one ahead and one behind, on their own addresses and ports.
declare -A shifts=([127.0.0.41]=37.25 [127.0.0.42]=-12.5)
for address in 127.0.0.41 127.0.0.42; do
    port=$(free_udp_port "$address")
    faketime_shift=$(printf '%+gs' "${shifts[$address]}")
    if ! start_chronyd "$address" "$port" "$work/chrony-$address" "$faketime_shift"; then
        echo "FAIL chronyd did not start on $address:$port"
        exit 1
    fi
    # The reference client must see the shift too, or the server set-up is wrong.
    read -r _ reference _ <"$work/chrony-$address/probe.txt"
    check "reference client sees $address shifted by ${shifts[$address]} s" \
        within "${shifts[$address]}" "$reference" 0.001

    # Up to three runs: one datagram delayed by the scheduler can cost a millisecond, a
    # fault in the program misses every time.
    for attempt in 1 2 3; do
        started=$(date +%s.%N)
        # In a zone 5 h 45 min from UTC, so that local time printed for UTC shows.
        TZ=Asia/Kathmandu "${run_query[@]}" "$address" --port "$port" </dev/null \
            >"$work/out-$address" 2>"$work/err-$address"
        status=$?
        ended=$(date +%s.%N)
        tr -d '\r' <"$work/out-$address" >"$work/report-$address"
        offset=$(sed -nE 's/^ {9}(-?[0-9]+\.[0-9]+) seconds$/\1/p' "$work/report-$address")
        [ -n "$offset" ] && within "${shifts[$address]}" "$offset" 0.001 && break
        echo "     (run $attempt measured ${offset:-nothing})"
    done
    check_report "$address" "$address" "${shifts[$address]}" "$work/report-$address" "$status"
    sed 's/^/    | /' "$work/report-$address"
done

# A rejected answer (stratum 16) is a failed exchange: one failure line, exit status 1.
fake_port=$(free_udp_port 127.0.0.43)
python3 "$repo/tests/tools/fake_ntp_server.py" --address 127.0.0.43 --port "$fake_port" \
    --behaviour stratum16 >"$work/fake.out" 2>&1 &
fake_pid=$!
# The reference client takes any answer that echoes its request: it waits for the server.
python3 "$repo/tests/tools/sntp_probe.py" 127.0.0.43 "$fake_port" --wait 10 >/dev/null 2>&1
"${run_query[@]}" 127.0.0.43 --port "$fake_port" </dev/null >"$work/out-rejected" 2>/dev/null
status=$?
mapfile -t lines < <(tr -d '\r' <"$work/out-rejected")
check "rejected answer: exit status 1" [ "$status" -eq 1 ]
check "rejected answer: look-up line and the failure line" \
    [ "${#lines[@]}" -eq 2 -a "${lines[0]:-}" = "Looking up   --- 127.0.0.43 ---" \
      -a "${lines[1]:-}" = "Failed to retreive time from NTP server" ]

"${run_query[@]}" </dev/null >"$work/out-usage" 2>"$work/err-usage"
status=$?
check "no server: exit status 2" [ "$status" -eq 2 ]
check "no server: usage message on stderr" grep -qi usage "$work/err-usage"

finish
