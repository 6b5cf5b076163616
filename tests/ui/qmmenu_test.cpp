// The button control: events and their order, hover polling with the real
// cursor, the held press, the colours of the enabled state, stored properties.
#include <gtest/gtest.h>

#include "window_test_support.h"

namespace {

using qm::qMmenu;
using qmtest::MoveCursorTo;
using qmtest::WaitUntil;

// Records the button's events by name; mouse events with their button.
struct Recorder {
  QStringList events;
  explicit Recorder(qMmenu* b) {
    auto mouse = [this](const char* name) {
      return [this, name](short& button, short&, float&, float&) {
        events << QString("%1(%2)").arg(name).arg(button);
      };
    };
    QObject::connect(b, &qMmenu::MouseDown, mouse("MouseDown"));
    QObject::connect(b, &qMmenu::MouseUp, mouse("MouseUp"));
    QObject::connect(b, &qMmenu::MouseMove,
                     [this](short&, short&, float&, float&) { events << "MouseMove"; });
    QObject::connect(b, &qMmenu::Click, [this] { events << "Click"; });
    QObject::connect(b, &qMmenu::MouseOver, [this] { events << "MouseOver"; });
    QObject::connect(b, &qMmenu::MouseOut, [this] { events << "MouseOut"; });
    QObject::connect(b, &qMmenu::DBClick, [this] { events << "DBClick"; });
    QObject::connect(b, &qMmenu::KeyDown,
                     [this](short& code, short&) { events << QString("KeyDown(%1)").arg(code); });
    QObject::connect(b, &qMmenu::KeyUP, [this](short&, short&) { events << "KeyUP"; });
    QObject::connect(b, &qMmenu::KeyPress,
                     [this](short& ascii) { events << QString("KeyPress(%1)").arg(ascii); });
  }
  int Count(const QString& name) const { return static_cast<int>(events.count(name)); }
};

class QmmenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.setGeometry(200, 200, 300, 200);
    button = new qMmenu(&host);
    button->setGeometry(50, 50, 100, 28);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    // Start over the window but away from the button: a move to a point seen
    // before raises no event.
    MoveCursorTo(&host, Outside());
  }
  QPoint Inside() const { return button->mapToGlobal(QPoint(20, 10)); }
  QPoint Outside() const { return host.mapToGlobal(QPoint(250, 150)); }

  QWidget host;
  qMmenu* button = nullptr;
};

TEST_F(QmmenuTest, HoverRaisesOverOnceAndOutAfterLeaving) {
  Recorder rec(button);
  MoveCursorTo(&host, Inside());
  MoveCursorTo(&host, Inside() + QPoint(5, 2));
  EXPECT_EQ(rec.events.mid(0, 2), QStringList({"MouseMove", "MouseOver"}));
  EXPECT_EQ(rec.Count("MouseOver"), 1);
  EXPECT_TRUE(button->Hovering());
  MoveCursorTo(&host, Outside());
  ASSERT_TRUE(WaitUntil([&] { return rec.Count("MouseOut") > 0; }));
  QTest::qWait(50);
  EXPECT_EQ(rec.Count("MouseOut"), 1);
  EXPECT_FALSE(button->HoverTimer().isActive());
}

TEST_F(QmmenuTest, HeldPressDelaysMouseOutUntilRelease) {
  Recorder rec(button);
  MoveCursorTo(&host, Inside());
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
  MoveCursorTo(&host, Outside());
  QTest::qWait(120);  // many ticks with the cursor away
  EXPECT_EQ(rec.Count("MouseOut"), 0);
  QTest::mouseRelease(button, Qt::LeftButton, {}, button->mapFromGlobal(Outside()));
  EXPECT_EQ(rec.Count("Click"), 0);  // released away from the button
  ASSERT_TRUE(WaitUntil([&] { return rec.Count("MouseOut") == 1; }));
}

TEST_F(QmmenuTest, WindowOpenedOverHoveredButtonEndsHover) {
  Recorder rec(button);
  MoveCursorTo(&host, Inside());
  ASSERT_TRUE(button->Hovering());
  QWidget cover;
  cover.setGeometry(QRect(button->mapToGlobal(QPoint(-5, -5)), QSize(200, 100)));
  cover.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
  ASSERT_TRUE(button->rect().contains(button->mapFromGlobal(QCursor::pos())));
  ASSERT_TRUE(WaitUntil([&] { return rec.Count("MouseOut") == 1; }));
}

