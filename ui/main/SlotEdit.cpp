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

void SlotEdit::setExactText(const std::u16string& text) {
    exact_ = text;
    settingText_ = true;
    setPlainText(ToQString(text));
    settingText_ = false;
}

void SlotEdit::onTextChanged() {
    if (!settingText_) {
        exact_ = FromQString(toPlainText());
    }
}

void SlotEdit::mousePressEvent(QMouseEvent* event) {
    QPlainTextEdit::mousePressEvent(event);
    emit mousePressed(index_, event->buttons() | event->button(), event->modifiers(), event->pos());
}

void SlotEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit doubleClicked(index_);
    }
}

}  // namespace varnel
