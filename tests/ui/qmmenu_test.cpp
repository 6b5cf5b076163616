// The button control: events and their order, hover polling, the held press,
// colours of the enabled state and the stored properties.
#include "ui/qmmenu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include "ui/twips.h"

namespace {

using qm::qMmenu;

// Records the button's events by name, with the mouse values.
struct Recorder {
  QStringList events;
  QList<short> downButtons, upButtons;
  short lastKeyCode = -1, lastAscii = -1;

  explicit Recorder(qMmenu* b) {
    QObject::connect(b, &qMmenu::Click, [this] { events << "Click"; });
    QObject::connect(b, &qMmenu::MouseDown, [this](short& button, short&, float&, float&) {
      events << "MouseDown";
      downButtons << button;
    });
    QObject::connect(b, &qMmenu::MouseUp, [this](short& button, short&, float&, float&) {
      events << "MouseUp";
      upButtons << button;
    });
    QObject::connect(b, &qMmenu::MouseMove,
                     [this](short&, short&, float&, float&) { events << "MouseMove"; });
    QObject::connect(b, &qMmenu::MouseOver, [this] { events << "MouseOver"; });
    QObject::connect(b, &qMmenu::MouseOut, [this] { events << "MouseOut"; });
    QObject::connect(b, &qMmenu::DBClick, [this] { events << "DBClick"; });
    QObject::connect(b, &qMmenu::KeyDown, [this](short& code, short&) {
      events << "KeyDown";
      lastKeyCode = code;
    });
    QObject::connect(b, &qMmenu::KeyUP, [this](short&, short&) { events << "KeyUP"; });
    QObject::connect(b, &qMmenu::KeyPress, [this](short& ascii) {
      events << "KeyPress";
      lastAscii = ascii;
    });
  }
  int Count(const QString& name) const { return static_cast<int>(events.count(name)); }
};

// Processes events until `done` or the deadline.
template <class F>
bool WaitFor(F done, int deadlineMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) return false;
    QTest::qWait(5);
  }
  return true;
}

class QmmenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qMmenu::SetCursorProbe({});
    host.setGeometry(200, 200, 300, 200);
    button = new qMmenu(&host);
    button->setGeometry(50, 50, 100, 28);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    // Start away from the button but over the window: a cursor over no window
    // moves nothing, and a later move to a point seen before raises no event.
    MoveCursor(Outside());
  }
  QPoint Inside() const { return button->mapToGlobal(QPoint(20, 10)); }
  QPoint Outside() const { return host.mapToGlobal(QPoint(250, 150)); }
  // Moves the cursor (what the hover test asks for) and lets the window see
  // the move as the platform reports it.
  void MoveCursor(const QPoint& global) {
    QCursor::setPos(global);
    QTest::mouseMove(host.windowHandle(), host.mapFromGlobal(global));
    QApplication::processEvents();
  }

  QWidget host;
  qMmenu* button = nullptr;
};

TEST_F(QmmenuTest, HoverRaisesOverOnceAndOutAfterLeaving) {
  Recorder rec(button);
  MoveCursor(Inside());
  MoveCursor(Inside() + QPoint(5, 2));
  EXPECT_GE(rec.Count("MouseMove"), 1);
  EXPECT_EQ(rec.Count("MouseOver"), 1);
  EXPECT_TRUE(button->Hovering());
  EXPECT_TRUE(button->HoverTimer().isActive());
  // MouseMove always comes before the MouseOver it causes.
  EXPECT_LT(rec.events.indexOf("MouseMove"), rec.events.indexOf("MouseOver"));

  MoveCursor(Outside());
  ASSERT_TRUE(WaitFor([&] { return rec.Count("MouseOut") > 0; }));
  QTest::qWait(50);
  EXPECT_EQ(rec.Count("MouseOut"), 1);
  EXPECT_FALSE(button->Hovering());
  EXPECT_FALSE(button->HoverTimer().isActive());
}