TEST_F(QmmenuTest, ClicksByMouseButton) {
  Recorder rec(button);
  QTest::mouseClick(button, Qt::RightButton);
  QTest::mouseClick(button, Qt::MiddleButton);
  EXPECT_EQ(rec.events, QStringList({"MouseDown(2)", "MouseUp(2)", "MouseDown(4)", "MouseUp(4)"}));
  EXPECT_EQ(button->LastButton(), qMmenu::kMiddle);

  // A left click, then the platform's double click.
  rec.events.clear();
  QTest::mouseClick(button, Qt::LeftButton);
  QTest::mouseDClick(button, Qt::LeftButton);
  QTest::mouseRelease(button, Qt::LeftButton);
  EXPECT_EQ(rec.events,
            QStringList({"MouseDown(1)", "MouseUp(1)", "Click", "DBClick", "MouseUp(1)"}));
  EXPECT_FALSE(button->Pressed());

  // A handler may change the values: a left press turned into a right one.
  rec.events.clear();
  auto c =
      QObject::connect(button, &qMmenu::MouseDown, [](short& b, short&, float&, float&) { b = 2; });
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(rec.Count("Click"), 0);
  EXPECT_FALSE(button->Pressed());
  QObject::disconnect(c);

  // Mouse positions are in twips; keys raise their three events.
  float x = 0;
  QObject::connect(button, &qMmenu::MouseDown, [&](short&, short&, float& px, float&) { x = px; });
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(7, 3));
  EXPECT_FLOAT_EQ(x, 105.f);
  rec.events.clear();
  QTest::keyClick(button, Qt::Key_A);
  EXPECT_EQ(rec.events, QStringList({"KeyDown(65)", "KeyPress(97)", "KeyUP"}));
  // Every key passes the platform's virtual-key code: the number pad's own
  // codes, punctuation by its key whatever Shift makes of it.
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int code;
  } keys[] = {{Qt::Key_7, Qt::KeypadModifier, 103},       {Qt::Key_Slash, Qt::KeypadModifier, 111},
              {Qt::Key_Period, Qt::KeypadModifier, 110},  {Qt::Key_Semicolon, {}, 186},
              {Qt::Key_Question, Qt::ShiftModifier, 191}, {Qt::Key_BracketRight, {}, 221},
              {Qt::Key_Exclam, Qt::ShiftModifier, 49},    {Qt::Key_F5, {}, 116}};
  for (const auto& k : keys) {
    rec.events.clear();
    QTest::keyPress(button, k.key, k.modifiers);
    EXPECT_EQ(rec.events.filter("KeyDown").value(rec.events.filter("KeyDown").size() - 1),
              QString("KeyDown(%1)").arg(k.code))
        << k.key;  // after Shift's own KeyDown(16)
    QTest::keyRelease(button, k.key, k.modifiers);
  }
}

TEST_F(QmmenuTest, PressOnCaptionActsOnButton) {
  Recorder rec(button);
  button->SetCaption(QStringLiteral("开 始"));
  QLabel* caption = button->CaptionLabel();
  // Through the window, as the platform delivers it, where the caption is drawn.
  const QPoint at = caption->mapTo(&host, caption->rect().center());
  QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, at);
  EXPECT_EQ(rec.Count("MouseDown(1)"), 1);
  EXPECT_EQ(rec.Count("Click"), 1);
}

TEST_F(QmmenuTest, CaptionAndItsPlace) {
  button->SetCaption(QString());
  EXPECT_EQ(button->Caption(), QString());
  EXPECT_EQ(button->DrawMode(), 13);  // reading it refreshes the caption from the empty title
  EXPECT_EQ(button->CaptionLabel()->text(), QString());
  // Centred in whole twips: (375 - 180) / 2 = 97 twips, 6 pixels.
  button->resize(100, qm::TwipsToPx(375));
  EXPECT_EQ(button->CaptionLabel()->geometry(), QRect(2, 6, 100, 12));
  EXPECT_EQ(button->Border()->geometry(), button->rect());
}

TEST_F(QmmenuTest, DisabledIsGreyAndEnabledTakesItsColourBack) {
  Recorder rec(button);
  button->SetBackColor(qMmenu::Peach());
  button->SetEnabled(false);
  button->SetEnabled(false);  // the same state again keeps the saved colour
  EXPECT_EQ(button->BackColor(), qMmenu::Grey());
  QTest::mouseClick(host.windowHandle(), Qt::LeftButton, {}, button->mapTo(&host, QPoint(20, 10)));
  EXPECT_EQ(rec.Count("Click"), 0);
  button->SetEnabled(true);
  EXPECT_EQ(button->BackColor(), qMmenu::Peach());
  const QImage face = button->grab().toImage();
  EXPECT_EQ(face.pixelColor(face.width() / 2, 2), qMmenu::Peach());
}

TEST(QmmenuProperties, WriteAndReadOrders) {
  qMmenu button;
  qm::PropertyBag plain;
  button.SetCaption(QString());
  button.WriteProperties(plain);
  EXPECT_EQ(plain.WriteLog(), QStringList({"Font", "DrawMode", "ForeColor", "BackColor"}));
  EXPECT_EQ(plain.Value("ForeColor").typeId(), QMetaType::Int);  // the system colour, by reference

  qm::PropertyBag bag;
  button.SetCaption(QStringLiteral("清空"));
  button.SetBackColor(qMmenu::Peach());
  button.SetDrawMode(7);
  button.SetEnabled(false);  // the face turns grey; the stored colour is the face's
  button.SetBackColor(qMmenu::Peach());
  button.WriteProperties(bag);
  EXPECT_EQ(bag.WriteLog(),
            QStringList({"Enabled", "Caption", "Font", "DrawMode", "ForeColor", "BackColor"}));

  qMmenu copy;
  QStringList changed;
  QObject::connect(&copy, &qMmenu::PropertyChanged, [&](const QString& n) { changed << n; });
  copy.ReadProperties(bag);
  EXPECT_EQ(bag.ReadLog(),
            QStringList({"Enabled", "Caption", "ForeColor", "BackColor", "Font", "DrawMode"}));
  EXPECT_EQ(changed, QStringList{"Caption"});  // the rest is put straight on the face
  EXPECT_FALSE(copy.isEnabled());
  EXPECT_EQ(copy.BackColor(), qMmenu::Peach());  // no grey from reading a disabled state
  EXPECT_EQ(copy.Caption(), QStringLiteral("清空"));
  EXPECT_EQ(copy.DrawMode(), 7);
  EXPECT_EQ(copy.ForeColor(), QApplication::palette().color(QPalette::ButtonText));

  // Missing keys keep what the face has.
  qm::PropertyBag empty;
  qMmenu fresh;
  const QColor face = fresh.BackColor();
  fresh.ReadProperties(empty);
  EXPECT_TRUE(fresh.isEnabled());
  EXPECT_EQ(fresh.BackColor(), face);
  EXPECT_EQ(fresh.Caption(), QString());
}

}  // namespace
