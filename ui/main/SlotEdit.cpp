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
    exact_ = std::move(text);
    showsPart_ = exact_.size() > DisplayLimit;
    std::u16string_view shown(exact_);
    if (showsPart_) {
        std::size_t cut = DisplayLimit;
        if (shown[cut - 1] >= 0xD800 && shown[cut - 1] <= 0xDBFF) {
            --cut;  // never split a surrogate pair
        }
        shown = shown.substr(0, cut);
    }
    settingText_ = true;
    setReadOnly(showsPart_);
    setPlainText(ToQString(std::u16string(shown)) + (showsPart_ ? QStringLiteral("…") : QString()));
    settingText_ = false;
}

void SlotEdit::onTextChanged() {
    if (!settingText_) {
        exact_ = FromQString(toPlainText());
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
