#include "slotfile/SlotFieldReader.h"

#include <type_traits>

namespace varnel {

namespace {

template <class Char>
bool isBlank(Char c) {
    return c == Char(' ') || c == Char('\t');
}

template <class Char>
std::basic_string_view<Char> trimEnd(std::basic_string_view<Char> s) {
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) {
        --n;
    }
    return s.substr(0, n);
}

// Appends text to out with every line end (CR LF, lone CR, lone LF) written as CR LF.
template <class Char>
void appendWithCrLf(std::basic_string<Char>& out, std::basic_string_view<Char> text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Char c = text[i];
        if (c == Char('\r')) {
            out += Char('\r');
            out += Char('\n');
            if (i + 1 < text.size() && text[i + 1] == Char('\n')) {
                ++i;
            }
        } else if (c == Char('\n')) {
            out += Char('\r');
            out += Char('\n');
        } else {
            out += c;
        }
    }
}

// True when the text holds a CR or LF that is not part of a CR LF pair.
template <class Char>
bool hasLoneLineEnd(std::basic_string_view<Char> text) {
    constexpr Char lineEnds[] = {Char('\r'), Char('\n')};
    const std::basic_string_view<Char> ends(lineEnds, 2);
    for (std::size_t i = text.find_first_of(ends); i != std::basic_string_view<Char>::npos;
         i = text.find_first_of(ends, i + 2)) {
        if (text[i] == Char('\n') || i + 1 == text.size() || text[i + 1] != Char('\n')) {
            return true;
        }
    }
    return false;
}

}  // namespace

template <class Char>
std::size_t BasicSlotFieldReader<Char>::findDelimiter(std::size_t from) const {
    using Unsigned = std::make_unsigned_t<Char>;
    const std::size_t n = text_.size();
    const Char* const s = text_.data();
    while (from < n) {
        const auto c = static_cast<Unsigned>(s[from]);
        // Every delimiter lies below U+002D; one comparison settles almost every character.
        if (c <= Unsigned(',') && (c == Unsigned(',') || c == Unsigned('\r') || c == Unsigned('\n'))) {
            break;
        }
        ++from;
    }
    return from;
}

template <class Char>
std::size_t BasicSlotFieldReader<Char>::skipDelimiter(std::size_t at) const {
    if (at >= text_.size()) {
        return text_.size();
    }
    if (text_[at] == Char('\r') && at + 1 < text_.size() && text_[at + 1] == Char('\n')) {
        return at + 2;
    }
    return at + 1;
}

template <class Char>
typename BasicSlotFieldReader<Char>::View BasicSlotFieldReader<Char>::readField() {
    const std::size_t n = text_.size();
    std::size_t p = pos_;
    afterQuote_ = View::npos;
    while (p < n && isBlank(text_[p])) {
        ++p;
    }
    if (p >= n || text_[p] != Char('"')) {
        const std::size_t end = findDelimiter(p);
        pos_ = skipDelimiter(end);
        return trimEnd(text_.substr(p, end - p));
    }

    const std::size_t open = p + 1;
    const std::size_t close = text_.find(Char('"'), open);
    const View quoted = text_.substr(open, close == View::npos ? View::npos : close - open);
    View after;
    std::size_t end = n;
    if (close != View::npos) {
        end = findDelimiter(close + 1);
        after = trimEnd(text_.substr(close + 1, end - close - 1));
    }
    pos_ = skipDelimiter(end);
    if (after.empty() && !hasLoneLineEnd(quoted)) {
        return quoted;
    }
    scratch_.clear();
    appendWithCrLf(scratch_, quoted);
    afterQuote_ = scratch_.size();
    scratch_ += after;
    return scratch_;
}

template class BasicSlotFieldReader<char16_t>;
template class BasicSlotFieldReader<char>;

}  // namespace varnel