TEST_F(QmmenuTest, HeldPressDelaysMouseOutUntilRelease) {
  Recorder rec(button);
  MoveCursor(Inside());
  ASSERT_EQ(rec.Count("MouseOver"), 1);
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
  EXPECT_TRUE(button->Pressed());
  MoveCursor(Outside());
  QTest::qWait(120);  // many ticks with the cursor away
  EXPECT_EQ(rec.Count("MouseOut"), 0);
  EXPECT_TRUE(button->Hovering());

  QTest::mouseRelease(button, Qt::LeftButton, {}, button->mapFromGlobal(Outside()));
  EXPECT_FALSE(button->Pressed());
  EXPECT_EQ(rec.Count("Click"), 0);  // released away from the button
  ASSERT_TRUE(WaitFor([&] { return rec.Count("MouseOut") == 1; }));
}

TEST_F(QmmenuTest, ClickEventsAndOrderByMouseButton) {
  Recorder rec(button);
  QTest::mouseClick(button, Qt::RightButton);
  EXPECT_EQ(rec.events, QStringList({"MouseDown", "MouseUp"}));
  EXPECT_EQ(rec.downButtons, QList<short>{qMmenu::kRight});
  EXPECT_EQ(rec.upButtons, QList<short>{qMmenu::kRight});
  EXPECT_EQ(button->LastButton(), qMmenu::kRight);
  EXPECT_FALSE(button->Pressed());

  rec.events.clear();
  QTest::mouseClick(button, Qt::MiddleButton);
  EXPECT_EQ(rec.events, QStringList({"MouseDown", "MouseUp"}));
  EXPECT_EQ(button->LastButton(), qMmenu::kMiddle);

  rec.events.clear();
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(rec.events, QStringList({"MouseDown", "MouseUp", "Click"}));
  EXPECT_EQ(button->LastButton(), qMmenu::kLeft);
}

TEST_F(QmmenuTest, PressOnCaptionActsOnButton) {
  Recorder rec(button);
  button->SetCaption(QStringLiteral("开 始"));
  QLabel* caption = button->CaptionLabel();
  // Through the window, as the platform delivers it: the press lands where
  // the caption is drawn.
  const QPoint at = caption->mapTo(&host, caption->rect().center());
  ASSERT_TRUE(caption->geometry().contains(button->mapFrom(&host, at)));
  QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, at);
  EXPECT_EQ(rec.Count("MouseDown"), 1);
  EXPECT_EQ(rec.Count("MouseUp"), 1);
  EXPECT_EQ(rec.Count("Click"), 1);
}

TEST_F(QmmenuTest, HandlerMayChangeTheButtonOfMouseDown) {
  Recorder rec(button);
  QObject::connect(button, &qMmenu::MouseDown,
                   [](short& b, short&, float&, float&) { b = qMmenu::kRight; });
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(button->LastButton(), qMmenu::kRight);
  EXPECT_FALSE(button->Pressed());
  EXPECT_EQ(rec.Count("Click"), 0);
}

TEST_F(QmmenuTest, MouseValuesAreInTwips) {
  float x = -1, y = -1;
  short shift = -1;
  QObject::connect(button, &qMmenu::MouseDown, [&](short&, short& s, float& px, float& py) {
    shift = s;
    x = px;
    y = py;
  });
  QTest::mousePress(button, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, QPoint(7, 3));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(7, 3));
  EXPECT_FLOAT_EQ(x, 105.f);
  EXPECT_FLOAT_EQ(y, 45.f);
  EXPECT_EQ(shift, qMmenu::kShift | qMmenu::kCtrl);
}

TEST_F(QmmenuTest, DoubleClickRaisesDbClickAndOneClick) {
  Recorder rec(button);
  // The platform's double click: press, release, second press as a double
  // click, release.
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseDClick(button, Qt::LeftButton);
  QTest::mouseRelease(button, Qt::LeftButton);
  EXPECT_EQ(rec.events, QStringList({"MouseDown", "MouseUp", "Click", "DBClick", "MouseUp"}));
  EXPECT_FALSE(button->Pressed());
}

