// The crawl step over small loopback sites, driven tick by tick.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <map>

#include "crawl/crawl_fixture.h"
#include "crawl/page_analyse.h"

namespace {

using qm::CrawlEngine;
using qmtest::EngineRig;
using qmtest::Q;

const QString kDone = QStringLiteral("分析完成");
const QString kBusy = QStringLiteral("分析中..");
const QString kDashes(66, QLatin1Char('-'));
const QString kCrawling = QStringLiteral("开始执行爬虫....");

struct Site {
  qmtest::LoopbackServer server;
  void Page(const std::string& path, const std::string& body) {
    server.Serve(path, qmtest::Html(qmtest::LongPage(body)));
  }
  QString Url(const std::string& path = "/") const { return Q(server.Url(path)); }
  std::vector<std::string> Targets() const {
    std::vector<std::string> out;
    for (const auto& r : server.Requests()) out.push_back(r.target);
    return out;
  }
  std::map<std::string, int> TargetCounts() const {
    std::map<std::string, int> out;
    for (const auto& r : server.Requests()) ++out[r.target];
    return out;
  }
};

TEST(CrawlStep, SiteSwitchLeftAsLoadedAdmitsNoPage) {
  Site site;
  site.Page("/", "<a href='/a.html'>a</a>");
  site.Page("/a.html", "");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.engine.SetTxt(2, site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.server.RequestCount(), 0u);
  EXPECT_EQ(rig.Rows(), 0);
  EXPECT_EQ(rig.LogCount(kCrawling), 1);
  EXPECT_TRUE(rig.engine.Timer2().isActive());  // the first step enables the downloads
  EXPECT_EQ(rig.engine.SeedList(), QString());  // the seed stage ran once
  rig.engine.Click(qm::kBtnStart);

  // Way out one: the switch off.
  rig.engine.Click(qm::kBtnSite);
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Targets(), (std::vector<std::string>{"/", "/a.html"}));
  EXPECT_EQ(rig.Links(), QStringList{site.Url("/a.html")});
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, SiteSwitchTurnedOnAgainAfterTypingTakesTheSite) {
  Site site;
  site.Page("/", "<a href='/a.html'>a</a><a href='http://elsewhere.invalid/b.html'>b</a>");
  site.Page("/a.html", "");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url(), /*siteOnly=*/true);
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Targets(), (std::vector<std::string>{"/", "/a.html"}));
  EXPECT_EQ(rig.Links(), QStringList{site.Url("/a.html")});
  EXPECT_EQ(rig.State(0), kDone);
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, OnlySeedLinesWithAnAddressAreAnalysed) {
  Site site;
  site.Page("/", "<a href='/a.html'>a</a><img src='/s.jpg'>");
  site.Page("/two", "<a href='/b.html'>b</a>");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url() + QStringLiteral("\r\nno address here"), false);
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.TargetCounts()["/"], 1);
  EXPECT_EQ(rig.LogCount(kCrawling), 1);
  EXPECT_EQ(rig.engine.Lab(6), QStringLiteral("1"));
  EXPECT_EQ(rig.engine.Lab(4), QStringLiteral("1"));
  EXPECT_EQ(rig.engine.ImgTotal(), 1);
  rig.engine.Click(qm::kBtnStart);

  // Seed lines typed with bare LF ends are still separate addresses.
  site.server.ClearRequests();
  rig.Seed(site.Url() + QStringLiteral("\n") + site.Url("/two"), false);
  rig.Start();
  rig.engine.Timer1_Timer();
  const auto counts = site.TargetCounts();
  EXPECT_EQ(counts.count("/"), 1u);
  EXPECT_EQ(counts.count("/two"), 1u);
  EXPECT_EQ(rig.Links(), QStringList{site.Url("/b.html")});  // /a.html was met before
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, StyleSheetsScriptsFeedsAndIconsArePassedOver) {
  Site site;
  site.Page("/",
            "<a href='/favicon.ico'></a><a href='/style.css'></a><a href='/app.js'></a>"
            "<a href='/feed.xml'></a><a href='/style.css?v=2'></a><a href='/page2.html'></a>");
  site.Page("/page2.html",
            "<a href='/favicon2.ico'></a><a href='/style2.css'></a><a href='http://nodots/x'></a>"
            "<a href='/app2.js'></a><a href='/feed2.xml'></a><a href='/style2.css?v=2'></a>"
            "<a href='/page3.html'></a>");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url(), false);
  rig.Start();
  rig.engine.Timer1_Timer();
  // A start page's links are all listed; a walked page's are tested: the
  // dotless link after style2.css is judged by the extension css.
  QStringList expected;
  for (const char* p : {"/favicon.ico", "/style.css", "/app.js", "/feed.xml", "/style.css?v=2",
                        "/page2.html", "/style2.css?v=2", "/page3.html"})
    expected << site.Url(p);
  EXPECT_EQ(rig.Links(), expected);
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, ARejectedPageAfterAPageWithImagesAddsNothing) {
  Site site;
  site.Page("/", "<a href='/b.html'></a><a href='/a.html'></a>");
  site.Page("/a.html",
            "<img src='/1.jpg'><img src='/2.jpg'><img src='/3.jpg'>"
            "<img src='/4.jpg'><img src='/5.jpg'>");
  site.server.Serve("/b.html", qmtest::Html("<html>too short</html>"));
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Targets(), (std::vector<std::string>{"/", "/a.html", "/b.html"}));
  EXPECT_EQ(rig.engine.ImgTotal(), 5);
  EXPECT_EQ(rig.engine.Lab(4), QStringLiteral("5"));
  QString images;
  for (int i = 1; i <= 5; ++i) images += site.Url("/" + std::to_string(i) + ".jpg") + '"';
  // The start page's empty image list, page a's list, page b's empty list.
  EXPECT_EQ(rig.engine.Downloads().Queue(), QStringLiteral("\"") + images + "\"" + "\"");
  EXPECT_EQ(rig.State(0), kDone);  // the rejected page is not tried again
  EXPECT_EQ(rig.State(1), kDone);
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, RowsAreWalkedNewestFirstAndNewRowsWaitForTheNextStep) {
  Site site;
  site.Page("/", "<a href='/p0.html'></a><a href='/p1.html'></a><a href='/p2.html'></a>");
  site.Page("/p0.html", "");
  site.Page("/p1.html", "");
  site.Page("/p2.html", "<a href='/p3.html'></a>");
  site.Page("/p3.html", "<img src='/only.jpg'>");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Targets(), (std::vector<std::string>{"/", "/p2.html", "/p1.html", "/p0.html"}));
  ASSERT_EQ(rig.Rows(), 4);
  EXPECT_EQ(rig.engine.Lv().ItemText(3, 0), QStringLiteral("4"));
  EXPECT_EQ(rig.Link(3), site.Url("/p3.html"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.State(i), kDone);
  EXPECT_EQ(rig.State(3), QString());
  EXPECT_EQ(rig.engine.Lab(6), QStringLiteral("4"));
  EXPECT_EQ(rig.engine.Lab(7), QStringLiteral("Get ") + site.Url("/p0.html"));

  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Targets().back(), "/p3.html");
  EXPECT_EQ(site.server.RequestCount(), 5u);
  EXPECT_EQ(rig.State(3), kDone);
  EXPECT_EQ(rig.engine.ImgTotal(), 1);

  // Everything analysed: further steps fetch nothing and change no counter.
  QSignalSpy labs(&rig.engine, &CrawlEngine::LabChanged);
  rig.engine.Timer1_Timer();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.server.RequestCount(), 5u);
  EXPECT_EQ(labs.count(), 0);
  EXPECT_EQ(rig.LogCount(kCrawling), 1);
  EXPECT_TRUE(rig.engine.Timer1Enabled());
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, StopWhileLinksAreAddedEndsTheStepAfterTheCurrentLine) {
  Site site;
  site.Page("/", "<a href='/p1.html'></a>");
  site.Page("/p1.html", "<a href='/q1.html'></a><a href='/q2.html'></a><a href='/q3.html'></a>");
  EngineRig rig;
  bool stopped = false;
  qmtest::YieldScope yields([&] {
    if (!stopped && rig.Rows() >= 2) {  // after the first link of p1 was listed
      stopped = true;
      rig.engine.Click(qm::kBtnStart);
    }
  });
  rig.Seed(site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  ASSERT_TRUE(stopped);
  EXPECT_EQ(rig.Links(),
            (QStringList{site.Url("/p1.html"), site.Url("/q1.html"), site.Url("/q2.html")}));
  EXPECT_EQ(rig.State(0), kBusy);
  EXPECT_FALSE(rig.engine.Running());
  EXPECT_FALSE(rig.engine.Timer1Enabled());
  EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), QStringLiteral("开 始"));
  EXPECT_EQ(rig.LogCount(kDashes), 2);       // the Stop, then the step's own stop
  EXPECT_EQ(rig.engine.Lv().rowCount(), 3);  // the batch was shown
}

