#pragma once

#include <QFont>

namespace varnel {

// ＭＳ ゴシック where it is installed, else another fixed-pitch Japanese Gothic face.
QFont FixedGothicFont(double pointSize);
// ＭＳ Ｐゴシック where it is installed, else another proportional Japanese Gothic face.
QFont ProportionalGothicFont(double pointSize);

}  // namespace varnel
