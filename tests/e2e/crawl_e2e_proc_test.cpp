// Whole crawls of loopback sites, with the downloader program beside the
// crawler (these tests start and count its processes) or worker threads.
#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include "ui/window_test_support.h"

namespace {

using namespace qmtest;

// A crawl from `root` in a fresh program folder, by a copy of the downloader
// beside the crawler or by worker threads: jpg and png pictures of 2 kb and
// more, the crawl and download timers shortened.
struct Crawl {
  EngineRig rig;
  WorkerGuard workers{rig.engine.Downloads()};
  YieldScope yields;
  const std::string folder = rig.dir.File("imgdown");  // the default

  Crawl(bool downloader, bool browser, const std::string& root) {
    EXPECT_TRUE(!downloader || InstallQmdown(Q(rig.dir.File("qmdown"))));
    rig.engine.Settings().BrowserAddresses = browser;
    for (auto [box, text] : {std::pair{4, "2kb"}, {6, "jpg*png"}, {7, "50ms"}, {8, "5"}})
      rig.engine.SetTxt(box, text);
    rig.engine.Txt_LostFocus(6);           // the file types are taken when the box is left
    rig.engine.Timer2().setInterval(100);  // the download timer
    rig.Seed(Q(root));
    rig.Start();
  }
  ~Crawl() { rig.engine.StopA(); }

