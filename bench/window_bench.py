"""The window under Wine: launch to visible window, the user-interface thread's answer time
while an exchange waits on a silent server, idle CPU, peak working set and exe size.

Uses the window tests' harness (private Xvfb, Wine environment, automation client, fake
servers) with a Wine prefix of the bench's own, whose wine server it stops at the end."""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "gui"))

TARGETS = {"window_visible_ms": 300.0, "message_answer_ms": 50.0, "exe_mb": 1.5}
LAUNCHES = 5
PINGS = 40
PING_INTERVAL_MS = 50
IDLE_SECONDS = 10


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def status_kb(pid, key):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return None


def wineserver_pid(prefix):
    """The wine server of this prefix (found through its environment)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if b"wineserver" not in (entry / "cmdline").read_bytes():
                continue
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environment:
            return int(entry.name)
    return None


def wine_start_alone(env, runs=5):
    """A Windows process that does nothing: what Wine itself costs before any window."""
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        times.append((time.perf_counter() - started) * 1000)
    return statistics.median(times)


def exe_sizes(exe, work):
    size = os.path.getsize(exe)
    stripped = None
    strip = shutil.which("x86_64-w64-mingw32-strip")
    if strip:
        copy = Path(work) / "stripped.exe"
        subprocess.run([strip, "-o", str(copy), exe], check=True, timeout=60)
        stripped = os.path.getsize(copy)
    return size, stripped


# 100 MB of url\time.txt: the program reads only its first 1,000 lines.
HUGE_LIST = b"".join(b"server-%07d.example.org\n" % i for i in range(4 * 2**20))[:100 * 2**20]


def launch_times(harness, exe, wine, auto, server_list=None):
    """Launch to visible window, LAUNCHES times after one that warms up and is not counted."""
    times = []
    for i in range(LAUNCHES + 1):
        app = harness.App(exe, wine.env, server_list=server_list)
        auto.wait_window(30000)
        if i > 0:
            times.append((time.perf_counter() - app.started) * 1000)
        auto.close()
        app.wait_exit(10)
        app.stop()
        auto.wait_gone(10000)
    return times


def measure(exe, auto_exe, prefix, out):
    import harness

    if prefix:
        os.environ["QUILLON_WINEPREFIX"] = str(prefix)
    work = tempfile.mkdtemp(prefix="quillon-bench-window-")
    figures = {}
    xvfb = harness.Xvfb()
    wine = auto = None
    servers = []
    try:
        wine = harness.Wine(xvfb.display)
        auto = harness.AutoClient(auto_exe, wine.env, Path(out) / "quillon-auto.log")
        figures["wine_start_ms"] = wine_start_alone(wine.env)

        # Launch to visible window: the first run warms the prefix and is not counted.
        figures["launch_ms"] = launch_times(harness, exe, wine, auto)
        figures["launch_huge_list_ms"] = launch_times(harness, exe, wine, auto, HUGE_LIST)

        app = harness.App(exe, wine.env)
        auto.wait_window(30000)
        pid = app.process.pid  # Wine runs the program in the process it started
        time.sleep(2)

        server_pid = wineserver_pid(wine.prefix)
        app_cpu, server_cpu = cpu_seconds(pid), server_pid and cpu_seconds(server_pid)
        time.sleep(IDLE_SECONDS)
        figures["idle_cpu_percent"] = (cpu_seconds(pid) - app_cpu) / IDLE_SECONDS * 100
        if server_pid:
            figures["idle_wineserver_cpu_percent"] = (
                (cpu_seconds(server_pid) - server_cpu) / IDLE_SECONDS * 100)

        addresses = harness.AddressPool()
        silent = harness.FakeServer(addresses, work, behaviour="silent")
        servers.append(silent)
        auto.set_text(harness.IDC_SERVER, silent.address)
        auto.post_click(harness.IDC_RETRIEVE)
        auto.wait_text(harness.IDC_LOG, harness.lookup_line(silent.address) + "\r\n", 15000)
        pings = auto.ping(PINGS, PING_INTERVAL_MS)
        still_waiting = harness.RETRIEVE_FAILED not in auto.text(harness.IDC_LOG)
        figures["pings_ms"] = pings
        figures["pings_while_waiting"] = still_waiting
        auto.wait_text(harness.IDC_LOG, harness.RETRIEVE_FAILED, 15000)

        good = harness.FakeServer(addresses, work)
        servers.append(good)
        auto.set_text(harness.IDC_SERVER, good.address)
        auto.post_click(harness.IDC_RETRIEVE)
        auto.wait_text(harness.IDC_LOG, " seconds\r\n", 20000)
        auto.post_click(harness.IDC_ABOUT)
        time.sleep(4)
        figures["peak_working_set_kb"] = status_kb(pid, "VmHWM")
        figures["gui_resources"] = auto.guiresources()
        auto.close()
        app.wait_exit(10)
        app.stop()
    finally:
        for server in servers:
            server.stop()
        if auto:
            auto.stop()
        xvfb.stop()
        if prefix:
            # Only the bench's own prefix: its wine server serves nobody else.
            subprocess.run(["bash", "-c", 'source "$0" && quillon_wine_stop',
                            str(REPO / "scripts" / "lib" / "wine-env.sh")],
                           stdin=subprocess.DEVNULL, timeout=60)
        size, stripped = exe_sizes(exe, work)
        figures["exe_bytes"] = size
        figures["exe_stripped_bytes"] = stripped
        shutil.rmtree(work, ignore_errors=True)

    return {"figures": figures, "rows": rows(figures), "notes": notes(figures)}


def rows(f):
    launch = statistics.median(f["launch_ms"])
    pings = f["pings_ms"]
    worst = max(pings)
    size_mb = f["exe_bytes"] / 1e6
    stripped = f["exe_stripped_bytes"]
    out = [
        {"label": f"launch to visible window (median of {len(f['launch_ms'])})",
         "value": f"{launch:.0f} ms (min {min(f['launch_ms']):.0f}, max {max(f['launch_ms']):.0f})",
         "target": f"<= {TARGETS['window_visible_ms']:.0f} ms",
         "met": launch <= TARGETS["window_visible_ms"],
         "why": (f"launch to visible is above target: Wine alone needs about "
                 f"{f['wine_start_ms']:.0f} ms to start a Windows process that does nothing "
                 f"(wine cmd /c exit, measured in the same run) before the program's first "
                 f"instruction; on Windows process start is a few ms. A Wine preloaded "
                 f"with the program (or native Windows) would reach it.")},
        {"label": "  the same with a 100 MB url\\time.txt (median)",
         "value": f"{statistics.median(f['launch_huge_list_ms']):.0f} ms"},
        {"label": "  (Wine process start alone: wine cmd /c exit)",
         "value": f"{f['wine_start_ms']:.0f} ms"},
        {"label": f"message answer while an exchange waits (max of {len(pings)})",
         "value": f"{worst:.2f} ms (median {statistics.median(pings):.2f})",
         "target": f"<= {TARGETS['message_answer_ms']:.0f} ms",
         "met": worst <= TARGETS["message_answer_ms"] and f["pings_while_waiting"],
         "why": ("the window answered slowly while the worker waited: see "
                 "build/bench/bench.json for every ping."
                 if f["pings_while_waiting"] else
                 "the exchange ended before the pings did, so they did not all fall "
                 "inside the wait.")},
        {"label": f"idle CPU over {IDLE_SECONDS} s (program; wine server)",
         "value": f"{f['idle_cpu_percent']:.2f} %; "
                  f"{f.get('idle_wineserver_cpu_percent', float('nan')):.2f} %"},
        {"label": "peak working set (VmHWM of the Wine process)",
         "value": f"{f['peak_working_set_kb'] / 1024:.1f} MB"},
        {"label": "exe size (as built; stripped)",
         "value": f"{size_mb:.2f} MB; " + (f"{stripped / 1e6:.2f} MB" if stripped else "?"),
         "target": f"<= {TARGETS['exe_mb']:g} MB", "met": size_mb <= TARGETS["exe_mb"],
         "why": ("the exe is above target as built because it carries its symbols"
                 + (f"; stripped it is {stripped / 1e6:.2f} MB (x86_64-w64-mingw32-strip, "
                    f"or -s at link time)" if stripped else "") + ".")},
    ]
    return out


def notes(f):
    result = ["The working set is the Linux process's peak resident size: it includes Wine's "
              "own libraries, which a Windows process does not carry."]
    gui = f.get("gui_resources") or {}
    if gui and not any(gui.values()):
        result.append("Under Wine GetGuiResources and GetProcessHandleCount report 0 for every "
                      "process, so GDI/USER counts are not readable here.")
    return result