TEST(CrawlStep, ATickDuringAStepStartsNoSecondStep) {
  Site site;
  site.Page("/", "<a href='/p0.html'></a><a href='/p1.html'></a>");
  site.Page("/p0.html", "<a href='/p2.html'></a>");
  site.Page("/p1.html", "");
  site.Page("/p2.html", "");
  EngineRig rig;
  int nested = 0;
  qmtest::YieldScope yields([&] {
    ++nested;
    rig.engine.Timer1_Timer();
  });
  rig.Seed(site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_GT(nested, 0);
  EXPECT_EQ(site.Targets(), (std::vector<std::string>{"/", "/p1.html", "/p0.html"}));
  rig.engine.Click(qm::kBtnStart);
}

TEST(CrawlStep, StopKeepsTheCrawlAndTheNextStartListsOnlyLinksNeverMet) {
  Site site;
  int served = 0;
  site.server.ServeFn("/", [&](const qmtest::RecordedRequest&) {
    ++served;
    std::string body = "<a href='/a.html'></a><a href='/b.html'></a><img src='/x.jpg'>";
    if (served > 1) body += "<a href='/c.html'></a>";
    return qmtest::Html(qmtest::LongPage(body));
  });
  site.Page("/a.html", "");
  site.Page("/b.html", "");
  site.Page("/c.html", "");
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(site.Url());
  rig.Start();
  rig.engine.Timer1_Timer();
  ASSERT_EQ(rig.Rows(), 2);
  rig.engine.Click(qm::kBtnStart);  // Stop
  EXPECT_EQ(rig.Rows(), 2);
  EXPECT_EQ(rig.engine.ImgTotal(), 1);
  const QString queued = rig.engine.Downloads().Queue();
  EXPECT_TRUE(queued.contains(site.Url("/x.jpg")));
  EXPECT_EQ(rig.engine.Lab(6), QStringLiteral("2"));

  // A download tick while stopped stops again.
  rig.engine.Timer2_Timer();
  EXPECT_EQ(rig.LogCount(kDashes), 2);
  EXPECT_EQ(rig.engine.Downloads().Queue(), queued);

  rig.engine.Click(qm::kBtnStart);  // Start again
  EXPECT_EQ(rig.Rows(), 0);
  EXPECT_EQ(rig.engine.ImgTotal(), 0);
  EXPECT_EQ(rig.engine.Downloads().Queue(), QString());
  rig.engine.Timer1_Timer();
  EXPECT_EQ(rig.Links(), QStringList{site.Url("/c.html")});
  EXPECT_EQ(rig.engine.ImgTotal(), 1);  // images are counted again
  rig.engine.Click(qm::kBtnStart);
}

TEST(PageAnalyseFetch, NoRequestOutsideTheSite) {
  Site site;
  site.Page("/", "<a href='/a.html'></a>");
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("jpg*");
  settings.SiteOnly = true;
  qm::FingerprintSet seen;
  QString address = site.Url();
  QString images = QStringLiteral("kept");
  std::int32_t imgCount = 3;
  std::int32_t linkCount = 4;
  // A site base without an address admits nothing.
  EXPECT_EQ(qm::PageAnalyse(address, images, imgCount, linkCount, settings, seen), QString());
  settings.SiteBase = QStringLiteral("http://other.invalid/");
  EXPECT_EQ(qm::PageAnalyse(address, images, imgCount, linkCount, settings, seen), QString());
  EXPECT_EQ(site.server.RequestCount(), 0u);
  EXPECT_EQ(images, QStringLiteral("kept"));
  EXPECT_EQ(imgCount, 3);
  EXPECT_EQ(linkCount, 4);

  settings.SiteBase = site.Url();
  EXPECT_EQ(qm::PageAnalyse(address, images, imgCount, linkCount, settings, seen),
            site.Url("/a.html") + QStringLiteral("\r\n"));
  EXPECT_EQ(linkCount, 1);
  EXPECT_EQ(address, site.Url() + QStringLiteral("/"));

  // A failed fetch is a short text: rejected without a word.
  QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(qmtest::ClosedPort());
  settings.SiteOnly = false;
  images = QStringLiteral("kept");
  EXPECT_EQ(qm::PageAnalyse(closed, images, imgCount, linkCount, settings, seen), QString());
  EXPECT_EQ(images, QStringLiteral("kept"));
}

}  // namespace
