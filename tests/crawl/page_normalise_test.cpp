// The one-pass normalisation of a page held against the library's three
// whole-text operations it stands for.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <random>
#include <vector>

#include "crawl/page_analyse.h"
#include "web/filters.h"

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

// The page scan sixteen characters at a time and eight at a time give the
// same analysis, markers at every position of a block included.
TEST(AnalysePageText, SameAnswersWithAndWithoutWideVectors) {
  std::mt19937 rng(17);
  const std::vector<QString> fragments = {QStringLiteral("<a href='/p#.html'>"),
                                          QStringLiteral("<A HREF=\"/Q#.HTML\">"),
                                          QStringLiteral("<img src='/i#.jpg'>"),
                                          QStringLiteral("<IMG SRC=\"/J#.JPG\">"),
                                          QStringLiteral("<img src=http://h.com/#.jpg>"),
                                          QStringLiteral("<meta content=\"http://h.com/m#.jpg\">"),
                                          QStringLiteral("<meta name=\"keywords\" content=\"k#\">"),
                                          QStringLiteral("x"),
                                          QStringLiteral("ab"),
                                          QStringLiteral("=\"'"),
                                          QStringLiteral("\\/"),
                                          QString::fromUtf8("中文"),
                                          QString::fromUtf8("😀"),
                                          QStringLiteral("href=")};
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("jpg*");
  for (int page = 0; page < 200; ++page) {
    QString text = QStringLiteral("<html>");
    const int length = 6000 + static_cast<int>(rng() % 400);
    while (text.size() < length) {
      QString f = fragments[rng() % fragments.size()];
      if (page % 3 != 0 && f.contains(QChar(0xD83D))) continue;  // most pages without surrogates
      f.replace(QLatin1Char('#'), QString::number(rng() % 50));
      text += f;
    }
    QString results[2][4];
    std::int32_t counts[2][2];
    for (int wide = 0; wide < 2; ++wide) {
      qm::AllowWideVectors(wide == 1);
      qm::FingerprintSet seen;
      results[wide][0] = QStringLiteral("http://h.com/d/");
      counts[wide][0] = counts[wide][1] = -1;
      results[wide][1] = qm::AnalysePageText(text, results[wide][0], results[wide][2],
                                             counts[wide][0], counts[wide][1], settings, seen);
      results[wide][3] = QString::number(seen.Count());
    }
    qm::AllowWideVectors(true);
    for (int k = 0; k < 4; ++k)
      ASSERT_EQ(results[0][k], results[1][k]) << "page " << page << " part " << k;
    ASSERT_EQ(counts[0][0], counts[1][0]);
    ASSERT_EQ(counts[0][1], counts[1][1]);
    ASSERT_GT(counts[0][1], 0);
  }
}

// The file-type filter on image addresses, rooted ones whose only dot lies
// in the site root included, for several settings of the file types.
TEST(AnalysePageText, ImageFileTypesAsTheFilterJudgesTheWholeAddress) {
  const QStringList sources = {QStringLiteral("/a.jpg"),       QStringLiteral("/noext"),
                               QStringLiteral("rel/b.JPG"),    QStringLiteral("/d.jpeg"),
                               QStringLiteral("http://x.org"), QStringLiteral("/dir.v2/file"),
                               QStringLiteral("/trail."),      QStringLiteral("")};
  QString body;
  for (const QString& src : sources) body += QStringLiteral("<img src='%1'>").arg(src);
  const QString page =
      QStringLiteral("<html><title>t</title>") + body + QString(6000, QLatin1Char('x'));
  const QString root = QStringLiteral("http://h.com/");
  for (const char* types : {"jpg*", "", "*", "com/noext*", "jpeg", "v2/file", "org"}) {
    qm::CrawlSettings settings;
    settings.FileTypes = QString::fromLatin1(types);
    // What the filter says of each whole candidate; the text before the
    // first marker is a candidate too (it holds no apostrophe: empty).
    QString expected;
    int count = 0;
    QStringList candidates = {QString()};
    for (const QString& src : sources) candidates << src.toLower();
    for (const QString& c : candidates) {
      const QString whole = c.startsWith(QLatin1Char('/')) ? root + c.mid(1) : c;
      if (qm::FileTypeMatch(whole, settings)) {
        expected += whole + QStringLiteral("\r\n");
        ++count;
      }
    }
    qm::FingerprintSet seen;
    QString address = QStringLiteral("http://h.com/");
    QString images;
    std::int32_t imgCount = -1, linkCount = -1;
    qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen);
    EXPECT_EQ(images, expected) << types;
    EXPECT_EQ(imgCount, count) << types;
  }
}

// A link holding CR LF can occur across two listed links: it is then not
// new, and the list text is searched across its line ends.
TEST(AnalysePageText, LinkWithLineEndFoundAcrossTwoListedLinks) {
  const QString a = QStringLiteral("http://h.com/x/aaaaaaaaaa.html");
  const QString b = QStringLiteral("http://h.com/x/bbbbbbbbbb.html");
  const QString across = a + QStringLiteral("\r\nhttp://h.com/x/bbbb");
  const QString fresh = a + QStringLiteral("\r\nhttp://h.com/x/cccc");
  QString body;
  for (const QString& link : {a, b, across, fresh})
    body += QStringLiteral("<a href='%1'>x</a>").arg(link);
  const QString page =
      QStringLiteral("<html><title>t</title>") + body + QString(6000, QLatin1Char('x'));
  qm::CrawlSettings settings;
  qm::FingerprintSet seen;
  QString address = QStringLiteral("http://h.com/");
  QString images;
  std::int32_t imgCount = -1, linkCount = -1;
  const QString links =
      qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen);
  const QString crLf = QStringLiteral("\r\n");
  EXPECT_EQ(links, a + crLf + b + crLf + fresh + crLf);
  EXPECT_EQ(linkCount, 3);
  EXPECT_EQ(seen.Count(), 3u);
}

}  // namespace
