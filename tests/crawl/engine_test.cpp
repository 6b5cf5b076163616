// The crawl engine: its load, number boxes, Start and Stop, timers and data
// folder; the crawl step over small loopback sites, driven tick by tick; the run log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <chrono>

#include "crawl/data_folder.h"
#include "crawl/run_log.h"
#include "support/test_util.h"

namespace {

using qm::CrawlEngine;
using qmtest::EngineRig;
using qmtest::Q;

// The boxes as designed, their settings taken; the interval box read as a
// number of 32 bits that is never negative.
TEST(EngineLoad, BoxesAsDesignedAndTheIntervalHeldToItsRange) {
  qmtest::TempDir dir;
  CrawlEngine engine(Q(dir.Path()), nullptr);
  engine.Form_Load();
  const std::pair<int, const char*> boxes[] = {
      {3, "100ms"}, {4, "100kb"}, {6, "jpg*"}, {7, "2000ms"}, {8, "5"}};
  for (const auto& [box, text] : boxes) EXPECT_EQ(engine.Txt(box), text) << box;
  EXPECT_EQ(engine.Settings().FileTypes, "jpg*");
  EXPECT_EQ(engine.Timer2().interval(), 10000);  // pictures handed over every ten seconds
  engine.SetTxt(7, "99999999999");
  EXPECT_EQ(engine.Timer1Interval(), 2147483647);
  engine.SetTxt(7, "-40");
  EXPECT_EQ(engine.Timer1Interval(), 0);
}

// Start refuses without an image folder or an address holding "http://" in
// any letter case; a folder typed by hand is not taken, the default one is
// made. A changed interval applies at once. The site switch as loaded is on
// without a site: nothing is fetched.
TEST(EngineStart, RefusedWithoutAnImageFolderOrAnHttpAddressThenStartedAndStopped) {
  qmtest::LoopbackServer server;
  EngineRig rig;
  qmtest::YieldScope yields;
  const QString folder = Q(rig.dir.File("imgdown"));
  qmtest::WriteWhole(folder.toStdString(), "a plain file takes the folder's name");
  rig.engine.SetTxt(0, "/typed/before/the/first/start");
  rig.engine.SetTxt(7, "0ms");
  const std::pair<const char*, const char*> refused[] = {
      {"http://a.com/", "图片保存目录创建失败,请检查权限..."},
      {"https://a.com/\r\nHTTPS://b.com/", "采集网址为空,或者格式输入有误.请添加正确的网址..."}};
  for (const auto& [box, log] : refused) {
    rig.engine.SetTxt(2, box);
    rig.engine.Click(qm::kBtnStart);
    EXPECT_EQ(rig.engine.LogText().section("\r\n", 0, 0).mid(10), log) << box;
    QFile::remove(folder);
  }
  rig.engine.SetTxt(2, Q("start at\nHTTP" + server.Url().substr(4)));  // on the second line
  rig.engine.Click(qm::kBtnStart);
  EXPECT_TRUE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), folder);
  rig.engine.SetTxt(7, "999999");
  rig.engine.SetTxt(7, "20ms");
  EXPECT_TRUE(qmtest::WaitUntil([&] { return rig.engine.Timer2().isActive(); }, 30));
  EXPECT_EQ(server.RequestCount(), 0u);  // after the first step
  rig.engine.Click(qm::kBtnStart);
  EXPECT_FALSE(rig.engine.Running());
}

