// The real window driven as a person would: a loopback site, the settings
// typed into the boxes, the site switch operated, Start clicked, rows listed
// and images saved by the crawler's own download threads, Stop clicked.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <mutex>

#include "ui/window_test_support.h"
#include "web/yield.h"

namespace {

constexpr int kImageBytes = 2048;  // above the 1 kb bound typed below

// A page of more than 5,120 characters around `body`.
qmtest::Route Page(const std::string& body) {
  std::string page = "<html><head><title>t</title></head><body>" + body;
  while (page.size() < 6000) page += "<p>filler text of the page to make it long enough</p>\n";
  qmtest::Route route;
  route.headerLines = {"Content-Type: text/html; charset=utf-8"};
  route.body = page + "</body></html>";
  return route;
}

qmtest::Route Jpeg(char fill) {
  qmtest::Route route;
  route.headerLines = {"Content-Type: image/jpeg"};
  route.body = std::string(kImageBytes, fill);
  return route;
}

class WindowE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    qm::SetYieldHook([] { QCoreApplication::processEvents(); });
    window = std::make_unique<qm::frmMain>(QString::fromStdString(dir.Path()), rec.Hooks());
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override {
    // Download threads share the engine's state: let them end first.
    qm::DownloadState& state = window->Engine().Downloads();
    qmtest::WaitUntil(
        [&] {
          std::lock_guard<std::mutex> guard(state.lock);
          return state.ThreadCount == 0;
        },
        60000);
    QTest::qWait(50);
    window.reset();
    qm::SetYieldHook({});
  }
  void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(window->windowHandle(), button, {},
                      widget->mapTo(window.get(), widget->rect().center()));
  }
  // Clicks into a box, selects everything in it and types `text` over it.
  void TypeInto(QWidget* box, const QString& text) {
    Click(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }
  QString ImageFolder() const { return QString::fromStdString(dir.Path()) + "/imgdown"; }
  QStringList SavedImages() const { return QDir(ImageFolder()).entryList({"*.jpg"}, QDir::Files); }

  qmtest::TempDir dir;  // the program folder: no downloader beside it
  qmtest::WindowRecorder rec;
  std::unique_ptr<qm::frmMain> window;
};

TEST_F(WindowE2E, CrawlASiteFromTheWindow) {
  qmtest::LoopbackServer site;
  site.Serve("/", Page("<a href=\"/a.html\">a</a> <a href=\"/b.html\">b</a>"
                       "<img src=\"/img/one.jpg\"><img src=\"/img/two.jpg\">"));
  site.Serve("/a.html", Page("<a href=\"/\">home</a><img src=\"/img/three.jpg\">"));
  site.Serve("/b.html", Page("<a href=\"/a.html\">a</a><img src='/img/four.jpg'>"));
  site.Serve("/img/one.jpg", Jpeg('1'));
  site.Serve("/img/two.jpg", Jpeg('2'));
  site.Serve("/img/three.jpg", Jpeg('3'));
  site.Serve("/img/four.jpg", Jpeg('4'));
  const QString home = QString::fromStdString(site.Url("/"));

  qm::frmMain& w = *window;
  Click(w.qMmenu1(qm::kBtnFold));  // unfold to reach the lower panel
  ASSERT_EQ(w.height(), 620);
  TypeInto(w.Txt(4), QStringLiteral("1kb"));
  TypeInto(w.Txt(7), QStringLiteral("300ms"));
  TypeInto(w.Txt(2), home);
  EXPECT_EQ(w.Engine().MinSizeKb(), 1);
  EXPECT_EQ(w.Engine().Timer1Interval(), 300);
  EXPECT_EQ(w.Engine().Txt(2), home);

  // The site switch off and on again takes the typed address as the site.
  Click(w.qMmenu1(qm::kBtnSite));
  Click(w.qMmenu1(qm::kBtnSite));
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));

  w.Engine().Timer2().setInterval(300);  // the download timer, shortened for the test
  qm::qMmenu* start = w.qMmenu1(qm::kBtnStart);
  Click(start);
  ASSERT_EQ(start->Caption(), QStringLiteral("停 止"));
  EXPECT_EQ(w.TxtText(0), ImageFolder());  // the default image folder, filled in

  ASSERT_TRUE(qmtest::WaitUntil(
      [&] { return w.Engine().Lv().ItemCount() >= 2 && SavedImages().size() >= 4; }, 60000))
      << "rows " << w.Engine().Lv().ItemCount() << ", images " << SavedImages().size();
  EXPECT_EQ(w.Lab(6)->text().toInt(), w.Engine().Lv().ItemCount());
  EXPECT_GE(w.Lab(4)->text().toInt(), 4);
  EXPECT_TRUE(w.TxtMulti(1)->toPlainText().contains(QStringLiteral("开始爬行网页地址...")));
  for (const QString& name : SavedImages())
    EXPECT_EQ(QFileInfo(ImageFolder() + "/" + name).size(), kImageBytes) << name.toStdString();

  // The list, shown and copied with the right button.
  Click(w.qMmenu1(qm::kBtnList));
  ASSERT_TRUE(w.Lv()->isVisible());
  w.Lv()->selectAll();
  QTest::mouseClick(w.Lv()->viewport(), Qt::RightButton, {}, QPoint(50, 5));
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.contains(QString::fromStdString(site.Url("/a.html")) + "\r\n"));
  EXPECT_TRUE(copied.contains(QString::fromStdString(site.Url("/b.html")) + "\r\n"));

  Click(start);
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));
  EXPECT_FALSE(w.Engine().Running());
  EXPECT_TRUE(w.TxtMulti(1)->toPlainText().contains(QString(66, QChar(u'-'))));
  EXPECT_TRUE(rec.criticals.isEmpty()) << rec.criticals.join('\n').toStdString();
}

}  // namespace
