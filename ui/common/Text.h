#pragma once

#include <QString>
#include <algorithm>
#include <string>
#include <string_view>

#include "core/Utf16.h"

namespace varnel {

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

inline QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

inline std::u16string FromQString(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

}  // namespace varnel