// For an unprivileged user (root becomes one in a child process) whose
// program folder is read-only, the image folder, a log dump and the error
// file of a refused hand-over go to the user's data folder; the error file
// names the downloader beside the program. The install folder, by whatever
// path, is never the data folder.
TEST(EngineDataFolder, InTheUserDataFolderWhenTheProgramFolderIsReadOnlyOrTheInstallFolder) {
  qmtest::TempDir dir;
  const QString data = Q(dir.File("xdg/qmcrawl"));
  ASSERT_EQ(::mkdir(dir.File("bin").c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const gid_t nobody = 65534;
    if (::geteuid() == 0 && (::setgid(nobody) || ::setuid(nobody))) ::_exit(3);
    qputenv("XDG_DATA_HOME", dir.File("xdg").c_str());
    CrawlEngine engine(Q(dir.File("bin")), nullptr);
    engine.Form_Load();
    engine.SetTxt(2, "http://127.0.0.1:9/");
    engine.Click(qm::kBtnStart);
    engine.Ag(QString(50000, 'x'));
    engine.Ag("dumps the log");
    engine.SetTxt(4, "3000000kb");  // beyond 32 bits in bytes
    engine.Downloads().AppendToQueue("http://127.0.0.1:9/a.jpg\"");
    engine.Timer2_Timer();
    ::_exit(engine.Txt(0) == data + "/imgdown" ? 0 : 4);  // an empty box shows it
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);  // exit 3: no unprivileged user; 4: Txt(0) shows another folder
  EXPECT_EQ(QDir(data + "/Log").entryList(QDir::Files).size(), 1);
  EXPECT_NE(qmtest::ReadWhole(dir.File("xdg/qmcrawl/errLog.txt")).find(dir.File("bin/qmdown s=")),
            std::string::npos);
  const QString user = qm::UserDataFolder();
  ASSERT_TRUE(QDir().mkpath(Q(dir.File("usr/bin"))));
  ASSERT_TRUE(QFile::link(Q(dir.File("usr/bin")), Q(dir.File("link"))));
  EXPECT_EQ(qm::DataFolderFor(Q(dir.File("link/")), Q(dir.File("usr/bin"))), user);
  EXPECT_EQ(qm::DataFolderFor(qm::InstallFolder()), user);
  qputenv("XDG_DATA_HOME", "relative/share");  // only an absolute path counts
  EXPECT_EQ(qm::UserDataFolder(), QDir::homePath() + "/.local/share/qmcrawl");
  qunsetenv("XDG_DATA_HOME");
}

struct Site {
  qmtest::LoopbackServer server;
  void Page(const std::string& path, const std::string& body) {
    server.Serve(path, qmtest::Html(qmtest::LongPage(body)));
  }
  QString Url(const std::string& path = "/") const { return Q(server.Url(path)); }
  // The targets fetched so far, in order.
  QString Fetched() const {
    QString out;
    for (const auto& r : server.Requests()) out += Q(r.target) + " ";
    return out;
  }
  // The links of the rows in row order, the site's address left out.
  QString Listed(EngineRig& rig) const { return rig.Links().join(' ').remove(Url("")); }
};

// A Stop in the middle of a step ends it and shows every row listed; the next
// Start forgets all but the links met.
TEST(CrawlStep, AStopEndsTheStepAndAStartForgetsAllButTheLinksMet) {
  Site site;
  site.Page("/", "<a href='/aa'><a href='/bb'><a href='/cc'><img src='/x.jpg'>");
  EngineRig rig;
  qmtest::YieldScope yields([&] {
    if (rig.engine.Running() && rig.Rows() == 2) rig.engine.Click(qm::kBtnStart);
  });
  rig.Seed(site.Url() + "\nno address here");  // lines typed with LF ends
  rig.Start();
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Fetched(), "/ ");
  EXPECT_EQ(site.Listed(rig), "/aa /bb /cc");
  EXPECT_EQ(rig.engine.Lv().rowCount(), 3);  // every row shown
  rig.engine.Click(qm::kBtnStart);
  EXPECT_EQ(rig.engine.ImgTotal(), 0);
  EXPECT_EQ(rig.engine.Downloads().Queue(), "");
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Fetched(), "/ / ");
  EXPECT_EQ(rig.Rows(), 0);  // all met before
  rig.engine.Click(qm::kBtnStart);
}

