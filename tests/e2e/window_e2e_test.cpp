// The real window driven as a person would: a loopback site, the settings
// typed into the boxes, the site switch operated, Start clicked, rows listed
// and images saved by the crawler's own download threads, Stop clicked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTest>
#include <mutex>
#include <string>

#include "support/loopback_server.h"
#include "ui/frm_main.h"
#include "web/yield.h"

namespace {

using qm::frmMain;

constexpr int kImageBytes = 2048;  // above the 1 kb bound typed below

template <class F>
bool WaitUntil(F done, int deadlineMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) return false;
    QTest::qWait(20);
  }
  return true;
}

// A page of more than 5,120 characters around `body`.
std::string LongPage(const std::string& title, const std::string& body) {
  std::string page = "<html><head><title>" + title + "</title></head><body>" + body;
  while (page.size() < 6000) page += "<p>filler text of the page to make it long enough</p>\n";
  return page + "</body></html>";
}

qmtest::Route Html(const std::string& page) {
  qmtest::Route route;
  route.headerLines = {"Content-Type: text/html; charset=utf-8"};
  route.body = page;
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
    qm::WindowHooks hooks;
    hooks.critical = [this](QWidget*, const QString& text, const QString&) { criticals << text; };
    hooks.pickFolder = [](QWidget*, const QString&) { return QString(); };
    hooks.endProgram = [] {};
    window = std::make_unique<frmMain>(QString::fromStdString(dir.Path()), hooks);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override {
    if (window) {
      // Download threads share the engine's state: let them end first.
      qm::DownloadState& state = window->Engine().Downloads();
      WaitUntil(
          [&] {
            std::lock_guard<std::mutex> guard(state.lock);
            return state.ThreadCount == 0;
          },
          60000);
      QTest::qWait(50);
      window.reset();
    }
    qm::SetYieldHook({});
  }

  void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    const QPoint at = widget->mapTo(window.get(), widget->rect().center());
    QTest::mouseClick(window->windowHandle(), button, {}, at);
  }
  // Clicks into a box, selects everything in it and types `text` over it.
  void TypeInto(QWidget* box, const QString& text) {
    Click(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }
  QStringList SavedImages() const {
    return QDir(QString::fromStdString(dir.Path()) + "/imgdown").entryList({"*.jpg"}, QDir::Files);
  }

  qmtest::TempDir dir;  // the program folder: no downloader beside it
  QStringList criticals;
  std::unique_ptr<frmMain> window;
};

TEST_F(WindowE2E, CrawlASiteFromTheWindow) {
  qmtest::LoopbackServer site;
  site.Serve("/", Html(LongPage("首页",
                                "<a href=\"/a.html\">a</a> <a href=\"/b.html\">b</a>"
                                "<img src=\"/img/one.jpg\"><img src=\"/img/two.jpg\">")));
  site.Serve("/a.html", Html(LongPage("a", "<a href=\"/\">home</a><img src=\"/img/three.jpg\">")));
  site.Serve("/b.html", Html(LongPage("b", "<a href=\"/a.html\">a</a><img src='/img/four.jpg'>")));
  site.Serve("/img/one.jpg", Jpeg('1'));
  site.Serve("/img/two.jpg", Jpeg('2'));
  site.Serve("/img/three.jpg", Jpeg('3'));
  site.Serve("/img/four.jpg", Jpeg('4'));

  frmMain& w = *window;
  // Unfold to reach the lower panel.
  Click(w.qMmenu1(qm::kBtnFold));
  ASSERT_EQ(w.height(), 620);

  // The settings, typed.
  TypeInto(w.Txt(4), QStringLiteral("1kb"));
  EXPECT_EQ(w.Engine().MinSizeKb(), 1);
  TypeInto(w.Txt(7), QStringLiteral("300ms"));
  EXPECT_EQ(w.Engine().Timer1Interval(), 300);
  TypeInto(w.Txt(2), QString::fromStdString(site.Url("/")));
  EXPECT_EQ(w.Engine().Txt(2), QString::fromStdString(site.Url("/")));

  // The site switch off and on again takes the typed address as the site.
  qm::qMmenu* site_switch = w.qMmenu1(qm::kBtnSite);
  Click(site_switch);
  EXPECT_EQ(site_switch->Caption(), QStringLiteral("只抓取站内"));
  Click(site_switch);
  EXPECT_EQ(site_switch->Caption(), QStringLiteral("√只抓取站内"));

  w.Engine().Timer2().setInterval(300);  // the download timer, shortened for the test
  qm::qMmenu* start = w.qMmenu1(qm::kBtnStart);
  Click(start);
  ASSERT_EQ(start->Caption(), QStringLiteral("停 止"));
  EXPECT_TRUE(w.Engine().Running());
  // The default image folder was filled in.
  EXPECT_TRUE(QFileInfo(w.TxtText(0)).isDir());

  ASSERT_TRUE(WaitUntil(
      [&] { return w.Engine().Lv().ItemCount() >= 2 && SavedImages().size() >= 4; }, 60000))
      << "rows " << w.Engine().Lv().ItemCount() << ", images " << SavedImages().size();

  // What the window shows: the counters, the current address, the log.
  EXPECT_EQ(w.Lab(6)->text().toInt(), w.Engine().Lv().ItemCount());
  EXPECT_GE(w.Lab(4)->text().toInt(), 4);
  EXPECT_TRUE(w.TxtMulti(1)->toPlainText().contains(QStringLiteral("开始爬行网页地址...")));
  for (const QString& name : SavedImages()) {
    EXPECT_EQ(QFileInfo(QString::fromStdString(dir.Path()) + "/imgdown/" + name).size(),
              kImageBytes)
        << name.toStdString();
  }

  // The list, shown and copied with the right button.
  Click(w.qMmenu1(qm::kBtnList));
  ASSERT_TRUE(w.Lv()->isVisible());
  w.Lv()->selectAll();
  QTest::mouseClick(w.Lv()->viewport(), Qt::RightButton, {}, QPoint(50, 5));
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.contains(QString::fromStdString(site.Url("/a.html")) + "\r\n"))
      << copied.toStdString();
  EXPECT_TRUE(copied.contains(QString::fromStdString(site.Url("/b.html")) + "\r\n"));

  Click(start);
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));
  EXPECT_FALSE(w.Engine().Running());
  EXPECT_TRUE(w.TxtMulti(1)->toPlainText().contains(QString(66, QChar(u'-'))));
  EXPECT_TRUE(criticals.isEmpty()) << criticals.join('\n').toStdString();
}

}  // namespace
