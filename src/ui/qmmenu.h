#pragma once
// qMmenu: the program's own push button. A coloured face, a one-pixel peach
// border and a centred caption; besides the usual mouse and key events it
// reports MouseOver when the cursor arrives and MouseOut when it has gone,
// found by polling the cursor every 10 ms while hovering. The button changes no
// colour by itself on hover: the window does that in reply to these events.
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <optional>

#include "ui/property_bag.h"
#include "ui/shape_outline.h"

namespace qm {

class qMmenu : public QWidget {
  Q_OBJECT
 public:
  // Mouse button values of the events: 1 left, 2 right, 4 middle.
  static constexpr short kLeft = 1, kRight = 2, kMiddle = 4;
  // Shift values of the events: 1 shift, 2 control, 4 alt.
  static constexpr short kShift = 1, kCtrl = 2, kAlt = 4;
  static constexpr int kHoverIntervalMs = 10;
  static constexpr int kDesignWidthTwips = 1905, kDesignHeightTwips = 630;
  static constexpr int kLabelLeftTwips = 25, kLabelHeightTwips = 180;
  static QColor Orange() { return QColor(255, 128, 0); }
  static QColor Peach() { return QColor(255, 192, 128); }
  static QColor Grey() { return QColor(192, 192, 192); }

  explicit qMmenu(QWidget* parent = nullptr);

  // ---- properties
  QWidget* Hwnd() { return this; }
  QFont Font() const { return font(); }
  void SetFont(const QFont& font);
  int FontCharset() const { return charset_; }
  QColor ForeColor() const;
  void SetForeColor(const QColor& color);
  // The stored form of the text colour: a QColor or a system-colour reference.
  QVariant ForeColorRef() const { return foreColorRef_; }
  QColor BackColor() const { return backColor_; }
  void SetBackColor(const QColor& color);
  short DrawMode();  // runs RefreshCaption first
  void SetDrawMode(short mode);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool enabled);
  QString Caption() const { return label_->text(); }
  void SetCaption(const QString& caption);

  // ---- stored properties
  void ReadProperties(PropertyBag& bag);
  void WriteProperties(PropertyBag& bag);

  // ---- state, for the window and tests
  bool Hovering() const { return hovering_; }
  bool Pressed() const { return pressed_; }
  short LastButton() const { return lastButton_; }
  QString TitleText() const { return titleText_; }
  QLabel* CaptionLabel() const { return label_; }
  ShapeOutline* Border() const { return shape_; }
  QTimer& HoverTimer() { return timer_; }

  // Whether the cursor is over the button: the widget under the cursor is
  // the button or one of its children. A window lying over the button hides it.
  bool IsMouseOver() const;

 signals:
  // The ten events, in the order of their identifiers.
  void Click();
  void MouseDown(short& Button, short& Shift, float& X, float& Y);
  void KeyDown(short& KeyCode, short& Shift);
  void KeyUP(short& KeyCode, short& Shift);
  void KeyPress(short& KeyAscii);
  void MouseUp(short& Button, short& Shift, float& X, float& Y);
  void MouseMove(short& Button, short& Shift, float& X, float& Y);
  void MouseOut();
  void MouseOver();
  void DBClick();
  // A property no longer matches what is stored.
  void PropertyChanged(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void RefreshCaption();
  void ApplyForeColor();
  void LayoutChildren();
  void Timer1_Timer();

  QLabel* label_;
  ShapeOutline* shape_;
  QTimer timer_;
  QColor backColor_ = Orange();
  QVariant foreColorRef_;
  short drawMode_ = 13;
  int charset_ = 134;
  QString titleText_;
  bool hovering_ = false;
  bool pressed_ = false;
  bool doublePress_ = false;  // the press in progress was the second of a double click
  short lastButton_ = 0;
  std::optional<QColor> savedBackColor_;
};

// Event values of the button from Qt's.
short EventButton(Qt::MouseButton button);
short EventButtons(Qt::MouseButtons buttons);
short EventShift(Qt::KeyboardModifiers modifiers);
short EventKeyCode(int qtKey);

}  // namespace qm
