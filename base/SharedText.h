// A whole text that several holders keep without copying it: the clipboard's copy of another
// application's text, LastClipboardText, the slot it was captured into and the edit dialog's copy of
// a slot can be one string, which matters when the text is tens or hundreds of megabytes. Immutable:
// assigning replaces the whole text.
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace varnel {

class SharedText {
  public:
    SharedText() = default;
    SharedText(std::u16string text)  // NOLINT: a text is a SharedText
        : text_(text.empty() ? nullptr : std::make_shared<const std::u16string>(std::move(text))) {}
    SharedText(const char16_t* text) : SharedText(std::u16string(text)) {}  // NOLINT
    explicit SharedText(std::shared_ptr<const std::u16string> text) : text_(std::move(text)) {}

    const std::u16string& str() const { return text_ ? *text_ : empty_(); }
    operator const std::u16string&() const { return str(); }  // NOLINT
    bool empty() const { return str().empty(); }
    std::size_t size() const { return str().size(); }

    friend bool operator==(const SharedText& a, const SharedText& b) {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, const std::u16string& b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, const char16_t* b) { return a.str() == b; }

  private:
    static const std::u16string& empty_() {
        static const std::u16string none;
        return none;
    }
    std::shared_ptr<const std::u16string> text_;
};

}  // namespace varnel
