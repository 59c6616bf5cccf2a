// The slot edit dialog: a sizable top-level window with a multi-line text box and the
// "Ｏ Ｋ" and "キャンセル" buttons. It builds the controls as laid out and reports its events; what
// they do is decided by EditDialogHandlers (editing/EditDialogRules.h), reached through EditDialogHost.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "core/AppWindows.h"
#include "ui/common/Twips.h"
#include "ui/layout/TextPart.h"

namespace varnel {

class EditDialog : public QWidget {
    Q_OBJECT
  public:
    // Always a top-level window without an owner; topmost from its creation.
    EditDialog();

    QPlainTextEdit* textBox() const { return textBox_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

    // The text box's text. Until the box shows something other than what was set, this is exactly
    // the text that was set, carriage returns and line feeds as they came; after an edit it is what
    // the box shows, with line feeds between lines.
    std::u16string text() const;
    // The same, shared: the very string setText() gave until the text is edited.
    SharedText sharedText() const;
    // A text longer than DisplayLimit or DisplayLines is shown in part, read-only, ending in "…", as
    // the slots show
    // theirs: laying out hundreds of megabytes would freeze the window for seconds and cost gigabytes.
    // text() still gives the whole text. The string is shared, not copied.
    void setText(SharedText text);

    // Texts longer than this (UTF-16 code units), or of more lines, are shown in part.
    static constexpr std::size_t DisplayLimit = EditDisplayLimit;
    static constexpr std::size_t DisplayLines = EditDisplayLines;
    bool showsPart() const { return showsPart_; }

    // The number of the slot being edited.
    std::int16_t editedSlot() const { return editedSlot_; }
    void setEditedSlot(std::int16_t slot) { editedSlot_ = slot; }

  signals:
    // The window system or the user asked the dialog to close (the close box, for one). The dialog
    // stays until its host destroys it.
    void closeRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QString shownText() const;

    Twips twips_;
    QPlainTextEdit* textBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    SharedText exact_;
    QString shownExact_;  // what the box showed right after exact_ was set
    bool showsPart_ = false;
    std::int16_t editedSlot_ = 0;
};

}  // namespace varnel
