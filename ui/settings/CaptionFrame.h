// The settings dialog's frames and the allotment label: widgets that draw themselves the way the
// dialog's layout shows them, whatever the style.
#pragma once

#include <QGroupBox>
#include <QLabel>

namespace varnel {

// A frame whose caption stands on its top edge: the border runs through the middle of the caption
// line and is broken where the caption is written. Children keep the positions they are given, so
// the first row sits well inside the border.
class CaptionFrame : public QGroupBox {
    Q_OBJECT
  public:
    // indent: where the caption's gap in the border begins, in pixels from the left edge.
    CaptionFrame(const QString& caption, int indent, QWidget* parent);

    // The y coordinate of the top border line.
    int borderTop() const;
    // The rectangle the caption is written in, its gap included.
    QRect captionRect() const;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int indent_;
};

// A label whose text holds a run of ideographic spaces for another control to stand in: the text
// before the run is drawn at the label's left, the text after it just right of the gap, wherever
// the font puts the run's end. text() stays the whole text.
class GapLabel : public QLabel {
    Q_OBJECT
  public:
    GapLabel(const QString& text, QWidget* parent);

    // The gap in the label's own coordinates, and the space kept on either side of it.
    void setGap(int left, int right, int spacing);
    // The text before and after the run of spaces.
    QString head() const;
    QString tail() const;
    // Where the tail is drawn, in the label's coordinates.
    int tailLeft() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int gapLeft_ = 0;
    int gapRight_ = 0;
    int spacing_ = 0;
};

}  // namespace varnel