  // Waits until the walk has begun with `rows` rows listed, the first
  // analysed, and every download has ended with `files` files saved at least.
  bool Ends(int rows, std::size_t files) {
    return WaitUntil(
        [&] {
          return rig.engine.LogText().contains("开始执行爬虫") && rig.Rows() == rows &&
                 (!rows || rig.State(0) == "分析完成") &&
                 rig.engine.Downloads().Queue().isEmpty() &&
                 LiveWorkers(rig.engine.Downloads()) == 0 && DownloadersIn(rig.dir.Path()) == 0 &&
                 ListFolder(folder).size() >= files;
        },
        180);
  }
};

// Every qualifying picture is saved byte for byte (by processes once per
// mention, by threads once thanks to the done-list) and fetched as often;
// nothing too small, of another type or from an error page. The start page's
// hostile addresses, one holding a NUL, one of 130,000 characters and two
// pages differing only in Korean letters, stop nothing.
class SiteCrawl : public ::testing::TestWithParam<bool> {};  // with the downloader program

TEST_P(SiteCrawl, SavesEveryQualifyingPictureAndGoesOn) {
  LoopbackServer server;
  const std::vector<std::string> pages = {"/", "/p/한국.html", "/p/서울.html"};
  std::map<std::string, std::string> bytes;              // every picture's
  std::map<std::string, int> expected, copies, fetched;  // qualifying pictures: copies, requests
  auto picture = [&](const std::string& name, std::size_t size) {
    server.Serve("/img/" + name, Reply(bytes[name] = Garbage(size, size)));
    if (size >= 2048 && !name.ends_with(".gif"))
      expected[name] = GetParam() ? expected[name] + 1 : 1;
    return "<img src='/img/" + name + "'>";
  };
  Route errorPage = Reply(std::string(150 * 1024, 'e'));
  errorPage.status = 404;
  server.Serve("/img/missing.jpg", errorPage);
  std::string start = "<img src='/img/missing.jpg'><img src='/img/b" + std::string(1, '\0') +
                      "ad.jpg'><img src='/img/" + std::string(130000, 'x') + ".jpg'>";
  for (std::size_t i = pages.size(); i-- > 0;) {
    const std::string n = std::to_string(i);
    const std::string body = i ? "" : start;
    start += "<a href='" + pages[i] + "'>p</a>";
    server.Serve(
        QUrl::toPercentEncoding(Q(pages[i]), "/").toStdString(),
        Html(LongPage(body + picture("own" + n + ".jpg", 3000 + i) + picture("shared.jpg", 2048) +
                      picture("small" + n + ".jpg", 2047) + picture("other.gif", 6000))));
  }
  std::size_t files = 0;
  for (const auto& [name, count] : expected) files += count;

  Crawl crawl(GetParam(), false, server.Url("/"));
  ASSERT_TRUE(crawl.Ends(2, files));
  EXPECT_TRUE(crawl.rig.engine.Running());
  for (const std::string& file : ListFolder(crawl.folder)) {
    const std::string name =
        expected.count(file) ? file : file.substr(7);  // behind a random prefix
    ++copies[name];
    EXPECT_EQ(ReadWhole(crawl.folder + "/" + file), bytes[name]) << file;
  }
  EXPECT_EQ(copies, expected);
  for (const auto& request : server.Requests()) ++fetched[request.target];
  for (const auto& [name, count] : expected) EXPECT_EQ(fetched["/img/" + name], count) << name;
  EXPECT_EQ(fetched["/img/other.gif"], 0);
  EXPECT_TRUE(crawl.rig.host.criticals.isEmpty());
  EXPECT_FALSE(QFile::exists(Q(crawl.rig.dir.File("errLog.txt"))));
}

INSTANTIATE_TEST_SUITE_P(Modes, SiteCrawl, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Downloader" : "Threads"; });

// A site written as sites are written today (pages in folders, <base href>, a
// reference in a query, srcset, unquoted values, a fragment, a mixed-case
// host, a redirect). With browser addressing every picture is saved byte for
// byte under its own letter case; read the default way, only the root-relative
// lower-case picture is, and no link is on the typed site.
class BrowserSiteCrawl : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(BrowserSiteCrawl, SavesThePicturesABrowserShows) {
  const auto [downloader, browser] = GetParam();
  LoopbackServer server;
  const std::string site = "http://LocalHost:" + std::to_string(server.Port());
  std::map<std::string, std::string> bytes, expected;  // by saved name
  for (const auto& [target, name] :
       std::map<std::string, std::string>{{"/img/lower.jpg", "lower.jpg"},
                                          {"/Top.JPG", "Top.JPG"},
                                          {"/img/Q.jpg?w=1&h=2", "Q.jpg?w=1&h=2"},
                                          {"/d1/img/Photo.PNG", "Photo.PNG"},
                                          {"/b/S1.jpg", "S1.jpg"},
                                          {"/b/S2.jpg", "S2.jpg"},
                                          {"/Moved/Far.jpg", "Far.jpg"}}) {
    bytes[name] = Garbage(3000 + bytes.size(), static_cast<unsigned>(bytes.size()));
    server.Serve(target, Reply(bytes[name]));
    if (browser || name == "lower.jpg") expected[name] = bytes[name];
  }
  server.Serve("/", Html(LongPage("<img src='/img/lower.jpg'><img src=Top.JPG>"
                                  "<img src=\"/img/Q.jpg?w=1&amp;h=2\"><a href=\"d1/d2/Deep.html#"
                                  "part\">d</a><a href='" +
                                  site + "/Mixed/Host.html'>m</a><a href=/Old.html>o</a>")));
  server.Serve("/d1/d2/Deep.html", Html(LongPage("<img src=\"../img/Photo.PNG\">")));
  server.Serve("/Mixed/Host.html",
               Html(LongPage("<base href='/b/'><img srcset='S1.jpg 1x, S2.jpg 2x'>")));
  Route moved;
  moved.status = 302;
  moved.headerLines = {"Location: /Moved/Here.html"};
  server.Serve("/Old.html", moved);
  server.Serve("/Moved/Here.html", Html(LongPage("<img src='Far.jpg'>")));

  Crawl crawl(downloader, browser, site + "/");
  ASSERT_TRUE(crawl.Ends(browser ? 3 : 0, expected.size()))
      << crawl.rig.Links().join(' ').toStdString();
  std::map<std::string, std::string> saved;
  for (const std::string& file : ListFolder(crawl.folder))
    saved[file] = ReadWhole(crawl.folder + "/" + file);
  EXPECT_EQ(saved, expected);
  const QString deep = Q("http://localhost:" + std::to_string(server.Port()) + "/d1/d2/Deep.html");
  EXPECT_EQ(crawl.rig.Links().contains(deep), browser);
  EXPECT_EQ(crawl.rig.engine.LogText().contains("网址按浏览器方式解析"), browser);
}

INSTANTIATE_TEST_SUITE_P(Modes, BrowserSiteCrawl,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Downloader" : "Threads") +
                                  (std::get<1>(info.param) ? "Browser" : "Default");
                         });

// The demo's printed walk-through followed literally through the window: the
// demo site served with its steps printed, the printed address typed, the
// clicks named; links listed, pictures saved by real downloaders into the
// folder the steps name.
using DemoWalkThrough = WindowTest;

TEST_F(DemoWalkThrough, PrintedStepsListTheSiteAndSavePictures) {
  Make(QM_BIN_DIR);  // beside the downloader, as in a build folder
  QProcess server;   // ends with the test
  const QString site = Q(dir.File("site"));
  ASSERT_EQ(QProcess::execute(QM_BIN_DIR "/qm_site_gen", {"demo", site}), 0);
  server.start(QM_BIN_DIR "/qm_serve", {"--demo", site});
  QString printed;
  ASSERT_TRUE(WaitUntil([&] {
    server.waitForReadyRead(100);
    printed += QString::fromUtf8(server.readAllStandardOutput());
    return printed.contains("停 止");
  }));
  const auto steps = QRegularExpression("Type (\\S+) into 采集网址.*saved into\\s+(\\S+)",
                                        QRegularExpression::DotMatchesEverythingOption)
                         .match(printed);
  ASSERT_TRUE(steps.hasMatch()) << printed.toStdString();
  QDir images(steps.captured(2));
  images.removeRecursively();

  ClickAt(Button(qm::kBtnFold));                // 1. unfold
  TypeInto(window->Txt(2), steps.captured(1));  // 2. the printed address
  ClickAt(Button(qm::kBtnSite));                // 3. the site switch, twice
  ClickAt(Button(qm::kBtnSite));
  ClickAt(Button(qm::kBtnStart));  // 4. start
  const bool saved = WaitUntil([&] { return !images.entryList(QDir::Files).isEmpty(); }, 120);
  ClickAt(Button(qm::kBtnStart));  // 5. stop
  EXPECT_EQ(Button(qm::kBtnStart)->Caption(), "开 始");
  ASSERT_TRUE(saved) << window->Engine().Lv().ItemCount() << " rows\n" << Log().toStdString();
  for (const QFileInfo& file : images.entryInfoList(QDir::Files))
    EXPECT_GE(file.size(), 100 * 1024) << file.fileName().toStdString();
  EXPECT_GT(window->Lab(6)->text().toInt(), 1);  // the links listed
  EXPECT_TRUE(criticals.isEmpty());
  WaitUntil([] { return DownloadersIn(QM_BIN_DIR) == 0; });
  images.removeRecursively();
}

}  // namespace
