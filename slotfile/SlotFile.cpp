#include "slotfile/SlotFile.h"

#include <algorithm>
#include <array>
#include <memory>

#include "base/Slots.h"
#include "slotfile/SlotFieldReader.h"
#include "slotfile/SlotFileDecoding.h"

namespace varnel {

namespace {

template <class Char>
Char asciiLower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + 0x20) : c;
}

// Compares with a lower-case ASCII word. Lower-casing maps no character outside ASCII onto the
// letters used here, so an ASCII comparison is exact.
template <class Char>
bool equalsLowerAscii(std::basic_string_view<Char> field, std::string_view lower) {
    if (field.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (asciiLower(field[i]) != static_cast<Char>(lower[i])) {
            return false;
        }
    }
    return true;
}

template <class Char>
bool isDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

template <class Char>
std::optional<std::int16_t> headerNumber(std::basic_string_view<Char> field) {
    // "[textNN]": the number is characters 6 and 7, counted from 1.
    if (field.size() != 8 || !equalsLowerAscii(field.substr(0, 5), "[text") || field[7] != Char(']') ||
        !isDigit(field[5]) || !isDigit(field[6])) {
        return std::nullopt;
    }
    const int number = (field[5] - Char('0')) * 10 + (field[6] - Char('0'));
    if (number < FirstSlot || number > LastSlot) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(number);
}

}  // namespace

std::optional<std::int16_t> SlotHeaderNumber(std::u16string_view field) {
    return headerNumber(field);
}
std::optional<std::int16_t> SlotHeaderNumber(std::string_view field) {
    return headerNumber(field);
}
bool IsSlotEndMarker(std::u16string_view field) {
    return equalsLowerAscii(field, "[end]");
}
bool IsSlotEndMarker(std::string_view field) {
    return equalsLowerAscii(field, "[end]");
}

namespace {

constexpr std::string_view CrLf = "\r\n";
// Bytes decoded at a time within one section, so that the bytes behind can be given back.
constexpr std::size_t PieceBytes = std::size_t{1} << 20;
constexpr std::size_t ReleaseStep = std::size_t{8} << 20;

// The slots' texts while a file loads. Measuring only counts the UTF-16 units each slot receives;
// appending decodes into texts reserved at that size.
class PendingSlotTexts {
  public:
    PendingSlotTexts(Slots& slots, SlotTextDecoder& decoder) : slots_(slots), decoder_(decoder) {}

    bool measuring() const { return measuring_; }

    Status append(std::int16_t slot, std::string_view bytes) {
        if (slot < FirstSlot || slot > LastSlot) {
            return Status::success();
        }
        Pending& p = pending_[static_cast<std::size_t>(slot - FirstSlot)];
        if (measuring_) {
            p.touched = true;
            p.added += decoder_.units(bytes);
            return Status::success();
        }
        if (!p.touched) {
            // Not seen while measuring: appended without a reservation.
            p.touched = true;
            p.text = slots_.text(slot);
        }
        return decoder_.append(bytes, p.text);
    }

    void startAppending() {
        measuring_ = false;
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            Pending& p = pending_[i];
            if (p.touched) {
                p.text = slots_.text(static_cast<std::int16_t>(FirstSlot + i));
                p.text.reserve(p.text.size() + p.added);
            }
        }
    }

    // Hands every slot that received a field its text; the others are left alone.
    void writeBack() {
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            Pending& p = pending_[i];
            if (p.touched) {
                slots_.setSharedText(static_cast<std::int16_t>(FirstSlot + i), SharedText(std::move(p.text)));
            }
            p = Pending{};
        }
    }

  private:
    struct Pending {
        bool touched = false;
        std::size_t added = 0;
        std::u16string text;
    };
    Slots& slots_;
    SlotTextDecoder& decoder_;
    bool measuring_ = true;
    std::array<Pending, 10> pending_;
};

// One pass over the bytes.
class SectionReader {
  public:
    // `bytes` is the text part of the file, which starts `start` bytes into it.
    SectionReader(std::string_view bytes, std::size_t start, PendingSlotTexts& texts,
                  const ReleaseBytes& release)
        : bytes_(bytes), start_(start), reader_(bytes), texts_(texts), release_(release) {}

