#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

#include "core/Geometry.h"

namespace varnel {

// Converts layout twips to device-independent pixels at the primary screen's logical resolution.
class Twips {
  public:
    Twips() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        dpi_ = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
        if (dpi_ <= 0) {
            dpi_ = 96.0;
        }
    }
    explicit Twips(double dpi) : dpi_(dpi) {}

    int px(double twips) const { return TwipsToPixels(twips, dpi_); }
    double twips(double pixels) const { return PixelsToTwips(pixels, dpi_); }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(px(left), px(top), px(width), px(height));
    }
    double dpi() const { return dpi_; }

  private:
    double dpi_;
};

}  // namespace varnel
