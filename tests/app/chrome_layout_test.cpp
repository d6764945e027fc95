#include "ui/chrome_layout.h"

#include <gtest/gtest.h>

namespace {

using chrome::Rect;
using chrome::StripFrame;

TEST(ChromeLayout, ShapedClientReachesLeftOverTheFrame) {
    const Rect shaped = chrome::ShapedClientRect(Rect{0, 0, 268, 297}, 3);
    EXPECT_EQ(shaped.left, -3);
    EXPECT_EQ(shaped.top, 0);
    EXPECT_EQ(shaped.right, 268);
    EXPECT_EQ(shaped.bottom, 297);
}

TEST(ChromeLayout, RegionIsTheClientAreaLessItsBottomRow) {
    // Frame 3, caption 3 + 19: the client area starts at (3, 22) in window coordinates.
    const Rect shaped = chrome::ShapedClientRect(Rect{0, 0, 268, 297}, 3);
    const Rect region = chrome::WindowRegionRect(shaped, 3, 22);
    EXPECT_EQ(region.left, 3);
    EXPECT_EQ(region.top, 22);
    EXPECT_EQ(region.right, 271);
    EXPECT_EQ(region.bottom, 22 + 296);
    EXPECT_EQ(region.Width(), 268);
    EXPECT_EQ(region.Height(), 296);
}

TEST(ChromeLayout, ClockIsCentredAFifthOfTheWayDown) {
    const Rect shaped = chrome::ShapedClientRect(Rect{0, 0, 268, 297}, 3);
    const chrome::Point origin = chrome::ClockOrigin(shaped, 70);
    EXPECT_EQ(origin.x, 98);
    EXPECT_EQ(origin.y, 57);
}

TEST(ChromeLayout, ClockDivisionsTruncateTowardZero) {
    // (10 - 15) / 2 is -2, not -3; 4 / 5 is 0.
    const chrome::Point origin = chrome::ClockOrigin(Rect{0, 0, 10, 4}, 15);
    EXPECT_EQ(origin.x, -4);
    EXPECT_EQ(origin.y, -2);
}

TEST(ChromeLayout, ClockTextIsTwentyFourHourWithSeconds) {
    std::tm time{};
    time.tm_hour = 0;
    time.tm_min = 0;
    time.tm_sec = 5;
    EXPECT_EQ(chrome::ClockText(time), "00:00:05");
    time.tm_hour = 14;
    time.tm_min = 30;
    time.tm_sec = 0;
    EXPECT_EQ(chrome::ClockText(time), "14:30:00");
}

TEST(ChromeLayout, PressedFrameWinsOverHover) {
    EXPECT_EQ(chrome::ChooseFrame(false, false), StripFrame::Normal);
    EXPECT_EQ(chrome::ChooseFrame(false, true), StripFrame::Hover);
    EXPECT_EQ(chrome::ChooseFrame(true, false), StripFrame::Pressed);
    EXPECT_EQ(chrome::ChooseFrame(true, true), StripFrame::Pressed);
}

TEST(ChromeLayout, FramesAreAThirdOfTheStrip) {
    EXPECT_EQ(chrome::FrameWidth(120), 40);
    EXPECT_EQ(chrome::FrameWidth(121), 40);
    EXPECT_EQ(chrome::FrameWidth(122), 40);
    EXPECT_EQ(chrome::FrameSourceX(StripFrame::Normal, 40), 0);
    EXPECT_EQ(chrome::FrameSourceX(StripFrame::Pressed, 40), 40);
    EXPECT_EQ(chrome::FrameSourceX(StripFrame::Hover, 40), 80);
}

}  // namespace
