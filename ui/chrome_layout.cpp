#include "ui/chrome_layout.h"

namespace chrome {

Rect ShapedClientRect(const Rect& client, int frameWidth) {
    Rect shaped = client;
    shaped.left -= frameWidth;
    return shaped;
}

Rect WindowRegionRect(const Rect& shapedClient, int frameWidth, int captionHeight) {
    return Rect{frameWidth, captionHeight, shapedClient.Width(),
                captionHeight + shapedClient.Height() - 1};
}

Point ClockOrigin(const Rect& shapedClient, int textWidth) {
    return Point{(shapedClient.Width() - textWidth) / 2 - 2, shapedClient.Height() / 5 - 2};
}

std::string ClockText(const std::tm& localTime) {
    char text[16] = {};
    const size_t length = std::strftime(text, sizeof text, "%H:%M:%S", &localTime);
    return std::string(text, length);
}

StripFrame ChooseFrame(bool pressed, bool hovering) {
    if (pressed) {
        return StripFrame::Pressed;
    }
    return hovering ? StripFrame::Hover : StripFrame::Normal;
}

int FrameWidth(int stripWidth) {
    return stripWidth / 3;
}

int FrameSourceX(StripFrame frame, int frameWidth) {
    return static_cast<int>(frame) * frameWidth;
}

}  // namespace chrome
