#!/usr/bin/env python3
"""Reads the built programs and fails unless each carries the guards that CMakeLists.txt and
scripts/install-mbedtls compile in:
  native   build/native/cli/quillon-query (readelf, objdump -d): position independent, full
           RELRO (a GNU_RELRO segment and BIND_NOW), and both the project's code and Mbed
           TLS's with stack-protector checks (calls to __stack_chk_fail) and fortified libc
           calls (__*_chk)
  windows  build/windows's quillon.exe and quillon-query.exe (x86_64-w64-mingw32-objdump -p):
           ASLR with relocations kept, high-entropy ASLR, NX, and (being stripped) the
           stack-protector runtime linked in; ke_probe.exe, from the same objects and flags
           but not stripped (-d): stack-protector checks in the project's code and in Mbed
           TLS's, and fortified calls
Prints one line per program and guard. Usage: hardening.py BUILD_DIR
"""

import re
import subprocess
import sys
from pathlib import Path

MINGW_OBJDUMP = "x86_64-w64-mingw32-objdump"
# What libssp's __stack_chk_fail prints: linked in only when something calls it.
SSP_MESSAGE = b"stack smashing detected"


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def origin(function):
    """Mbed TLS (C, its public prefixes), the project (C++ outside the standard library's
    namespaces), or neither (the C runtime, libstdc++, inlined libc)."""
    if re.match(r"(mbedtls|psa)_", function):
        return "Mbed TLS"
    if function.startswith("_Z") and not re.match(r"_ZN?K?(St|9__gnu_cxx|10__cxxabiv1)", function):
        return "project"
    return None


def guarded_origins(objdump, program, plt):
    """Whether each origin holds a stack-protector check and a fortified call, and whether
    the program holds a fortified call at all."""
    found = {"stack protector": set(), "fortified calls": set()}
    anywhere = False
    function = None
    suffix = "@plt" if plt else ""
    calls = re.compile(r"\scall\s.*<(__\w+_chk|__stack_chk_fail)" + re.escape(suffix) + ">")
    for line in run(objdump, "-d", "--no-show-raw-insn", program).splitlines():
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            function = origin(header.group(1))
            continue
        call = calls.search(line)
        if call:
            guard = "stack protector" if call.group(1) == "__stack_chk_fail" else "fortified calls"
            found[guard].add(function)
            anywhere |= guard == "fortified calls"
    origins = {guard + " in " + who: who in found[guard]
               for guard in found for who in ("project", "Mbed TLS")}
    origins["fortified calls"] = anywhere
    return origins


def native(build):
    program = build / "native/cli/quillon-query"
    header = run("readelf", "-hW", str(program))
    segments = run("readelf", "-lW", str(program))
    dynamic = run("readelf", "-dW", str(program))
    checks = [("position independent", re.search(r"Type:\s+DYN", header) is not None),
              ("RELRO", "GNU_RELRO" in segments),
              ("BIND_NOW", re.search(r"\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*\bNOW\b", dynamic)
               is not None)]
    guards = guarded_origins("objdump", str(program), plt=True)
    del guards["fortified calls"]
    return [(program, checks + list(guards.items()))]


def windows(build):
    results = []
    for program in (build / "windows/app/quillon.exe", build / "windows/cli/quillon-query.exe"):
        headers = run(MINGW_OBJDUMP, "-p", str(program))
        sections = run(MINGW_OBJDUMP, "-h", str(program))
        characteristics = headers.split("DllCharacteristics", 1)[1].split("SizeOf", 1)[0]
        checks = [(flag, flag in characteristics)
                  for flag in ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT")]
        checks.append(("relocations kept", re.search(r"\s\.reloc\s", sections) is not None))
        image = program.read_bytes()
        checks.append(("stack protector runtime", SSP_MESSAGE in image))
        results.append((program, checks))
    # mingw-w64 fortifies only a few string functions, so each kind of code need not call
    # one; the program as a whole must.
    probe = build / "windows/tests/nts/ke_probe.exe"
    guards = guarded_origins(MINGW_OBJDUMP, str(probe), plt=False)
    del guards["fortified calls in project"], guards["fortified calls in Mbed TLS"]
    results.append((probe, list(guards.items())))
    return results


def main():
    build = Path(sys.argv[1])
    failed = 0
    for tree in (native, windows):
        try:
            programs = tree(build)
        except (OSError, subprocess.CalledProcessError) as error:
            print(f"hardening: cannot read the {tree.__name__} programs ({error}); "
                  f"build them first: scripts/build native windows")
            failed += 1
            continue
        for program, checks in programs:
            missing = [name for name, ok in checks if not ok]
            failed += len(missing)
            shown = program.relative_to(build)
            present = ", ".join(name for name, ok in checks if ok) or "nothing"
            print(f"{shown}: " + (f"MISSING {', '.join(missing)}; " if missing else "") +
                  f"ok: {present}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
