#!/usr/bin/env bash
# quillon-query --check against fake servers on 127.0.0.x and ::1, all on one free port:
# a falseticker among agreeing servers, two against two, a Kiss-o'-Death, silent,
# wrong-echo and other-port servers among answering ones, the JSON document, setting the clock, and the
# monitoring-plugin exit statuses.
#
# Usage: check_servers.sh PATH/quillon-query[.exe]   (an .exe runs under Wine)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
query=${1:?usage: check_servers.sh PATH/quillon-query[.exe]}
source "$repo/tests/tools/checks.sh"

# No run here may set this machine's clock, whoever starts the test.
run_query=(setpriv --bounding-set -sys_time --inh-caps -sys_time "$query")
under_wine=false
if [[ "$query" == *.exe ]]; then
    source "$repo/scripts/lib/wine-env.sh"
    quillon_wine_prime || exit 1
    run_query=(wine "$query")
    under_wine=true
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-check.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# One port free on every address used, IPv4 and IPv6.
port=$(python3 -c '
import socket
while True:
    a = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); a.bind(("", 0))
    b = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    try:
        b.bind(("::1", a.getsockname()[1])); print(a.getsockname()[1]); break
    except OSError:
        pass')

serve() {  # serve ADDRESS FAKE-SERVER-OPTIONS...: started and bound when it returns
    local address=$1 out="$work/server-${1//:/_}"
    shift
    python3 "$repo/tests/tools/fake_ntp_server.py" --address "$address" --port "$port" "$@" \
        >"$out" 2>&1 &
    pids+=($!)
    local deadline=$((SECONDS + 20))
    until grep -q '^ready' "$out"; do
        [ $SECONDS -lt $deadline ] && kill -0 "${pids[-1]}" 2>/dev/null || {
            echo "fake server on $address did not start: $(cat "$out")"; exit 1; }
        sleep 0.02
    done
}

serve 127.0.0.51 --offset 0.25
serve 127.0.0.52 --offset 0.25 --hold-ms 2
serve ::1 --offset 0.25
serve 127.0.0.54 --offset 30.25
serve 127.0.0.55 --behaviour stratum0 --kiss RATE
serve 127.0.0.56 --behaviour silent
serve 127.0.0.57 --behaviour wrong-origin --offset 0.25
serve 127.0.0.60 --behaviour other-port --offset 0.25
serve 127.0.0.58 --offset 5
serve 127.0.0.59 --offset 5
agreeing=(127.0.0.51 127.0.0.52 ::1)

check_query() {  # check_query NAME ARGS...: output in $work/NAME (no CR), status in $status
    local name=$1
    shift
    "${run_query[@]}" --check --port "$port" "$@" </dev/null 2>"$work/$name.err" |
        tr -d '\r' >"$work/$name"
    status=${PIPESTATUS[0]}
    sed "s/^/    $name | /" "$work/$name"
}

# Offsets under Wine carry a millisecond more of its own scheduling; the fake servers' own
# stamps are Python's, good to a fraction of a millisecond.
near=0.002
$under_wine && near=0.004

check_query text "${agreeing[@]}" 127.0.0.54
check "three agree, one 30 s off: exit 0" [ "$status" -eq 0 ]
check "the one 30 s off is flagged" grep -qE '^127\.0\.0\.54 .* falseticker$' "$work/text"
for server in "${agreeing[@]}"; do
    check "$server is ok" grep -qE "^${server//./\\.} .* ok$" "$work/text"
done
offset=$(sed -nE 's/^offset ([-+][0-9.]+) s .*3 of 4 answering servers agree$/\1/p' "$work/text")
check "combined offset ${offset:-?} within $near s of 0.25" within 0.25 "${offset:-99}" "$near"

started=$(date +%s.%N)
check_query json --json --timeout 2 "${agreeing[@]}" 127.0.0.54 127.0.0.55 127.0.0.56 127.0.0.57 \
    127.0.0.60
