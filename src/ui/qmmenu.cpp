#include "ui/qmmenu.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/twips.h"

namespace qm {

short EventButton(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return qMmenu::kLeft;
    case Qt::RightButton:
      return qMmenu::kRight;
    case Qt::MiddleButton:
      return qMmenu::kMiddle;
    default:
      return 0;
  }
}

short EventButtons(Qt::MouseButtons buttons) {
  short value = 0;
  if (buttons & Qt::LeftButton) value |= qMmenu::kLeft;
  if (buttons & Qt::RightButton) value |= qMmenu::kRight;
  if (buttons & Qt::MiddleButton) value |= qMmenu::kMiddle;
  return value;
}

short EventShift(Qt::KeyboardModifiers modifiers) {
  short value = 0;
  if (modifiers & Qt::ShiftModifier) value |= qMmenu::kShift;
  if (modifiers & Qt::ControlModifier) value |= qMmenu::kCtrl;
  if (modifiers & Qt::AltModifier) value |= qMmenu::kAlt;
  return value;
}

short EventKeyCode(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
    return static_cast<short>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<short>(112 + key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    default:
      return 0;
  }
}

qMmenu::qMmenu(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  foreColorRef_ = SystemColorRef(QPalette::ButtonText);

  shape_ = new ShapeOutline(Peach(), this);
  label_ = new QLabel(QStringLiteral("按钮"), this);
  // The caption passes every mouse event to the button: a press on the caption
  // is a press on the button.
  label_->setAttribute(Qt::WA_TransparentForMouseEvents);
  label_->setAlignment(Qt::AlignCenter);
  label_->setAutoFillBackground(false);
  label_->setFocusPolicy(Qt::NoFocus);
  ApplyForeColor();

  timer_.setInterval(kHoverIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &qMmenu::Timer1_Timer);

  resize(TwipsToPx(kDesignWidthTwips), TwipsToPx(kDesignHeightTwips));
  LayoutChildren();
}

bool qMmenu::IsMouseOver() const {
  QWidget* under = QApplication::widgetAt(QCursor::pos());
  if (!under) return false;
  return under == this || isAncestorOf(under);
}

// ---- properties

void qMmenu::SetFont(const QFont& font) {
  setFont(font);
  label_->setFont(font);
  RefreshCaption();
  emit PropertyChanged(QStringLiteral("Font"));
}

QColor qMmenu::ForeColor() const { return ResolveColor(foreColorRef_, QColor(Qt::black)); }

void qMmenu::SetForeColor(const QColor& color) {
  foreColorRef_ = QVariant::fromValue(color);
  ApplyForeColor();
  RefreshCaption();
  emit PropertyChanged(QStringLiteral("ForeColor"));
}

void qMmenu::SetBackColor(const QColor& color) {
  backColor_ = color;
  update();
  emit PropertyChanged(QStringLiteral("BackColor"));
}

short qMmenu::DrawMode() {
  RefreshCaption();
  return drawMode_;
}

void qMmenu::SetDrawMode(short mode) {
  drawMode_ = mode;
  RefreshCaption();
  emit PropertyChanged(QStringLiteral("DrawMode"));
}

void qMmenu::SetEnabled(bool enabled) {
  if (enabled != isEnabled()) {
    if (!enabled) {
      savedBackColor_ = backColor_;
      backColor_ = Grey();
      // A disabled button never sees the release of a press in progress; a
      // press left pending would hold back MouseOut for good.
      pressed_ = false;
    } else {
      backColor_ = savedBackColor_.value_or(backColor_);
    }
    update();
  }
  setEnabled(enabled);
  emit PropertyChanged(QStringLiteral("Enabled"));
}

void qMmenu::SetCaption(const QString& caption) {
  titleText_ = caption;
  label_->setText(titleText_);
  emit PropertyChanged(QStringLiteral("Caption"));
}

void qMmenu::RefreshCaption() {
  if (titleText_.isEmpty()) titleText_ = label_->text();
  label_->setText(titleText_);
}

void qMmenu::ApplyForeColor() {
  QPalette palette = label_->palette();
  const QColor color = ForeColor();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::WindowText, color);
  label_->setPalette(palette);
}

// ---- stored properties

