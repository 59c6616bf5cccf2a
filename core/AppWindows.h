// The program's windows as the behaviour sees them. The Qt widgets implement these; tests fake them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/SharedText.h"
#include "base/Slots.h"
#include "platform/WindowSystem.h"

namespace varnel {

// The main window.
class MainWindowView : public Slots {
  public:
    // The window's handle (an HWND on Windows, an X window id on X11); creates the native window if needed.
    virtual WindowHandle nativeHandle() = 0;
    // Moves the window horizontally; twips, outer left edge on the screen.
    virtual void setLeft(double twips) = 0;
    // Shows the window (it stays where it is).
    virtual void show() = 0;

    // Outer size in twips, frame and caption included as the layout counts them.
    virtual double outerWidthTwips() const = 0;
    virtual double outerHeightTwips() const = 0;
    virtual void setOuterWidthTwips(double twips) = 0;
    virtual void setOuterHeightTwips(double twips) = 0;
    virtual bool isMinimized() const = 0;
    // Width of the slot slotEdit(index) in twips.
    virtual void setSlotWidth(std::int16_t index, double twips) = 0;
    // Tells the user that the keys of a delivery could not be sent, and why (UTF-8), without taking
    // the focus from the target window.
    virtual void reportKeyFailure(const std::string& why) = 0;
    // The same for a clipboard that could not be set or restored: a copy that did not happen, a paste
    // that was not made, or the text before a paste that could not be put back.
    virtual void reportClipboardFailure(const std::string& why) = 0;
    // Tells the user, in the same way, that a keystroke send was pasted instead because the target's
    // input method could not be switched off for the typing, and why.
    virtual void reportPastedInsteadOfTyped(const std::string& why) = 0;
    // One line for whoever watches the program's standard error: something that went otherwise than
    // planned but is no proof of a failure the user has to hear about (a paste whose target did not
    // fetch the text within the bound may still have been served by a clipboard manager's copy).
    virtual void writeDiagnostic(const std::string& line) {
        std::fprintf(stderr, "varnel: %s\n", line.c_str());
        std::fflush(stderr);
    }
};

// The secondary windows, for the main window's unload handler. Unloading a window that is not open
// does nothing; unloading an open dialog runs its own closing handling.
class SecondaryWindows {
  public:
    virtual ~SecondaryWindows() = default;
    virtual void unloadSlotMenu() = 0;
    virtual void unloadSettingsDialog() = 0;
    virtual void unloadEditDialog() = 0;
};

}  // namespace varnel