ended=$(date +%s.%N)
check "json: exit 0" [ "$status" -eq 0 ]
check "json: the silent, wrong-echo and other-port servers cost one time-out in all" \
    python3 -c 'import sys; t = float(sys.argv[2]) - float(sys.argv[1]); sys.exit(not 1.8 <= t <= 3.5)' \
    "$started" "$ended"
check "json: document and fields" python3 - "$work/json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["valid"] is True and doc["agree"] == 3 and doc["answered"] == 4, doc
assert doc["set"] == "not requested" and abs(doc["offset"] - 0.25) < 0.004, doc
assert 0 <= doc["error_bound"] < 0.05, doc
fields = {"name", "address", "status", "kod", "offset", "delay", "stratum", "leap",
          "root_delay", "root_dispersion", "refid"}
status = {s["name"]: s for s in doc["servers"]}
assert all(fields <= set(s) for s in doc["servers"]), doc["servers"]
assert [s["status"] for s in doc["servers"]] == \
    ["ok", "ok", "ok", "falseticker", "kod"] + ["no answer"] * 3, doc["servers"]
assert status["127.0.0.55"]["kod"] == "RATE" and status["127.0.0.55"]["offset"] is None
assert status["::1"]["address"] == "::1" and status["::1"]["stratum"] == 2
assert status["127.0.0.51"]["refid"] == "127.0.0.1" and status["127.0.0.51"]["leap"] == 0
assert abs(status["127.0.0.54"]["offset"] - 30.25) < 0.004
PY

check_query split --set 127.0.0.51 127.0.0.52 127.0.0.58 127.0.0.59
check "two against two: exit 2" [ "$status" -eq 2 ]
check "two against two: the clock is not set" grep -q '^clock not set: .*majority' "$work/split"

check_query step --set --max-step 0.1 "${agreeing[@]}"
check "a correction beyond --max-step is refused: exit 2" [ "$status" -eq 2 ]
check "a correction beyond --max-step: said why" grep -q '^clock not set: .*--max-step' "$work/step"

# Wine accepts a correction within half a second as done (without touching the host's
# clock); natively the run has no right to set the time, so the setting fails.
check_query set --set --json "${agreeing[@]}" 127.0.0.54
if $under_wine; then
    check "set: done, exit 0" [ "$status" -eq 0 ]
    check "set: json says done" grep -q '"set": "done"' "$work/set"
else
    check "set without the right: exit 2" [ "$status" -eq 2 ]
    check "set without the right: json says failed" grep -q '"set": "failed"' "$work/set"
fi

plugin() {  # plugin EXPECTED-STATUS STATE WARN CRIT SERVERS...
    local expected=$1 state=$2 warn=$3 crit=$4
    shift 4
    check_query "plugin-$state" --warn "$warn" --crit "$crit" "$@"
    check "plugin $state: exit $expected" [ "$status" -eq "$expected" ]
    local first
    first=$(head -n 1 "$work/plugin-$state")
    if [ "$state" = UNKNOWN ]; then
        check "plugin $state: status line" grep -qE "^NTP UNKNOWN: " <<<"$first"
    else
        check "plugin $state: status line with performance data" \
            grep -qE "^NTP $state: .*\|offset=0\.2[0-9]+s;$warn;$crit;$" <<<"$first"
    fi
}
plugin 0 OK 0.5 1 "${agreeing[@]}"
plugin 1 WARNING 0.1 1 "${agreeing[@]}"
plugin 2 CRITICAL 0.01 0.1 "${agreeing[@]}"
plugin 3 UNKNOWN 0.1 1 127.0.0.51 127.0.0.58

check_query usage --samples 9 127.0.0.51
check "usage error: exit 3" [ "$status" -eq 3 ]
check "usage error: said on stderr" grep -q -- '--samples' "$work/usage.err"

finish
