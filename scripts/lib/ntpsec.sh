# Sourced. ntpsec's ntpd as a second NTS server for tests, as unpacked by scripts/peers,
# never installed, never allowed to touch the clock (CAP_SYS_TIME dropped from its bounding
# set, "disable ntp", no sources). It binds the wildcard address on UDP 123 and TCP 4460
# whatever its configuration says: start it only in a network namespace of the test's own.
#
#   start_ntpsec DIR CERT KEY
#       writes DIR/ntp.conf, starts ntpd serving NTP on 123 and NTS on 4460 with the
#       certificate chain CERT (PEM, leaf first) and its KEY, waits until it serves stratum 5
#       as orphan (no source) and its key exchange accepts connections. Sets
#       QUILLON_NTPD_PID.
#   stop_ntpsec
#       stops it, by that PID.

_quillon_ntpsec_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QUILLON_PEERS_ROOT="${QUILLON_PEERS_ROOT:-${BUILD:-$_quillon_ntpsec_repo/build}/peers/root}"
QUILLON_NTPD_PID=

start_ntpsec() {
    local dir=$1 cert=$2 key=$3
    local ntpd="$QUILLON_PEERS_ROOT/usr/sbin/ntpd"
    [ -x "$ntpd" ] || { echo "start_ntpsec: $ntpd missing (run scripts/peers)" >&2; return 1; }
    mkdir -p "$dir"
    # Orphan mode serves stratum 5 within seconds without any source.
    cat >"$dir/ntp.conf" <<CONF
interface ignore all
interface listen 127.0.0.1
tos orphan 5 orphanwait 1
nts enable
nts cert $cert
nts key $key
nts cookie $dir/cookies
disable ntp
driftfile $dir/drift
CONF
    env LD_LIBRARY_PATH="$QUILLON_PEERS_ROOT/usr/lib/x86_64-linux-gnu" \
        setpriv --bounding-set -sys_time "$ntpd" -n -c "$dir/ntp.conf" -l "$dir/ntpd.log" \
        </dev/null >"$dir/ntpd.out" 2>&1 &
    QUILLON_NTPD_PID=$!
    if ! python3 "$_quillon_ntpsec_repo/tests/tools/sntp_probe.py" 127.0.0.1 123 --wait 20 \
        --synchronised >"$dir/probe.txt" 2>&1 ||
        ! python3 -c '
import socket, time
end = time.monotonic() + 10
while True:
    try:
        socket.create_connection(("127.0.0.1", 4460), timeout=1).close()
        break
    except OSError:
        if time.monotonic() > end:
            raise SystemExit(1)
        time.sleep(0.02)'; then
        echo "start_ntpsec: ntpd did not serve; its log:" >&2
        cat "$dir/ntpd.log" "$dir/ntpd.out" >&2
        stop_ntpsec
        return 1
    fi
}

stop_ntpsec() {
    [ -n "$QUILLON_NTPD_PID" ] || return 0
    kill "$QUILLON_NTPD_PID" 2>/dev/null
    wait "$QUILLON_NTPD_PID" 2>/dev/null
    QUILLON_NTPD_PID=
    return 0
}
