// The one-pass normalisation of a page held against the library's three
// whole-text operations it stands for.
#include <gtest/gtest.h>

#include <QString>
#include <random>

#include "crawl/page_analyse.h"

namespace {

QString ByLibrary(QString page) {
  page.replace(QLatin1Char('"'), QLatin1Char('\''));
  page = page.toLower();
  page.replace(QStringLiteral("\\/"), QStringLiteral("/"));
  return page;
}

TEST(NormalisePageText, EveryBmpCharacterInBothPassesAsTheLibraryLowersIt) {
  // Each character once inside an ASCII run of eight and more (the wide
  // pass) and once in a short text (the one by one pass).
  for (char32_t c = 0; c < 0x10000; ++c) {
    const QChar ch(static_cast<char16_t>(c));
    const QString wide =
        QStringLiteral("AbCdEfGh\"I\\/") + ch + QStringLiteral("JkLmNoPqRsTuVwXyZ\\/'");
    ASSERT_EQ(qm::NormalisePageText(wide), ByLibrary(wide)) << std::hex << static_cast<unsigned>(c);
    const QString narrow = QString(ch) + QStringLiteral("X");
    ASSERT_EQ(qm::NormalisePageText(narrow), ByLibrary(narrow))
        << std::hex << static_cast<unsigned>(c);
  }
}

TEST(NormalisePageText, EveryCharacterOfTheSupplementaryPlaneWithLetterCase) {
  // The scripts with letter case beyond the BMP all lie in plane 1.
  for (char32_t c = 0x10000; c < 0x20000; ++c) {
    const QString text =
        QStringLiteral("AbCdEfGhIj") + QString::fromUcs4(&c, 1) + QStringLiteral("K");
    ASSERT_EQ(qm::NormalisePageText(text), ByLibrary(text)) << std::hex << static_cast<unsigned>(c);
  }
}

TEST(NormalisePageText, RandomTextsWithQuotesEscapesAndEveryKindOfCharacter) {
  std::mt19937 rng(99);
  // Characters that lower to another length or to ASCII, letters of other
  // scripts, surrogate pairs whole and broken, and the characters the pass
  // treats specially.
  const std::vector<QString> pieces = {QStringLiteral("\""),
                                       QStringLiteral("'"),
                                       QStringLiteral("\\"),
                                       QStringLiteral("/"),
                                       QStringLiteral("\\/"),
                                       QStringLiteral("\\\\/"),
                                       QStringLiteral("SRC='"),
                                       QStringLiteral("HREF=\""),
                                       QStringLiteral("Http://X.COM/"),
                                       QString(QChar(0x130)),
                                       QString(QChar(0x212A)),
                                       QString(QChar(0x3A3)),
                                       QString(QChar(0x410)),
                                       QString(QChar(0x4E2D)),
                                       QString(QChar(0xFF21)),
                                       QString::fromUtf8("😀"),
                                       QString::fromUtf8("𐐀"),
                                       QStringLiteral("plain text "),
                                       QStringLiteral("ABCDEFGHIJKLMNOP"),
                                       QString(QChar(0xD801)),
                                       QString(QChar(0xDC00))};
  for (int round = 0; round < 3000; ++round) {
    QString text;
    const int count = static_cast<int>(rng() % 40);
    // Most texts avoid the characters that send the whole text to the
    // library, so that the fast pass is what gets compared.
    const std::size_t limit = round % 4 == 0 ? pieces.size() : pieces.size() - 2;
    for (int i = 0; i < count; ++i) {
      const std::size_t pick = rng() % limit;
      if (round % 4 != 0 && pick == 9) continue;
      text += pieces[pick];
    }
    ASSERT_EQ(qm::NormalisePageText(text), ByLibrary(text)) << text.toStdString();
  }
}

}  // namespace
