# Sourced by the shell tests: named checks that are counted, and the closing tally.
#
#   check DESCRIPTION COMMAND...   runs COMMAND; prints "ok   DESCRIPTION" or "FAIL ..."
#   within EXPECTED ACTUAL TOL     true when |ACTUAL - EXPECTED| <= TOL
#   finish                         prints "N passed, N failed"; true when some check ran
#                                  and none failed

_checks_run=0
_checks_failed=0

check() {
    local description=$1
    shift
    _checks_run=$((_checks_run + 1))
    if "$@"; then
        echo "ok   $description"
    else
        echo "FAIL $description"
        _checks_failed=$((_checks_failed + 1))
    fi
}

within() {
    awk -v e="$1" -v a="$2" -v t="$3" 'BEGIN { d = a - e; if (d < 0) d = -d; exit !(d <= t) }'
}

finish() {
    echo "$((_checks_run - _checks_failed)) passed, $_checks_failed failed"
    [ "$_checks_run" -gt 0 ] && [ "$_checks_failed" -eq 0 ]
}
