// The analysis of a fetched page, its normalisation and its link list.
#include "crawl/page_analyse.h"

#include <gtest/gtest.h>

#include <random>

#include "support/reference_analyse.h"
#include "web/md5.h"

namespace {

// One analysis in one line, by the fast analysis or, given `seenText`, the
// plain one: the links, the images (line ends as blanks), their numbers and the
// address; a rejected page leaves the starting "-", -1s and address.
std::string Analyse(const QString& page, const qm::CrawlSettings& settings,
                    qm::FingerprintSet& seen, QString address = "http://H.com/a/b",
                    QString* seenText = nullptr) {
  QString images = "-";
  std::int32_t imgCount = -1;
  std::int32_t linkCount = -1;
  const QString links =
      seenText ? qmtest::ReferenceAnalyse(page, address, images, imgCount, linkCount, settings,
                                          *seenText)
               : qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen);
  return QString("%1|%2|%3 %4|%5")
      .arg(links, images, QString::number(imgCount), QString::number(linkCount), address)
      .replace("\r\n", " ")
      .toStdString();
}

TEST(PageAnalyse, PagesShorterThan5120CharactersAfterTheSourceRewritesAreNotAnalysed) {
  qm::CrawlSettings settings;
  settings.FileTypes = "jpg*";
  qm::FingerprintSet seen;
  QString page = "<a href='/nn'><meta content=\"http://i.com/m.jpg\">";  // 4 shorter
  page += QString(5123 - page.size(), 'x');
  EXPECT_EQ(Analyse(page, settings, seen), "|-|-1 -1|http://H.com/a/b");
  EXPECT_EQ(Analyse(page + 'x', settings, seen),
            "http://h.com/nn |http://i.com/m.jpg |1 1|http://h.com/a/b/");
}

// Browser addressing: every form of value a browser reads, resolved against
// the first <base href>, case kept; comments, style sheets and a tag the page
// ends inside of give nothing.
TEST(PageAnalyse, BrowserAddressingReadsTheTagsAsABrowserDoes) {
  qm::CrawlSettings settings;
  settings.FileTypes = "JPG*";
  settings.SiteOnly = true;
  settings.SiteBase = "HTTP://H.ORG/";
  settings.BrowserAddresses = true;
  qm::FingerprintSet seen;
  const QString page =
      "<title>T</title><BASE HREF='../base/'><base href='/ignored/'>"
      "<!-- a > <img src=\"/commented.jpg\"> --><img SRC = \"Photo.JPG\" alt=x><img src=Bare.jpg>"
      "<IMG src='../img/Q.jpg?w=1&amp;h=2'><picture><source srcset=\"A.jpg?x&amp;amp;y 1x"
      " (q,Z.jpg ), B.jpg 2x\"><img data-srcset='C.jpg,, D.jpg' data-src=\"E.jpg\" src=x.png>"
      "</picture>"
      "<meta property=\"og:image\" content=\"http://CDN.h.org/M.jpg\">"
      "<script>x.innerHTML = \"<img src=\\\"http:\\/\\/h.org\\/S.jpg\\\">\";</script>"
      "<style><img src='nostyle.jpg'></style><a href=\"Next.html#s2\">n</a><a href='Next.html'>"
      "<a href='//Other.ORG/X.html'><a href='javascript:void(0)'><a href=\"/Up/\">"
      "<a href='http://H.ORG/up/'><meta content='http://h.org/N.jpg'><p>" +
      QString(5200, 'x') + "<a href='/Cut.html' ";
  QString address = "http://h.org/Docs/Moved";  // redirected to the page below
  QString images;
  std::int32_t imgCount = 0;
  std::int32_t linkCount = 0;
  EXPECT_EQ(qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen,
                                "http://H.org/docs/sub/page.html"),
            "http://h.org/docs/base/Next.html\r\nhttp://h.org/Up/\r\nhttp://h.org/up/\r\n");
  EXPECT_EQ(images.split("\r\n"),
            QString("http://h.org/docs/base/Photo.JPG http://h.org/docs/base/Bare.jpg "
                    "http://h.org/docs/img/Q.jpg?w=1&h=2 http://h.org/docs/base/A.jpg?x&amp;y "
                    "http://h.org/docs/base/B.jpg http://h.org/docs/base/C.jpg "
                    "http://h.org/docs/base/D.jpg http://h.org/docs/base/E.jpg "
                    "http://cdn.h.org/M.jpg http://h.org/S.jpg ")
                .split(' '));
  EXPECT_EQ(address, "http://h.org/docs/moved/");
  EXPECT_TRUE(seen.Contains(qm::Md5Key(QString("http://h.org/Docs/Moved"))));  // its own, as asked
  EXPECT_TRUE(seen.Contains(qm::Md5Key(QString("http://h.org/docs/sub/page.html"))));  // as came
}

