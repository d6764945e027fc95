#!/usr/bin/env python3
"""At 120 dpi the font-scale note comes first, with its exact text, and the window opens
after it (larger, since the dialog scales with the font and the pictures do not).
Wine reads LogPixels when its server starts: the prefix's server is restarted with 120 dpi
and again with 96 dpi afterwards, pass or fail."""

import unittest

from harness import IDCANCEL, WindowTest

FONT_SCALE_CAPTION = "NOTE: FONTS SCALE IS NOT STANARD"
FONT_SCALE_TEXT = ("Current Fonts Scale is not standard.\r\n"
                   "(Standard scale of fonts is 96 dpi i.e. \u201csmall fonts\u201d.)\r\n"
                   "For better viewing please modify DISPLAY SETTINGS.\r\n")
COLOURS_CAPTION = "NOTE: COLORS LESS THEN 16 BIT"


class DisplayWarning(WindowTest):
    def set_dpi(self, dpi):
        self.auto.stop()  # it runs in the prefix's server, which restarts
        self.wine.set_log_pixels(dpi)
        self.wine.restart()
        self.start_auto()

    def test_font_scale_note_at_120_dpi(self):
        self.set_dpi(120)
        self.addCleanup(self.set_dpi, 96)
        self.assertEqual(self.auto.display()[:2], (120, 120), "Wine did not take 120 dpi")

        app = self.launch(wait=False)
        self.assertEqual(self.auto.find_messagebox(FONT_SCALE_CAPTION), FONT_SCALE_TEXT)
        # Only the one note: 32 bits per pixel need no colour note.
        self.assertEqual(self.auto.dialogs(), [FONT_SCALE_CAPTION])
        self.auto.close_messagebox(FONT_SCALE_CAPTION)

        self.auto.wait_window()
        self.assertEqual(self.auto.dialogs(), ["Quillon"])
        width, height, _, _ = self.auto.client_rect()
        self.assertGreater(width, 269)
        self.assertGreater(height, 297)

        self.auto.click(IDCANCEL)
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)


if __name__ == "__main__":
    unittest.main(verbosity=2)
