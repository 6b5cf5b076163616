// The crawl engine: its load, number boxes, Start and Stop, timers and data
// folder; the crawl step over small loopback sites, driven tick by tick; the run log.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <chrono>

#include "crawl/data_folder.h"
#include "crawl/run_log.h"
#include "support/test_util.h"

namespace {

using qm::CrawlEngine;
using qmtest::EngineRig;
using qmtest::Q;

// What the window shows of a crawl: the captions of Start and List, the site
// switch (caption, on or off, site), running, Timer1 enabled and its interval,
// the seed list, the newest log message.
QString Shown(CrawlEngine& e) {
  return QStringLiteral("%1|%2|%3%4%5|%6 %7 %8|%9|")
             .arg(e.Caption(qm::kBtnStart), e.Caption(qm::kBtnList), e.Caption(qm::kBtnSite),
                  e.Settings().SiteOnly ? "+" : "-", e.Settings().SiteBase,
                  QString::number(e.Running()), QString::number(e.Timer1Enabled()),
                  QString::number(e.Timer1Interval()), e.SeedList()) +
         e.LogText().section(QStringLiteral("\r\n"), 0, 0).mid(10);
}

TEST(EngineLoad, BoxesCaptionsTimersAndTheSiteSwitchOnWithoutASiteThenNumbersAsTyped) {
  qmtest::TempDir dir;
  CrawlEngine engine(Q(dir.Path()), nullptr);
  QString during;  // the window's steps run after the copy of the file types, before the minimum
  engine.Form_Load(
      [&] { during = engine.Settings().FileTypes + QString::number(engine.MinSizeKb()); });
  QStringList boxes{during, QString::number(engine.MinSizeKb())};
  for (int i : {0, 2, 3, 4, 5, 6, 7, 8}) boxes << engine.Txt(i);
  EXPECT_EQ(boxes, (QStringList{"jpg*0", "100", "", "", "100ms", "100kb",
                                CrawlEngine::KeyWordHint(), "jpg*", "2000ms", "5"}));
  EXPECT_EQ(Shown(engine), "开 始|查看列表|√只抓取站内+|0 0 2000||程序初始化完成...");
  EXPECT_EQ(engine.Timer2().isActive() ? 0 : engine.Timer2().interval(), 10000);
  // Number boxes read the leading number, half to even, on every keystroke.
  const struct {
    int box;
    const char* text;
    int want;
  } cases[] = {{7, "1", 1},    {7, "15", 15}, {7, "1500ms", 1500},
               {7, "2.5s", 2}, {7, "3.5", 4}, {7, "99999999999", 2147483647},
               {7, "-40", 0},  {4, "2kb", 2}, {4, "5000000000kb", 2147483647}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    engine.SetTxt(c.box, QString::fromUtf8(c.text));
    EXPECT_EQ(c.box == 7 ? engine.Timer1Interval() : engine.MinSizeKb(), c.want);
  }
}

// The site switch as loaded keeps the accepted crawl from fetching anything.
TEST(EngineStart, RefusedWithoutAnImageFolderOrAnHttpAddressThenStartedAndStopped) {
  EngineRig rig;
  qmtest::YieldScope yields;
  const QString folder = Q(rig.dir.File("imgdown"));
  qmtest::WriteWhole(folder.toStdString(), "a plain file takes the folder's name");
  rig.engine.SetTxt(0, QStringLiteral("/typed/before/the/first/start"));  // not taken
  rig.engine.SetTxt(7, QStringLiteral("0ms"));
  const QString idle = QStringLiteral("开 始|查看列表|√只抓取站内+|0 0 0||");
  const QString noAddress = QStringLiteral("采集网址为空,或者格式输入有误.请添加正确的网址...");
  const struct {
    const char* box;
    QString shown;
  } cases[] = {{"http://a.com/", idle + QStringLiteral("图片保存目录创建失败,请检查权限...")},
               {"", idle + noAddress},
               {"https://a.com/\r\nHTTPS://b.com/", idle + noAddress},
               {"plain HTTP://a.invalid/",
                "停 止|查看列表|√只抓取站内+|1 1 0|plain HTTP://a.invalid/|开始爬行网页地址..."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    rig.engine.SetTxt(2, QString::fromUtf8(c.box));
    rig.engine.Click(qm::kBtnStart);
    EXPECT_EQ(Shown(rig.engine), c.shown);
    QFile::remove(folder);
  }
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), folder);
  // No tick below 1 ms; a changed interval applies at once (a first step enables Timer2).
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_FALSE(rig.engine.Timer2().isActive());
  rig.engine.SetTxt(7, QStringLiteral("999999"));
  rig.engine.SetTxt(7, QStringLiteral("20ms"));
  EXPECT_TRUE(qmtest::WaitUntil([&] { return rig.engine.Timer2().isActive(); }, 30));
  rig.engine.Click(qm::kBtnStart);
  EXPECT_EQ(Shown(rig.engine),
            "开 始|查看列表|√只抓取站内+|0 0 20||" + QString(66, QLatin1Char('-')));
}

