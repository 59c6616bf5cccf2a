#pragma once

#include <QPlainTextEdit>
#include <string>

namespace varnel {

// One slot: a multi-line plain-text box without scroll bars. It keeps the slot's text exactly as it
// was set (carriage returns and line feeds as they came) until the user edits it; after an edit the
// text is what the box shows, with line feeds between lines.
class SlotEdit : public QPlainTextEdit {
    Q_OBJECT
  public:
    SlotEdit(int index, QWidget* parent);

    int index() const { return index_; }
    const std::u16string& exactText() const { return exact_; }
    void setExactText(const std::u16string& text);

  signals:
    void mousePressed(int index, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint position);
    void doubleClicked(int index);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void onTextChanged();

    int index_;
    std::u16string exact_;
    bool settingText_ = false;
};

}  // namespace varnel
