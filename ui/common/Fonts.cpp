#include "ui/common/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace varnel {

namespace {

QFont firstInstalled(const QStringList& families, double pointSize, bool fixedPitch) {
    const QStringList installed = QFontDatabase::families();
    QFont font;
    for (const QString& family : families) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            font = QFont(family);
            break;
        }
    }
    if (font.family().isEmpty() || !installed.contains(font.family(), Qt::CaseInsensitive)) {
        font = fixedPitch ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    }
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

QFont FixedGothicFont(double pointSize) {
    return firstInstalled(
        {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"),
         QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans Mono CJK JP")},
        pointSize, true);
}

QFont ProportionalGothicFont(double pointSize) {
    return firstInstalled(
        {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
         QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")},
        pointSize, false);
}

}  // namespace varnel