TEST(LinkList, OccursAnswersExactlyAsASubstringSearchOfTheListText) {
  // A small alphabet makes links occur inside each other often; some hold CR or LF.
  std::mt19937 rng(20240607);
  const QString alphabet = "ab/.ab\r\n";
  qm::LinkList list;
  QString plain;
  for (int i = 0; i < 16000; ++i) {
    QString link;
    for (auto k = 1 + rng() % (i < 8000 ? 24 : 60); k > 0; --k)
      link += alphabet[rng() % (rng() % 50 == 0 ? 8 : 6)];
    const bool expected = plain.contains(link);
    ASSERT_EQ(list.Occurs(link), expected) << i;
    if (!expected) {
      list.Append(link);
      plain += link + "\r\n";
    }
  }
  const qsizetype end = plain.indexOf("\r\n", 1000);
  EXPECT_TRUE(list.Occurs(plain.mid(end - 10, 24)));  // across the end of a link
}

// The fast analysis held against the plain one on random pages, with and
// without the wide vector instructions, for several keyword and file type settings.
TEST(PageAnalyse, AgreesWithThePlainAnalysisOnRandomPages) {
  // Fragments between bars; each "#" becomes a number.
  const QStringList fragments =
      QString(
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
          .split('|');
  const char* types[] = {"jpg*", "", "*", "jpeg", "v2/file", "org", "com/noext*"};
  const char* keyWords[] = {"", "t1*t2", "猫", "k1*k2*d3"};
  std::mt19937 rng(7);
  for (const bool wide : {true, false}) {
    qm::AllowWideVectors(wide);
    qm::CrawlSettings settings;
    settings.SiteBase = "http://h.com/\r\nhttp://img.h.com/";
    qm::FingerprintSet seen;
    QString seenText;
    for (int page = 0; page < 300; ++page) {
      settings.SiteOnly = page % 3 == 0;
      settings.KeyWords = keyWords[page % 4];
      // Letters that lower to two and surrogates send a page other ways: only on some pages.
      const bool twoLetters = page % 5 == 0;
      const bool surrogates = page % 4 == 3;
      settings.FileTypes = types[page % 7];
      QString text = "<html>";
      for (const qsizetype length = 4800 + rng() % 6000; text.size() < length;) {
        QString f = fragments[rng() % fragments.size()];
        if ((!twoLetters && f.contains(QChar(0x130))) || (!surrogates && f.contains(QChar(0xD83D))))
          continue;
        text += f.replace('#', QString::number(rng() % 40));
      }
      const QString address = QString("http://H.com/dir/page%1.html").arg(page);
      SCOPED_TRACE(testing::Message() << "page " << page << (wide ? " wide" : " narrow"));
      ASSERT_EQ(Analyse(text, settings, seen, address),
                Analyse(text, settings, seen, address, &seenText));
    }
  }
  qm::AllowWideVectors(true);
}

TEST(NormalisePageText, QuotesToApostrophesLowerCaseAsTheLibraryAndEscapedSlashes) {
  const auto byLibrary = [](QString page) {
    return page.replace('"', '\'').toLower().replace("\\/", "/");
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
