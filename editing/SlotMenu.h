// The slot context menu: where it opens, and what each of its commands does to the slot.
#pragma once

#include <cstdint>
#include <string>

#include "core/AppContext.h"
#include "platform/WindowSystem.h"

namespace varnel {

// The command identifiers of the menu's items, in item order; 0 means nothing was chosen.
enum SlotMenuCommand : int {
    NoCommand = 0,
    MenuNarrow = 2,
    MenuWide = 3,
    MenuHiragana = 4,
    MenuKatakana = 5,
    MenuUpperCase = 6,
    MenuLowerCase = 7,
    MenuSeparator1 = 8,
    MenuTabToComma = 9,
    MenuCommaToTab = 10,
    MenuSeparator2 = 11,
    MenuTrimSpaces = 12,
    MenuClear = 13,
};

// The menu's items in order: caption and command; an empty caption is a separator line.
struct SlotMenuItem {
    const char16_t* caption;
    SlotMenuCommand command;
};
extern const SlotMenuItem SlotMenuItems[12];
extern const char16_t SlotMenuTitle[];

// What the menu needs to know about where the press happened, all in twips: the main window's outer
// top-left corner on the screen, and the slot's place and height in the window's client area.
struct SlotMenuAnchor {
    double formLeft = 0;
    double formTop = 0;
    double slotLeft = 0;
    double slotTop = 0;
    double slotHeight = 0;
};

struct ScreenPoint {
    std::int16_t x = 0;
    std::int16_t y = 0;
};

// The menu's top-left corner in screen pixels for a press at (x, y) twips inside the slot: the sums
// in floating point, rounded to whole twips (ties to even), divided by the rounded twips per pixel
// with truncation toward zero. The window's frame and caption are not added, so the menu opens a
// little left of and below the pointer.
ScreenPoint SlotMenuPosition(const SlotMenuAnchor& anchor, double x, double y, TwipsPerPixel twips);

// Shows the menu with its top-left corner at a screen pixel and returns the chosen command, or
// NoCommand when the menu was dismissed or could not be shown.
class SlotMenu {
  public:
    virtual ~SlotMenu() = default;
    virtual SlotMenuCommand showMenuAt(ScreenPoint at) = 0;
};

// Applies a menu command to the slot: the slot's text is read, converted and written back in one
// assignment. Separators, NoCommand and unknown commands change nothing.
void ApplySlotMenuCommand(Slots& slots, std::int16_t index, SlotMenuCommand command);

enum class MouseButton { Left, Right, Middle };

// A mouse press on a slot at (x, y) twips inside it. Only a press with the right button opens the menu.
void OnSlotMouseDown(AppContext& ctx, SlotMenu& menu, const SlotMenuAnchor& anchor, std::int16_t index,
                     MouseButton button, double x, double y);

}  // namespace varnel
