// The engine's load, its settings boxes and its buttons, without a network.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include "crawl/crawl_fixture.h"
#include "crawl/data_folder.h"
#include "crawl/engine.h"

namespace {

using qm::CrawlEngine;
using qmtest::EngineRig;
using qmtest::Q;

const QString kStart = QStringLiteral("开 始");

TEST(EngineLoad, InitialStateAfterLoad) {
  qmtest::TempDir dir;
  qmtest::RecordingHost host;
  CrawlEngine engine(Q(dir.Path()), &host);
  EXPECT_EQ(engine.Txt(3), QStringLiteral("100ms"));
  EXPECT_EQ(engine.Txt(4), QStringLiteral("100kb"));
  EXPECT_EQ(engine.Txt(5), CrawlEngine::KeyWordHint());
  EXPECT_EQ(engine.Txt(6), QStringLiteral("jpg*"));
  EXPECT_EQ(engine.Txt(7), QStringLiteral("2000ms"));
  EXPECT_EQ(engine.Txt(8), QStringLiteral("5"));
  for (int i : {0, 2}) EXPECT_EQ(engine.Txt(i), QString());
  EXPECT_EQ(engine.Settings().FileTypes, QString());  // not before the load

  // The window's own steps run after the file types are copied and before
  // the minimum size is.
  QString typesDuring;
  std::int32_t minDuring = -1;
  QSignalSpy captions(&engine, &CrawlEngine::CaptionChanged);
  engine.Form_Load([&] {
    typesDuring = engine.Settings().FileTypes;
    minDuring = engine.MinSizeKb();
  });
  EXPECT_EQ(typesDuring, QStringLiteral("jpg*"));
  EXPECT_EQ(minDuring, 0);
  EXPECT_EQ(engine.MinSizeKb(), 100);
  EXPECT_EQ(engine.Downloads().MinSizeKb.load(), 100);

  // The site-only switch was operated once while the address box was empty.
  EXPECT_TRUE(engine.Settings().SiteOnly);
  EXPECT_EQ(engine.Settings().SiteBase, QString());
  EXPECT_EQ(engine.Caption(qm::kBtnSite), QStringLiteral("√只抓取站内"));
  ASSERT_EQ(captions.count(), 1);

  EXPECT_EQ(engine.Caption(qm::kBtnStart), kStart);
  EXPECT_EQ(engine.Lv().ColumnCount(), 3);
  EXPECT_EQ(engine.Lv().ColumnWidth(1), 430);
  EXPECT_TRUE(engine.LogText().endsWith(QStringLiteral("  程序初始化完成...\r\n")));
  EXPECT_EQ(engine.Txt(1), engine.LogText());
  EXPECT_FALSE(engine.Timer1Enabled());
  EXPECT_EQ(engine.Timer1Interval(), 2000);
  EXPECT_FALSE(engine.Timer2().isActive());
  EXPECT_EQ(engine.Timer2().interval(), 10000);
  EXPECT_FALSE(engine.Running());
}

TEST(EngineSettings, KeyWordHintIs34Characters) {
  const QString hint = CrawlEngine::KeyWordHint();
  EXPECT_EQ(hint.size(), 34);
  EXPECT_EQ(hint,
            QStringLiteral("多个关键词用\"*\"星号隔开,当网页标题或副标题含有指定关键词时才采集"));
}

TEST(EngineSettings, IntervalFollowsEveryKeystroke) {
  EngineRig rig;
  std::vector<int> intervals;
  QString typed;
  for (QChar c : QStringLiteral("1500ms")) {
    typed += c;
    rig.engine.SetTxt(7, typed);
    intervals.push_back(rig.engine.Timer1Interval());
  }
  EXPECT_EQ(intervals, (std::vector<int>{1, 15, 150, 1500, 1500, 1500}));
  EXPECT_FALSE(rig.engine.Timer1Enabled());  // neither enabled nor disabled by an edit
  rig.engine.SetTxt(7, QString());
  EXPECT_EQ(rig.engine.Timer1Interval(), 0);
  rig.engine.SetTxt(7, QStringLiteral("2.5s"));
  EXPECT_EQ(rig.engine.Timer1Interval(), 2);
  rig.engine.SetTxt(7, QStringLiteral("3.5"));
  EXPECT_EQ(rig.engine.Timer1Interval(), 4);
  rig.engine.SetTxt(7, QStringLiteral("99999999999ms"));
  EXPECT_EQ(rig.engine.Timer1Interval(), 2147483647);
  rig.engine.SetTxt(7, QStringLiteral("-40"));
  EXPECT_EQ(rig.engine.Timer1Interval(), 0);
}

TEST(EngineSettings, MinimumSizeOnEveryChangeAndOnLeaving) {
  EngineRig rig;
  rig.engine.SetTxt(4, QString());
  EXPECT_EQ(rig.engine.MinSizeKb(), 0);
  rig.engine.SetTxt(4, QStringLiteral("2"));
  EXPECT_EQ(rig.engine.MinSizeKb(), 2);
  EXPECT_EQ(rig.LogCount(QStringLiteral("文件长度下限已重置...")), 0);
  rig.engine.Txt_LostFocus(4);
  rig.engine.Txt_LostFocus(4);  // logged on every focus loss
  EXPECT_EQ(rig.LogCount(QStringLiteral("文件长度下限已重置...")), 2);
  // A number beyond 32 bits keeps the largest value.
  rig.engine.SetTxt(4, QStringLiteral("5000000000kb"));
  EXPECT_EQ(rig.engine.MinSizeKb(), 2147483647);
  EXPECT_EQ(rig.engine.Downloads().MinSizeKb.load(), 2147483647);
}

TEST(EngineSettings, KeywordBoxHintAndKeywords) {
  EngineRig rig;
  const QString hint = CrawlEngine::KeyWordHint();
  const QString updated = QStringLiteral("指定关键词已经更新...");
  QSignalSpy changed(&rig.engine, &CrawlEngine::TxtChanged);

  // Only a click empties the hint; keywords stay empty.
  rig.engine.Txt_Click(5);
  EXPECT_EQ(rig.engine.Txt(5), QString());
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.at(0).at(0).toInt(), 5);
  EXPECT_EQ(rig.engine.Settings().KeyWords, QString());
  rig.engine.Txt_LostFocus(5);  // left empty: the hint returns, nothing logged
  EXPECT_EQ(rig.engine.Txt(5), hint);
  EXPECT_EQ(rig.engine.Settings().KeyWords, QString());
  EXPECT_EQ(rig.LogCount(updated), 0);

