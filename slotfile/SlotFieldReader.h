// Delimited fields of a slot file's text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

// Splits text into fields, front to back, in one pass:
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
class SlotFieldReader {
  public:
    explicit SlotFieldReader(std::u16string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    // The next field; empty at the end. The view stays valid until the next call.
    std::u16string_view readField();

  private:
    std::size_t findDelimiter(std::size_t from) const;
    std::size_t skipDelimiter(std::size_t at) const;

    std::u16string_view text_;
    std::size_t pos_ = 0;
    std::u16string scratch_;  // only for quoted fields that need rewriting
};

}  // namespace varnel
