// The part of a long text that a box shows; shared by the Qt and the Win32 front ends.
#pragma once

#include <algorithm>
#include <string_view>

#include "base/Utf16.h"

namespace varnel {

// How much of a text the boxes show before they show it in part (UTF-16 code units, lines): a slot,
// and the edit dialog.
constexpr std::size_t SlotDisplayLimit = 4096;
constexpr std::size_t EditDisplayLimit = 262144;
constexpr std::size_t EditDisplayLines = 16384;

// The beginning of a text that is shown in part: at most `limit` units and `maxLines` lines (CR LF,
// a lone CR or a lone LF ends a line), never half a surrogate pair. The whole text when it fits.
inline std::u16string_view PartShown(std::u16string_view text, std::size_t limit,
                                     std::size_t maxLines = std::u16string_view::npos) {
    std::size_t cut = std::min(text.size(), limit);
    std::size_t lines = 1;
    for (std::size_t i = 0; i < cut; ++i) {
        if (text[i] == u'\n' || (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'))) {
            if (++lines > maxLines) {
                cut = text[i] == u'\n' && i > 0 && text[i - 1] == u'\r' ? i - 1 : i;
                break;
            }
        }
    }
    if (cut < text.size() && cut > 0 && IsHighSurrogate(text[cut - 1])) {
        --cut;
    }
    return text.substr(0, cut);
}

}  // namespace varnel
