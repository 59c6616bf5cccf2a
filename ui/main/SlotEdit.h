#pragma once

#include <QPlainTextEdit>
#include <string>

#include "base/SharedText.h"
#include "ui/layout/TextPart.h"

namespace varnel {

// One slot: a multi-line plain-text box without scroll bars. It keeps the slot's text exactly as it
// was set (carriage returns and line feeds as they came) until the user edits it; after an edit the
// text is what the box shows, with line feeds between lines.
//
// While the box has the keyboard focus, a focus frame covers its frame line and the inset inside it.
//
// The box shows whole lines only: the text area ends below the last line that fits entirely (the
// strip under it keeps the box's background), and moving the cursor scrolls by lines.
//
// A box shows one or two lines, so a very large text (a captured log file, say) is shown only in
// part: laying out megabytes would stall the window and cost hundreds of megabytes. The slot still
// holds the whole text, and the box is read-only while it shows a part, so that an edit can never
// cut the text short.
class SlotEdit : public QPlainTextEdit {
    Q_OBJECT
  public:
    SlotEdit(int index, QWidget* parent);

    // Texts longer than this (UTF-16 code units) are shown in part.
    static constexpr std::size_t DisplayLimit = SlotDisplayLimit;

    int index() const { return index_; }
    bool showsPart() const { return showsPart_; }
    const std::u16string& exactText() const { return exact_.str(); }
    // The text itself, shared with whoever holds it too (the edit dialog).
    const SharedText& sharedText() const { return exact_; }
    void setExactText(SharedText text);

  signals:
    // The button that went down, and where.
    void mousePressed(int index, Qt::MouseButton button, QPoint position);
    // A double-click or F2: the slot is to be opened in the edit dialog.
    void editRequested(int index);
    // The menu key or Shift+F10: the slot menu is asked for at a position in the box (the text
    // cursor's lower left corner).
    void menuKeyPressed(int index, QPoint position);

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void onTextChanged();
    // Ends the text area below the last line that fits whole, so that no line shows cut in half.
    void showWholeLines();

    // Device-independent pixels between the frame line and the text, on every side but the bottom.
    static constexpr int TextInset = 1;

    int index_;
    SharedText exact_;
    bool settingText_ = false;
    bool showsPart_ = false;
};

}  // namespace varnel
