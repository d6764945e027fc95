#!/usr/bin/env python3
"""The window as it opens: caption, controls, sizes, the clipping region, the skin on the
screen (clock, hover frames, drag by the body), and the ways the program ends."""

import subprocess
import unittest

from harness import (IDC_ABOUT, IDC_ADJUST, IDC_BACKGROUND, IDC_LOG, IDC_RETRIEVE,
                     IDC_SERVER, IDCANCEL, WindowTest)

BUTTONS = (IDCANCEL, IDC_RETRIEVE, IDC_ADJUST, IDC_ABOUT)


def is_clock_green(pixel):
    r, g, b = pixel
    return g >= 200 and r <= 80 and b <= 80


class WindowAsItOpens(WindowTest):
    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.wine.env, check=True,
                       stdin=subprocess.DEVNULL, timeout=30)

    def test_layout_skin_and_cancel(self):
        app = self.launch()  # no url\time.txt: the default server only
        auto = self.auto
        width, height, screen_x, screen_y = auto.client_rect()
        frame_x, frame_y, caption_height = auto.metrics()

        with self.subTest("caption and no display warning at 96 dpi, 32 bits"):
            self.assertEqual(auto.caption(), "Quillon")
            self.assertEqual(auto.display()[:2], (96, 96))
            self.assertEqual(auto.dialogs(), ["Quillon"])

        with self.subTest("client area from the 179 x 183 template in 6 x 13 base units"):
            # 179 * 6 / 4 = 268.5 (rounded by the dialog manager), 183 * 13 / 8 = 297.4
            self.assertIn(width, (268, 269))
            self.assertEqual(height, 297)

        with self.subTest("the four picture buttons take one 40 x 20 frame of their strip"):
            for button in BUTTONS:
                self.assertEqual(auto.control_rect(button)[2:], (40, 20), f"button {button}")

        with self.subTest("log pane and server box are where the template puts them"):
            # Template rectangles (21, 61, 136, 59) and (22, 133, 102, _) in dialog units.
            x, y, w, h = auto.control_rect(IDC_LOG)
            self.assertEqual((x, y), (32, 99))
            self.assertEqual((w, h), (204, 96))
            x, y, w, _ = auto.control_rect(IDC_SERVER)
            self.assertEqual((x, y, w), (33, 216, 153))

        with self.subTest("background picture moved to x = -F and widened by F"):
            self.assertEqual(auto.control_rect(IDC_BACKGROUND),
                             (-frame_x, 0, width + frame_x, height))

        with self.subTest("window region: the client area less its bottom row"):
            box, rectangles = auto.window_region()
            top = frame_y + caption_height
            self.assertEqual(box, (frame_x, top, width + frame_x, top + height - 1))
            self.assertEqual(rectangles, 1)

        with self.subTest("server box holds the built-in default, selected"):
            count, selected, items = auto.combo_list()
            self.assertEqual((count, selected), (1, 0))
            self.assertEqual(items, ["pool.ntp.org"])
            self.assertEqual(auto.text(IDC_SERVER), "pool.ntp.org")

        with self.subTest("focus starts on Cancel, the first tab stop"):
            self.assertEqual(auto.focus(), IDCANCEL)

        client = (screen_x, screen_y, width, height)
        with self.subTest("screenshot: a green clock that ticks in the clock panel"):
            # The clock text is centred at y = H / 5 - 2 in the black panel under the title.
            clock_box = (screen_x + 20, screen_y + height // 5 - 6, width - 40, 34)

            def green_pixels():
                return sum(is_clock_green(p) for row in self.screenshot().pixels(clock_box)
                           for p in row)

            # Drawn on the first tick of the 1 s timer.
            self.wait_for(lambda: green_pixels() > 100, True,
                          message="no green digits in the clock panel")
            first = self.screenshot()
            first.save_crop(client, self.artifacts / "quillon.png")
            before = first.pixels(clock_box)
            self.wait_for(lambda: self.screenshot().pixels(clock_box) != before, True,
                          timeout=3, message="the clock did not change on its next tick")

        with self.subTest("hover frame under a resting pointer, normal frame after leaving"):
            x, y, w, h = auto.control_rect(IDC_ADJUST)
            button_box = (screen_x + x, screen_y + y, w, h)
            normal = self.screenshot().pixels(button_box)
            self.xdotool("mousemove", screen_x + x + w // 2, screen_y + y + h // 2)
            self.wait_for(lambda: self.screenshot().pixels(button_box) != normal, True,
                          message="no hover frame")
            self.xdotool("mousemove", screen_x + width // 2, screen_y + 20)
            self.wait_for(lambda: self.screenshot().pixels(button_box) == normal, True,
                          message="hover frame stayed after the pointer left")

        with self.subTest("clicking into the log pane hands the focus to Retrieve"):
            x, y, w, h = auto.control_rect(IDC_LOG)
            self.xdotool("mousemove", screen_x + x + w // 2, screen_y + y + h // 2,
                         "click", "1")
            self.wait_for(auto.focus, IDC_RETRIEVE)

        with self.subTest("dragging the body moves the window"):
            _, _, left, top = auto.client_rect()
            self.xdotool("mousemove", screen_x + 8, screen_y + height // 2, "mousedown", "1")
            self.wait_for(auto.moving, True, message="the press started no drag")
            self.xdotool("mousemove", "--sync", screen_x + 8 + 60, screen_y + height // 2 + 40)
            self.wait_for(lambda: auto.client_rect()[2:], (left + 60, top + 40))
            self.xdotool("mouseup", "1")
            self.wait_for(auto.moving, False, message="the drag did not end with the release")
            self.assertEqual(auto.client_rect()[2:], (left + 60, top + 40))

        with self.subTest("Cancel ends the program"):
            auto.click(IDCANCEL)
            self.assertEqual(app.wait_exit(10), 0)
            self.assert_no_crash_text(app)


class WaysToClose(WindowTest):
    def test_close_message_ends_the_program(self):
        app = self.launch()
        self.auto.close("wm")
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)

    def test_close_from_the_system_menu_ends_the_program(self):
        app = self.launch()
        self.auto.close("sc")
        self.assertEqual(app.wait_exit(10), 0)
        self.assert_no_crash_text(app)


if __name__ == "__main__":
    unittest.main(verbosity=2)
