# Sourced. A real NTP server for tests and the demo: chrony's chronyd as unpacked by
# scripts/peers, never installed, never allowed to touch the clock (-x, and CAP_SYS_TIME
# dropped from its bounding set), optionally serving a shifted clock through libfaketime.
#
#   start_chronyd ADDRESS PORT DIR [FAKETIME_SPEC]
#       writes DIR/chronyd.conf, starts chronyd serving ADDRESS:PORT with its clock shifted
#       by FAKETIME_SPEC (e.g. "+37.25s", see libfaketime), waits until it answers.
#       Sets QUILLON_CHRONYD_PID; every started PID is kept in QUILLON_CHRONYD_PIDS.
#   start_chronyd_nts ADDRESS PORT DIR NTS_PORT CERT KEY [FAKETIME_SPEC [NTP_SERVER]]
#       the same, serving NTS too: the key exchange on ADDRESS:NTS_PORT with the certificate
#       chain CERT (PEM, leaf first) and its KEY, naming NTP_SERVER (default ADDRESS) as the
#       NTP server in its answers; waits until the key exchange port accepts connections.
#   stop_chronyd [PID]
#       stops that server, or every one started here, by PID.
#   QUILLON_CHRONYD_RUN_AS=(sudo -n)
#       starts and stops the servers through that command (port 123 needs root).
#
# Callers set a trap (trap stop_chronyd EXIT) so that the servers go, pass or fail.

_quillon_chrony_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QUILLON_PEERS_ROOT="${QUILLON_PEERS_ROOT:-${BUILD:-$_quillon_chrony_repo/build}/peers/root}"
declare -ga QUILLON_CHRONYD_PIDS=()
declare -ga QUILLON_CHRONYD_RUN_AS=()
declare -gA _quillon_chronyd_launcher  # chronyd PID -> PID of our background job
_quillon_chronyd_extra_conf=  # more configuration lines, for start_chronyd_nts
_quillon_chronyd_options=()

start_chronyd() {
    local address=$1 port=$2 dir=$3 shift_spec=${4:-}
    local chronyd="$QUILLON_PEERS_ROOT/usr/sbin/chronyd"
    local faketime_lib="$QUILLON_PEERS_ROOT/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
    if [ ! -x "$chronyd" ]; then
        echo "start_chronyd: $chronyd missing (run scripts/peers)" >&2
        return 1
    fi
    mkdir -p "$dir"
    chmod 700 "$dir"  # chronyd refuses a command socket folder others can enter
    rm -f "$dir/chronyd.pid" "$dir/chronyd.sock"
    # A server only: no public sources, no command port, nothing written outside DIR.
    cat >"$dir/chronyd.conf" <<EOF
local stratum 8
allow 127.0.0.0/8
port $port
bindaddress $address
cmdport 0
bindcmdaddress $dir/chronyd.sock
pidfile $dir/chronyd.pid
$_quillon_chronyd_extra_conf
EOF
    local preload=()
    if [ -n "$shift_spec" ]; then
        preload=(LD_PRELOAD="$faketime_lib" FAKETIME="$shift_spec" FAKETIME_DONT_RESET=1)
    fi
    "${QUILLON_CHRONYD_RUN_AS[@]}" \
        env LD_LIBRARY_PATH="$QUILLON_PEERS_ROOT/usr/lib/x86_64-linux-gnu" "${preload[@]}" \
        setpriv --bounding-set -sys_time \
        "$chronyd" -x -d -u root "${_quillon_chronyd_options[@]}" -f "$dir/chronyd.conf" </dev/null >"$dir/chronyd.log" 2>&1 &
    local launcher=$!
    local answered=0
    python3 "$_quillon_chrony_repo/tests/tools/sntp_probe.py" "$address" "$port" \
        --wait 10 >"$dir/probe.txt" 2>&1 && answered=1
    # Without a wrapper the job is chronyd itself; through sudo its PID is in the pid file.
    QUILLON_CHRONYD_PID=$launcher
    [ ${#QUILLON_CHRONYD_RUN_AS[@]} -gt 0 ] && [ -s "$dir/chronyd.pid" ] &&
        QUILLON_CHRONYD_PID=$(cat "$dir/chronyd.pid")
    QUILLON_CHRONYD_PIDS+=("$QUILLON_CHRONYD_PID")
    _quillon_chronyd_launcher[$QUILLON_CHRONYD_PID]=$launcher
    if [ "$answered" -ne 1 ]; then
        echo "start_chronyd: no answer from $address:$port; its log:" >&2
        cat "$dir/chronyd.log" >&2
        stop_chronyd "$QUILLON_CHRONYD_PID"
        return 1
    fi
}

start_chronyd_nts() {
    local address=$1 port=$2 dir=$3 nts_port=$4 cert=$5 key=$6 shift_spec=${7:-}
    local ntp_server=${8:-$1}
    # Run as root (-u root), chronyd reads its key after dropping what it drops. -4: the key
    # exchange would otherwise listen on [::] too, and several servers clash there.
    _quillon_chronyd_extra_conf="ntsport $nts_port
ntsservercert $cert
ntsserverkey $key
ntsprocesses 0
ntsntpserver $ntp_server"
    _quillon_chronyd_options=(-4)
    local started=0
    start_chronyd "$address" "$port" "$dir" "$shift_spec" && started=1
    _quillon_chronyd_extra_conf=
    _quillon_chronyd_options=()
    [ "$started" -eq 1 ] || return 1
    if ! python3 - "$address" "$nts_port" <<'PY'; then
import socket, sys, time
end = time.monotonic() + 10
while True:
    try:
        socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=1).close()
        break
    except OSError:
        if time.monotonic() > end:
            sys.exit(1)
        time.sleep(0.02)
PY
        echo "start_chronyd_nts: no key exchange on $address:$nts_port; its log:" >&2
        cat "$dir/chronyd.log" >&2
        stop_chronyd "$QUILLON_CHRONYD_PID"
        return 1
    fi
}

stop_chronyd() {
    local pids=("$@") pid kept=()
    [ ${#pids[@]} -gt 0 ] || pids=("${QUILLON_CHRONYD_PIDS[@]}")
    for pid in "${pids[@]}"; do
        "${QUILLON_CHRONYD_RUN_AS[@]}" kill "$pid" 2>/dev/null || true
        wait "${_quillon_chronyd_launcher[$pid]:-$pid}" 2>/dev/null || true
    done
    for pid in "${QUILLON_CHRONYD_PIDS[@]}"; do
        [[ " ${pids[*]} " == *" $pid "* ]] || kept+=("$pid")
    done
    QUILLON_CHRONYD_PIDS=("${kept[@]}")
    return 0
}
