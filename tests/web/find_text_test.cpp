// The eight-at-a-time substring search held against QString::indexOf.
#include <gtest/gtest.h>

#include <random>

#include "web/text.h"

namespace {

TEST(FindText, AgreesWithIndexOfOnRandomTexts) {
  std::mt19937 rng(5);
  const char16_t alphabet[] = {u'a', u'b', u'c', u'=', u'"', u'\u4e2d'};
  auto randomText = [&](int maxLength, int letters) {
    QString t;
    const int length = static_cast<int>(rng() % static_cast<unsigned>(maxLength + 1));
    for (int i = 0; i < length; ++i) t += QChar(alphabet[rng() % static_cast<unsigned>(letters)]);
    return t;
  };
  for (int round = 0; round < 20000; ++round) {
    const int letters = round % 2 == 0 ? 2 : 6;
    const QString haystack = randomText(70, letters);
    const QString needle = randomText(round % 10 == 0 ? 20 : 5, letters);
    const qsizetype from =
        static_cast<qsizetype>(rng() % static_cast<unsigned>(haystack.size() + 3));
    ASSERT_EQ(qm::FindText(haystack, needle, from), haystack.indexOf(needle, from))
        << haystack.toStdString() << " / " << needle.toStdString() << " from " << from;
  }
  EXPECT_EQ(qm::FindText(u"abc", u""), 0);
  EXPECT_EQ(qm::FindText(u"abc", u"", 3), 3);
  EXPECT_EQ(qm::FindText(u"abc", u"", 4), -1);
  EXPECT_EQ(qm::FindText(u"", u"a"), -1);
}

TEST(FindText, FindsAMarkerFarIntoALongText) {
  QString text(100000, QLatin1Char('x'));
  text += QStringLiteral("keywords\" content=\"cat\"");
  EXPECT_EQ(qm::FindText(text, u"keywords\" content=\""), 100000);
  EXPECT_EQ(qm::FindText(text, u"keywords\" content=\"dog"), -1);
  // A match that ends exactly at the end of the text.
  EXPECT_EQ(qm::FindText(text, u"cat\""), text.size() - 4);
}

}  // namespace
