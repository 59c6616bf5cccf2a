// Turning the bytes of a slot file into text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "base/Utf8.h"
#include "platform/Codepage.h"

namespace varnel {

// How a slot file's bytes are read. Code page 932 is what slot files have always been written in, so
// UTF-8 is chosen only where it is certain:
// - a file that starts with the UTF-8 byte order mark is UTF-8, even where a sequence is ill-formed
//   (that sequence becomes U+FFFD); the mark is not part of the text;
// - a file that is well-formed UTF-8 and holds at least one sequence of three or four bytes (as all
//   Japanese text does) is UTF-8;
// - anything else is code page 932: pure ASCII, and short runs of half-width katakana or other bytes
//   that happen to pair up into two-byte UTF-8 sequences.
enum class SlotFileEncoding { Utf8, Cp932 };

struct SlotFileFormat {
    SlotFileEncoding encoding;
    std::size_t textStart;  // 3 after a byte order mark, otherwise 0
};

SlotFileFormat DetectSlotFileFormat(std::string_view bytes);

// Decodes pieces of one slot file, each ending where a character ends (at a field's end, say).
class SlotTextDecoder {
  public:
    // Fails when the code page converter is unavailable for a code page 932 file.
    static Result<std::shared_ptr<SlotTextDecoder>> create(SlotFileEncoding encoding,
                                                           const Codepage& codepage);

    // Appends the text of the bytes to `out`.
    Status append(std::string_view bytes, std::u16string& out);
    // The UTF-16 units that append() adds for the bytes: exact for well-formed input, close otherwise.
    std::size_t units(std::string_view bytes) const;

  private:
    SlotTextDecoder(SlotFileEncoding encoding, std::unique_ptr<Cp932Decoder> cp932)
        : encoding_(encoding), cp932_(std::move(cp932)) {}
    SlotFileEncoding encoding_;
    std::unique_ptr<Cp932Decoder> cp932_;
    std::u16string scratch_;
};

}  // namespace varnel
