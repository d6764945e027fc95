#!/usr/bin/env bash
# quillon-query --check against fake servers on 127.0.0.x and ::1, all on one free port:
# a falseticker among agreeing servers, two against two, an answer held past --max-delay,
# servers agreeing on a time before the release date, a Kiss-o'-Death, silent,
# wrong-echo and other-port servers among answering ones, the JSON document, setting the clock, and the
# monitoring-plugin exit statuses; servers too far from their reference, a server named twice
# or through two names, a pool, a majority of those asked, server text that must not reach the
# output as it is, and (natively) a resolver that never answers. The cases that need names
# run in a mount namespace of their own whose /etc/hosts and /etc/resolv.conf the test writes.
# Then help, version and usage errors in both forms, and the READMEs' --check command lines
# run as they stand but for the servers.
#
# Usage: check_servers.sh PATH/quillon-query[.exe] VERSION   (an .exe runs under Wine)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
query=${1:?usage: check_servers.sh PATH/quillon-query[.exe] VERSION}
version=${2:?usage: check_servers.sh PATH/quillon-query[.exe] VERSION}
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
    [ -n "${stand_in_service:-}" ] && wine sc delete W32Time >/dev/null 2>&1
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
    until grep -qs '^ready' "$out"; do
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
# Servers that have lost their reference: an error bound that would meet every other one.
serve 127.0.0.61 --offset 1000 --root-dispersion 65536
serve 127.0.0.62 --offset 1000 --root-delay 4 --root-dispersion 0.1
# Kiss-o'-Death codes that are not plain text.
serve 127.0.0.63 --behaviour stratum0 --kiss 'X|o='
serve 127.0.0.64 --behaviour stratum0 --refid-hex 41011b5b
# An answer held 3.5 s on its way; servers that agree on a time 400 days back.
serve 127.0.0.70 --offset 0.25 --delay-ms 3500
for a in 71 72 73; do serve "127.0.0.$a" --offset -34560000; done
agreeing=(127.0.0.51 127.0.0.52 ::1)

# The command that check_query runs quillon-query through: see in_names below.
namespace=()

check_query() {  # check_query NAME ARGS...: output in $work/NAME (no CR), status in $status
    local name=$1
    shift
    "${namespace[@]}" "${run_query[@]}" --check --port "$port" "$@" </dev/null \
        2>"$work/$name.err" |
        tr -d '\r' >"$work/$name"
    status=${PIPESTATUS[0]}
    sed "s/^/    $name | /" "$work/$name"
    # Whatever the program (or Wine) said on stderr, and how it ended, for a failure's reader.
    sed "s/^/    $name (stderr) | /" "$work/$name.err"
    [ -s "$work/$name" ] || echo "    $name | (no output; exit status $status)"
}

query_as() {  # query_as NAME ARGS...: stdout in $work/NAME, stderr in NAME.err (no CR), $status
    local name=$1
    shift
    "${run_query[@]}" "$@" </dev/null >"$work/$name.raw" 2>"$work/$name.err.raw"
    status=$?
    tr -d '\r' <"$work/$name.raw" >"$work/$name"
    tr -d '\r' <"$work/$name.err.raw" >"$work/$name.err"
}

# A file of this machine as the program names it (under Wine, by its drive letter).
host_path() { if $under_wine; then winepath -w "$1" 2>/dev/null; else echo "$1"; fi; }

# Offsets under Wine carry a millisecond more of its own scheduling; the fake servers' own
# stamps are Python's, good to a fraction of a millisecond.
near=0.002
$under_wine && near=0.004

check_query text "${agreeing[@]}" 127.0.0.54
check "three agree, one 30 s off: exit 0" [ "$status" -eq 0 ]
check "the one 30 s off is flagged, and why" \
    grep -qE '^127\.0\.0\.54 .* falseticker \(outside the range where the agreeing servers meet\)$' "$work/text"
for server in "${agreeing[@]}"; do
    check "$server is ok" grep -qE "^${server//./\\.} .* ok$" "$work/text"
done
offset=$(sed -nE 's/^offset ([-+][0-9.]+) s .*3 of 4 answering servers agree$/\1/p' "$work/text")
check "combined offset ${offset:-?} within $near s of 0.25" within 0.25 "${offset:-99}" "$near"

