#include "ui/shape_outline.h"

#include <QPainter>

namespace qm {

ShapeOutline::ShapeOutline(const QColor& borderColor, QWidget* parent)
    : QWidget(parent), borderColor_(borderColor) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

void ShapeOutline::SetBorderColor(const QColor& color) {
  if (color == borderColor_) return;
  borderColor_ = color;
  update();
}

void ShapeOutline::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter painter(this);
  painter.setPen(QPen(borderColor_, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace qm
