// A whole crawl of a loopback site on the engine's own timers: from one start
// page every page is listed and analysed, and every image queued.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <set>

#include "crawl/crawl_fixture.h"

namespace {

using qmtest::Q;

constexpr int kPages = 24;
constexpr int kImagesPerPage = 3;

std::string PagePath(int i) { return "/pages/p" + std::to_string(i) + ".html"; }

TEST(CrawlE2E, EveryPageOfASiteIsListedAnalysedAndItsImagesQueued) {
  qmtest::LoopbackServer server;
  std::set<std::string> images;
  auto imageTags = [&](const std::string& stem, int count) {
    std::string tags;
    for (int k = 0; k < count; ++k) {
      const std::string path = "/img/" + stem + "-" + std::to_string(k) + ".jpg";
      // Absolute, root-relative and double-quoted forms are all found.
      if (k % 3 == 0) tags += "<img src='" + path + "'>";
      if (k % 3 == 1) tags += "<img src=\"" + server.Url(path) + "\">";
      if (k % 3 == 2) tags += "<IMG SRC='" + path + "'>";
      images.insert(server.Url(path));
    }
    return tags + "<img src='/img/" + stem + ".png'>";  // not a wanted type
  };
  std::string start = "<a href='/pages/p0.html'>first</a><a href='/pages/p1.html'>second</a>";
  start += imageTags("start", 2);
  server.Serve("/", qmtest::Html(qmtest::LongPage(start)));
  for (int i = 0; i < kPages; ++i) {
    // Each page links forward, far ahead, back to the start and to itself.
    std::string body = "<a href='" + PagePath((i + 1) % kPages) + "'>next</a>";
    body += "<a href=\"" + server.Url(PagePath((i * 7 + 3) % kPages)) + "\">jump</a>";
    body += "<a href='/'>home</a><a href='" + PagePath(i) + "'>self</a>";
    body += "<a href='/style.css'>css</a>";
    body += imageTags("p" + std::to_string(i), kImagesPerPage);
    server.Serve(PagePath(i), qmtest::Html(qmtest::LongPage(body)));
  }

  qmtest::EngineRig rig;
  qmtest::YieldScope yields;
  rig.Seed(Q(server.Url("/")), /*siteOnly=*/true);
  rig.engine.SetTxt(7, QStringLiteral("1ms"));
  rig.Start();
  ASSERT_TRUE(rig.engine.Running());

  auto finished = [&] {
    if (!rig.engine.SeedList().isEmpty() || rig.LogCount(QStringLiteral("开始执行爬虫....")) != 1)
      return false;
    for (int i = 0; i < rig.Rows(); ++i)
      if (rig.State(i) != QStringLiteral("分析完成")) return false;
    return true;
  };
  QDeadlineTimer deadline(120000);
  while (!finished() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(finished()) << "rows: " << rig.Rows();
  rig.engine.Click(qm::kBtnStart);

  std::set<QString> pages;
  for (const QString& link : rig.Links()) pages.insert(link);
  std::set<QString> expected;
  for (int i = 0; i < kPages; ++i) expected.insert(Q(server.Url(PagePath(i))));
  // style.css is met only on walked pages, where the skip test passes it over.
  EXPECT_EQ(pages, expected);
  EXPECT_EQ(rig.Rows(), kPages);  // each page once

  EXPECT_EQ(rig.engine.ImgTotal(), 2 + kPages * kImagesPerPage);
  EXPECT_EQ(rig.engine.Lab(4), QString::number(2 + kPages * kImagesPerPage));
  EXPECT_EQ(rig.engine.Lab(6), QString::number(kPages));
  const QString queue = rig.engine.Downloads().Queue();
  for (const std::string& image : images)
    EXPECT_TRUE(queue.contains(Q(image) + QLatin1Char('"'))) << image;
  EXPECT_FALSE(queue.contains(QStringLiteral(".png")));
  // Every page was fetched exactly once.
  std::map<std::string, int> fetched;
  for (const auto& r : server.Requests()) ++fetched[r.target];
  for (int i = 0; i < kPages; ++i) EXPECT_EQ(fetched[PagePath(i)], 1) << PagePath(i);
  EXPECT_EQ(fetched["/"], 1);
  EXPECT_EQ(fetched.count("/style.css"), 0u);
}

}  // namespace