started=$(date +%s.%N)
check_query json --json --timeout 2 --min-agree 3 "${agreeing[@]}" 127.0.0.54 127.0.0.55 127.0.0.56 127.0.0.57 \
    127.0.0.60
ended=$(date +%s.%N)
check "json: exit 0" [ "$status" -eq 0 ]
check "json: the silent, wrong-echo and other-port servers cost one time-out in all" \
    python3 -c 'import sys; t = float(sys.argv[2]) - float(sys.argv[1]); sys.exit(not 1.8 <= t <= 3.5)' \
    "$started" "$ended"
check "json: document and fields" python3 - "$work/json" "$under_wine" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
# Wine has no W32Time; off Windows there is no such service to ask.
assert doc["windows_time_service"] == ("absent" if sys.argv[2] == "true" else None), doc
assert doc["valid"] is True and doc["agree"] == 3 and doc["answered"] == 4, doc
assert doc["asked"] == 8 and doc["min_agree"] == 3, doc
assert doc["set"] == "not requested" and doc["set_reason"] is None, doc
assert abs(doc["offset"] - 0.25) < 0.004, doc
assert 0 <= doc["error_bound"] < 0.05, doc
fields = {"name", "address", "status", "kod", "offset", "delay", "stratum", "leap",
          "root_delay", "root_dispersion", "refid"}
status = {s["name"]: s for s in doc["servers"]}
assert all(fields <= set(s) for s in doc["servers"]), doc["servers"]
assert [s["status"] for s in doc["servers"]] == \
    ["ok", "ok", "ok", "falseticker", "kod"] + ["no answer"] * 3, doc["servers"]
assert status["127.0.0.55"]["kod"] == "RATE" and status["127.0.0.55"]["offset"] is None
assert status["127.0.0.55"]["reason"] == "the server asks to be asked less often", doc
assert all((s["reason"] is None) == (s["status"] == "ok") for s in doc["servers"]), doc
assert status["::1"]["address"] == "::1" and status["::1"]["stratum"] == 2
assert status["127.0.0.51"]["refid"] == "127.0.0.1" and status["127.0.0.51"]["leap"] == 0
assert abs(status["127.0.0.54"]["offset"] - 30.25) < 0.004
PY

check_query split --set 127.0.0.51 127.0.0.52 127.0.0.58 127.0.0.59
check "two against two: exit 2" [ "$status" -eq 2 ]
check "two against two: the clock is not set" grep -q '^clock not set: .*majority' "$work/split"

# One answer among three servers asked is no majority of them, however it agrees with itself.
check_query lone --set --json --timeout 0.5 127.0.0.51 127.0.0.56 127.0.0.57
check "one of three answering: exit 2" [ "$status" -eq 2 ]
check "one of three answering: refused, and why" python3 - "$work/lone" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["valid"] is False and doc["asked"] == 3 and doc["min_agree"] == 2, doc
assert doc["answered"] == 1 and doc["agree"] == 1 and doc["offset"] is None, doc
assert doc["set"] == "refused" and "of the 3 servers asked" in doc["set_reason"], doc
PY
check_query lone-allowed --min-agree 1 --timeout 0.5 127.0.0.51 127.0.0.56
check "one of two with --min-agree 1: exit 0" [ "$status" -eq 0 ]

# Root distance 32768 s and 2.1 s: rejected, never part of the selection (before, their
# bounds met everything and a pair of them pulled the result halfway to +1000 s).
check_query distance "${agreeing[@]}" 127.0.0.61 127.0.0.62
check "servers far from their reference: exit 0" [ "$status" -eq 0 ]
check "servers far from their reference: rejected, with the distance" \
    grep -qE '^127\.0\.0\.61 .* rejected \(root distance 65536\.[0-9]+ s above the limit 1\.5' \
    "$work/distance"
check "a root delay counts half: 2.1 s is still too far" \
    grep -qE '^127\.0\.0\.62 .* rejected \(root distance 2\.(1|09)' "$work/distance"
offset=$(sed -nE 's/^offset ([-+][0-9.]+) s .*3 of 3 answering servers agree$/\1/p' "$work/distance")
check "the rejected do not move the offset (${offset:-?})" within 0.25 "${offset:-99}" "$near"
check_query distance-wide --max-distance 3 "${agreeing[@]}" 127.0.0.62
check "--max-distance 3 takes the 2.1 s server, a falseticker" \
    grep -qE '^127\.0\.0\.62 .* falseticker \(' "$work/distance-wide"

