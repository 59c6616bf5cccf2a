#include "ui/edit/EditDialog.h"

#include <QCloseEvent>
#include <QTextDocument>

#include "ui/common/FocusFrame.h"
#include "ui/common/Text.h"
#include "ui/common/WindowIcon.h"
#include "ui/common/WindowRole.h"
#include "ui/layout/EditLayout.h"

namespace varnel {

namespace {

using namespace edit_layout;

QPushButton* MakeButton(const QString& caption, int left, const Twips& twips, QWidget* parent) {
    // Neither button is the default or the cancel button: Enter presses the one that has the focus,
    // Escape neither.
    auto* button = new FocusFramedButton(caption, parent);
    button->setGeometry(twips.rect(left, ButtonTop, ButtonWidth, ButtonHeight));
    return button;
}

}  // namespace

EditDialog::EditDialog() : QWidget(nullptr) {
    setObjectName(QStringLiteral("editDialog"));
    SetWindowRole(*this, QAccessible::Dialog);
    // Asked for before the native window exists, so the dialog is never shown below the topmost
    // layer; the topmost request after the first show (FillEditDialog) confirms it.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("テキストの編集"));
    setWindowIcon(NoWindowIcon());
    setAttribute(Qt::WA_QuitOnClose, false);
    // Client size only: where the dialog goes is left to the window manager.
    resize(twips_.px(ClientWidth), twips_.px(ClientHeight));

    textBox_ = new QPlainTextEdit(this);
    textBox_->setObjectName(QStringLiteral("textBox"));
    textBox_->setGeometry(twips_.rect(TextLeft, TextTop, TextWidth, TextHeight));
    textBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines run on under the horizontal scroll bar instead of wrapping.
    textBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
    textBox_->setTabChangesFocus(true);
    textBox_->setAccessibleName(QStringLiteral("テキスト"));
    textBox_->setAccessibleDescription(QStringLiteral("Ｏ Ｋ でスロットに保存されます"));

    okButton_ = MakeButton(QStringLiteral("Ｏ Ｋ"), OkLeft, twips_, this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    cancelButton_ = MakeButton(QStringLiteral("キャンセル"), CancelLeft, twips_, this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));

    setTabOrder(textBox_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    textBox_->setFocus();
}

QString EditDialog::shownText() const {
    // The raw text keeps no-break spaces, which toPlainText() would turn into plain spaces.
    QString shown = textBox_->document()->toRawText();
    for (QChar& c : shown) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            c = QLatin1Char('\n');
        }
    }
    return shown;
}

std::u16string EditDialog::text() const {
    const QString shown = shownText();
    return shown == shownExact_ ? exact_.str() : FromQString(shown);
}

SharedText EditDialog::sharedText() const {
    const QString shown = shownText();
    return shown == shownExact_ ? exact_ : SharedText(FromQString(shown));
}

void EditDialog::setText(SharedText text) {
    exact_ = std::move(text);
    const std::u16string_view part = PartShown(exact_.str(), DisplayLimit, DisplayLines);
    showsPart_ = part.size() < exact_.size();
    textBox_->setReadOnly(showsPart_);
    textBox_->setPlainText(ToQString(part) + (showsPart_ ? QStringLiteral("…") : QString()));
    shownExact_ = shownText();
}

void EditDialog::closeEvent(QCloseEvent* event) {
    // The host closes the dialog through the close handler and then destroys it.
    event->ignore();
    emit closeRequested();
}

}  // namespace varnel