// In a child process, which as root first becomes an unprivileged user, for
// whom the read-only mode counts. The image folder, a log dump and the error
// file of a refused hand-over go to the user's data folder; the error file
// names the downloader beside the program. The install folder is never the
// data folder.
TEST(EngineDataFolder, InTheUserDataFolderWhenTheProgramFolderIsReadOnlyOrTheInstallFolder) {
  qmtest::TempDir dir;
  const QString program = Q(dir.File("bin")), data = Q(dir.File("xdg/qmcrawl"));
  ASSERT_EQ(::mkdir(dir.File("bin").c_str(), 0555) | ::mkdir(dir.File("xdg").c_str(), 0700) |
                ::chmod(dir.File("xdg").c_str(), 0777) | ::chmod(dir.Path().c_str(), 0755),
            0);
  const pid_t child = ::fork();
  if (child == 0) {
    const gid_t nobody = 65534;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) || ::setresgid(nobody, nobody, nobody) ||
                             ::setresuid(nobody, nobody, nobody)))
      ::_exit(3);
    qputenv("XDG_DATA_HOME", dir.File("xdg").c_str());
    CrawlEngine engine(program, nullptr);
    engine.Form_Load();
    engine.SetTxt(2, QStringLiteral("http://127.0.0.1:9/"));
    engine.Click(qm::kBtnStart);
    for (int i = 0; i < 60; ++i) engine.Ag(QString(1000, QLatin1Char('x')));
    engine.SetTxt(4, QStringLiteral("3000000kb"));  // beyond 32 bits in bytes
    engine.Downloads().AppendToQueue(QStringLiteral("http://127.0.0.1:9/a.jpg\""));
    engine.Timer2_Timer();
    ::_exit(engine.Txt(0) == data + QStringLiteral("/imgdown") ? 0 : 4);  // an empty box shows it
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);  // exit 3: no unprivileged user; 4: Txt(0) shows another folder
  const QStringList dumps = QDir(data + QStringLiteral("/Log")).entryList(QDir::Files);
  EXPECT_EQ(QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) << dumps.mid(1),
            (QStringList{"errLog.txt", "imgdown", "Log"}));  // one dump

  EXPECT_NE(qmtest::ReadWhole(dir.File("xdg/qmcrawl/errLog.txt")).find(dir.File("bin/qmdown s=")),
            std::string::npos);
  EXPECT_TRUE(QDir(program).isEmpty());
  // The install folder keeps nothing, even for root, by whatever path it is named.
  const QString install = Q(dir.File("usr/bin")), user = qm::UserDataFolder();
  ASSERT_TRUE(QDir().mkpath(install));
  ASSERT_TRUE(QFile::link(install, Q(dir.File("link"))));
  const struct {
    const char* program;
    QString want;
  } rows[] = {{"usr/bin", user},
              {"usr/bin/", user},
              {"link", user},
              {"usr/../usr/bin", user},
              {"xdg", Q(dir.File("xdg"))}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.program);
    EXPECT_EQ(qm::DataFolderFor(Q(dir.File(r.program)), install), r.want);
  }
  EXPECT_EQ(qm::DataFolderFor(qm::InstallFolder()), user);
  qputenv("XDG_DATA_HOME", "relative/share");  // only an absolute path counts
  EXPECT_EQ(qm::UserDataFolder(), QDir::homePath() + QStringLiteral("/.local/share/qmcrawl"));
  qunsetenv("XDG_DATA_HOME");
}

struct Site {
  qmtest::LoopbackServer server;
  void Page(const std::string& path, const std::string& body) {
    server.Serve(path, qmtest::Html(qmtest::LongPage(body)));
  }
  QString Url(const std::string& path = "/") const { return Q(server.Url(path)); }
  // The pages fetched so far | the rows (number, link, state) | the images counted,
  // with the site's address left out.
  QString Seen(EngineRig& rig) const {
    QString out;
    for (const auto& r : server.Requests()) out += Q(r.target) + " ";
    out += "|";
    for (int row = 0; row < rig.Rows(); ++row)
      out += rig.engine.Lv().ItemText(row, 0) + " " + rig.Link(row) + " " + rig.State(row) + ",";
    out += "|" + QString::number(rig.engine.ImgTotal());
    return out.replace(Url(""), "");
  }
};