# A server named twice asks and votes once: the far one may not outvote the near one.
check_query slow "${agreeing[@]}" 127.0.0.70
check "an answer held 3.5 s: rejected for its delay" grep -qE \
    '^127\.0\.0\.70 .* rejected \(round-trip delay 3\.[5-9][0-9]* s above the limit 3\.000000 s\)$' \
    "$work/slow"
check_query slow-allowed --max-delay 5 "${agreeing[@]}" 127.0.0.70
check "with --max-delay 5 it is used" grep -qE '^127\.0\.0\.70 .* ok$' "$work/slow-allowed"

check_query before-release --set 127.0.0.71 127.0.0.72 127.0.0.73
check "servers agreeing on a time before the release: exit 2" [ "$status" -eq 2 ]
check "... and the clock is not set, with both dates" grep -qE \
    "^clock not set: the servers agree on 2025-.* UTC, before this program's release on 20[0-9-]+" \
    "$work/before-release"

check_query twice --json 127.0.0.54 127.0.0.51 127.0.0.54
check "named twice: exit 2, no majority" [ "$status" -eq 2 ]
check "named twice: one vote, the repeat marked" python3 - "$work/twice" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["asked"] == 2 and doc["answered"] == 2 and doc["valid"] is False, doc
third = doc["servers"][2]
assert third["status"] == "duplicate" and third["duplicate_of"] == "127.0.0.54", third
assert third["address"] == "127.0.0.54" and third["offset"] is None, third
PY

# Kiss codes and names are shown, never obeyed: no second '|' for a monitoring system, no
# control bytes for a terminal; JSON escapes them and keeps UTF-8 names as they are.
check_query hostile-text --warn 1 --crit 2 "${agreeing[@]}" 127.0.0.63 127.0.0.64
check "server text: plugin output holds one '|' only" \
    [ "$(tr -cd '|' <"$work/hostile-text" | wc -c)" -eq 1 ]
check "server text: the codes shown with '?' for what cannot be printed" \
    grep -qE '^127\.0\.0\.63 .* kod X\?o= \(' "$work/hostile-text"
check "server text: a code that is not text is no Kiss-o'-Death, and nothing of it is shown" \
    grep -qE '^127\.0\.0\.64 .* rejected \(stratum 0 without a printable kiss code\)$' \
    "$work/hostile-text"
check "server text: no control byte reaches the report" \
    python3 -c 'import sys; sys.exit(any(b < 32 and b != 10 for b in open(sys.argv[1], "rb").read()))' \
    "$work/hostile-text"
check_query hostile-json --json --timeout 0.5 127.0.0.64 café
check "server text: JSON escapes control bytes and keeps UTF-8" python3 - "$work/hostile-json" <<'PY'
import json, sys
text = open(sys.argv[1], encoding="utf-8").read()
first = json.loads(text)["servers"][0]
assert first["status"] == "rejected" and first["kod"] is None and first["refid"] is None, first
# Natively the name arrives as UTF-8 and passes as it is; Windows hands a program its
# arguments in the ANSI code page, whose é JSON carries escaped: the same name either way.
assert json.loads(text)["servers"][1]["name"] == "café", text
PY

# Names from a hosts file and a resolver of the test's own, in a mount namespace of its own
# (root only; scripts/run-isolated runs the tests as root where it can).
printf '%s\n' '127.0.0.51 pool.test' '127.0.0.52 pool.test' '127.0.0.58 pool.test' \
    '127.0.0.59 pool.test' '127.0.0.54 pool.test' '127.0.0.51 alias.test' \
    '127.0.0.51 half.test' '127.0.0.52 half.test' '127.0.0.56 half.test' '127.0.0.57 half.test' \
    >"$work/hosts"
serve 127.0.0.65 --port 53 --behaviour silent
printf 'nameserver 127.0.0.65\noptions timeout:5 attempts:2\n' >"$work/resolv.conf"
in_names=(unshare --mount --propagation private sh -c
    'mount --bind "$0" /etc/hosts && mount --bind "$1" /etc/resolv.conf && shift && exec "$@"'
    "$work/hosts" "$work/resolv.conf")
