#!/usr/bin/env python3
"""Closing the window while a run is under way: while its worker waits on a silent
server, and while it types the report. The process must be gone within a second (checked
with some slack: 1.5 s), end normally and write nothing about a crash.

A program that waited for its worker would take seconds here: up to the 5 s time-out, or
the rest of a report at 30 ms per character."""

import time
import unittest

from harness import IDC_LOG, IDC_RETRIEVE, IDC_SERVER, RETRIEVED, WindowTest

EXIT_WITHIN_S = 1.5


class ClosingDuringARun(WindowTest):
    def close_and_time_exit(self, app, how):
        self.auto.close(how)
        closed = time.monotonic()
        code = app.wait_exit(10)
        took = time.monotonic() - closed
        self.assertIsNotNone(code, "the program did not end")
        self.assertLessEqual(took, EXIT_WITHIN_S, f"the program took {took:.2f} s to end")
        self.assertEqual(code, 0)
        self.assert_no_crash_text(app)

    def test_close_while_the_worker_waits_for_an_answer(self):
        silent = self.fake_server(behaviour="silent")
        app = self.launch()
        self.auto.set_text(IDC_SERVER, silent.address)
        self.auto.click(IDC_RETRIEVE)
        self.wait_for(lambda: silent.requests, 1)  # the request is out, the worker waits
        self.close_and_time_exit(app, "wm")

    def test_close_while_the_worker_types(self):
        server = self.fake_server(offset=3.0)
        app = self.launch()
        self.auto.set_text(IDC_SERVER, server.address)
        self.auto.click(IDC_RETRIEVE)
        self.auto.wait_text(IDC_LOG, RETRIEVED[:8], 10000)  # in the middle of a line
        self.close_and_time_exit(app, "sc")

    def test_close_while_a_command_line_run_waits(self):
        silent = self.fake_server(behaviour="silent")
        app = self.launch(silent.address, "Y")
        self.auto.wait_text(IDC_LOG, f"--- {silent.address} ---\r\n", 10000)
        self.wait_for(lambda: silent.requests, 1)
        self.close_and_time_exit(app, "wm")


if __name__ == "__main__":
    unittest.main(verbosity=2)