  rig.engine.Txt_Click(5);
  std::vector<QString> seen;
  for (const char* typed : {"猫", "猫*", "猫*狗"}) {
    rig.engine.SetTxt(5, QString::fromUtf8(typed));
    seen.push_back(rig.engine.Settings().KeyWords);
  }
  EXPECT_EQ(seen, (std::vector<QString>{QStringLiteral("猫"), QStringLiteral("猫*"),
                                        QStringLiteral("猫*狗")}));
  rig.engine.Txt_LostFocus(5);
  EXPECT_EQ(rig.LogCount(updated), 1);

  // Deleting from the right: the last keyword text stays.
  rig.engine.SetTxt(5, QStringLiteral("猫*"));
  rig.engine.SetTxt(5, QStringLiteral("猫"));
  rig.engine.SetTxt(5, QString());
  EXPECT_EQ(rig.engine.Settings().KeyWords, QStringLiteral("猫"));
  rig.engine.SetTxt(5, QStringLiteral("*"));
  EXPECT_EQ(rig.engine.Settings().KeyWords, QStringLiteral("猫"));
  rig.engine.Txt_LostFocus(5);  // "*" logs nothing
  EXPECT_EQ(rig.LogCount(updated), 1);
  rig.engine.SetTxt(5, hint);  // the hint is not a keyword text either
  EXPECT_EQ(rig.engine.Settings().KeyWords, QStringLiteral("猫"));
  rig.engine.Txt_LostFocus(5);
  EXPECT_EQ(rig.LogCount(updated), 1);
  rig.engine.Txt_Click(4);  // clicks elsewhere change nothing
  EXPECT_EQ(rig.engine.Txt(5), hint);
}

TEST(EngineSettings, FileTypesTakenOnLeavingOnly) {
  EngineRig rig;
  rig.engine.SetTxt(6, QStringLiteral(" PNG*"));
  EXPECT_EQ(rig.engine.Settings().FileTypes, QStringLiteral("jpg*"));
  rig.engine.Txt_LostFocus(6);
  EXPECT_EQ(rig.engine.Settings().FileTypes, QStringLiteral(" PNG*"));  // as typed
  rig.engine.SetTxt(6, QString());
  rig.engine.Txt_LostFocus(6);
  EXPECT_EQ(rig.engine.Settings().FileTypes, QString());
}

