#include "ui/settings/CaptionFrame.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace varnel {

namespace {

// The longest run of ideographic spaces: [start, end) in the text, or an empty run at its end.
std::pair<qsizetype, qsizetype> SpaceRun(const QString& text) {
    qsizetype best = text.size();
    qsizetype bestLength = 0;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] != QChar(0x3000)) {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < text.size() && text[j] == QChar(0x3000)) {
            ++j;
        }
        if (j - i > bestLength) {
            best = i;
            bestLength = j - i;
        }
        i = j;
    }
    return {best, best + bestLength};
}

}  // namespace

CaptionFrame::CaptionFrame(const QString& caption, int indent, QWidget* parent)
    : QGroupBox(caption, parent), indent_(indent) {}

int CaptionFrame::borderTop() const {
    return fontMetrics().height() / 2;
}

QRect CaptionFrame::captionRect() const {
    const QFontMetrics metrics = fontMetrics();
    const int pad = std::max(2, metrics.averageCharWidth() / 3);
    return QRect(indent_, 0, metrics.horizontalAdvance(title()) + 2 * pad, metrics.height());
}

QSize CaptionFrame::minimumSizeHint() const {
    const QRect caption = captionRect();
    return QSize(caption.right() + 1 + indent_, caption.height() + borderTop());
}

void CaptionFrame::paintEvent(QPaintEvent*) {
    // An etched line drawn here rather than by the style: some styles put the frame below the
    // caption line instead of through it.
    QPainter painter(this);
    qDrawShadeRect(&painter, rect().adjusted(0, borderTop(), 0, 0), palette(), true, 1, 0);

    // The caption breaks the border: its gap takes the colour of what lies behind the frame.
    const QRect caption = captionRect();
    const QWidget* behind = parentWidget() != nullptr ? parentWidget() : this;
    painter.fillRect(caption, behind->palette().brush(behind->backgroundRole()));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          title(), QPalette::WindowText);
}

GapLabel::GapLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void GapLabel::setGap(int left, int right, int spacing) {
    gapLeft_ = left;
    gapRight_ = right;
    spacing_ = spacing;
    updateGeometry();
    update();
}

QString GapLabel::head() const {
    return text().left(SpaceRun(text()).first);
}

QString GapLabel::tail() const {
    return text().mid(SpaceRun(text()).second);
}

int GapLabel::tailLeft() const {
    return std::max(contentsRect().left() + fontMetrics().horizontalAdvance(head()), gapRight_ + spacing_);
}

QSize GapLabel::sizeHint() const {
    const QSize whole = QLabel::sizeHint();
    const int margins = width() - contentsRect().width();
    return QSize(tailLeft() + fontMetrics().horizontalAdvance(tail()) + margins, whole.height());
}

void GapLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    const Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop;
    style()->drawItemText(&painter, area, align, palette(), isEnabled(), head(), foregroundRole());
    style()->drawItemText(&painter, area.adjusted(tailLeft() - area.left(), 0, 0, 0), align, palette(),
                          isEnabled(), tail(), foregroundRole());
}

}  // namespace varnel
