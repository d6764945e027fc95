"""What the window tests share: a private X server, the Wine environment, the automation
client, the program under test, fake NTP servers and chronyd. Everything started here is
stopped by PID when its test (or test module) ends, pass or fail.

Environment (set by tests/gui/CMakeLists.txt):
  QUILLON_EXE        the window program (quillon.exe)
  QUILLON_AUTO       the automation client (quillon-auto.exe)
  QUILLON_CONTACT    the contact address built into the About text
  QUILLON_VERSION    the project's version (CMake's project())
  QUILLON_ARTIFACTS  where screenshots go (the Windows build tree)
Optional:
  QUILLON_DISPLAYS   X display numbers to try, "FIRST-LAST" (default 90-140)
  BUILD, QUILLON_WINEPREFIX   see scripts/lib/wine-env.sh
"""

import calendar
import os
import queue
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_ENV_SH = REPO / "scripts" / "lib" / "wine-env.sh"
CHRONY_SH = REPO / "scripts" / "lib" / "chrony.sh"
FAKE_NTP_SERVER = REPO / "tests" / "tools" / "fake_ntp_server.py"

# Control ids (res/resource.h).
IDCANCEL = 2
IDC_RETRIEVE = 1000
IDC_LOG = 1001
IDC_ADJUST = 1003
IDC_SERVER = 1004
IDC_ABOUT = 1005
IDC_BACKGROUND = 1006

# Texts of the log pane.
RETRIEVED = "Time was successfully retreived"
DATE_HEADING = "CLIENT DESTINATION DATE:"
OFFSET_HEADING = "LOCAL CLOCK OFFSET:"
RETRIEVE_FAILED = "Failed to retreive time from NTP server"
SYNCHRONISED = "Time was successfully synchronised"
SET_FAILED = "Failed to set the local time"
# A name the resolver rejects before asking any name server (an empty label): no packet
# leaves the machine, as one would for an ordinary unknown name.
UNRESOLVABLE_NAME = "no..such.invalid"

DATE_LINE = re.compile(
    r"^ {9}(\d{2})/(\d{2})/(\d{4}), (\d{2}):(\d{2}):(\d{2})\.(\d{3})$")
OFFSET_LINE = re.compile(r"^ {9}(-?\d+\.\d{6}) seconds$")
# The program runs in a zone 5 h 45 min away from UTC: a report that shows local time
# where UTC is due cannot pass for right.
APP_TIME_ZONE = "Asia/Kathmandu"
# What Wine or a crashing program writes when something goes badly wrong.
CRASH_TEXT = re.compile(r"unhandled|exception|page fault|crash|backtrace|assert", re.I)
# The two legs of an exchange may differ by its whole round trip, so an offset may be off by
# half of it; add 0.5 ms for T1 and T4, which the program rounds to whole milliseconds, and
# 0.5 ms for the server's own stamps.
STAMP_SLACK_S = 0.001
# A loopback round trip takes well under a millisecond; a loaded machine has stretched one to
# 39 ms under Wine. Far longer means a stamp taken at the wrong moment, not a slow path.
MAX_ROUND_TRIP_S = 0.1
# Under Wine each Windows thread is a thread of the process; an idle window program has
# only its window thread, and each run adds its worker's.
IDLE_THREADS = 1


def about_title():
    """About's first line: major.minor of the project's version."""
    major_minor = ".".join(require("QUILLON_VERSION").split(".")[:2])
    return " " * 13 + "QUILLON v" + major_minor


def lookup_line(server):
    return f"Looking up   --- {server} ---"


def pane_lines(text):
    """The lines of a pane written by TypeLine: each must end with CR LF."""
    if text and not text.endswith("\r\n"):
        raise AssertionError(f"pane text does not end with CR LF: {text!r}")
    body = text[:-2] if text else ""
    if "\n" in body.replace("\r\n", "") or "\r" in body.replace("\r\n", ""):
        raise AssertionError(f"a line end other than CR LF: {text!r}")
    return body.split("\r\n") if text else []


def require(variable):
    value = os.environ.get(variable)
    if not value:
        raise unittest.SkipTest(f"{variable} is not set (run through ctest)")
    return value