    Status run() {
        while (!reader_.atEnd()) {
            if (const auto slot = SlotHeaderNumber(reader_.readField())) {
                if (Status done = readSection(*slot); !done) {
                    return done;
                }
            }
            releaseBehind(reader_.position());
        }
        return Status::success();
    }

  private:
    bool inBytes(std::string_view field) const {
        const std::less_equal<const char*> le;
        return le(bytes_.data(), field.data()) &&
               le(field.data() + field.size(), bytes_.data() + bytes_.size());
    }

    // Reads the fields after a header up to and including "[end]", or up to the end of the bytes. The
    // section's text is decoded in pieces: runs of fields that stand in the bytes exactly as they go
    // into the slot, CR LF between them, are decoded together. A header that was the last field leaves
    // nothing to read, and the slot stays as it was.
    Status readSection(std::int16_t slot) {
        const char* runBegin = nullptr;
        const char* runEnd = nullptr;
        const auto flush = [&]() -> Status {
            const std::string_view run(runBegin, static_cast<std::size_t>(runEnd - runBegin));
            runBegin = runEnd;
            return run.empty() ? Status::success() : texts_.append(slot, run);
        };
        bool first = true;
        while (!reader_.atEnd()) {
            const std::string_view field = reader_.readField();
            if (IsSlotEndMarker(field)) {
                break;
            }
            const std::string_view separator = first ? std::string_view{} : CrLf;
            first = false;
            const bool continues = runBegin != nullptr && inBytes(field) &&
                                   field.data() == runEnd + separator.size() &&
                                   std::string_view(runEnd, separator.size()) == separator;
            if (continues) {
                runEnd = field.data() + field.size();
            } else {
                if (Status done = flush(); !done) {
                    return done;
                }
                if (Status done = texts_.append(slot, separator); !done) {
                    return done;
                }
                if (inBytes(field)) {
                    runBegin = field.data();
                    runEnd = field.data() + field.size();
                } else {
                    // A rewritten quoted field lives in the reader's scratch text until the next read.
                    runBegin = runEnd = nullptr;
                    const std::size_t split = std::min(reader_.afterQuote(), field.size());
                    if (Status done = texts_.append(slot, field.substr(0, split)); !done) {
                        return done;
                    }
                    if (Status done = texts_.append(slot, field.substr(split)); !done) {
                        return done;
                    }
                }
            }
            if (runBegin != nullptr && static_cast<std::size_t>(runEnd - runBegin) >= PieceBytes) {
                if (Status done = flush(); !done) {
                    return done;
                }
            }
            releaseBehind(runBegin != nullptr ? static_cast<std::size_t>(runBegin - bytes_.data())
                                              : reader_.position());
        }
        return runBegin == nullptr ? Status::success() : flush();
    }

    void releaseBehind(std::size_t offset) {
        if (release_ && !texts_.measuring() && offset >= released_ + ReleaseStep) {
            release_(start_ + offset);
            released_ = offset;
        }
    }

    std::string_view bytes_;
    std::size_t start_;
    SlotByteFieldReader reader_;
    PendingSlotTexts& texts_;
    const ReleaseBytes& release_;
    std::size_t released_ = 0;
};

}  // namespace

Status LoadSlotBytes(std::string_view bytes, const Codepage& codepage, Slots& slots,
                     const ReleaseBytes& release) {
    const SlotFileFormat format = DetectSlotFileFormat(bytes);
    const auto decoder = SlotTextDecoder::create(format.encoding, codepage);
    if (!decoder) {
        return Status::failure(decoder.error());
    }
    const std::string_view text = bytes.substr(format.textStart);
    PendingSlotTexts texts(slots, *decoder.value());
    if (Status done = SectionReader(text, format.textStart, texts, release).run(); !done) {
        return done;
    }
    texts.startAppending();
    if (Status done = SectionReader(text, format.textStart, texts, release).run(); !done) {
        return done;
    }
    if (release) {
        release(bytes.size());
    }
    texts.writeBack();
    return Status::success();
}

Status LoadSlotFile(const std::string& path, const Files& files, const Codepage& codepage, Slots& slots) {
    const auto content = files.readContent(path);
    if (!content) {
        return Status::failure(content.error());
    }
    FileContent& file = *content.value();
    return LoadSlotBytes(file.bytes(), codepage, slots,
                         [&file](std::size_t offset) { file.releaseBefore(offset); });
}

}  // namespace varnel