// A Stop in the middle of a step ends it after the link being listed.
TEST(CrawlStep, NothingFetchedUntilTheSiteIsTakenAndAStartForgetsAllButTheLinksMet) {
  Site site;
  site.Page(
      "/",
      "<a href='/aa'><a href='/bb'><a href='/cc'><a href='http://e.invalid/'><img src='/x.jpg'>");
  EngineRig rig;
  qmtest::YieldScope yields([&] {
    if (rig.engine.Running() && rig.Rows() == 2) rig.engine.Click(qm::kBtnStart);
  });
  rig.engine.SetTxt(2, site.Url());
  rig.Start();  // the site switch as loaded: on, without a site
  rig.engine.Timer1_Timer();
  QStringList seen{site.Seen(rig)};
  rig.engine.Click(qm::kBtnStart);
  rig.Seed(site.Url() + QStringLiteral("\nno address here"));  // lines typed with LF ends
  rig.Start();
  rig.engine.Timer1_Timer();
  seen << site.Seen(rig);  // the Stop kept the list and the queue, and showed the held-back rows
  EXPECT_EQ(rig.engine.Lv().rowCount(), 3);
  EXPECT_EQ(rig.engine.LogText().count(QString(66, QLatin1Char('-'))),
            3);  // 1st run; the Stop, the step's own
  EXPECT_EQ(rig.engine.Downloads().Queue(), site.Url("/x.jpg") + "\"\"");
  rig.engine.Click(qm::kBtnStart);
  seen << site.Seen(rig) + rig.engine.Downloads().Queue();
  rig.engine.Timer1_Timer();
  seen << site.Seen(rig);
  EXPECT_EQ(seen, (QStringList{"||0", "/ |1 /aa ,2 /bb ,3 /cc ,|1", "/ ||0",
                               "/ / ||1"}));  // all met before
  rig.engine.Click(qm::kBtnStart);
}

// Start pages list every link; walked pages pass over icons, style sheets,
// scripts and feeds (a dotless link keeps the extension met before it).
TEST(CrawlStep, SeedsFirstThenRowsNewestFirstWithTheDelayAndNewRowsWaitForTheNextStep) {
  Site site;
  site.Page("/", "<a href='/app.js'><a href='/p0.html'><a href='/p1.html'><a href='/p2.html'>");
  site.Page("/p0.html", "");
  site.server.Serve("/p1.html", qmtest::Html("<html>too short</html>"));
  site.Page("/p2.html",
            "<a href='/p3.html'><a href='/f.ico'><a href='/s.css'><a href='http://nodots/x'>"
            "<a href='/f.xml'><a href='/s.css?v=2'><img src='/i1.jpg'><img src='/i2.jpg'>");
  site.Page("/p3.html", "<img src='/i3.jpg'>");
  EngineRig rig;
  qmtest::YieldScope yields([&] { rig.engine.Timer1_Timer(); });  // no step inside a step
  rig.Seed(site.Url(), false);
  rig.engine.SetTxt(3, QStringLiteral("150ms"));
  rig.Start();
  const auto began = std::chrono::steady_clock::now();
  rig.engine.Timer1_Timer();
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(600));
  const QString rows =
      "|1 /app.js 分析完成,2 /p0.html 分析完成,3 /p1.html 分析完成,4 /p2.html 分析完成,";
  EXPECT_EQ(site.Seen(rig),
            "/ /p2.html /p1.html /p0.html /app.js " + rows + "5 /p3.html ,6 /s.css?v=2 ,|2");
  EXPECT_EQ(rig.engine.Lab(6) + rig.engine.Lab(4) + rig.engine.Lab(7),
            "62Get " + site.Url("/app.js"));
  rig.engine.Timer1_Timer();
  const QString done = site.Seen(rig);
  EXPECT_EQ(done, "/ /p2.html /p1.html /p0.html /app.js /s.css?v=2 /p3.html " + rows +
                      "5 /p3.html 分析完成,6 /s.css?v=2 分析完成,|3");
  QSignalSpy labs(&rig.engine, &qm::CrawlEngine::LabChanged);
  rig.engine.Timer1_Timer();  // all analysed: nothing fetched, no counter changed
  EXPECT_EQ(site.Seen(rig) + QString::number(labs.count()), done + "0");
  rig.engine.Click(qm::kBtnStart);
}

TEST(RunLog, NewestFirstWithTheTimeAndDumpedInGbkAtFiftyThousandCharactersAppendedInAMinute) {
  qmtest::TempDir dir;
  QDateTime now(QDate(2024, 1, 2), QTime(18, 4, 5));
  qm::RunLog log(Q(dir.File("Log")), [&] { return now; });
  const auto fillTo = [&](qsizetype length) {  // a line costs 12 characters beyond its message
    while (log.Length() < length)
      log.Add(QString(std::min<qsizetype>(length - log.Length() - 12, 1000), QLatin1Char('m')));
  };
  fillTo(qm::RunLog::kDumpLength - 1);
  EXPECT_FALSE(log.Add(QStringLiteral("初始化...")).dumped);
  EXPECT_TRUE(log.Text().startsWith(QStringLiteral("18:04:05  初始化...\r\n18:04:05  mmm")));
  const QString first = log.Text() + QStringLiteral("\r\n");
  log.Add(QStringLiteral("新的一行"));
  now = now.addSecs(50);  // the same minute
  fillTo(qm::RunLog::kDumpLength);
  const QString second = log.Text() + QStringLiteral("\r\n");
  EXPECT_TRUE(log.Add(QStringLiteral("x")).dumped);
  EXPECT_EQ(qmtest::ReadWhole(dir.File("Log/0102-1804-Log.txt")),
            qm::ToGbk(first + second).toStdString());
}

}  // namespace
