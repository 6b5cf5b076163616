// A whole crawl with the downloader program beside the crawler: downloader
// processes save every qualifying image of the site; an image queued twice is
// saved again under a prefixed name, since a downloader keeps no done-list.
#include <QUrl>

#include "dispatch_e2e_site.h"

namespace {

using namespace qmtest;

TEST(DispatchE2eProc, CrawlInProcessModeSavesEveryQueuedQualifyingImage) {
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  SiteCrawl crawl(/*withDownloader=*/true);
  int mentions = 0;
  for (const auto& entry : crawl.site.qualifying) mentions += entry.second.mentions;
  crawl.Run(mentions);

  const QStringList files = crawl.Saved();
  EXPECT_EQ(files.size(), mentions);  // nothing small, nothing of another type
  for (const auto& [name, image] : crawl.site.qualifying) {
    int copies = 0;
    for (const QString& file : files) {
      if (file != name && !IsPrefixed(file.toStdString(), name.toStdString())) continue;
      ++copies;
      EXPECT_EQ(ReadWhole(crawl.save.File(file.toStdString())), image.bytes.toStdString())
          << file.toStdString();
    }
    EXPECT_EQ(copies, image.mentions) << name.toStdString();
    EXPECT_TRUE(files.contains(name)) << name.toStdString();
  }
  EXPECT_TRUE(crawl.rig.engine.LogText().contains(QStringLiteral("创建下载进程...")));
  EXPECT_FALSE(crawl.rig.engine.LogText().contains(QStringLiteral("建立下载线程: ")));
}

}  // namespace

namespace {

using namespace qmtest;

// One start page with a good picture, a picture address holding a NUL, one of
// 130,000 characters, one answered by a long error page, and links to two
// pages whose addresses differ only in Korean letters, each with its picture.
// With the downloader (true) or worker threads (false), exactly the three good
// pictures are saved and the crawl goes on.
class HostileStartPage : public ::testing::TestWithParam<bool> {};

TEST_P(HostileStartPage, SavesTheGoodPicturesAndTheCrawlGoesOn) {
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  LoopbackServer server;
  const std::map<std::string, std::string> good = {{"good.jpg", Garbage(120000, 1)},
                                                   {"k1.jpg", Garbage(120001, 2)},
                                                   {"k2.jpg", Garbage(120002, 3)}};
  for (const auto& [name, bytes] : good) server.Serve("/img/" + name, Reply(bytes));
  Route errorPage = Reply(std::string(150 * 1024, 'e'));
  errorPage.status = 404;
  server.Serve("/img/missing.jpg", errorPage);
  std::string links;
  int k = 0;
  for (const std::string place : {"한국", "서울"}) {
    const std::string path = "/p/" + place + ".html";
    links += "<a href='" + path + "'>k</a>";
    server.Serve(QUrl::toPercentEncoding(Q(path), "/").toStdString(),
                 Html(LongPage("<img src='/img/k" + std::to_string(++k) + ".jpg'>")));
  }
  server.Serve("/",
               Html(LongPage(links + "<img src='/img/good.jpg'><img src='/img/b" +
                             std::string(1, '\0') + "ad.jpg'><img src='/img/" +
                             std::string(130000, 'x') + ".jpg'><img src='/img/missing.jpg'>")));

  EngineRig rig;
  WorkerGuard workers{rig.engine.Downloads()};
  YieldScope yields;
  TempDir save;
  ASSERT_TRUE(!GetParam() || InstallQmdown(Q(rig.dir.File("qmdown"))));
  rig.host.browseResult = Q(save.Path());
  rig.engine.Click(qm::kBtnBrowse);
  rig.engine.SetTxt(8, QStringLiteral("5"));
  rig.engine.Timer2().setInterval(100);  // the download timer, shortened for the test
  auto saved = [&] {
    QStringList names;
    for (const std::string& name : ListFolder(save.Path())) names << Q(name);
    return names;
  };
  rig.Seed(Q(server.Url("/")));
  rig.Start();
  const bool settled = WaitUntil(
      [&] {
        return rig.Rows() == 2 && rig.State(0) == QStringLiteral("分析完成") &&
               rig.State(1) == QStringLiteral("分析完成") &&
               rig.engine.Downloads().Queue().isEmpty() &&
               LiveWorkers(rig.engine.Downloads()) == 0 && Downloaders() == 0 &&
               saved().size() >= 3;
      },
      120);
  ASSERT_TRUE(settled) << rig.Rows() << " rows, " << saved().join(' ').toStdString();
  EXPECT_TRUE(rig.engine.Running());
  EXPECT_EQ(saved(), (QStringList{"good.jpg", "k1.jpg", "k2.jpg"}));
  for (const auto& [name, bytes] : good) EXPECT_EQ(ReadWhole(save.File(name)), bytes) << name;
  EXPECT_TRUE(rig.host.criticals.isEmpty()) << rig.host.criticals.join('\n').toStdString();
  EXPECT_FALSE(QFile::exists(Q(rig.dir.File("errLog.txt"))));
  rig.engine.Click(qm::kBtnStart);  // stop
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileStartPage, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Downloader" : "Threads"; });

}  // namespace
