#!/usr/bin/env python3
"""Runs started from the command line, against a real NTP server: chrony's chronyd (never
allowed to set the clock) on 127.0.0.x:123, its clock shifted with libfaketime.

Under Wine the clock is never changed: SetSystemTime succeeds only for a time within
0.5 s of Wine's own (and then does nothing), so the unshifted server gives "synchronised"
and the shifted one "Failed to set the local time"."""

import time
import unittest

from harness import (IDC_LOG, RETRIEVE_FAILED, SET_FAILED, SYNCHRONISED, WindowTest,
                     lookup_line, pane_lines)

SHIFT = 37.25
REPORT_END = " seconds\r\n"
# The pane does not show the round trip, and chronyd keeps no record of it: the offset may be
# off by half of it, which a loaded machine has stretched to 39 ms under Wine (16 ms off).
# test_log_pane bounds each offset by its own exchange's round trip.
OFFSET_TOLERANCE_S = 0.025


class CommandLine(WindowTest):
    def run_from_command_line(self, *args, until):
        started = time.time()
        app = self.launch(*args)
        text = self.auto.wait_text(IDC_LOG, until, 20000)
        ended = time.time()
        app.wait_idle()  # the run's worker has ended: it has said all it had to say
        final = self.auto.text(IDC_LOG)
        self.assertTrue(final.startswith(text), "the pane changed after the report")
        return app, pane_lines(final), started, ended

    def end(self, app):
        self.auto.close()
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)

    def run_with_report(self, server, shift, *mode, until):
        """A command-line run whose five report lines are checked. Returns the pane's lines."""
        app, lines, started, ended = self.run_from_command_line(server.address, *mode,
                                                                 until=until)
        self.assertEqual(lines[0], lookup_line(server.address))
        self.assert_report(lines[1:6], shift, started, ended, OFFSET_TOLERANCE_S)
        self.end(app)
        return lines

    def test_server_only_reports_and_leaves_the_clock(self):
        shifted = self.chronyd(shift=f"+{SHIFT}s")
        # `quillon.exe ADDRESS`: the server is the last word, no mode follows.
        lines = self.run_with_report(shifted, SHIFT, until=REPORT_END)
        self.assertEqual(len(lines), 6)

    def test_mode_y_sets_the_clock_after_the_report(self):
        shifted = self.chronyd(shift=f"+{SHIFT}s")
        lines = self.run_with_report(shifted, SHIFT, "Y", until=SET_FAILED + "\r\n")
        self.assertEqual(lines[6:], [SET_FAILED])

        exact = self.chronyd()
        lines = self.run_with_report(exact, 0.0, "yes",  # any mode holding a Y
                                     until=SYNCHRONISED + "\r\n")
        self.assertEqual(lines[6:], [SYNCHRONISED])

    def test_failed_run_does_not_try_to_set_the_clock(self):
        rejected = self.fake_server(behaviour="stratum16")
        app, lines, _, _ = self.run_from_command_line(rejected.address, "Y",
                                                      until=RETRIEVE_FAILED + "\r\n")
        self.assertEqual(lines, [lookup_line(rejected.address), RETRIEVE_FAILED])
        self.assertEqual(rejected.requests, 1)
        self.end(app)


if __name__ == "__main__":
    unittest.main(verbosity=2)
