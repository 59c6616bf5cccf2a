// The system clipboard, text only. Text is UTF-16 as the window system hands it over.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Result.h"
#include "platform/SharedText.h"
#include "platform/WindowSystem.h"

namespace varnel {

class Clipboard {
  public:
    virtual ~Clipboard() = default;

    virtual Status clear() = 0;
    // True when the clipboard offers text; other formats (images, files) alone answer false.
    virtual Result<bool> hasText() = 0;
    virtual Result<std::u16string> getText() = 0;
    // getText without a copy where the backend keeps the text itself.
    virtual Result<SharedText> getSharedText() {
        const auto text = getText();
        return text ? Result<SharedText>::success(SharedText(text.value()))
                    : Result<SharedText>::failure(text.error());
    }
    // A number that changes whenever what hasText/getText answer may have changed, read before them.
    // 0 means the backend cannot tell; it never matches an earlier value.
    virtual std::uint64_t changeCount() = 0;
    // Puts the text on the clipboard as its only content; fails when ownership was not obtained.
    virtual Status setText(const std::u16string& text) = 0;

    // Called right before the paste key goes to `target`: from then on, a request for the text we own
    // counts as the paste only when it comes from the application that owns that window. Requests
    // from anyone else (clipboard managers read every new text at once) are served and count for
    // nothing.
    virtual Status expectPasteFrom(WindowHandle target) = 0;
    // Waits, handling events, until the application named by expectPasteFrom() has fetched the text
    // we own and gone quiet, so that the clipboard can be changed again without racing the paste.
    // Fails when no such request came within the bound.
    virtual Status waitForPasteRequest(std::chrono::milliseconds bound) = 0;
    // Waits, handling events, until the application that owns `target` has taken the clipboard since
    // our last clear() or setText() (after a copy key was sent to it) and its text has been read.
    // A new owner that is some other application (a clipboard manager putting back its last text)
    // does not count. Fails when nothing of the kind happened within the bound.
    virtual Status waitForForeignOwner(WindowHandle target, std::chrono::milliseconds bound) = 0;

    // Called, on any thread, each time another application has changed the clipboard and the change
    // has been taken in, so that hasText/getText answer for it. Null stops the calls; once this
    // returns, no call of the previous listener is running or will start.
    virtual void setChangeListener(std::function<void()> listener) { (void)listener; }

    // Offers the text on the primary selection too, for the duration of a paste (terminals paste the
    // primary selection on Shift+Insert), remembering what that selection held.
    virtual Status offerOnPrimary(const std::u16string& text) = 0;
    // Gives the primary selection back what it held before offerOnPrimary (or nothing).
    virtual Status restorePrimary() = 0;
};

}  // namespace varnel
