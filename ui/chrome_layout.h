// The arithmetic of the skinned window, kept apart from Win32 so it can be checked natively:
// where the clock goes, which part of the window stays visible, and which strip frame a
// picture button shows.
#pragma once

#include <ctime>
#include <string>

namespace chrome {

// left, top inclusive; right, bottom exclusive (the layout of a Win32 RECT).
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

struct Point {
    int x = 0;
    int y = 0;
};

// The client rectangle widened to the left by the dialog frame width, so that the
// background picture, moved to its left edge, hides the bitmap's first frameWidth columns.
Rect ShapedClientRect(const Rect& client, int frameWidth);

// The window region in window coordinates (origin at the outer top-left corner): the
// client area less its bottom row. captionHeight is the dialog frame height plus the title
// bar height.
Rect WindowRegionRect(const Rect& shapedClient, int frameWidth, int captionHeight);

// Top-left corner of the clock text of width textWidth: centred across the shaped client
// rectangle, a fifth of the way down (divisions truncate toward zero).
Point ClockOrigin(const Rect& shapedClient, int textWidth);

// The clock face text, "%H:%M:%S" of a local time: always eight characters.
std::string ClockText(const std::tm& localTime);

// The three frames of a button strip, left to right.
enum class StripFrame { Normal = 0, Pressed = 1, Hover = 2 };

// Pressed wins over hovering; the focus and disabled states are not drawn.
StripFrame ChooseFrame(bool pressed, bool hovering);
// Width of one frame of a strip: a third of its width, truncated (spare columns unused).
int FrameWidth(int stripWidth);
// Left edge of a frame within its strip.
int FrameSourceX(StripFrame frame, int frameWidth);

}  // namespace chrome