TEST(EngineButtons, ListSiteClearBrowseAndQuit) {
  EngineRig rig;
  QSignalSpy visible(&rig.engine, &CrawlEngine::ListVisibleChanged);
  rig.engine.Click(qm::kBtnList);
  EXPECT_EQ(rig.engine.Caption(qm::kBtnList), QStringLiteral("隐藏"));
  EXPECT_TRUE(rig.engine.ListVisible());
  rig.engine.Click(qm::kBtnList);
  EXPECT_EQ(rig.engine.Caption(qm::kBtnList), QStringLiteral("查看列表"));
  EXPECT_FALSE(rig.engine.ListVisible());
  ASSERT_EQ(visible.count(), 2);
  EXPECT_TRUE(visible.at(0).at(0).toBool());

  // The switch takes the address box at the moment it is turned on.
  rig.engine.SetTxt(2, QStringLiteral("http://a.com/\r\nhttp://b.com/"));
  rig.engine.Click(qm::kBtnSite);
  EXPECT_FALSE(rig.engine.Settings().SiteOnly);
  EXPECT_EQ(rig.engine.Caption(qm::kBtnSite), QStringLiteral("只抓取站内"));
  EXPECT_EQ(rig.engine.Settings().SiteBase, QString());
  rig.engine.Click(qm::kBtnSite);
  EXPECT_TRUE(rig.engine.Settings().SiteOnly);
  EXPECT_EQ(rig.engine.Settings().SiteBase, QStringLiteral("http://a.com/\r\nhttp://b.com/"));
  // Lines typed with bare LF ends are taken with CR LF between them.
  rig.engine.SetTxt(2, QStringLiteral("http://c.com/\nhttp://d.com/"));
  rig.engine.Click(qm::kBtnSite);
  rig.engine.Click(qm::kBtnSite);
  EXPECT_EQ(rig.engine.Settings().SiteBase, QStringLiteral("http://c.com/\r\nhttp://d.com/"));

  rig.engine.Click(qm::kBtnClear);
  EXPECT_EQ(rig.engine.Txt(2), QString());
  EXPECT_EQ(rig.engine.Settings().SiteBase, QStringLiteral("http://c.com/\r\nhttp://d.com/"));

  // Browse: a chosen folder reaches the save path; a cancel empties the box
  // and leaves the save path.
  rig.host.browseResult = QStringLiteral("/pictures/here");
  rig.engine.Click(qm::kBtnBrowse);
  EXPECT_EQ(rig.host.prompts, QStringList{QString()});
  EXPECT_EQ(rig.engine.Txt(0), QStringLiteral("/pictures/here"));
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), QStringLiteral("/pictures/here"));
  rig.host.browseResult.clear();
  rig.engine.Click(qm::kBtnBrowse);
  EXPECT_EQ(rig.engine.Txt(0), QString());
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), QStringLiteral("/pictures/here"));

  EXPECT_EQ(rig.host.endCalls, 0);
  rig.engine.Click(qm::kBtnQuit);
  EXPECT_EQ(rig.host.endCalls, 1);
  rig.engine.Form_Unload();
  EXPECT_EQ(rig.host.endCalls, 2);
}

TEST(EngineStart, RefusedWithoutAnHttpAddress) {
  EngineRig rig;
  for (const char* box : {"", "https://a.com/\r\nHTTPS://b.com/", "www.a.com"}) {
    rig.engine.SetTxt(2, QString::fromUtf8(box));
    rig.engine.Click(qm::kBtnStart);
    EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), kStart) << box;
    EXPECT_FALSE(rig.engine.Running());
    EXPECT_FALSE(rig.engine.Timer1Enabled());
    EXPECT_EQ(rig.engine.SeedList(), QString());
  }
  EXPECT_EQ(rig.LogCount(QStringLiteral("采集网址为空,或者格式输入有误.请添加正确的网址...")), 3);
  // The checks are logged in order, newest first.
  const QStringList lines = rig.engine.LogText().split(QStringLiteral("\r\n"));
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0].mid(10), QStringLiteral("采集网址为空,或者格式输入有误.请添加正确的网址..."));
  EXPECT_EQ(lines[1].mid(10), QStringLiteral("开始检查配置与环境..."));
  EXPECT_EQ(lines[2].mid(10), QStringLiteral("初始化..."));
}

