#pragma once

#include <QMenu>
#include <QRect>
#include <QWidget>

#include "editing/SlotMenu.h"

namespace varnel {

// Owns the slot menu "編集" and its twelve items. It is created on the first right-click
// and released when the main window unloads.
class SlotMenuWidget : public SlotMenu {
  public:
    SlotMenuWidget();
    SlotMenuCommand showMenuAt(ScreenPoint at) override;
    QMenu& menu() { return menu_; }
    // The slot the next menu belongs to, on the screen: the menu opens below it, or above it where
    // there is no room below, so that it never covers the text being worked on.
    void keepClearOf(const QRect& slot) { slot_ = slot; }

  private:
    QPoint placed(QPoint at) const;

    QMenu menu_;
    QRect slot_;
};

}  // namespace varnel
