// The button control: the virtual-key codes of its key events and the
// caption's place.
#include "ui/qmmenu.h"

#include <gtest/gtest.h>

#include <QTest>

#include "ui/twips.h"

namespace {

using qm::qMmenu;

// The platform's virtual-key codes: the number pad's own, punctuation by its
// key whatever Shift makes of it.
TEST(Button, KeysRaiseTheirVirtualKeyCodes) {
  qMmenu button;
  QStringList events;
  QObject::connect(&button, &qMmenu::KeyDown,
                   [&](short& c, short&) { events << QString("Down %1").arg(c); });
  QObject::connect(&button, &qMmenu::KeyUP,
                   [&](short& c, short&) { events << QString("Up %1").arg(c); });
  // clang-format off
  const std::tuple<const char*, Qt::Key, Qt::KeyboardModifiers, int> cases[] = {
      {"A", Qt::Key_A, {}, 65}, {"pad7", Qt::Key_7, Qt::KeypadModifier, 103},
      {"pad/", Qt::Key_Slash, Qt::KeypadModifier, 111}, {"pad.", Qt::Key_Period, Qt::KeypadModifier, 110},
      {";", Qt::Key_Semicolon, {}, 186}, {"?", Qt::Key_Question, Qt::ShiftModifier, 191},
      {"]", Qt::Key_BracketRight, {}, 221}, {"!", Qt::Key_Exclam, Qt::ShiftModifier, 49},
      {"F5", Qt::Key_F5, {}, 116}};
  // clang-format on
  for (const auto& [name, key, modifiers, code] : cases) {
    SCOPED_TRACE(name);
    events.clear();
    QTest::keyClick(&button, key, modifiers);
    EXPECT_EQ(events.filter(QString(" %1").arg(code)).join(','),
              QString("Down %1,Up %1").arg(code));
  }
}

// The caption centred in whole twips.
TEST(Button, CaptionCentredInWholeTwips) {
  qMmenu button;
  button.show();
  button.resize(100, qm::TwipsToPx(375));  // (375 - 180) / 2 = 97 twips, 6 pixels
  EXPECT_EQ(button.CaptionLabel()->geometry(), QRect(2, 6, 100, 12));
}

}  // namespace
