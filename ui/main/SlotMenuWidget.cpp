#include "ui/main/SlotMenuWidget.h"

#include <QAction>
#include <QPoint>

namespace varnel {

SlotMenuWidget::SlotMenuWidget() {
    menu_.setObjectName(QStringLiteral("slotMenu"));
    menu_.setTitle(QString::fromUtf16(SlotMenuTitle));
    for (const SlotMenuItem& item : SlotMenuItems) {
        QAction* action = item.caption[0] == u'\0' ? menu_.addSeparator()
                                                   : menu_.addAction(QString::fromUtf16(item.caption));
        action->setData(static_cast<int>(item.command));
    }
}

std::int16_t SlotMenuWidget::TrackPopupMenu(ScreenPoint at) {
    // Qt keeps a popup on the screen: one that would fall partly off is moved back onto it.
    const QAction* chosen = menu_.exec(QPoint(at.x, at.y));
    return chosen != nullptr ? static_cast<std::int16_t>(chosen->data().toInt()) : std::int16_t{NoCommand};
}

}  // namespace varnel