if [ "$(id -u)" -eq 0 ] && "${in_names[@]}" true 2>/dev/null; then
    namespace=("${in_names[@]}")
    # The first four of the pool's five addresses, each a server; the one also named plainly,
    # and the alias of it, are asked once. Two against two: no result.
    check_query pool --json --pool pool.test 127.0.0.51 alias.test
    check "pool: two against two: exit 2" [ "$status" -eq 2 ]
    check "pool: four addresses, each its own server; repeats asked once" python3 - "$work/pool" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
servers = [(s["name"], s["address"], s["status"], s["duplicate_of"]) for s in doc["servers"]]
assert servers == [("pool.test", "127.0.0.51", "falseticker", None),
                   ("pool.test", "127.0.0.52", "falseticker", None),
                   ("pool.test", "127.0.0.58", "falseticker", None),
                   ("pool.test", "127.0.0.59", "falseticker", None),
                   ("127.0.0.51", "127.0.0.51", "duplicate", "pool.test"),
                   ("alias.test", "127.0.0.51", "duplicate", "pool.test")], servers
assert doc["asked"] == 4 and doc["answered"] == 4 and doc["agree"] == 0, doc
PY
    # Two of the four asked answer and agree: a majority of the answers, not of the servers.
    check_query half --pool half.test --timeout 0.5
    check "pool, two of four silent: exit 2" [ "$status" -eq 2 ]
    check "pool, two of four silent: said why" \
        grep -q '^no result: 2 of 2 answering servers agree, but 3 of the 4 servers asked must$' \
        "$work/half"
    check_query half-allowed --pool half.test --timeout 0.5 --min-agree 2
    check "pool, two of four silent, --min-agree 2: exit 0" [ "$status" -eq 0 ]
    if ! $under_wine; then
        # Sixteen names nobody answers for: the look-ups end with the time-out, together.
        names=()
        for i in $(seq 1 16); do names+=("silent$i.test"); done
        started=$(date +%s.%N)
        check_query resolver --timeout 1 "${names[@]}"
        ended=$(date +%s.%N)
        check "silent resolver: 16 names cost one time-out" python3 -c '
import sys; t = float(sys.argv[2]) - float(sys.argv[1]); sys.exit(not 0.9 <= t <= 3.0)' \
            "$started" "$ended"
        check "silent resolver: each name unresolved, timed out" \
            [ "$(grep -cE '^silent[0-9]+\.test .* unresolved \(the look-up timed out \(last-error code 10060\)\)$' \
                "$work/resolver")" -eq 16 ]
    fi
    namespace=()
else
    echo "skip: the name cases need root for a mount namespace"
fi

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

# The one record --event-log leaves, by outcome. Under Wine: the ReportEventW call in Wine's
# trace (type, id with its severity bits, text). Natively: the syslog record, caught by a
# socket of the test's own bound over /dev/log in a mount namespace, so no system logger
# gets it (root only).
event_log=()
sep='; '
if $under_wine; then
    event_log=(env WINEDEBUG=fixme+advapi,+eventlog)
    sep='\\r\\n'
elif [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    mkdir "$work/dev"
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1]); print("ready", flush=True)
while True: print(s.recv(65536).decode(errors="replace"), flush=True)' "$work/dev/log" >"$work/syslog" &
    pids+=($!)
    deadline=$((SECONDS + 20))
    until grep -qs '^ready' "$work/syslog" || [ $SECONDS -ge $deadline ]; do sleep 0.02; done
    event_log=(unshare --mount --propagation private sh -c
        'touch "$0/null" && mount --bind /dev/null "$0/null" && mount --bind "$0" /dev && exec "$@"'
        "$work/dev")
