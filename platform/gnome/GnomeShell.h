// Varnel on GNOME Wayland, through the extension Varnel ships for GNOME Shell: the shell offers the
// clipboard's text, the window the user last worked in, its activation, text committed through the
// shell's input method and the paste and copy keys on the session bus, to programs of the user only.
//
// Every call is a session-bus call on the calling thread, bounded; the clipboard's change signal
// arrives through the Qt event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Clipboard.h"
#include "platform/EventPump.h"
#include "platform/InputMethodControl.h"
#include "platform/Keyboard.h"
#include "platform/WindowSystem.h"

namespace varnel::gnome {

inline constexpr const char* ServiceName = "org.example.varnel.Shell";

// A GNOME Wayland session: the desktop says GNOME and a Wayland display is set.
bool IsGnomeWaylandSession();

// Whether the extension's service answers on the session bus now; may run before the Qt application
// exists. False, with the reason in *why, when it does not.
bool ShellServiceRuns(std::string* why);

// What the user is told when Varnel runs on XWayland in a GNOME session for want of the extension.
std::string MissingServiceNotice(const std::string& why);

class ShellService;

class GnomeWindowSystem : public WindowSystem {
  public:
    // ownActiveWindow: the toolkit's handle of our active window (0 when none); screen: the
    // toolkit's stand-in, which answers for our own windows and the screen metrics.
    GnomeWindowSystem(std::shared_ptr<ShellService> shell, std::function<WindowHandle()> ownActiveWindow,
                      WindowSystem& screen);
    ~GnomeWindowSystem() override;

    Result<WindowHandle> foregroundWindow() override;
    Status makeForeground(WindowHandle window) override;
    bool windowExists(WindowHandle window) override;
    bool isOwnWindow(WindowHandle window) override;
    Status setZOrder(WindowHandle window, ZOrderMode mode) override;
    Result<MonitorArea> primaryMonitorArea() override;
    Result<TwipsPerPixel> twipsPerPixel() override;

    // The title of the last window the shell reported, for diagnostics and tests.
    std::string lastTitle() const { return lastTitle_; }

  private:
    std::shared_ptr<ShellService> shell_;
    std::function<WindowHandle()> ownActiveWindow_;
    WindowSystem& screen_;
    WindowHandle lastOwn_ = 0;
    std::string lastTitle_;
};

class GnomeClipboard : public Clipboard {
  public:
    GnomeClipboard(std::shared_ptr<ShellService> shell, EventPump& pump);
    ~GnomeClipboard() override;

    Status clear() override;
    Result<bool> hasText() override;
    Result<std::u16string> getText() override;
    std::uint64_t changeCount() override;
    Status setText(const std::u16string& text) override;
    Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) override;
    // The shell does not tell who reads the clipboard: the target is given a fixed time to read it.
    Status waitUntilPasted(std::chrono::milliseconds bound) override;
    void endPaste() override {}
    // Any other program's new text counts as the target's copy.
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) override;
    void setChangeListener(std::function<void()> listener) override;

  private:
    Status read();

    std::shared_ptr<ShellService> shell_;
    EventPump& pump_;
    std::uint64_t ownSerial_ = 0;  // the shell's clipboard serial right after our last change
    bool cached_ = false;          // hasText_/text_ answer for cachedSerial_
    std::uint64_t cachedSerial_ = 0;
    bool hasText_ = false;
    std::u16string text_;
};

// Text goes in through the shell's input method, committed as it is: every character arrives
// exactly, whatever the keyboard layout. The chords go through a virtual keyboard of the shell.
class GnomeKeyboard : public Keyboard {
  public:
    explicit GnomeKeyboard(std::shared_ptr<ShellService> shell);
    ~GnomeKeyboard() override;

    Status pressPasteKey() override;
    Status pressCopyKey() override;
    using Keyboard::typeText;
    Status typeText(const std::u16string& text, const BetweenSlices& betweenSlices) override;
    Status waitUntilSent() override { return Status::success(); }

  private:
    std::shared_ptr<ShellService> shell_;
};

// Committed text bypasses whatever input method is on, so there is nothing to switch off. What is
// asked instead is whether the focused window takes committed text at all (an X11 window does not, nor
// a Wayland one without text input v3, as Qt's before 6.7):
// where it does not, suspend() fails, and the text is pasted instead.
class GnomeInputMethod : public InputMethodControl {
  public:
    explicit GnomeInputMethod(std::shared_ptr<ShellService> shell);
    ~GnomeInputMethod() override;

    Result<bool> suspend() override;
    Status restore() override { return Status::success(); }

  private:
    std::shared_ptr<ShellService> shell_;
};

// The pieces of a text that are committed one by one: line breaks as line feeds (a carriage
// return, alone or before a line feed, is one line break), no NUL characters (a bus string cannot
// hold one), at most maxUnits UTF-16 units each, never splitting a surrogate pair.
std::vector<std::u16string> CommitSlices(const std::u16string& text, std::size_t maxUnits);

struct Backends {
    std::unique_ptr<WindowSystem> windows;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<Keyboard> keyboard;
    std::unique_ptr<InputMethodControl> inputMethod;
};

// The backends on the extension's service; empty pointers, with the reason in *why, when the
// service does not answer. Needs the Qt application.
Backends OpenBackends(EventPump& pump, std::function<WindowHandle()> ownActiveWindow, WindowSystem& screen,
                      std::string* why);

}  // namespace varnel::gnome
