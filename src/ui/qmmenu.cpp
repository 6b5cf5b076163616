#include "ui/qmmenu.h"

#include <QApplication>
#include <QCursor>
#include <QHash>
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

// The platform's virtual-key code of a key as Qt reports it: letters and
// digits are their upper-case ASCII codes, the number pad has codes of its own
// (96-111), punctuation keys are named by the key, not by the character the
// layout and Shift make of it. 0 for a key the platform has no code for.
short EventKeyCode(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<short>(96 + key - Qt::Key_0);
    switch (key) {
      case Qt::Key_Asterisk:
        return 106;
      case Qt::Key_Plus:
        return 107;
      case Qt::Key_Minus:
        return 109;
      case Qt::Key_Period:
      case Qt::Key_Comma:
        return 110;
      case Qt::Key_Slash:
        return 111;
      default:
        break;  // the pad's arrows, Home, Enter ...: the keys they stand for
    }
  }
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
    return static_cast<short>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<short>(112 + key - Qt::Key_F1);
  static const QHash<int, short> codes = {
      {Qt::Key_Backspace, 8},
      {Qt::Key_Tab, 9},
      {Qt::Key_Backtab, 9},
      {Qt::Key_Clear, 12},
      {Qt::Key_Return, 13},
      {Qt::Key_Enter, 13},
      {Qt::Key_Shift, 16},
      {Qt::Key_Control, 17},
      {Qt::Key_Alt, 18},
      {Qt::Key_AltGr, 18},
      {Qt::Key_Pause, 19},
      {Qt::Key_CapsLock, 20},
      {Qt::Key_Escape, 27},
      {Qt::Key_Space, 32},
      {Qt::Key_PageUp, 33},
      {Qt::Key_PageDown, 34},
      {Qt::Key_End, 35},
      {Qt::Key_Home, 36},
      {Qt::Key_Left, 37},
      {Qt::Key_Up, 38},
      {Qt::Key_Right, 39},
      {Qt::Key_Down, 40},
      {Qt::Key_Select, 41},
      {Qt::Key_Printer, 42},
      {Qt::Key_Execute, 43},
      {Qt::Key_Print, 44},
      {Qt::Key_Insert, 45},
      {Qt::Key_Delete, 46},
      {Qt::Key_Help, 47},
      {Qt::Key_Super_L, 91},
      {Qt::Key_Meta, 91},
      {Qt::Key_Super_R, 92},
      {Qt::Key_Menu, 93},
      {Qt::Key_Sleep, 95},
      {Qt::Key_NumLock, 144},
      {Qt::Key_ScrollLock, 145},
      {Qt::Key_Back, 166},
      {Qt::Key_Forward, 167},
      {Qt::Key_Refresh, 168},
      {Qt::Key_Stop, 169},
      {Qt::Key_Search, 170},
      {Qt::Key_Favorites, 171},
      {Qt::Key_HomePage, 172},
      {Qt::Key_VolumeMute, 173},
      {Qt::Key_VolumeDown, 174},
      {Qt::Key_VolumeUp, 175},
      {Qt::Key_MediaNext, 176},
      {Qt::Key_MediaPrevious, 177},
      {Qt::Key_MediaStop, 178},
      {Qt::Key_MediaPlay, 179},
      {Qt::Key_LaunchMail, 180},
      {Qt::Key_LaunchMedia, 181},
      {Qt::Key_Launch0, 182},
      {Qt::Key_Launch1, 183},
      // Punctuation, unshifted and shifted (US layout): the key, not the character.
      {Qt::Key_Semicolon, 186},
      {Qt::Key_Colon, 186},
      {Qt::Key_Equal, 187},
      {Qt::Key_Plus, 187},
      {Qt::Key_Comma, 188},
      {Qt::Key_Less, 188},
      {Qt::Key_Minus, 189},
      {Qt::Key_Underscore, 189},
      {Qt::Key_Period, 190},
      {Qt::Key_Greater, 190},
      {Qt::Key_Slash, 191},
      {Qt::Key_Question, 191},
      {Qt::Key_QuoteLeft, 192},
      {Qt::Key_AsciiTilde, 192},
      {Qt::Key_BracketLeft, 219},
      {Qt::Key_BraceLeft, 219},
      {Qt::Key_Backslash, 220},
      {Qt::Key_Bar, 220},
      {Qt::Key_BracketRight, 221},
      {Qt::Key_BraceRight, 221},
      {Qt::Key_Apostrophe, 222},
      {Qt::Key_QuoteDbl, 222},
      // Shifted digits: the digit keys.
      {Qt::Key_Exclam, '1'},
      {Qt::Key_At, '2'},
      {Qt::Key_NumberSign, '3'},
      {Qt::Key_Dollar, '4'},
      {Qt::Key_Percent, '5'},
      {Qt::Key_AsciiCircum, '6'},
      {Qt::Key_Ampersand, '7'},
      {Qt::Key_Asterisk, '8'},
      {Qt::Key_ParenLeft, '9'},
      {Qt::Key_ParenRight, '0'},
  };
  return codes.value(key, 0);
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
  short code = EventKeyCode(event->key(), event->modifiers());
  short shift = EventShift(event->modifiers());
  emit KeyDown(code, shift);
  const QString text = event->text();
  if (!text.isEmpty() && text.at(0).unicode() != 0x7f) {
    short ascii = static_cast<short>(text.at(0).unicode());
    emit KeyPress(ascii);
  }
}

void qMmenu::keyReleaseEvent(QKeyEvent* event) {
  short code = EventKeyCode(event->key(), event->modifiers());
  short shift = EventShift(event->modifiers());
  emit KeyUP(code, shift);
}

}  // namespace qm
