#include "ui/main/SlotEdit.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/common/FocusFrame.h"
#include "ui/common/Text.h"

namespace varnel {

SlotEdit::SlotEdit(int index, QWidget* parent) : QPlainTextEdit(parent), index_(index) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    // The text starts TextInset inside the frame. The inset belongs to the box, not to the text
    // area, so that the focus frame can be drawn there without covering any text.
    document()->setDocumentMargin(0);
    // The slot menu replaces the box's own context menu.
    setContextMenuPolicy(Qt::NoContextMenu);
    // The box paints its background, the strip under the last whole line included; the text area
    // paints none of its own, which at fractional scales would cover part of the frame's line.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    setAccessibleName(QStringLiteral("スロット %1").arg(index));
    setAccessibleDescription(
        QStringLiteral("右クリック、メニューキーまたは Shift+F10 で編集メニュー、ダブルクリックまたは F2 "
                       "で編集ウィンドウを開きます"));
    connect(this, &QPlainTextEdit::textChanged, this, &SlotEdit::onTextChanged);
    showWholeLines();
}

void SlotEdit::showWholeLines() {
    const qreal line = QFontMetricsF(font()).lineSpacing();
    const int area = contentsRect().height();
    const int lines = line > 0 ? static_cast<int>((area - TextInset) / line) : 0;
    const int shown = lines > 0 ? static_cast<int>(std::ceil(TextInset + lines * line)) : area;
    setViewportMargins(TextInset, TextInset, TextInset, std::max(0, area - shown));
}

void SlotEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    showWholeLines();
}

void SlotEdit::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        showWholeLines();
    }
}

bool SlotEdit::event(QEvent* event) {
    const bool handled = QPlainTextEdit::event(event);
    if (event->type() == QEvent::Paint && hasFocus()) {
        // The box's own paint (the text area paints itself): the frame line and the inset.
        QPainter painter(this);
        DrawFocusFrame(painter, rect(), palette().color(QPalette::Highlight));
    }
    return handled;
}

void SlotEdit::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    update();
}

void SlotEdit::focusOutEvent(QFocusEvent* event) {
    QPlainTextEdit::focusOutEvent(event);
    update();
}

void SlotEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        event->accept();
        emit editRequested(index_);
        return;
    }
    const bool menuKey = event->key() == Qt::Key_Menu ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        event->accept();
        emit menuKeyPressed(index_, viewport()->mapTo(this, cursorRect().bottomLeft()));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void SlotEdit::setExactText(SharedText text) {
    exact_ = std::move(text);
    showsPart_ = exact_.size() > DisplayLimit;
    settingText_ = true;
    setReadOnly(showsPart_);
    setPlainText(ToQString(PartShown(exact_.str(), DisplayLimit)) +
                 (showsPart_ ? QStringLiteral("…") : QString()));
    settingText_ = false;
}

void SlotEdit::onTextChanged() {
    if (!settingText_) {
        exact_ = SharedText(FromQString(toPlainText()));
    }
}

void SlotEdit::mousePressEvent(QMouseEvent* event) {
    QPlainTextEdit::mousePressEvent(event);
    emit mousePressed(index_, event->button(), event->position().toPoint());
}

void SlotEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit editRequested(index_);
    }
}

}  // namespace varnel
