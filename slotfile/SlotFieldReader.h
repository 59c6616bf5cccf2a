// Delimited fields of a slot file's text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

// Splits text into fields, front to back, in one pass. It reads UTF-16 text, or the bytes of a file
// in UTF-8 or code page 932: every character it looks for is ASCII, and in both encodings these bytes
// only ever stand for themselves (code page 932 uses none of them as a trail byte).
// - A field ends at a comma or a line end (CR LF, a lone LF or a lone CR); the delimiter is consumed.
// - Spaces and tabs before a field are skipped; spaces and tabs at the end of an unquoted field are
//   removed.
// - A field whose first character is a double quote runs to the next double quote, commas and line
//   ends included; the quotes are removed, and each line end inside becomes CR LF. Without a closing
//   quote the field runs to the end of the text. Characters between the closing quote and the next
//   delimiter are kept, appended to the field, with trailing spaces and tabs removed.
// - A double quote anywhere but at the start of a field is an ordinary character.
// - An empty line, or nothing between two delimiters, is an empty field. A delimiter that is the last
//   character of the text starts no further field.
template <class Char>
class BasicSlotFieldReader {
  public:
    using View = std::basic_string_view<Char>;

    explicit BasicSlotFieldReader(View text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    // Where the next field starts; nothing before it is read again.
    std::size_t position() const { return pos_; }
    // The next field; empty at the end. The view stays valid until the next call; it lies within the
    // text unless the field had to be rewritten (a quoted field with lone line ends or text after the
    // closing quote).
    View readField();
    // Where, in a rewritten field just returned, the text after the closing quote begins; npos for
    // every other field. Bytes must be decoded on either side of it separately: the quote between
    // them was a character boundary.
    std::size_t afterQuote() const { return afterQuote_; }

  private:
    std::size_t findDelimiter(std::size_t from) const;
    std::size_t skipDelimiter(std::size_t at) const;

    View text_;
    std::size_t pos_ = 0;
    std::size_t afterQuote_ = View::npos;
    std::basic_string<Char> scratch_;  // only for quoted fields that need rewriting
};

using SlotFieldReader = BasicSlotFieldReader<char16_t>;
using SlotByteFieldReader = BasicSlotFieldReader<char>;

}  // namespace varnel
