#pragma once
// A rectangle outline: a one-pixel border in one colour, transparent inside
// and to the mouse. The window's border, the frames around the text boxes and
// the border of every button are such outlines.
#include <QColor>
#include <QWidget>

namespace qm {

class ShapeOutline : public QWidget {
  Q_OBJECT
 public:
  explicit ShapeOutline(const QColor& borderColor, QWidget* parent = nullptr);

  QColor BorderColor() const { return borderColor_; }
  void SetBorderColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor borderColor_;
};

}  // namespace qm
