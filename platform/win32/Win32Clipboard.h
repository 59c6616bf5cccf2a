// The system clipboard on Windows, text only (CF_UNICODETEXT), owned through a message-only window
// of its own on the user-interface thread.
#pragma once

#include <memory>

#include "platform/Clipboard.h"
#include "platform/EventPump.h"

namespace varnel {

class Win32Clipboard : public Clipboard {
  public:
    // Creates the owner window on the calling thread, which must be the one `pump` pumps. When the
    // window cannot be created, every call fails with the reason.
    explicit Win32Clipboard(EventPump& pump);
    // Renders a text still offered for a paste, so that it stays on the clipboard after we are gone.
    ~Win32Clipboard() override;
    Win32Clipboard(const Win32Clipboard&) = delete;
    Win32Clipboard& operator=(const Win32Clipboard&) = delete;

    Status clear() override;
    Result<bool> hasText() override;
    Result<std::u16string> getText() override;
    std::uint64_t changeCount() override;
    Status setText(const std::u16string& text) override;

    // The text is offered by delayed rendering: the application that asks for it first is told by
    // WM_RENDERFORMAT, and it counts as the paste when the window that has the clipboard open then
    // belongs to the target's process.
    Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) override;
    Status waitUntilPasted(std::chrono::milliseconds bound) override;
    void endPaste() override;
    Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) override;
    void setChangeListener(std::function<void()> listener) override;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
