# Sourced by the network-fault tests. Each test runs its body inside a network namespace of
# its own, created here and deleted afterwards, pass or fail: the faults (nftables rules,
# relays, misbehaving servers) never touch the host's own interfaces or rules.
#
#   netfault_enter SCRIPT ARGS...
#       skips (exit 77) without root or without `ip netns`; otherwise creates a namespace
#       with only its loopback up, runs `bash SCRIPT --inside ARGS...` in it, ends whatever
#       is still running in the namespace (all of it was started by that run), deletes the
#       namespace and returns the script's status.
#
# Inside, helpers for the checks:
#   check DESCRIPTION COMMAND...   counts and prints one check
#   within EXPECTED ACTUAL TOL     true when |ACTUAL - EXPECTED| <= TOL
#   finish                         prints the totals; the exit status says whether all passed

NETFAULT_SKIP=77
_netfault_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
NETFAULT_REPO=$(cd "$_netfault_here/../.." && pwd)

netfault_enter() {
    local script=$1
    shift
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: network namespaces need root"
        return $NETFAULT_SKIP
    fi
    if ! command -v ip >/dev/null 2>&1 || ! ip netns list >/dev/null 2>&1; then
        echo "SKIP: ip netns is not available"
        return $NETFAULT_SKIP
    fi
    if ! command -v nft >/dev/null 2>&1; then
        echo "SKIP: nft is not available"
        return $NETFAULT_SKIP
    fi
    _netfault_remove_stale
    local ns="quillon-nf-$$-$RANDOM"
    if ! ip netns add "$ns" 2>/dev/null; then
        echo "SKIP: cannot create a network namespace here"
        return $NETFAULT_SKIP
    fi
    # Runs on every way out, also when ctest ends the test at its time-out.
    trap "_netfault_leave '$ns'" EXIT
    trap 'exit 143' TERM INT
    ip netns exec "$ns" ip link set lo up || return 1
    ip netns exec "$ns" bash "$script" --inside "$@"
}

# A namespace of a test run that was killed outright (no trap ran) is named after that run's
# PID; once that process is gone nothing else can be using it.
_netfault_remove_stale() {
    local ns pid
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        [[ "$ns" =~ ^quillon-nf-([0-9]+)-[0-9]+$ ]] || continue
        pid=${BASH_REMATCH[1]}
        kill -0 "$pid" 2>/dev/null && continue
        _netfault_leave "$ns"
    done
}

_netfault_leave() {
    local ns=$1 pid
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
        kill "$pid" 2>/dev/null
    done
    sleep 0.2
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
        kill -9 "$pid" 2>/dev/null
    done
    ip netns delete "$ns" 2>/dev/null
}

# check, within and finish.
source "$NETFAULT_REPO/tests/tools/checks.sh"

# calc EXPRESSION: prints the value of an awk arithmetic expression (abs() is there too).
calc() { awk "function abs(x) { return x < 0 ? -x : x } BEGIN { printf \"%.9f\\n\", ($1) }"; }

# Starts a background process, remembers its PID for netfault_stop_all.
_netfault_pids=()
netfault_spawn() {
    "$@" &
    _netfault_pids+=("$!")
}

netfault_stop_all() {
    local pid
    for pid in "${_netfault_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    _netfault_pids=()
}

# Waits until a line of FILE starts with "ready" (the fake server and the relay print it).
wait_ready() {
    local file=$1 tries
    for ((tries = 0; tries < 100; tries++)); do
        grep -q '^ready' "$file" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "no 'ready' in $file:" >&2
    cat "$file" >&2
    return 1
}

# chronyd from scripts/peers on ADDRESS:123 inside the namespace, optionally shifted.
netfault_chronyd() {  # netfault_chronyd ADDRESS DIR [SHIFT]
    # shellcheck source=../../scripts/lib/chrony.sh
    source "$NETFAULT_REPO/scripts/lib/chrony.sh"
    start_chronyd "$1" 123 "$2" "${3:-}" || return 1
    _netfault_chronyd_pids+=("$QUILLON_CHRONYD_PID")
}

netfault_stop_chronyd() {
    local pid
    [ "${#_netfault_chronyd_pids[@]}" -gt 0 ] || return 0
    stop_chronyd
    # libfaketime leaves a shared-memory pair named after the process behind.
    for pid in "${_netfault_chronyd_pids[@]}"; do
        rm -f "/dev/shm/faketime_shm_$pid" "/dev/shm/sem.faketime_sem_$pid"
    done
    _netfault_chronyd_pids=()
}
_netfault_chronyd_pids=()

netfault_peers_ready() {
    [ -x "${BUILD:-$NETFAULT_REPO/build}/peers/root/usr/sbin/chronyd" ] || {
        echo "FAIL chronyd is missing: run scripts/peers first"
        return 1
    }
}
