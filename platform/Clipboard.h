// The system clipboard, text only. Text is UTF-16 as the window system hands it over.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "base/Result.h"
#include "base/SharedText.h"
#include "platform/WindowSystem.h"

namespace varnel {

// What a paste delivers, for backends that offer a text in more than one place.
enum class PasteKind {
    SlotText,              // a slot's text, pasted where the target's cursor is
    SelectionReplacement,  // the converted text of the target's own selection, pasted over it
};

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

    // Puts the text on the clipboard as its only content, for a paste into `target` by the paste key
    // the caller sends next. From then on, a request for the text counts as the paste only when it
    // comes from the application that owns that window; requests from anyone else (clipboard managers
    // read every new text at once) are served and count for nothing. A backend may also offer the text
    // wherever else the target's paste key reads from (X11 terminals paste the primary selection),
    // until endPaste(). Fails, with nothing to paste, when the clipboard could not be taken.
    virtual Status offerForPaste(const std::u16string& text, WindowHandle target, PasteKind kind) = 0;
    // Waits, handling events, until the target named by offerForPaste() has taken the text and gone
    // quiet, so that the clipboard can be changed again without racing the paste. Fails when the
    // target did not ask for it within the bound.
    virtual Status waitUntilPasted(std::chrono::milliseconds bound) = 0;
    // Ends a paste: takes back whatever offerForPaste() offered besides the clipboard. The clipboard
    // itself keeps the text until the caller changes it.
    virtual void endPaste() = 0;
    // Waits, handling events, until the application that owns `target` has taken the clipboard since
    // our last clear() or setText() (after a copy key was sent to it) and its text has been read.
    // A new owner that is some other application (a clipboard manager putting back its last text)
    // does not count. Fails when nothing of the kind happened within the bound.
    virtual Status waitForCopyFrom(WindowHandle target, std::chrono::milliseconds bound) = 0;

    // Called, on any thread, each time another application has changed the clipboard and the change
    // has been taken in, so that hasText/getText answer for it. Null stops the calls; once this
    // returns, no call of the previous listener is running or will start.
    virtual void setChangeListener(std::function<void()> listener) { (void)listener; }

    // Called once as the program ends: makes the text the clipboard holds from us outlive the program,
    // where the window system needs that done (an X11 clipboard manager keeps it), waiting a second at
    // most. Fails when a text of ours would be lost all the same. Where the clipboard keeps its
    // contents by itself, or nothing can keep them, there is nothing to do.
    virtual Status handOverAtExit() { return Status::success(); }
};

}  // namespace varnel
