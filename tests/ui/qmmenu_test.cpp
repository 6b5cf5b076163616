// The button control: the virtual-key codes of its key events and the
// caption's place.
#include "ui/qmmenu.h"

#include <gtest/gtest.h>

#include <QTest>

#include "ui/twips.h"

namespace {

using qm::qMmenu;

// The platform's virtual-key codes, raised on the press and on the release:
// the number pad's own, punctuation by its key whatever Shift makes of it.
TEST(Button, KeysRaiseTheirVirtualKeyCodes) {
  qMmenu button;
  QList<short> codes;
  const auto record = [&](short& code, short&) { codes << code; };
  QObject::connect(&button, &qMmenu::KeyDown, record);
  QObject::connect(&button, &qMmenu::KeyUP, record);
  const std::tuple<Qt::Key, Qt::KeyboardModifiers, short> keys[] = {
      {Qt::Key_A, {}, 65},
      {Qt::Key_7, Qt::KeypadModifier, 103},
      {Qt::Key_Question, Qt::ShiftModifier, 191},
      {Qt::Key_Exclam, Qt::ShiftModifier, 49},
      {Qt::Key_F5, {}, 116}};
  for (const auto& [key, modifiers, code] : keys) {
    codes.clear();
    QTest::keyClick(&button, key, modifiers);
    EXPECT_EQ(codes.count(code), 2) << key;  // pressed and released, Shift aside
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
