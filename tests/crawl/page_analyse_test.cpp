// The analysis of a fetched page, its normalisation and its link list.
#include "crawl/page_analyse.h"

#include <gtest/gtest.h>

#include <random>

#include "crawl/crawl_fixture.h"
#include "support/reference_analyse.h"
#include "web/md5.h"

namespace {

using qmtest::Q;

// One analysis in one line: the links, the images (line ends as blanks), their
// numbers and the address; a rejected page leaves the starting "-", -1s and address.
template <typename Fn>
std::string Outcome(Fn&& analyse, QString address = QStringLiteral("http://H.com/a/b")) {
  QString images = QStringLiteral("-");
  std::int32_t imgCount = -1, linkCount = -1;
  const QString links = analyse(address, images, imgCount, linkCount);
  return QStringLiteral("%1|%2|%3 %4|%5")
      .arg(links, images, QString::number(imgCount), QString::number(linkCount), address)
      .replace("\r\n", " ")
      .toStdString();
}

std::string Analyse(const QString& page, const qm::CrawlSettings& settings,
                    qm::FingerprintSet& seen, const QString& address = "http://H.com/a/b") {
  return Outcome([&](auto&... out) { return qm::AnalysePageText(page, out..., settings, seen); },
                 address);
}

TEST(PageAnalyse, PagesShorterThan5120CharactersAfterTheSourceRewritesAreNotAnalysed) {
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("jpg*");
  qm::FingerprintSet seen;
  QString page =
      QStringLiteral("<a href='/nn'><meta content=\"http://i.com/m.jpg\">");  // 4 shorter
  page += QString(5123 - page.size(), QLatin1Char('x'));
  EXPECT_EQ(Analyse(page, settings, seen), "|-|-1 -1|http://H.com/a/b");
  EXPECT_EQ(Analyse(page + 'x', settings, seen),
            "http://h.com/nn |http://i.com/m.jpg |1 1|http://h.com/a/b/");
}

// Browser addressing: every form of value a browser reads, resolved against
// the first <base href>, case kept; comments, style sheets and a tag the page
// ends inside of give nothing.
TEST(PageAnalyse, BrowserAddressingReadsTheTagsAsABrowserDoes) {
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("JPG*");
  settings.SiteOnly = true;
  settings.SiteBase = QStringLiteral("HTTP://H.ORG/");
  settings.BrowserAddresses = true;
  qm::FingerprintSet seen;
  const QString page =
      QString::fromUtf8(
          "<title>T</title><BASE HREF='../base/'><base href='/ignored/'>"
          "<!-- <img src=\"/commented.jpg\"> --><img SRC = \"Photo.JPG\" alt=x><img src=Bare.jpg>"
          "<IMG src='../img/Q.jpg?w=1&amp;h=2'><picture><source srcset=\"A.jpg 1x, B.jpg 2x\">"
          "<img data-srcset='C.jpg 100w,D.jpg' data-src=\"E.jpg\" src=x.png></picture>"
          "<meta property=\"og:image\" content=\"http://CDN.h.org/M.jpg\">"
          "<script>x.innerHTML = \"<img src=\\\"http:\\/\\/h.org\\/S.jpg\\\">\";</script>"
          "<style>.a{} src='nostyle.jpg'</style><a href=\"Next.html#s2\">n</a><a href='Next.html'>"
          "<a href='//Other.ORG/X.html'><a href='javascript:void(0)'><a href=\"/Up/\">"
          "<a href='http://H.ORG/up/'><p>") +
      QString(5200, QLatin1Char('x')) + QStringLiteral("<a href='/Cut.html' ");
  const std::string images =
      "http://h.org/docs/base/Photo.JPG http://h.org/docs/base/Bare.jpg "
      "http://h.org/docs/img/Q.jpg?w=1&h=2 http://h.org/docs/base/A.jpg "
      "http://h.org/docs/base/B.jpg http://h.org/docs/base/C.jpg http://h.org/docs/base/D.jpg "
      "http://h.org/docs/base/E.jpg http://cdn.h.org/M.jpg http://h.org/S.jpg ";
  EXPECT_EQ(Analyse(page, settings, seen, "http://H.org/docs/sub/page.html"),
            "http://h.org/docs/base/Next.html http://h.org/Up/ http://h.org/up/ |" + images +
                "|10 3|http://h.org/docs/sub/page.html/");
  EXPECT_TRUE(seen.Contains(qm::Md5Key(QStringLiteral("http://other.org/X.html"))));
}

TEST(LinkList, OccursAnswersExactlyAsASubstringSearchOfTheListText) {
  // A small alphabet makes links occur inside each other often; some hold CR or LF.
  std::mt19937 rng(20240607);
  const char16_t alphabet[] = {u'a', u'b', u'/', u'.', u'a', u'b', u'\r', u'\n'};
  qm::LinkList list;
  QString plain;
  for (int i = 0; i < 16000; ++i) {
    QString link;
    for (int k = 1 + static_cast<int>(rng() % (i < 8000 ? 24 : 60)); k > 0; --k)
      link += QChar(alphabet[rng() % (rng() % 50 == 0 ? 8 : 6)]);
    const bool expected = plain.contains(link);
    ASSERT_EQ(list.Occurs(link), expected) << link.toStdString();
    if (!expected) list.Append(link), plain += link + "\r\n";
  }
  EXPECT_EQ(list.Text(), plain);
}

// The fast analysis held against the plain one on random pages, with and
// without the wide vector instructions, for several keyword and file type settings.
TEST(PageAnalyse, AgreesWithThePlainAnalysisOnRandomPages) {
  // Fragments between bars; each "#" becomes a number.
  const QStringList fragments =
      QString::fromUtf8(
          "<a href='/p#.html'>|<A HREF=\"/P#.HTML\">|<a href='//cdn.h.com/#'>|<a href='#'>|"
          "it's |src='|<a href='javascript:go(#)'>|<a href='/a b#'>|<img src='/i#.jpg'>|"
          "\"quoted\" |href='|<img src=\"http:\\/\\/img.h.com\\/#.JPG\">|"
          "<img src=http://h.com/#.jpg alt='x'>|<meta content=\"http://h.com/m#.jpg\">|"
          "<a href='/p#.html\r\nnext'>|<img src='rel/#.jpeg'>|<img src='/noext#'>|"
          "<img src='http://x#.org'>|<title>t#</title>|<img src='/dir.v2/file#'>|"
          "<img src='/trail.'>|<a href='http://other.com/#.html'>|"
          "<A HREF=\"/Ünï/İ#.html\">|\\\\/ \\\" |"
          "<a href='http://go.to/?u=http://h.com/p#.html'>|"
          "<meta name=\"keywords\" content=\"k#,猫\">|"
          "<meta name=\"description\" content=\"猫 d#\">|<a href='/\u212Aelvin#'>|"
          "Ärger über Σ |<meta name=\"description\" content=\"src=http://h.com/#.jpg\">|"
          "<a href='/中文/页#.html'>|😀 <a href='/😀#'>|plain text, nothing here. ")
          .split(QLatin1Char('|'));
  const char* types[] = {"jpg*", "", "*", "jpeg", "v2/file", "org", "com/noext*"};
  const char* keyWords[] = {"", "t1*t2", "猫", "k1*k2*d3"};
  std::mt19937 rng(7);
  for (const bool wide : {true, false}) {
    qm::AllowWideVectors(wide);
    qm::CrawlSettings settings;
    settings.SiteBase = QStringLiteral("http://h.com/\r\nhttp://img.h.com/");
    qm::FingerprintSet seen;
    QString seenText;
    for (int page = 0; page < 300; ++page) {
      settings.SiteOnly = page % 3 == 0;
      settings.KeyWords = QString::fromUtf8(keyWords[page % 4]);
      // Letters that lower to two and surrogates send a page other ways: only on some pages.
      const bool twoLetters = page % 5 == 0, surrogates = page % 4 == 3;
      settings.FileTypes = QString::fromUtf8(types[page % 7]);
      QString text = QStringLiteral("<html>");
      for (const qsizetype length = 4800 + rng() % 6000; text.size() < length;) {
        QString f = fragments[rng() % fragments.size()];
        if ((!twoLetters && f.contains(QChar(0x130))) || (!surrogates && f.contains(QChar(0xD83D))))
          continue;
        text += f.replace(QLatin1Char('#'), QString::number(rng() % 40));
      }
      const QString address = QStringLiteral("http://H.com/dir/page%1.html").arg(page);
      SCOPED_TRACE(testing::Message() << "page " << page << (wide ? " wide" : " narrow"));
      ASSERT_EQ(Analyse(text, settings, seen, address), Outcome(
                                                            [&](auto&... out) {
                                                              return qmtest::ReferenceAnalyse(
                                                                  text, out..., settings, seenText);
                                                            },
                                                            address));
      ASSERT_EQ(seen.TextLength(), static_cast<std::size_t>(seenText.size()));
    }
    EXPECT_GT(seen.Count(), 100u);
  }
  qm::AllowWideVectors(true);
}

TEST(NormalisePageText, QuotesToApostrophesLowerCaseAsTheLibraryAndEscapedSlashes) {
  const auto byLibrary = [](QString page) {
    return page.replace(QLatin1Char('"'), QLatin1Char('\'')).toLower().replace("\\/", "/");
  };
  // Every character of the BMP inside an ASCII run (the vector pass) and in a short text;
  // then plane 1, which holds every script with letter case beyond the BMP.
  for (char32_t c = 0; c < 0x20000; ++c) {
    const QString ch = c < 0x10000 ? QString(QChar(char16_t(c))) : QString::fromUcs4(&c, 1);
    for (const QString& text : {"AbCdEfGh\"I\\/" + ch + "JkLmNoPqRsTuVwXyZ\\\\/'", ch + "X"})
      ASSERT_EQ(qm::NormalisePageText(text), byLibrary(text)) << std::hex << unsigned{c};
  }
}

}  // namespace
