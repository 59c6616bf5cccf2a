// The system clipboard, text only. Text is UTF-16 as the window system hands it over.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Result.h"

namespace varnel {

class Clipboard {
  public:
    virtual ~Clipboard() = default;

    virtual Status clear() = 0;
    // True when the clipboard offers text; other formats (images, files) alone answer false.
    virtual Result<bool> hasText() = 0;
    virtual Result<std::u16string> getText() = 0;
    // A number that changes whenever what hasText/getText answer may have changed, read before them.
    // 0 means the backend cannot tell; it never matches an earlier value.
    virtual std::uint64_t changeCount() = 0;
    // Puts the text on the clipboard as its only content; fails when ownership was not obtained.
    virtual Status setText(const std::u16string& text) = 0;

    // Waits, handling events, until the application that just received the paste key has fetched
    // the text we own, so that the clipboard can be changed again without racing the paste.
    // Fails when no request came within the bound.
    virtual Status waitForPasteRequest(std::chrono::milliseconds bound) = 0;
    // Waits, handling events, until another application has taken the clipboard since our last
    // clear() or setText() (after a copy key was sent to it) and its text has been read. Fails when
    // nothing changed within the bound.
    virtual Status waitForForeignOwner(std::chrono::milliseconds bound) = 0;

    // Offers the text on the primary selection too, for the duration of a paste (terminals paste the
    // primary selection on Shift+Insert), remembering what that selection held.
    virtual Status offerOnPrimary(const std::u16string& text) = 0;
    // Gives the primary selection back what it held before offerOnPrimary (or nothing).
    virtual Status restorePrimary() = 0;
};

}  // namespace varnel
