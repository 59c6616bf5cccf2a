// A plainly visible keyboard focus: a frame two pixels wide, in the highlight colour, drawn inside
// the control's own rectangle, so that nothing moves when the focus comes or goes. The styles' own
// cue (a one-pixel line on two edges of a picture button, the bare caret in a text box) is easily
// missed, at high scales most of all.
#pragma once

#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QRect>

namespace varnel {

// Device-independent pixels: the frame scales with the rest of the window.
constexpr int FocusFrameWidth = 2;

inline void DrawFocusFrame(QPainter& painter, const QRect& inside, const QColor& colour) {
    const QRect r = inside;
    const int w = FocusFrameWidth;
    painter.fillRect(QRect(r.left(), r.top(), r.width(), w), colour);
    painter.fillRect(QRect(r.left(), r.bottom() - w + 1, r.width(), w), colour);
    painter.fillRect(QRect(r.left(), r.top(), w, r.height()), colour);
    painter.fillRect(QRect(r.right() - w + 1, r.top(), w, r.height()), colour);
}

// A push button that shows the focus frame while it has the keyboard focus. Neither a default nor
// an auto-default button: Enter (like Space) presses it only while it has the focus, and Escape
// presses no button.
class FocusFramedButton : public QPushButton {
  public:
    explicit FocusFramedButton(const QString& caption = {}, QWidget* parent = nullptr)
        : QPushButton(caption, parent) {
        setAutoDefault(false);
        setDefault(false);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !event->isAutoRepeat()) {
            event->accept();
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent* event) override {
        QPushButton::paintEvent(event);
        if (hasFocus()) {
            QPainter painter(this);
            DrawFocusFrame(painter, rect(), palette().color(QPalette::Highlight));
        }
    }
};

}  // namespace varnel
