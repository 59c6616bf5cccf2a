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
    const QRect area = screen->availableGeometry();
    const int height = menu_.sizeHint().height();
    const int below = std::max(at.y(), slot_.bottom() + 1);
    if (below + height <= area.bottom() + 1) {
        return {at.x(), below};
    }
    const int above = std::min(at.y(), slot_.top()) - height;
    if (above >= area.top()) {
        return {at.x(), above};
    }
    return at;  // room on neither side: Qt keeps the menu on the screen
}

std::int16_t SlotMenuWidget::TrackPopupMenu(ScreenPoint at) {
    // Qt keeps a popup on the screen: one that would fall partly off is moved back onto it.
    const QAction* chosen = menu_.exec(placed(QPoint(at.x, at.y)));
    slot_ = QRect();
    return chosen != nullptr ? static_cast<std::int16_t>(chosen->data().toInt()) : std::int16_t{NoCommand};
}

}  // namespace varnel
