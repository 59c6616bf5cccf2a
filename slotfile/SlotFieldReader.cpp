#include "slotfile/SlotFieldReader.h"

namespace varnel {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view trimEnd(std::u16string_view s) {
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) {
        --n;
    }
    return s.substr(0, n);
}

// Appends text to out with every line end (CR LF, lone CR, lone LF) written as CR LF.
void appendWithCrLf(std::u16string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            out += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else if (c == u'\n') {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
}

// True when the text holds a CR or LF that is not part of a CR LF pair.
bool hasLoneLineEnd(std::u16string_view text) {
    for (std::size_t i = text.find_first_of(u"\r\n"); i != std::u16string_view::npos;
         i = text.find_first_of(u"\r\n", i + 2)) {
        if (text[i] == u'\n' || i + 1 == text.size() || text[i + 1] != u'\n') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::size_t SlotFieldReader::findDelimiter(std::size_t from) const {
    const std::size_t n = text_.size();
    const char16_t* const s = text_.data();
    while (from < n) {
        const char16_t c = s[from];
        // Every delimiter lies below U+002D; one comparison settles almost every character.
        if (c <= u',' && (c == u',' || c == u'\r' || c == u'\n')) {
            break;
        }
        ++from;
    }
    return from;
}

std::size_t SlotFieldReader::skipDelimiter(std::size_t at) const {
    if (at >= text_.size()) {
        return text_.size();
    }
    if (text_[at] == u'\r' && at + 1 < text_.size() && text_[at + 1] == u'\n') {
        return at + 2;
    }
    return at + 1;
}

std::u16string_view SlotFieldReader::readField() {
    const std::size_t n = text_.size();
    std::size_t p = pos_;
    while (p < n && isBlank(text_[p])) {
        ++p;
    }
    if (p >= n || text_[p] != u'"') {
        const std::size_t end = findDelimiter(p);
        pos_ = skipDelimiter(end);
        return trimEnd(text_.substr(p, end - p));
    }

    const std::size_t open = p + 1;
    const std::size_t close = text_.find(u'"', open);
    const std::u16string_view quoted =
        text_.substr(open, close == std::u16string_view::npos ? std::u16string_view::npos : close - open);
    std::u16string_view after;
    std::size_t end = n;
    if (close != std::u16string_view::npos) {
        end = findDelimiter(close + 1);
        after = trimEnd(text_.substr(close + 1, end - close - 1));
    }
    pos_ = skipDelimiter(end);
    if (after.empty() && !hasLoneLineEnd(quoted)) {
        return quoted;
    }
    scratch_.clear();
    appendWithCrLf(scratch_, quoted);
    scratch_ += after;
    return scratch_;
}

}  // namespace varnel