fi
records() { grep -c 'quillon-query\[' "$work/syslog"; }
logged() {  # logged NAME WINE-TYPE ID SYSLOG-PRIORITY TEXT-REGEX ARGS...
    local name=$1 type=$2 id=$3 priority=$4 text=$5 before deadline=$((SECONDS + 10))
    shift 5
    before=$(records 2>/dev/null)
    namespace=("${event_log[@]}")
    check_query "$name" --event-log "$@"
    namespace=()
    if $under_wine; then
        check "event log $name: ReportEventW type $type, id $id" \
            grep -qE "ReportEventW \([0-9A-F]+,$type,0x0000,$id," "$work/$name.err"
        check "event log $name: its text" grep -qE "ReportEventW L\"$text\"$" "$work/$name.err"
    else
        while [ "$(records)" -le "$before" ] && [ $SECONDS -lt $deadline ]; do sleep 0.02; done
        check "syslog $name: one record, priority $priority, its text" grep -qE \
            "^<$priority>[A-Z][a-z]{2} [ 0-9]{2} [0-9:]{8} quillon-query\[[0-9]+\]: $text$" \
            <(tail -n +"$((before + 2))" "$work/syslog")
    fi
}
if [ ${#event_log[@]} -gt 0 ]; then
    logged event-agreed 0x0004 0x40000001 14 'offset \+0\.2[0-9]+ s .* 3 of 3 answering servers agree' \
        "${agreeing[@]}"
    logged event-refused 0x0002 0x80000003 12 "offset .*${sep}clock not set: .*--max-step" \
        --set --max-step 0.1 "${agreeing[@]}"
    logged event-no-result 0x0001 0xc0000004 11 'no result: no server gave a usable answer' \
        --timeout 0.5 127.0.0.56
    logged event-set 0x0004 0x40000002 11 "offset .*${sep}(clock set|setting the clock failed: .*\(last-error code 1314\))" \
        --set "${agreeing[@]}"
fi
if $under_wine; then
    source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillon'
    query_as register --register-event-source
    check "--register-event-source: exit 0" [ "$status" -eq 0 ]
    check "--register-event-source: the key names this exe, all three types" bash -c \
        'wine reg query "$0" | tr -d "\r" | grep -qxF "    EventMessageFile    REG_SZ    $1" &&
         wine reg query "$0" | tr -d "\r" | grep -qxF "    TypesSupported    REG_DWORD    0x7"' \
        "$source_key" "$(winepath -w "$query")"
    query_as unregister --unregister-event-source
    check "--unregister-event-source: exit 0, the key gone" \
        bash -c '[ "$1" -eq 0 ] && ! wine reg query "$0" >/dev/null 2>&1' "$source_key" "$status"
    # Wine has no W32Time: a stand-in of that name runs Wine's print spooler service.
    service_state() {  # service_state NAME STATE: --set's JSON (and its warning) names STATE
        check_query "$1" --set --json "${agreeing[@]}"
        check "$1: \"windows_time_service\": \"$2\"" grep -q "\"windows_time_service\": \"$2\"" "$work/$1"
    }
    stand_in_service=1
    wine sc create W32Time binPath= 'C:\windows\system32\spoolsv.exe' >/dev/null &&
        wine sc start W32Time >/dev/null
    service_state time-service-running running
    check "time service running: said before setting" grep -qxF \
        "quillon-query: the Windows Time service is running and may undo this correction" \
        <(tr -d '\r' <"$work/time-service-running.err")
    wine sc stop W32Time >/dev/null
    deadline=$((SECONDS + 20))
    until wine sc query W32Time | grep -q 'STATE *: 1 ' || [ $SECONDS -ge $deadline ]; do sleep 0.1; done
    service_state time-service-stopped stopped
    check "time service stopped: no warning" [ ! -s "$work/time-service-stopped.err" ]
    wine sc delete W32Time >/dev/null && stand_in_service=
fi

plugin() {  # plugin EXPECTED-STATUS STATE WARN CRIT SERVERS...
    local expected=$1 state=$2 warn=$3 crit=$4
    shift 4
    check_query "plugin-$state" --warn "$warn" --crit "$crit" "$@"
    check "plugin $state: exit $expected" [ "$status" -eq "$expected" ]
    local first
    first=$(head -n 1 "$work/plugin-$state")
    if [[ "$state" = *no-result ]]; then
        check "plugin $state: status line says why" grep -qE "^NTP CRITICAL: no result: " <<<"$first"
    else
        check "plugin $state: status line with performance data" \
            grep -qE "^NTP ${state%%-*}: .*\|offset=0\.2[0-9]+s;$warn;$crit;$" <<<"$first"
    fi
}
plugin 0 OK 0.5 1 "${agreeing[@]}"
plugin 1 WARNING 0.1 1 "${agreeing[@]}"
plugin 2 CRITICAL 0.01 0.1 "${agreeing[@]}"
# No majority, or nothing usable at all, is an outage: CRITICAL, which alerts, not UNKNOWN.
plugin 2 CRITICAL-split-no-result 0.1 1 127.0.0.51 127.0.0.58
plugin 2 CRITICAL-silent-no-result 0.1 1 --timeout 0.5 127.0.0.56
# Thresholds as plain decimals, every digit kept: monitoring systems reject an exponent.
plugin 1 WARNING-decimals 0.00005 2000000 "${agreeing[@]}"

check_query usage --samples 9 127.0.0.51
check "usage error: exit 3" [ "$status" -eq 3 ]
check "usage error: said on stderr" grep -q -- '--samples' "$work/usage.err"
check "usage error: nothing on stdout" [ ! -s "$work/usage" ]
# A monitoring system reads standard output only: in plugin mode every error that stops the
# run is its UNKNOWN line there, found before any traffic.
unknown() {  # unknown NAME REASON-PATTERN: exit 3 and NAME's stdout the UNKNOWN line alone
    [ "$status" -eq 3 ] && grep -qxE "NTP UNKNOWN: $2" "$work/$1" && [ "$(wc -l <"$work/$1")" -eq 1 ]
}
check_query unknown-crit -w 2 -c 1 127.0.0.51
check "plugin usage error: the UNKNOWN line" unknown unknown-crit '--crit 1 is below --warn 2: .*'
check_query unknown-value --warn=x --crit 1 127.0.0.51
check "plugin mode even when --warn's own value is wrong" unknown unknown-value '--warn=x: give .*'
: >"$work/empty.pem"
check_query unknown-ca -w 1 -c 2 --nts --ca "$(host_path "$work/empty.pem")" 127.0.0.51
check "plugin: a --ca without certificates is UNKNOWN" unknown unknown-ca '--ca .*: holds no certificate.*'
check_query missing-ca --nts --ca "$(host_path "$work/missing.pem")" 127.0.0.51
check "a missing --ca: one usage error, exit 3" \
    eval '[ "$status" -eq 3 ] && grep -q "^quillon-query: --ca .*missing.pem: cannot be read" "$work/missing-ca.err"'
# The guidelines' spellings, and a value after '='.
check_query short-options -H 127.0.0.51 -H 127.0.0.52 -w 0.5 -c 1 -p "$port" --timeout=2
check "-H -w -c -p and --timeout=2: OK, two servers" \
    eval '[ "$status" -eq 0 ] && grep -qE "^NTP OK: .* 2 of 2 servers agree\|" "$work/short-options"'
# -t bounds the whole run: a silent server's eight samples would take 5 s each.
started=$(date +%s.%N)
check_query time-limit -t 1 --samples 8 --interval 0.05 --min-agree=1 127.0.0.51 127.0.0.56
ended=$(date +%s.%N)
check "-t 1: over within the limit (and a process start)" python3 -c '
import sys; t = float(sys.argv[2]) - float(sys.argv[1]); sys.exit(not 0.9 <= t <= 2.5)' \
    "$started" "$ended"
check "-t 1: the unfinished server ran out of time, the rest decide" \
    eval '[ "$status" -eq 0 ] && grep -qE "^127\.0\.0\.56 .* no answer \(the time limit ran out\)$" "$work/time-limit"'

# Help and version go to stdout with exit 0 in both forms; the help is the usage a usage
# error prints after its reason.
quiet() {  # quiet NAME: exit 0, nothing on stderr
    [ "$status" -eq 0 ] && [ ! -s "$work/$1.err" ]
}
same() { cmp -s "$work/$1" "$work/$2"; }
reason_then_help() {  # reason_then_help NAME REASON HELP-COMMAND: NAME's stderr, two lines
    [ "$(tr -d '\r' <"$work/$1.err")" = "quillon-query: $2"$'\n'"try 'quillon-query $3'" ]
}
says() { [ "$(cat "$work/$1")" = "$2" ]; }

query_as help --help
check "--help: exit 0, nothing on stderr" quiet help
check "--help: the classic usage" grep -q '^usage: quillon-query SERVER ' "$work/help"
check "--help: names the --check form's help" grep -q -- '--check --help lists its options' "$work/help"
query_as help-short -h
check "-h: exit 0, nothing on stderr" quiet help-short
check "-h: the text of --help" same help help-short
query_as classic-usage --bogus
check "classic usage error: exit 2" [ "$status" -eq 2 ]
check "classic usage error: nothing on stdout" [ ! -s "$work/classic-usage" ]
check "classic usage error: the reason, then where the help is" \
    reason_then_help classic-usage "unknown option --bogus" --help
query_as classic-dash -q 127.0.0.51
check "classic: an unknown -q is a usage error, not a host" \
    eval '[ "$status" -eq 2 ] && reason_then_help classic-dash "unknown option -q" --help'
query_as classic-equals 127.0.0.51 --port="$port"
check "classic: --port=N" grep -q '^Time was successfully retreived$' "$work/classic-equals"

query_as check-help --check --help
check "--check --help: exit 0, nothing on stderr, no server needed" quiet check-help
check "--check --help: the --check usage" grep -q '^usage: quillon-query --check ' "$work/check-help"
query_as check-help-short -h --check
check "-h --check: exit 0, nothing on stderr" quiet check-help-short
check "-h --check: the text of --check --help" same check-help check-help-short
check "--check usage error: the reason naming the value, then where the help is" \
    reason_then_help usage "--samples 9: give a count from 1 to 8" "--check --help"

for form in --version -V "--check --version"; do
    # shellcheck disable=SC2086  # "--check --version" is two arguments
    query_as version $form
    check "$form: exit 0, nothing on stderr" quiet version
    check "$form: \"quillon-query $version\" alone" says version "quillon-query $version"
done

# Every --check command line the READMEs show, run with agreeing fake servers in place of the
# public servers it names, is understood and names only options --check --help lists; the monitoring entries'
# status line is README.txt's example but for the offset. (IPv4 stands in for the pool's
# names: the IPv6 look-up has its own cases above.)
serve 127.0.0.66 --offset 0.25
stand_ins=(127.0.0.51 127.0.0.52 127.0.0.66)
example=$(sed -nE 's/^ +(NTP OK: .*)/\1/p' "$repo/package/README.txt")
offsetless() { sed -E 's/-?[0-9]+\.[0-9]{6}/OFFSET/g' <<<"$1"; }
understood() { [ "$status" -ne 3 ] && [ ! -s "$work/$1.err" ]; }
as_the_example() {  # as_the_example NAME: exit 0, first line the example's but for the offset
    [ "$status" -eq 0 ] &&
        [ "$(offsetless "$(head -n 1 "$work/$1")")" = "$(offsetless "$example")" ]
}
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=readme.test \
    -days 2 -keyout "$work/readme-ca.key" -out "$work/readme-ca.pem" 2>/dev/null
declare -A listed=()
shown=0
while read -r line; do
    shown=$((shown + 1))
    read -ra words <<<"${line#--check }"
    args=()
    served=0
    previous=
    for word in "${words[@]}"; do
        # Every host name shown is a public server: a stand-in on loopback takes its place;
        # a --ca file shown is the user's, and one of the test's takes its place.
        if [ "$previous" = --ca ]; then
            word=$(host_path "$work/readme-ca.pem")
        elif [[ "$word" =~ ^[a-z0-9][a-z0-9-]*(\.[a-z0-9-]+)*\.[a-z][a-z0-9-]*$ ]]; then
            word=${stand_ins[served++ % ${#stand_ins[@]}]}
        elif [[ "$word" == -* && -z "${listed[$word]:-}" ]]; then
            listed[$word]=1
            check "README: $word is in --check --help" \
                grep -qE -- "(^| )$word( |$)" "$work/check-help"
        fi
        args+=("$word")
        previous=$word
    done
    # (natively with the test's own /dev/log: the Task Scheduler lines log their outcome)
    $under_wine || namespace=("${event_log[@]}")
    check_query "readme-$shown" "${args[@]}"
    namespace=()
    check "README: $line: understood" understood "readme-$shown"
    if [[ " ${words[*]} " == *" --warn "* ]]; then
        check "README: $line: OK, the status line as README.txt shows it" \
            as_the_example "readme-$shown"
    fi
done < <(grep -hoE '^ +.*quillon-query(\.exe)?(\\")? --check [^"`|]*' \
    "$repo/package/README.txt" "$repo/README.md" | grep -vF '[options]' | grep -oE -- '--check .*')
check "the READMEs show $shown --check command lines (at least 4)" [ "$shown" -ge 4 ]
check "README.txt shows an example status line" [ -n "$example" ]

finish
