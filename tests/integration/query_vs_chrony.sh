#!/usr/bin/env bash
# quillon-query (the classic form and --check) against a real NTP server: chrony's chronyd serving a clock shifted by a
# known amount through libfaketime, on a loopback address and a free high port.
# Checks the printed report (exact texts, the date line in UTC, the offset to within what the
# exchange's own round trip allows of the shift, from --verbose's T1..T4), the exit status of
# success, of a rejected answer and of a usage error.
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


# The two legs of a round trip may differ by all of it, so a measured offset may be off by
# half of it, plus SLACK for the stamps themselves. A loaded machine has stretched a loopback
# round trip to 39 ms under Wine; far longer means a stamp taken at the wrong moment.
offset_bound() {  # offset_bound ROUND_TRIP SLACK
    awk -v d="$1" -v s="$2" 'BEGIN { printf "%.6f", d / 2 + s }'
}

# The round trip from --verbose's T1..T4 ("(SECONDS.DECIMALS s since 1900)"), then the one
# printed. Seconds are taken relative to T1's, so that awk's doubles keep every digit. Read
# as anything but decimals of a second, the fractions would not give the printed delay.
round_trip() {  # round_trip OUTPUT_FILE
    awk '/^T[1-4] .*\([0-9]+\.[0-9]+ s since 1900\)$/ {
             split(substr($(NF - 3), 2), stamp, ".")
             if (!n++) first = stamp[1]
             t[n] = stamp[1] - first + ("0." stamp[2])
         }
         /^round-trip delay: / { printed = $3 }
         END { if (n == 4) printf "%.6f %s\n", (t[4] - t[1]) - (t[3] - t[2]), printed }' "$1"
}

# A report as the window prints it: look-up line, five report lines, then the seven lines of
# --verbose; the offset near the shift.
check_report() {  # check_report LABEL SERVER SHIFT_SECONDS OUTPUT_FILE STATUS
    local label=$1 server=$2 shift_seconds=$3 out=$4 status=$5
    local -a lines
    mapfile -t lines <"$out"
    check "$label: exit status 0" [ "$status" -eq 0 ]
    check "$label: look-up line" [ "${lines[0]:-}" = "Looking up   --- $server ---" ]
    check "$label: success line" [ "${lines[1]:-}" = "Time was successfully retreived" ]
    check "$label: date heading" [ "${lines[2]:-}" = "CLIENT DESTINATION DATE:" ]
    check "$label: offset heading" [ "${lines[4]:-}" = "LOCAL CLOCK OFFSET:" ]
    check "$label: the report and the seven lines of --verbose, nothing else" \
        [ "${#lines[@]}" -eq 13 -a "${lines[6]:-}" = "leap indicator: 0" ]

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

    local delay printed_delay tolerance
    read -r delay printed_delay < <(round_trip "$out")
    check "$label: round trip ${delay:-?} s from T1..T4 is the one printed" \
        within "${delay:-0}" "${printed_delay:-1}" 0.000001
    check "$label: round trip ${delay:-?} s under 0.1 s" within 0 "${delay:-1}" 0.1
    # 0.5 ms for T1 and T4, which the program rounds to whole milliseconds, 0.5 ms for chronyd.
    tolerance=$(offset_bound "${delay:-0}" 0.001)
    local offset_re='^         (-?[0-9]+\.[0-9]{6}) seconds$'
    if [[ "${lines[5]:-}" =~ $offset_re ]]; then
        local offset=${BASH_REMATCH[1]}
        check "$label: offset $offset within $tolerance s of $shift_seconds" \
            within "$shift_seconds" "$offset" "$tolerance"
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
    read -r _ reference _ probe_delay _ <"$work/chrony-$address/probe.txt"
    tolerance=$(offset_bound "$probe_delay" 0.0005)  # 0.5 ms for chronyd's stamps
    check "reference client sees $address shifted by ${shifts[$address]} s (to $tolerance s)" \
        within "${shifts[$address]}" "$reference" "$tolerance"

    started=$(date +%s.%N)
    # In a zone 5 h 45 min from UTC, so that local time printed for UTC shows.
    TZ=Asia/Kathmandu "${run_query[@]}" "$address" --port "$port" --verbose </dev/null \
        >"$work/out-$address" 2>"$work/err-$address"
    status=$?
    ended=$(date +%s.%N)
    tr -d '\r' <"$work/out-$address" >"$work/report-$address"
    check_report "$address" "$address" "${shifts[$address]}" "$work/report-$address" "$status"
    sed 's/^/    | /' "$work/report-$address"

    # The check form stamps from the precise clock: its offset holds to the bound of the
    # reference client, with no half millisecond of its own.
    "${run_query[@]}" --check --port "$port" "$address" </dev/null 2>&1 | tr -d '\r' \
        >"$work/check-$address"
    status=${PIPESTATUS[0]}
    sed 's/^/    | /' "$work/check-$address"
    offset=$(sed -nE 's/^offset ([-+][0-9.]+) s .*1 of 1 answering servers agree$/\1/p' \
        "$work/check-$address")
    delay=$(awk -v a="$address" '$1 == a && $NF == "ok" { print $5 }' "$work/check-$address")
    tolerance=$(offset_bound "${delay:-1}" 0.0005)
    check "check of $address: exit status 0" [ "$status" -eq 0 ]
    check "check of $address: offset ${offset:-?} within $tolerance s of ${shifts[$address]}" \
        within "${shifts[$address]}" "${offset:-0}" "$tolerance"
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
check "no server: one line, then where the usage is" grep -q "^try 'quillon-query --help'" "$work/err-usage"

finish
