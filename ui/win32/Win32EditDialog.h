// The slot edit dialog on Windows: a sizable top-level window with a multi-line text box and the
// "Ｏ Ｋ" and "キャンセル" buttons, laid out from ui/layout/EditLayout.h. What its events do is
// decided by EditDialogHandlers (editing/EditDialogRules.h), reached through Win32EditDialogHost.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/AppContext.h"
#include "editing/EditDialogRules.h"
#include "ui/hosts/DialogHosts.h"

namespace varnel {

class Win32EditDialog {
  public:
    enum class Event { Ok, Cancel, CloseRequested };
    // Creates the window, not shown yet; `onEvent` receives its buttons and its close box.
    explicit Win32EditDialog(std::function<void(Event)> onEvent);
    ~Win32EditDialog();
    Win32EditDialog(const Win32EditDialog&) = delete;
    Win32EditDialog& operator=(const Win32EditDialog&) = delete;

    HWND window() const { return window_; }
    HWND textBox() const { return textBox_; }
    HWND okButton() const { return okButton_; }
    HWND cancelButton() const { return cancelButton_; }

    // The text box's text: exactly the text that was set (line ends as they came) until the user
    // edits it, then what the box shows (CR LF between lines). A text longer than the edit display
    // limit is shown in part, read-only, ending in "…"; text() still gives the whole text.
    std::u16string text() const;
    SharedText sharedText() const;
    void setText(SharedText text);
    bool showsPart() const { return showsPart_; }
    // The number of the slot being edited.
    std::int16_t editedSlot() const { return editedSlot_; }
    void setEditedSlot(std::int16_t slot) { editedSlot_ = slot; }

    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK textProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    std::u16string shownText() const;
    void applyDpi(int dpi);

    std::function<void(Event)> onEvent_;
    HWND window_ = nullptr;
    HWND textBox_ = nullptr;
    HWND okButton_ = nullptr;
    HWND cancelButton_ = nullptr;
    WNDPROC editProc_ = nullptr;
    HFONT textFont_ = nullptr;
    HFONT buttonFont_ = nullptr;
    int dpi_ = 96;
    SharedText exact_;
    bool showsPart_ = false;
    bool setting_ = false;
    bool edited_ = false;
    std::int16_t editedSlot_ = 0;
};

// Owns the edit dialog for the main window: creates it when a slot is double-clicked, forwards its
// buttons and close box to the handlers, and destroys it once it has closed.
class Win32EditDialogHost : public EditDialogHostBase<Win32EditDialog> {
  public:
    explicit Win32EditDialogHost(AppContext& ctx);
    ~Win32EditDialogHost() override;

    // Destroys the dialogs that have closed (posted to the main window after a close).
    void reap() { closed_.clear(); }

    // EditDialogView
    void load() override;
    void show() override;
    void activate() override;
    WindowHandle nativeHandle() override;
    void setCaption(const std::u16string& caption) override;
    void destroy() override;

  private:
    // Closed from inside one of their own handlers: hidden now, destroyed once the stack is clear.
    std::vector<std::unique_ptr<Win32EditDialog>> closed_;
};

}  // namespace varnel
