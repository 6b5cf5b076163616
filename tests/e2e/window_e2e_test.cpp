// The real window driven as a person would: a loopback site, the settings
// typed into the boxes, the site switch operated, Start clicked, rows listed
// and images saved by the crawler's own download threads, Stop clicked.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFileInfo>

#include "ui/window_test_support.h"

namespace {

using namespace qmtest;

constexpr int kImageBytes = 2048;  // above the 1 kb bound typed below

Route Jpeg(char fill) {
  Route route = Reply(std::string(kImageBytes, fill));
  route.headerLines = {"Content-Type: image/jpeg"};
  return route;
}

class WindowE2E : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Show(/*active=*/true);
  }
  void TearDown() override {
    // Download threads share the engine's state: let them end first.
    WaitForWorkers(window->Engine().Downloads());
    QTest::qWait(50);
    window.reset();
  }
  QString ImageFolder() const { return Q(dir.Path()) + "/imgdown"; }
  QStringList SavedImages() const { return QDir(ImageFolder()).entryList({"*.jpg"}, QDir::Files); }

  YieldScope yields;  // the program folder holds no downloader
};

TEST_F(WindowE2E, CrawlASiteFromTheWindow) {
  LoopbackServer site;
  site.Serve("/", Html(LongPage("<a href=\"/a.html\">a</a> <a href=\"/b.html\">b</a>"
                                "<img src=\"/img/one.jpg\"><img src=\"/img/two.jpg\">")));
  site.Serve("/a.html", Html(LongPage("<a href=\"/\">home</a><img src=\"/img/three.jpg\">")));
  site.Serve("/b.html", Html(LongPage("<a href=\"/a.html\">a</a><img src='/img/four.jpg'>")));
  site.Serve("/img/one.jpg", Jpeg('1'));
  site.Serve("/img/two.jpg", Jpeg('2'));
  site.Serve("/img/three.jpg", Jpeg('3'));
  site.Serve("/img/four.jpg", Jpeg('4'));
  const QString home = Q(site.Url("/"));

  qm::frmMain& w = *window;
  ClickAt(w.qMmenu1(qm::kBtnFold));  // unfold to reach the lower panel
  ASSERT_EQ(w.height(), 620);
  TypeInto(w.Txt(4), QStringLiteral("1kb"));
  TypeInto(w.Txt(7), QStringLiteral("300ms"));
  TypeInto(w.Txt(2), home);
  EXPECT_EQ(w.Engine().MinSizeKb(), 1);
  EXPECT_EQ(w.Engine().Timer1Interval(), 300);
  EXPECT_EQ(w.Engine().Txt(2), home);

  // The site switch off and on again takes the typed address as the site.
  ClickAt(w.qMmenu1(qm::kBtnSite));
  ClickAt(w.qMmenu1(qm::kBtnSite));
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));

  w.Engine().Timer2().setInterval(300);  // the download timer, shortened for the test
  qm::qMmenu* start = w.qMmenu1(qm::kBtnStart);
  ClickAt(start);
  ASSERT_EQ(start->Caption(), QStringLiteral("停 止"));
  EXPECT_EQ(w.TxtText(0), ImageFolder());  // the default image folder, filled in

  ASSERT_TRUE(
      WaitUntil([&] { return w.Engine().Lv().ItemCount() >= 2 && SavedImages().size() >= 4; }, 60))
      << "rows " << w.Engine().Lv().ItemCount() << ", images " << SavedImages().size();
  EXPECT_EQ(w.Lab(6)->text().toInt(), w.Engine().Lv().ItemCount());
  EXPECT_GE(w.Lab(4)->text().toInt(), 4);
  EXPECT_TRUE(Log().contains(QStringLiteral("开始爬行网页地址...")));
  for (const QString& name : SavedImages())
    EXPECT_EQ(QFileInfo(ImageFolder() + "/" + name).size(), kImageBytes) << name.toStdString();

  // The list, shown and copied with the right button.
  ClickAt(w.qMmenu1(qm::kBtnList));
  ASSERT_TRUE(w.Lv()->isVisible());
  w.Lv()->selectAll();
  QTest::mouseClick(w.Lv()->viewport(), Qt::RightButton, {}, QPoint(50, 5));
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.contains(Q(site.Url("/a.html")) + "\r\n"));
  EXPECT_TRUE(copied.contains(Q(site.Url("/b.html")) + "\r\n"));

  ClickAt(start);
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));
  EXPECT_FALSE(w.Engine().Running());
  EXPECT_TRUE(Log().contains(QString(66, QChar(u'-'))));
  EXPECT_TRUE(rec.criticals.isEmpty()) << rec.criticals.join('\n').toStdString();
}

}  // namespace