TEST(EngineStart, AcceptedStartAndStop) {
  EngineRig rig;
  rig.engine.SetTxt(2, QStringLiteral("HTTP://a.com/\nplain"));
  rig.engine.SetTxt(7, QStringLiteral("750ms"));
  rig.engine.Click(qm::kBtnStart);
  EXPECT_TRUE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), QStringLiteral("停 止"));
  EXPECT_TRUE(rig.engine.Timer1Enabled());
  EXPECT_EQ(rig.engine.Timer1Interval(), 750);
  EXPECT_EQ(rig.engine.SeedList(), QStringLiteral("HTTP://a.com/\r\nplain"));
  EXPECT_EQ(rig.LogCount(QStringLiteral("开始爬行网页地址...")), 1);

  rig.engine.Click(qm::kBtnStart);
  EXPECT_FALSE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), kStart);
  EXPECT_FALSE(rig.engine.Timer1Enabled());
  EXPECT_EQ(rig.engine.LogText().split(QStringLiteral("\r\n")).first().mid(10),
            QString(66, QLatin1Char('-')));
}

TEST(EngineStart, DefaultImageFolderMadeAndHandTypedFolderIgnored) {
  EngineRig rig;
  const QString folder = Q(rig.dir.Path()) + QStringLiteral("/imgdown");
  ASSERT_FALSE(QFileInfo::exists(folder));
  rig.engine.Click(qm::kBtnStart);  // refused for its addresses, but the folder is made
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(rig.engine.Txt(0), folder);
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), folder);

  // A folder typed by hand does not reach the save path.
  rig.engine.SetTxt(0, QStringLiteral("/typed/by/hand"));
  rig.engine.SetTxt(2, QStringLiteral("http://a.com/"));
  rig.engine.Click(qm::kBtnStart);
  EXPECT_TRUE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Txt(0), QStringLiteral("/typed/by/hand"));
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), folder);
}

TEST(EngineStart, RefusedWhenTheDefaultFolderCannotBeMade) {
  EngineRig rig;
  QFile blocker(Q(rig.dir.File("imgdown")));  // a plain file takes the name
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  rig.engine.SetTxt(2, QStringLiteral("http://a.com/"));
  rig.engine.Click(qm::kBtnStart);
  EXPECT_EQ(rig.LogCount(QStringLiteral("图片保存目录创建失败,请检查权限...")), 1);
  EXPECT_FALSE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), kStart);
  EXPECT_FALSE(rig.engine.Timer1Enabled());
  EXPECT_EQ(rig.engine.Txt(0), QString());
  EXPECT_EQ(rig.engine.Downloads().GetSavePath(), QString());
}