class AutoError(Exception):
    pass


class Xvfb:
    """A private X server on the first free display number."""

    def __init__(self):
        first, last = map(int, os.environ.get("QUILLON_DISPLAYS", "90-140").split("-"))
        numbers = list(range(first, last + 1))
        for n in numbers:
            if os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            process = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    self.process, self.display = process, f":{n}"
                    return
                time.sleep(0.05)
            process.kill()  # lost the number to another server, or it did not come up
            process.wait()
        raise RuntimeError(f"no free X display in {first}..{last}")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Wine:
    """The shared prefix (or a prefix of its own), primed so that Wine's services hold none
    of our output pipes."""

    def __init__(self, display, prefix=None):
        self.display = display
        self.own_prefix = prefix
        self.env = None
        self.prime()

    def _bash(self, commands):
        env = dict(os.environ, QUILLON_WINEPREFIX=self.own_prefix) if self.own_prefix else None
        result = subprocess.run(
            ["bash", "-c", f'source "$0" && {commands} && printf "%s\\n" "$WINEPREFIX" "$HOME"',
             str(WINE_ENV_SH)],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=180, env=env)
        if result.returncode != 0:
            raise RuntimeError(f"Wine set-up failed: {result.stderr}")
        return result.stdout.split("\n")[:2]

    def prime(self):
        prefix, home = self._bash("quillon_wine_prime")
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix, HOME=home, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
                        DISPLAY=self.display)

    def restart(self):
        """Stops every process of the prefix and starts the server again (registry edits
        such as LogPixels reach new processes only through a fresh server)."""
        self.stop()
        self.prime()

    def stop(self):
        self._bash("quillon_wine_stop")

    def run(self, *args, timeout=180):
        """A Windows program (or `wine` command such as msiexec), its output as text."""
        return subprocess.run(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)

    def set_log_pixels(self, dpi):
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                        "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                       env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=60)


