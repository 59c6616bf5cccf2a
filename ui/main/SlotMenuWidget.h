#pragma once

#include <QMenu>
#include <QWidget>

#include "editing/SlotMenu.h"

namespace varnel {

// Owns the slot menu "編集" and its twelve items. It is created on the first right-click
// and released when the main window unloads.
class SlotMenuWidget : public SlotMenu {
  public:
    SlotMenuWidget();
    std::int16_t TrackPopupMenu(ScreenPoint at) override;
    QMenu& menu() { return menu_; }

  private:
    QMenu menu_;
};

}  // namespace varnel
