#!/usr/bin/env python3
"""Window endurance under Wine: many Retrieve presses against a local server and many
About presses, with the window's objects counted before and after.

After a warm-up (first use of fonts, sockets and threads), with no worker running, the
window's kernel handles, windows and threads (quillon-objects.exe reads them from Wine's
system lists; Wine keeps no GDI or USER object counts) and the Wine process's descriptors
are read; after the run, again with no worker running, none may have grown. Every press
must leave exactly its own lines in the log pane, none of them broken.

Usage: window_endurance.py [--retrieves N] [--abouts N]   (run through ctest)
"""

import argparse
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "gui"))
import harness  # noqa: E402

SERVER_OFFSET = 2.5
COUNTS = {"retrieves": 100, "abouts": 50}


class WindowEndurance(harness.WindowTest):
    def counts(self, app):
        windows_pid = self.auto.call("pid")[0]
        out = subprocess.run(["wine", self.objects_exe, windows_pid], env=self.wine.env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=60).stdout.split()
        counts = dict(zip(out[0::2], map(int, out[1::2])))
        counts["descriptors"] = len(os.listdir(f"/proc/{app.process.pid}/fd"))
        return counts

    def retrieve(self, server, app):
        started = time.time()
        self.auto.click(harness.IDC_RETRIEVE)  # returns once the look-up line is typed
        self.auto.wait_text(harness.IDC_LOG, " seconds\r\n", 30000)
        ended = time.time()
        app.wait_idle()  # the next press must not find this worker still running
        lines = self.pane()
        self.assertEqual(lines[0], harness.lookup_line(server.address), lines)
        self.assert_report(lines[1:], SERVER_OFFSET, started, ended,
                           exchange=server.exchanges[-1])

    def about(self):
        self.auto.click(harness.IDC_ABOUT)  # the window types the About text itself
        lines = self.pane()
        self.assertEqual(len(lines), 4, lines)
        self.assertEqual(lines[0], harness.about_title())
        self.assertEqual(lines[1], "")
        self.assertTrue(lines[2].startswith(" " * 12 + "Designed by "), lines)
        self.assertTrue(lines[3].startswith(" " * 23) and "@" in lines[3], lines)

    def test_presses_leave_no_objects_behind(self):
        self.objects_exe = harness.require("QUILLON_OBJECTS")
        retrieves, abouts = COUNTS["retrieves"], COUNTS["abouts"]
        server = self.fake_server(offset=SERVER_OFFSET)
        app = self.launch()
        self.auto.set_text(harness.IDC_SERVER, server.address)

        self.retrieve(server, app)
        self.about()
        before = self.counts(app)
        print(f"after warm-up: {before}", flush=True)

        # About presses spread evenly between the Retrieve presses.
        about_every = max(1, retrieves // max(1, abouts))
        done_abouts = 0
        for i in range(retrieves):
            self.retrieve(server, app)
            if done_abouts < abouts and (i + 1) % about_every == 0:
                self.about()
                done_abouts += 1
        while done_abouts < abouts:
            self.about()
            done_abouts += 1
        self.assertEqual(server.requests, retrieves + 1)
        self.assertEqual(len(server.exchanges), retrieves + 1)

        after = self.counts(app)
        print(f"after {retrieves} Retrieves and {abouts} Abouts: {after}", flush=True)
        for kind in ("handles", "windows", "threads"):
            self.assertGreater(before[kind], 0, f"the window's {kind} cannot be counted")
        for kind in ("handles", "windows", "threads", "descriptors"):
            self.assertLessEqual(after[kind], before[kind], kind)
        self.assert_no_crash_text(app)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--retrieves", type=int, default=COUNTS["retrieves"])
    parser.add_argument("--abouts", type=int, default=COUNTS["abouts"])
    options, rest = parser.parse_known_args()
    COUNTS.update(retrieves=options.retrieves, abouts=options.abouts)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