TEST_F(QmmenuTest, WindowOpenedOverHoveredButtonEndsHover) {
  Recorder rec(button);
  MoveCursor(Inside());
  ASSERT_TRUE(button->Hovering());
  QWidget cover;
  cover.setGeometry(QRect(button->mapToGlobal(QPoint(-5, -5)), QSize(200, 100)));
  cover.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
  ASSERT_TRUE(button->rect().contains(button->mapFromGlobal(QCursor::pos())));
  ASSERT_TRUE(WaitFor([&] { return rec.Count("MouseOut") == 1; }));
  EXPECT_FALSE(button->Hovering());
}

TEST_F(QmmenuTest, CursorProbeReplacesTheRealCursor) {
  QWidget* under = button->CaptionLabel();
  qMmenu::SetCursorProbe([&] { return under; });
  EXPECT_TRUE(button->IsMouseOver());  // a child of the button counts as the button
  under = &host;
  EXPECT_FALSE(button->IsMouseOver());
  under = nullptr;
  EXPECT_FALSE(button->IsMouseOver());
  qMmenu::SetCursorProbe({});
}

TEST_F(QmmenuTest, EmptyCaptionShowsNothing) {
  EXPECT_EQ(button->Caption(), QStringLiteral("按钮"));
  button->SetCaption(QStringLiteral("浏览"));
  EXPECT_EQ(button->CaptionLabel()->text(), QStringLiteral("浏览"));
  button->SetCaption(QString());
  EXPECT_EQ(button->Caption(), QString());
  EXPECT_EQ(button->CaptionLabel()->text(), QString());
  // Reading the drawing mode refreshes the caption from the (empty) title.
  EXPECT_EQ(button->DrawMode(), 13);
  EXPECT_EQ(button->Caption(), QString());
}

TEST_F(QmmenuTest, DisabledIsGreyAndEnabledTakesItsColourBack) {
  Recorder rec(button);
  QStringList changed;
  QObject::connect(button, &qMmenu::PropertyChanged, [&](const QString& n) { changed << n; });
  button->SetBackColor(qMmenu::Peach());
  button->SetEnabled(false);
  EXPECT_EQ(button->BackColor(), qMmenu::Grey());
  EXPECT_FALSE(button->isEnabled());
  button->SetEnabled(false);  // the same state again keeps the saved colour
  EXPECT_EQ(button->BackColor(), qMmenu::Grey());
  QTest::mouseClick(button->window()->windowHandle(), Qt::LeftButton, {},
                    button->mapTo(button->window(), QPoint(20, 10)));
  EXPECT_EQ(rec.Count("Click"), 0);
  button->SetEnabled(true);
  EXPECT_EQ(button->BackColor(), qMmenu::Peach());
  button->SetEnabled(true);
  EXPECT_EQ(button->BackColor(), qMmenu::Peach());
  EXPECT_EQ(changed, QStringList({"BackColor", "Enabled", "Enabled", "Enabled", "Enabled"}));
  // The face is painted in the face colour.
  const QImage face = button->grab().toImage();
  EXPECT_EQ(face.pixelColor(face.width() / 2, 2), qMmenu::Peach());
}

TEST_F(QmmenuTest, KeysRaiseKeyEvents) {
  Recorder rec(button);
  button->setFocus();
  QTest::keyClick(button, Qt::Key_A);
  EXPECT_EQ(rec.events, QStringList({"KeyDown", "KeyPress", "KeyUP"}));
  EXPECT_EQ(rec.lastKeyCode, 65);
  EXPECT_EQ(rec.lastAscii, 'a');
}

TEST_F(QmmenuTest, ResizeCentresTheCaptionInWholeTwips) {
  button->resize(qm::TwipsToPx(1455), qm::TwipsToPx(420));  // 97 x 28 px
  QLabel* caption = button->CaptionLabel();
  EXPECT_EQ(caption->y(), qm::TwipsToPx((420 - 180) / 2));
  EXPECT_EQ(caption->x(), qm::TwipsToPx(25));
  EXPECT_EQ(caption->width(), button->width());
  EXPECT_EQ(button->Border()->geometry(), button->rect());
  EXPECT_EQ(button->Border()->BorderColor(), qMmenu::Peach());
  button->resize(100, qm::TwipsToPx(375));  // (375 - 180) / 2 = 97 twips, 6 px
  EXPECT_EQ(caption->y(), 6);
}