TEST(EngineTimers, ZeroIntervalHoldsTheTimerUntilAPositiveOne) {
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.engine.SetTxt(2, QStringLiteral("plain http://a.invalid/"));  // no page will be fetched
  rig.engine.SetTxt(7, QStringLiteral("0ms"));
  rig.engine.Click(qm::kBtnStart);
  ASSERT_TRUE(rig.engine.Running());
  EXPECT_TRUE(rig.engine.Timer1Enabled());
  EXPECT_EQ(rig.engine.Timer1Interval(), 0);
  // No step runs: the first step would enable the download timer.
  for (int i = 0; i < 20; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  EXPECT_FALSE(rig.engine.Timer2().isActive());
  EXPECT_EQ(rig.engine.SeedList(), QStringLiteral("plain http://a.invalid/"));
  // A positive interval lets it tick.
  rig.engine.SetTxt(7, QStringLiteral("5ms"));
  QDeadlineTimer deadline(30000);
  while (!rig.engine.Timer2().isActive() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(rig.engine.Timer2().isActive());
  rig.engine.Click(qm::kBtnStart);
}

TEST(EngineTimers, ChangedIntervalAppliesAtOnce) {
  EngineRig rig;
  qmtest::YieldScope yields;
  rig.engine.SetTxt(2, QStringLiteral("plain http://a.invalid/"));
  rig.engine.SetTxt(7, QStringLiteral("999999"));  // far beyond the test's patience
  rig.engine.Click(qm::kBtnStart);
  rig.engine.SetTxt(7, QStringLiteral("20ms"));
  QDeadlineTimer deadline(30000);
  while (!rig.engine.Timer2().isActive() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(rig.engine.Timer2().isActive());
  rig.engine.Click(qm::kBtnStart);
}

// ---- the data folder: imgdown, Log and errLog.txt

// Writes the three data files as a crawl does: Start makes the default image
// folder, a long run log is dumped, a hand-over refused for its size bound
// writes the error file. Returns what Start showed in Txt(0).
QString MakeDataFiles(const QString& programFolder) {
  qmtest::RecordingHost host;
  CrawlEngine engine(programFolder, &host);
  engine.Form_Load();
  engine.SetTxt(2, QStringLiteral("http://127.0.0.1:9/"));
  engine.Click(qm::kBtnStart);
  for (int i = 0; i < 60; ++i) engine.Ag(QString(1000, QLatin1Char('x')));
  engine.SetTxt(4, QStringLiteral("3000000kb"));  // beyond 32 bits in bytes
  engine.Downloads().AppendToQueue(QStringLiteral("http://127.0.0.1:9/a.jpg\""));
  engine.Timer2_Timer();
  return engine.Txt(0);
}

void ExpectDataFilesIn(const QString& folder, const QString& programFolder) {
  EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/imgdown")).isDir());
  EXPECT_EQ(QDir(folder + QStringLiteral("/Log")).entryList(QDir::Files).size(), 1);
  QFile errors(folder + QStringLiteral("/errLog.txt"));
  ASSERT_TRUE(errors.open(QIODevice::ReadOnly));
  // The downloader it names is the one beside the program, wherever the file is.
  EXPECT_TRUE(errors.readAll().contains((programFolder + QStringLiteral("/qmdown s=")).toUtf8()));
}

TEST(EngineDataFolder, BesideAWritableProgram) {
  qmtest::TempDir dir;
  const QString program = Q(dir.Path()) + QStringLiteral("/bin");
  const QString xdg = Q(dir.Path()) + QStringLiteral("/xdg");
  ASSERT_TRUE(QDir().mkpath(program));
  qputenv("XDG_DATA_HOME", xdg.toUtf8());
  EXPECT_EQ(MakeDataFiles(program), program + QStringLiteral("/imgdown"));
  qunsetenv("XDG_DATA_HOME");
  ExpectDataFilesIn(program, program);
  EXPECT_FALSE(QFileInfo::exists(xdg));
}

// The program folder is read-only (mode 0555) and the engine runs in a child
// process; as root the child first becomes an unprivileged user, for whom
// the mode counts.
TEST(EngineDataFolder, InTheUserDataFolderWhenTheProgramFolderIsReadOnly) {
  qmtest::TempDir dir;
  const QString program = Q(dir.Path()) + QStringLiteral("/bin");
  const QString xdg = Q(dir.Path()) + QStringLiteral("/xdg");
  ASSERT_TRUE(QDir().mkpath(program) && QDir().mkpath(xdg));
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(program.toUtf8().constData(), 0555), 0);
  ASSERT_EQ(::chmod(xdg.toUtf8().constData(), 0777), 0);
  const QByteArray xdgBytes = xdg.toUtf8();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t nobody = 65534;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
         ::setresuid(nobody, nobody, nobody) != 0))
      ::_exit(3);
    ::setenv("XDG_DATA_HOME", xdgBytes.constData(), 1);
    const bool shown = MakeDataFiles(program) == xdg + QStringLiteral("/qmcrawl/imgdown");
    ::_exit(shown ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);  // 3: no unprivileged user; 4: Txt(0) shows another folder
  ExpectDataFilesIn(xdg + QStringLiteral("/qmcrawl"), program);
  EXPECT_TRUE(QDir(program).isEmpty());
}

TEST(EngineDataFolder, UserDataFolderFollowsXdgDataHome) {
  EXPECT_EQ(qm::DataFolderFor(QStringLiteral("/p"), [](const QString&) { return true; }),
            QStringLiteral("/p"));
  qputenv("XDG_DATA_HOME", "relative/share");  // ignored, as the base directory rules say
  EXPECT_EQ(qm::DataFolderFor(QStringLiteral("/p"), [](const QString&) { return false; }),
            QDir::homePath() + QStringLiteral("/.local/share/qmcrawl"));
  qputenv("XDG_DATA_HOME", "/x/share/");
  EXPECT_EQ(qm::UserDataFolder(), QStringLiteral("/x/share/qmcrawl"));
  qunsetenv("XDG_DATA_HOME");
}

}  // namespace
