#!/usr/bin/env python3
"""The server box filled from url\\time.txt in the working folder: comments, trimming,
blank lines, lower case, line ends, an end-of-file mark, a list that cannot be read.
Each window is ended a different way, since every way must end the program."""

import time
import unittest

from harness import IDC_SERVER, IDCANCEL, UNREADABLE_LIST, WindowTest

DEFAULT_SERVER = "pool.ntp.org"


class ServerList(WindowTest):
    def open_with(self, server_list):
        """Launches with the given list file (text or bytes, or a folder in its place) and
        returns (entries, selected index, edit text)."""
        app = self.launch(server_list=server_list)
        count, selected, items = self.auto.combo_list()
        self.assertEqual(count, len(items))
        return app, items, selected, self.auto.text(IDC_SERVER)

    def assert_ends(self, app):
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)

    def test_rules_for_lines(self):
        app, items, selected, edit = self.open_with(
            "# a comment line\n"
            "NTP.Example.ORG   \n"        # trailing blanks go, letters shown in lower case
            "  pool.example.org\n"        # leading blanks stay
            "\n"                          # a blank line is an empty entry
            " #not-a-comment\n"           # "#" only counts as the first character
            "\t \n"                       # white space only: an empty entry too
            "#another comment\n"
            "last.example.org\t\x0b\x0c\n")
        self.assertEqual(items, ["ntp.example.org", "  pool.example.org", "",
                                 " #not-a-comment", "", "last.example.org"])
        self.assertEqual(selected, 0)
        self.assertEqual(edit, "ntp.example.org")
        self.auto.click(IDCANCEL)
        self.assert_ends(app)

    def test_crlf_line_ends_and_no_final_line_end(self):
        app, items, _, _ = self.open_with("one.example.org\r\ntwo.example.org\r\nthree")
        self.assertEqual(items, ["one.example.org", "two.example.org", "three"])
        self.auto.close("wm")
        self.assert_ends(app)

    def test_comments_only_give_the_default_server(self):
        app, items, selected, edit = self.open_with("# one\n#two\n")
        self.assertEqual((items, selected, edit), ([DEFAULT_SERVER], 0, DEFAULT_SERVER))
        self.auto.close("sc")
        self.assert_ends(app)

    def test_blank_lines_only_give_empty_entries_and_no_default(self):
        app, items, selected, edit = self.open_with("\n\n")
        self.assertEqual((items, selected, edit), (["", ""], 0, ""))
        self.auto.click(IDCANCEL)
        self.assert_ends(app)

    def test_text_ends_at_an_end_of_file_mark(self):
        app, items, _, _ = self.open_with(b"first.example.org\n\x1asecond.example.org\n")
        self.assertEqual(items, ["first.example.org"])
        self.auto.close("wm")
        self.assert_ends(app)

    def test_a_huge_list_is_read_only_as_far_as_anyone_types(self):
        # 100 MB of names: only the first 1,000 lines are read, and the window opens
        # within seconds instead of minutes.
        line = b"server-%07d.example.org\n"
        names = b"".join(line % i for i in range(10000))
        huge = names + b"x" * (100 * 2**20 - len(names))
        started = time.monotonic()
        app = self.launch(server_list=huge, wait=False)
        self.auto.wait_window(timeout_ms=20000)
        opened = time.monotonic() - started
        count, selected, items = self.auto.combo_list()
        print(f"window open after {opened:.2f} s with 100 MB of url\\time.txt")
        self.assertEqual((count, selected), (1000, 0))
        self.assertEqual((items[0], items[-1]), ("server-0000000.example.org",
                                                 "server-0000999.example.org"))
        self.auto.click(IDCANCEL)
        self.assert_ends(app)

    def test_a_list_that_cannot_be_read_counts_as_absent(self):
        app, items, selected, _ = self.open_with(UNREADABLE_LIST)
        self.assertEqual((items, selected), ([DEFAULT_SERVER], 0))
        self.auto.close("sc")
        self.assert_ends(app)


if __name__ == "__main__":
    unittest.main(verbosity=2)
