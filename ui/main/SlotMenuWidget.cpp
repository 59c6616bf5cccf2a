#include "ui/main/SlotMenuWidget.h"

#include <QAction>
#include <QGuiApplication>
#include <QPoint>
#include <QScreen>
#include <algorithm>

namespace varnel {

SlotMenuWidget::SlotMenuWidget() {
    menu_.setObjectName(QStringLiteral("slotMenu"));
    menu_.setTitle(QString::fromUtf16(SlotMenuTitle));
    menu_.setAccessibleName(menu_.title());
    for (const SlotMenuItem& item : SlotMenuItems) {
        QAction* action = item.caption[0] == u'\0' ? menu_.addSeparator()
                                                   : menu_.addAction(QString::fromUtf16(item.caption));
        action->setData(static_cast<int>(item.command));
    }
}

QPoint SlotMenuWidget::placed(QPoint at) const {
    const QScreen* screen = QGuiApplication::screenAt(at);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!slot_.isValid() || screen == nullptr) {
        return at;
    }
    // One pixel apart from the slot, so that rounding to device pixels at fractional scales cannot
    // make them touch.
    const QRect area = screen->availableGeometry();
    const QSize size = menu_.sizeHint();
    const int below = std::max(at.y(), slot_.bottom() + 2);
    if (below + size.height() <= area.bottom() + 1) {
        return {at.x(), below};
    }
    const int above = std::min(at.y(), slot_.top() - 1) - size.height();
    if (above >= area.top()) {
        return {at.x(), above};
    }
    // Room on neither side (a short screen at a high scale): beside the slot, on its left where
    // there is room (the window stands at the right edge), as high as the screen needs.
    const int left = slot_.left() - 1 - size.width();
    const int x = left >= area.left() ? left : slot_.right() + 2;
    const int y = std::max(area.top(), std::min(at.y(), area.bottom() + 1 - size.height()));
    return {x, y};
}

SlotMenuCommand SlotMenuWidget::showMenuAt(ScreenPoint at) {
    // Qt keeps a popup on the screen: one that would fall partly off is moved back onto it.
    const QAction* chosen = menu_.exec(placed(QPoint(at.x, at.y)));
    slot_ = QRect();
    return chosen != nullptr ? static_cast<SlotMenuCommand>(chosen->data().toInt()) : NoCommand;
}

}  // namespace varnel