TEST(QmmenuProperties, WriteOrderAndConditions) {
  qMmenu button;
  qm::PropertyBag bag;
  button.SetCaption(QString());
  button.WriteProperties(bag);
  EXPECT_EQ(bag.WriteLog(), QStringList({"Font", "DrawMode", "ForeColor", "BackColor"}));

  qm::PropertyBag full;
  button.SetCaption(QStringLiteral("清空"));
  button.SetEnabled(false);
  button.WriteProperties(full);
  EXPECT_EQ(full.WriteLog(),
            QStringList({"Enabled", "Caption", "Font", "DrawMode", "ForeColor", "BackColor"}));
  EXPECT_EQ(full.Value("Enabled").toBool(), false);
  EXPECT_EQ(full.Value("Caption").toString(), QStringLiteral("清空"));
}

TEST(QmmenuProperties, ReadOrderValuesAndDefaults) {
  qm::PropertyBag bag;
  bag.WriteProperty("Caption", QStringLiteral("开 始"));
  bag.WriteProperty("Font", qm::StoredFont{QStringLiteral("宋体"), 9, 400, 134}.ToVariant());
  bag.WriteProperty("DrawMode", 13);
  bag.WriteProperty("ForeColor", QColor(1, 2, 3));
  bag.WriteProperty("BackColor", qMmenu::Peach());
  bag.ClearLogs();

  qMmenu button;
  QStringList changed;
  QObject::connect(&button, &qMmenu::PropertyChanged, [&](const QString& n) { changed << n; });
  button.ReadProperties(bag);
  EXPECT_EQ(bag.ReadLog(),
            QStringList({"Enabled", "Caption", "ForeColor", "BackColor", "Font", "DrawMode"}));
  EXPECT_TRUE(button.isEnabled());  // missing: enabled
  EXPECT_EQ(button.Caption(), QStringLiteral("开 始"));
  EXPECT_EQ(button.ForeColor(), QColor(1, 2, 3));
  EXPECT_EQ(button.BackColor(), qMmenu::Peach());
  EXPECT_EQ(button.Font().family(), QStringLiteral("宋体"));
  EXPECT_EQ(button.Font().pointSizeF(), 9.0);
  EXPECT_EQ(button.Font().weight(), 400);
  EXPECT_EQ(button.FontCharset(), 134);
  // Only the caption goes through its property; the rest is put on the face.
  EXPECT_EQ(changed, QStringList{"Caption"});

  // Missing keys keep what the face has.
  qm::PropertyBag empty;
  qMmenu plain;
  const QColor face = plain.BackColor();
  plain.ReadProperties(empty);
  EXPECT_EQ(plain.BackColor(), face);
  EXPECT_EQ(plain.Caption(), QString());
  EXPECT_EQ(plain.DrawMode(), 13);

  // A stored disabled state disables without turning the face grey.
  qm::PropertyBag disabled;
  disabled.WriteProperty("Enabled", false);
  disabled.WriteProperty("BackColor", qMmenu::Peach());
  qMmenu off;
  off.ReadProperties(disabled);
  EXPECT_FALSE(off.isEnabled());
  EXPECT_EQ(off.BackColor(), qMmenu::Peach());
}

TEST(QmmenuProperties, WrittenValuesReadBackEqual) {
  qMmenu a;
  a.SetCaption(QStringLiteral("浏览"));
  a.SetBackColor(qMmenu::Peach());
  a.SetDrawMode(7);
  qm::PropertyBag bag;
  a.WriteProperties(bag);
  qMmenu b;
  b.ReadProperties(bag);
  EXPECT_EQ(b.Caption(), a.Caption());
  EXPECT_EQ(b.BackColor(), a.BackColor());
  EXPECT_EQ(b.DrawMode(), 7);
  EXPECT_EQ(b.ForeColorRef(), a.ForeColorRef());
  // The default text colour is the system's button-text colour, stored as a reference.
  EXPECT_EQ(bag.Value("ForeColor").typeId(), QMetaType::Int);
  EXPECT_EQ(b.ForeColor(), QApplication::palette().color(QPalette::ButtonText));
}

}  // namespace
