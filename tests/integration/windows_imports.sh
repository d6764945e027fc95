#!/usr/bin/env bash
# The shipped programs start on Windows 7: they import only system DLLs that it has, and
# none of the kernel calls that came later (those are looked up at run time instead).
# Usage: windows_imports.sh EXE...
set -uo pipefail
source "$(dirname "$0")/../tools/checks.sh"

# bcrypt (Mbed TLS's entropy) and crypt32 (Windows' own certificate trust) are Windows 7's too.
system_dlls='^(kernel32|user32|gdi32|advapi32|comctl32|wsock32|ws2_32|msvcrt|bcrypt|crypt32)\.dll$'
later_calls='^(GetSystemTimePreciseAsFileTime|GetCurrentThreadStackLimits|WaitOnAddress|WakeByAddressSingle|WakeByAddressAll|CreateFile2|SetThreadDescription|GetThreadDescription|PrefetchVirtualMemory)$'

for exe in "$@"; do
    name=$(basename "$exe")
    dump=$(x86_64-w64-mingw32-objdump -p "$exe")
    dlls=$(sed -nE 's/^\tDLL Name: (.*)$/\1/p' <<<"$dump" | tr 'A-Z' 'a-z')
    calls=$(awk '/^\tDLL Name:/ { inside = 1; next } inside && NF >= 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }' <<<"$dump")
    check "$name imports something" [ -n "$dlls" ]
    check "$name imports only system DLLs ($(echo $dlls))" \
        bash -c '! grep -qvE "$0" <<<"$1"' "$system_dlls" "$dlls"
    check "$name imports no call newer than Windows 7" \
        bash -c '! grep -qE "$0" <<<"$1"' "$later_calls" "$calls"
done
finish