void qMmenu::ReadProperties(PropertyBag& bag) {
  setEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
  SetCaption(bag.ReadProperty(QStringLiteral("Caption"), QString()).toString());
  foreColorRef_ = bag.ReadProperty(QStringLiteral("ForeColor"), foreColorRef_);
  ApplyForeColor();
  backColor_ = ResolveColor(bag.ReadProperty(QStringLiteral("BackColor"), backColor_), backColor_);
  const StoredFont current = StoredFont::FromFont(font(), charset_);
  const StoredFont stored = StoredFont::FromVariant(
      bag.ReadProperty(QStringLiteral("Font"), current.ToVariant()), current);
  charset_ = stored.charset;
  setFont(stored.ToFont());
  label_->setFont(font());
  drawMode_ = static_cast<short>(bag.ReadProperty(QStringLiteral("DrawMode"), drawMode_).toInt());
  update();
}

void qMmenu::WriteProperties(PropertyBag& bag) {
  if (!isEnabled()) bag.WriteProperty(QStringLiteral("Enabled"), false);
  if (!Caption().isEmpty()) bag.WriteProperty(QStringLiteral("Caption"), Caption());
  bag.WriteProperty(QStringLiteral("Font"), StoredFont::FromFont(font(), charset_).ToVariant());
  bag.WriteProperty(QStringLiteral("DrawMode"), drawMode_);
  bag.WriteProperty(QStringLiteral("ForeColor"), foreColorRef_);
  bag.WriteProperty(QStringLiteral("BackColor"), backColor_);
}

// ---- drawing and layout

void qMmenu::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), backColor_);
}

void qMmenu::resizeEvent(QResizeEvent*) { LayoutChildren(); }

void qMmenu::LayoutChildren() {
  // The caption is centred vertically in whole twips, the half taken downwards.
  const long heightTwips = std::lround(PxToTwips(height()));
  const long labelTop = (heightTwips - kLabelHeightTwips) / 2;
  label_->setGeometry(TwipsToPx(kLabelLeftTwips), TwipsToPx(static_cast<double>(labelTop)), width(),
                      TwipsToPx(kLabelHeightTwips));
  shape_->setGeometry(0, 0, width(), height());
}

// ---- events

void qMmenu::mousePressEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  short button = EventButton(event->button());
  short shift = EventShift(event->modifiers());
  float x = static_cast<float>(PxToTwips(pos.x()));
  float y = static_cast<float>(PxToTwips(pos.y()));
  doublePress_ = false;
  emit MouseDown(button, shift, x, y);
  lastButton_ = button;
  if (button == kLeft) pressed_ = true;
}

void qMmenu::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  short button = EventButton(event->button());
  short shift = EventShift(event->modifiers());
  float x = static_cast<float>(PxToTwips(pos.x()));
  float y = static_cast<float>(PxToTwips(pos.y()));
  const bool secondOfDouble = doublePress_;
  doublePress_ = false;
  emit MouseUp(button, shift, x, y);
  if (button == kLeft) pressed_ = false;
  // A click is a press and a release over the button; the release of a double
  // click's second press raises no click of its own.
  if (!secondOfDouble && rect().contains(pos.toPoint()) && lastButton_ == kLeft) emit Click();
}

void qMmenu::mouseDoubleClickEvent(QMouseEvent*) {
  doublePress_ = true;
  emit DBClick();
}

void qMmenu::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  short button = EventButtons(event->buttons());
  short shift = EventShift(event->modifiers());
  float x = static_cast<float>(PxToTwips(pos.x()));
  float y = static_cast<float>(PxToTwips(pos.y()));
  emit MouseMove(button, shift, x, y);
  if (!hovering_ && IsMouseOver()) {
    hovering_ = true;
    timer_.start();
    emit MouseOver();
  }
}

void qMmenu::Timer1_Timer() {
  if (IsMouseOver() || pressed_) return;
  timer_.stop();
  hovering_ = false;
  emit MouseOut();
}

void qMmenu::keyPressEvent(QKeyEvent* event) {
  short code = EventKeyCode(event->key());
  short shift = EventShift(event->modifiers());
  emit KeyDown(code, shift);
  const QString text = event->text();
  if (!text.isEmpty() && text.at(0).unicode() != 0x7f) {
    short ascii = static_cast<short>(text.at(0).unicode());
    emit KeyPress(ascii);
  }
}

void qMmenu::keyReleaseEvent(QKeyEvent* event) {
  short code = EventKeyCode(event->key());
  short shift = EventShift(event->modifiers());
  emit KeyUP(code, shift);
}

}  // namespace qm