class AutoClient:
    """quillon-auto.exe in serve mode: one command per line, answers end with "." or "!"."""

    def __init__(self, exe, env, log_path):
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(["wine", exe, "serve"], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.log)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("ascii", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def call(self, command, timeout=60):
        self.process.stdin.write((command + "\n").encode("ascii", "backslashreplace"))
        self.process.stdin.flush()
        output = []
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise AutoError(f"quillon-auto gave no answer to {command!r} in {timeout} s")
            if line is None:
                raise AutoError("quillon-auto ended")
            if line == ".":
                return output
            if line.startswith("! "):
                raise AutoError(f"{command}: {line[2:]}")
            output.append(line)

    @staticmethod
    def unescape(text):
        return text.encode("ascii").decode("unicode_escape")

    @staticmethod
    def escape(text):
        return text.encode("unicode_escape").decode("ascii")

    # -- commands ------------------------------------------------------------------------
    def wait_window(self, timeout_ms=30000):
        self.call(f"wait-window {timeout_ms}", timeout_ms / 1000 + 30)

    def wait_gone(self, timeout_ms=10000):
        self.call(f"wait-gone {timeout_ms}", timeout_ms / 1000 + 30)

    def caption(self):
        return self.unescape(self.call("caption")[0])

    def text(self, control):
        return self.unescape(self.call(f"text {control}")[0])

    def set_text(self, control, text):
        self.call(f"set-text {control} {self.escape(text)}")

    def combo_list(self, control=IDC_SERVER):
        head, *items = self.call(f"combo-list {control}")
        _, count, _, selected = head.split()
        return int(count), int(selected), [self.unescape(i[len("item "):]) for i in items]

    def click(self, control):
        """Clicks and waits until the window's handler is done; returns how long that took."""
        return float(self.call(f"click {control}")[0].split()[2])

    def post_click(self, control):
        self.call(f"post-click {control}")

    def control_rect(self, control):
        return tuple(int(v) for v in self.call(f"control-rect {control}")[0].split())

    def client_rect(self):
        return tuple(int(v) for v in self.call("client-rect")[0].split())

    def window_region(self):
        values = self.call("window-region")[0].split()
        return tuple(int(v) for v in values[:4]), int(values[5])

    def metrics(self):
        return tuple(int(v) for v in self.call("metrics")[0].split())

    def display(self):
        return tuple(int(v) for v in self.call("display")[0].split())

    def wait_text(self, control, substring, timeout_ms):
        line = self.call(f"wait-text {control} {timeout_ms} {self.escape(substring)}",
                         timeout_ms / 1000 + 30)[0]
        return self.unescape(line.split(" ", 3)[3])

    def watch_text(self, control, substring, timeout_ms):
        """Every change of the control's text until it holds `substring`: [(ms, text)]."""
        lines = self.call(f"watch-text {control} {timeout_ms} {self.escape(substring)}",
                          timeout_ms / 1000 + 30)
        changes = []
        for line in lines:
            _, at, text = line.split(" ", 2)  # "change MS TEXT"
            changes.append((float(at), self.unescape(text)))
        return changes

    def ping(self, count, interval_ms):
        lines = self.call(f"ping {count} {interval_ms}", count * (interval_ms + 5000) / 1000)
        return [float(line.split()[1]) for line in lines if line.startswith("ping ")]

    def guiresources(self):
        words = self.call("guiresources")[0].split()
        return dict(zip(words[0::2], map(int, words[1::2])))

    def close(self, how="wm"):
        self.call(f"close {how}")

    def find_messagebox(self, caption, timeout_ms=15000):
        return self.unescape(self.call(f"find-messagebox {timeout_ms} {self.escape(caption)}",
                                       timeout_ms / 1000 + 30)[0])

    def close_messagebox(self, caption):
        self.call(f"close-messagebox {self.escape(caption)}")

    def dialogs(self):
        return [self.unescape(line[len("dialog "):]) for line in self.call("dialogs")]

    def focus(self):
        return int(self.call("focus")[0])

    def moving(self):
        """Whether the window's thread runs the system's move loop (a drag)."""
        return self.call("move-size")[0] == "1"

    def stop(self):
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        self.reader.join(timeout=10)
        self.process.stdout.close()
        self.log.close()


# In place of a server list: url\time.txt exists but cannot be read (it is a folder).
UNREADABLE_LIST = object()


class App:
    """One run of the window program in its own working folder, or in `cwd` (kept)."""

    def __init__(self, exe, env, args=(), server_list=None, cwd=None):
        self.own_folder = cwd is None
        self.folder = Path(tempfile.mkdtemp(prefix="quillon-window-")) if cwd is None else cwd
        list_path = self.folder / "url" / "time.txt"
        if server_list is UNREADABLE_LIST:
            list_path.mkdir(parents=True)
        elif server_list is not None:
            list_path.parent.mkdir()
            data = server_list.encode("latin-1") if isinstance(server_list, str) else server_list
            list_path.write_bytes(data)
        self.stderr_path = self.folder / "stderr.txt" if self.own_folder else Path(
            tempfile.mkstemp(prefix="quillon-stderr-")[1])
        with open(self.stderr_path, "wb") as stderr:
            self.started = time.perf_counter()  # after the list file is written
            self.process = subprocess.Popen(["wine", exe, *args], cwd=self.folder,
                                            env=dict(env, TZ=APP_TIME_ZONE),
                                            stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=stderr)

    def threads(self):
        status = Path(f"/proc/{self.process.pid}/status").read_text()
        return int(re.search(r"^Threads:\s+(\d+)$", status, re.M).group(1))

    def wait_idle(self, timeout=10):
        """Waits until every worker has ended: nothing but a click can type after that."""
        deadline = time.monotonic() + timeout
        while (threads := self.threads()) > IDLE_THREADS:
            if time.monotonic() > deadline:
                raise AssertionError(f"{threads} threads after {timeout} s")
            time.sleep(0.005)

    def wait_exit(self, timeout):
        """The exit code, or None if the program still runs after `timeout` seconds."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stderr(self):
        return self.stderr_path.read_text("latin-1")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.own_folder:
            shutil.rmtree(self.folder, ignore_errors=True)
        else:
            self.stderr_path.unlink()


def bind_free(address, port):
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.bind((address, port))
        return True
    except OSError:
        return False


class AddressPool:
    """Loopback addresses whose port 123 is free; each handed out once per run."""

    def __init__(self):
        self.candidates = [f"127.0.0.{n}" for n in range(101, 251)]
        random.shuffle(self.candidates)  # two runs at once rarely pick the same ones

    def take(self):
        while self.candidates:
            address = self.candidates.pop()
            if bind_free(address, 123):
                return address
        raise RuntimeError("no free loopback address for port 123")


class FakeServer:
    """tests/tools/fake_ntp_server.py on a loopback address; port 0 takes a free port."""

    def __init__(self, address_pool, work, port=123, **options):
        for _ in range(5):
            self.address = address_pool.take()
            self.count_file = Path(work) / f"count-{self.address}"
            self.exchange_log = Path(work) / f"exchanges-{self.address}"
            arguments = [sys.executable, str(FAKE_NTP_SERVER), "--address", self.address,
                         "--port", str(port), "--count-file", str(self.count_file),
                         "--exchange-log", str(self.exchange_log)]
            for name, value in options.items():
                arguments += [f"--{name.replace('_', '-')}", str(value)]
            self.process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            ready = self.process.stdout.readline().split()  # "ready ADDRESS PORT"
            if ready[:1] == [b"ready"]:
                self.port = int(ready[2])
                return
            self.process.wait()  # lost the address to someone else: take another
            self.process.stdout.close()
        raise RuntimeError("the fake NTP server did not start")

    @property
    def requests(self):
        return int(self.count_file.read_text())

    @property
    def exchanges(self):
        """(T1, T2, T3) of each answer on the host's clock: the client's transmit time and the
        server's receive and transmit times."""
        if not self.exchange_log.exists():
            return []
        return [tuple(map(float, line.split()))
                for line in self.exchange_log.read_text().splitlines()]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdout.close()


class Chronyd:
    """chronyd (unpacked by scripts/peers) on ADDRESS:123 through scripts/lib/chrony.sh."""

    def __init__(self, address, work, shift=None):
        self.address = address
        folder = Path(work) / f"chrony-{address}"
        subprocess.run([str(REPO / "scripts" / "peers")], check=True, stdin=subprocess.DEVNULL,
                       timeout=300)
        result = subprocess.run(
            ["bash", "-c", 'source "$0" && start_chronyd "$@" && echo "$QUILLON_CHRONYD_PID"',
             str(CHRONY_SH), address, "123", str(folder)] + ([shift] if shift else []),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"chronyd did not start: {result.stderr}")
        self.pid = int(result.stdout.split()[-1])

    def stop(self):
        try:
            os.kill(self.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                os.kill(self.pid, 0)
            except ProcessLookupError:
                return
            time.sleep(0.05)


class Screenshot:
    """A picture of the whole X screen; crops saved as PNG, pixels read as RGB."""

    def __init__(self, display, work):
        self.path = Path(work) / f"screen-{time.monotonic_ns()}.png"
        subprocess.run(["import", "-display", display, "-window", "root", str(self.path)],
                       check=True, stdin=subprocess.DEVNULL, timeout=60)

    def save_crop(self, box, destination):
        x, y, w, h = box
        subprocess.run(["convert", str(self.path), "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                        str(destination)], check=True, timeout=60)

    def pixels(self, box):
        """Rows of (r, g, b) tuples of the box."""
        x, y, w, h = box
        ppm = subprocess.run(["convert", str(self.path), "-crop", f"{w}x{h}+{x}+{y}",
                              "+repage", "-depth", "8", "ppm:-"],
                             check=True, capture_output=True, timeout=60).stdout
        fields = ppm.split(maxsplit=4)  # P6, width, height, 255, data
        width, height, data = int(fields[1]), int(fields[2]), fields[4]
        return [[tuple(data[(row * width + col) * 3:(row * width + col) * 3 + 3])
                 for col in range(width)] for row in range(height)]


class WindowTest(unittest.TestCase):
    """Base of the window tests: per module one X server, the Wine environment and the
    automation client; per test the programs and servers it starts."""

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("the fake servers bind port 123, which needs root")
        cls.exe = require("QUILLON_EXE")
        cls.auto_exe = require("QUILLON_AUTO")
        cls.artifacts = Path(os.environ.get("QUILLON_ARTIFACTS", tempfile.gettempdir()))
        cls.work = tempfile.mkdtemp(prefix="quillon-gui-")
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.xvfb = Xvfb()
        cls.addClassCleanup(cls.xvfb.stop)
        cls.wine = Wine(cls.xvfb.display)
        cls.start_auto()
        cls.addresses = AddressPool()

    @classmethod
    def start_auto(cls):
        cls.auto = AutoClient(cls.auto_exe, cls.wine.env, Path(cls.work) / "auto.log")
        cls.addClassCleanup(cls.auto.stop)

    def launch(self, *args, server_list=None, wait=True, exe=None, cwd=None):
        """Starts the window program (or `exe`) in a fresh folder (or in `cwd`); it is ended
        (if still running) when the test ends."""
        app = App(exe or self.exe, self.wine.env, args, server_list, cwd)
        self.addCleanup(self._end_app, app)
        if wait:
            self.auto.wait_window()
        return app

    def _end_app(self, app):
        if app.process.poll() is None:
            try:
                self.auto.close()
            except AutoError:
                pass
            app.wait_exit(5)
        app.stop()
        try:
            self.auto.wait_gone(10000)  # the next test must not find this window
        except AutoError:
            pass

    def fake_server(self, port=123, **options):
        server = FakeServer(self.addresses, self.work, port, **options)
        self.addCleanup(server.stop)
        return server

    def chronyd(self, shift=None):
        server = Chronyd(self.addresses.take(), self.work, shift)
        self.addCleanup(server.stop)
        return server

    def screenshot(self):
        return Screenshot(self.wine.display, self.work)

    def wait_for(self, probe, expected, timeout=5.0, message=None):
        """Polls probe() until it returns `expected`; fails with the last value after
        `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while (value := probe()) != expected and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual(value, expected, message)
        return value

    # -- checks ---------------------------------------------------------------------------
    def pane(self):
        return pane_lines(self.auto.text(IDC_LOG))

    def assert_report(self, lines, expected_offset, started, ended, tolerance=None,
                      exchange=None):
        """The five report lines: texts, the arrival time in UTC between `started` and
        `ended` (host clock), and the offset within `tolerance` of `expected_offset`, or
        with the fake server's `exchange` (T1, T2, T3), within what its round trip allows."""
        self.assertEqual(len(lines), 5, lines)
        self.assertEqual(lines[0], RETRIEVED)
        self.assertEqual(lines[1], DATE_HEADING)
        self.assertEqual(lines[3], OFFSET_HEADING)
        date = DATE_LINE.match(lines[2])
        self.assertIsNotNone(date, f"date line {lines[2]!r}")
        day, month, year, hour, minute, second, millis = map(int, date.groups())
        arrival = calendar.timegm((year, month, day, hour, minute, second)) + millis / 1000
        self.assertGreaterEqual(arrival, started - 0.01, f"arrival {lines[2]} before the run")
        self.assertLessEqual(arrival, ended + 0.01, f"arrival {lines[2]} after the run")
        offset = OFFSET_LINE.match(lines[4])
        self.assertIsNotNone(offset, f"offset line {lines[4]!r}")
        if exchange is not None:
            t1, t2, t3 = exchange
            round_trip = (arrival - t1) - (t3 - t2)
            self.assertLess(round_trip, MAX_ROUND_TRIP_S, f"T1 {t1:.6f}, T4 {lines[2]}")
            tolerance = round_trip / 2 + STAMP_SLACK_S
        self.assertAlmostEqual(float(offset.group(1)), expected_offset, delta=tolerance,
                               msg=f"allowed {tolerance * 1000:.3f} ms")

    def assert_no_crash_text(self, app):
        self.assertIsNone(CRASH_TEXT.search(app.stderr()), app.stderr())