// Start pages, their addresses typed in any letter case, list every link.
// Walked pages pass over icons, style sheets, scripts and feeds, the extension
// read lower-cased; a dotless link takes the extension met before it, on its
// page or on the page walked before. The rows a step lists wait for the next.
// With browser addressing, as here, rows keep the letter case of their links.
TEST(CrawlStep, SeedsFirstThenRowsNewestFirstWithTheDelayAndNewRowsWaitForTheNextStep) {
  Site site;
  site.Page("/", "<a href='/app.js'><a href='/p0.html'><a href='/p1.html'><a href='/p2.html'>");
  site.Page("/p0.html", "<a href='http://nodots/y'><a href='/p4.html'>");
  site.server.Serve("/p1.html", qmtest::Html("<html>too short</html>"));
  site.Page("/p2.html",
            "<a href='/P3.html'><a href='/F.ICO'><a href='/s.css'><a href='http://nodots/x'>"
            "<a href='/s.css?v=2'><a href='/w.js'><a href='/f.xml'><img src='/i1.jpg'>"
            "<img src='/i2.jpg'>");
  site.Page("/P3.html", "<img src='/i3.jpg'>");
  EngineRig rig;
  qmtest::YieldScope yields([&] { rig.engine.Timer1_Timer(); });  // no step inside a step
  rig.engine.Settings().BrowserAddresses = true;
  rig.Seed("HTTP" + site.Url().mid(4), false);  // typed in capitals
  rig.engine.SetTxt(3, "150ms");
  rig.engine.SetTxt(7, "9000ms");  // the interval, far from the delay
  rig.Start();
  const auto began = std::chrono::steady_clock::now();
  rig.engine.Timer1_Timer();
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_GE(took, std::chrono::milliseconds(600));  // after each of four walked pages
  EXPECT_LT(took, std::chrono::seconds(20));
  EXPECT_EQ(site.Fetched(), "/ /p2.html /p1.html /p0.html /app.js ");
  EXPECT_EQ(site.Listed(rig), "/app.js /p0.html /p1.html /p2.html /P3.html /s.css?v=2 /p4.html");
  EXPECT_EQ(rig.engine.Lv().ItemText(5, 0), "6");
  EXPECT_EQ(rig.engine.Lab(4), "2");
  EXPECT_EQ(rig.engine.Lv().rowCount(), 7);  // every row shown
  rig.engine.Timer1_Timer();
  EXPECT_EQ(site.Fetched(), "/ /p2.html /p1.html /p0.html /app.js /p4.html /s.css?v=2 /P3.html ");
  rig.engine.Click(qm::kBtnStart);
}

// Newest line first, with the time; at 50,000 characters the log goes to the
// minute's dump file in GBK, after an earlier dump of the same minute. A line
// costs 12 characters beyond its message.
TEST(RunLog, NewestFirstWithTheTimeAndDumpedInGbkAtFiftyThousandCharactersAppendedInAMinute) {
  qmtest::TempDir dir;
  QDateTime now(QDate(2024, 1, 2), QTime(18, 4, 5));
  qm::RunLog log(Q(dir.File("Log")), [&] { return now; });
  log.Add(QString(49987, 'm'));
  EXPECT_FALSE(log.Add("初始化...").dumped);  // at 49,999 characters
  EXPECT_TRUE(log.Text().startsWith("18:04:05  初始化...\r\n18:04:05  mmm"));
  const QString first = log.Text() + "\r\n";
  log.Add("新的一行");
  now = now.addSecs(50);  // the same minute
  log.Add(QString(49972, 'm'));
  const QString second = log.Text() + "\r\n";
  EXPECT_TRUE(log.Add("x").dumped);  // at 50,000 characters
  EXPECT_EQ(qmtest::ReadWhole(dir.File("Log/0102-1804-Log.txt")),
            qm::ToGbk(first + second).toStdString());
}

}  // namespace
