#include "ui/main/SlotEdit.h"

#include <QMouseEvent>

#include "ui/common/Text.h"

namespace varnel {

SlotEdit::SlotEdit(int index, QWidget* parent) : QPlainTextEdit(parent), index_(index) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    document()->setDocumentMargin(1);
    // The slot menu replaces the box's own context menu.
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QPlainTextEdit::textChanged, this, &SlotEdit::onTextChanged);
}

void SlotEdit::setExactText(std::u16string text) {
    setSharedText(std::make_shared<const std::u16string>(std::move(text)));
}

void SlotEdit::setSharedText(SharedText text) {
    exact_ = text ? std::move(text) : std::make_shared<const std::u16string>();
    showsPart_ = exact_->size() > DisplayLimit;
    settingText_ = true;
    setReadOnly(showsPart_);
    setPlainText(ToQString(PartShown(*exact_, DisplayLimit)) +
                 (showsPart_ ? QStringLiteral("…") : QString()));
    settingText_ = false;
}

void SlotEdit::onTextChanged() {
    if (!settingText_) {
        exact_ = std::make_shared<const std::u16string>(FromQString(toPlainText()));
    }
}

void SlotEdit::mousePressEvent(QMouseEvent* event) {
    QPlainTextEdit::mousePressEvent(event);
    emit mousePressed(index_, event->button(), event->modifiers(), event->position().toPoint());
}

void SlotEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit doubleClicked(index_);
    }
}

}  // namespace varnel
