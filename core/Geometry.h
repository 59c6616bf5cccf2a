// Layout arithmetic shared by the windows. Layout values are twips (1/1440 inch).
#pragma once

#include <cmath>

namespace varnel {

// The frame the layout's outer window sizes include: 60 twips on each side, 405 twips of the height
// for frame and caption. Outer sizes become client sizes by subtracting it, so that every window
// manager shows the same rows.
constexpr int DesignFrameWidthTwips = 120;
constexpr int DesignFrameHeightTwips = 405;
constexpr int DesignFrameLeftTwips = 60;

constexpr int ClientWidthFromOuter(int outerTwips) {
    return outerTwips - DesignFrameWidthTwips;
}
constexpr int ClientHeightFromOuter(int outerTwips) {
    return outerTwips - DesignFrameHeightTwips;
}

// The layout's top edge for a window of the given outer height, moved up as far as needed for the
// whole window to fit between the screen's top and bottom (a small or highly scaled screen is shorter
// than the layout assumes), but never above the top.
constexpr int TopWithinScreen(int top, int outerHeight, int screenTop, int screenBottom) {
    const int lowest = screenBottom - outerHeight;
    const int clamped = top < lowest ? top : lowest;
    return clamped > screenTop ? clamped : screenTop;
}

// Twips to device-independent pixels at the given logical resolution (15 twips per pixel at 96 DPI).
inline int TwipsToPixels(double twips, double logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}
inline double PixelsToTwips(double pixels, double logicalDpi) {
    return pixels * 1440.0 / logicalDpi;
}

}  // namespace varnel
