// The download timer's tick with the downloader program beside the crawler:
// counting running downloaders, launching one per tick, the command line, and
// launches that fail. These tests start processes named qmdown.
#include <gtest/gtest.h>

#include "dispatcher_fake_host.h"

using namespace qmtest;

namespace {

const std::vector<QString> kLaunched{"Ag:创建下载进程...", "ProcessEvents"};

class DispatcherProcTest : public DispatchFixture {
 protected:
  void SetUp() override {
    // Downloaders left by an earlier test must have ended: the limit counts them all.
    ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  }

  QString Downloader() const { return Q(program.File("qmdown")); }
  // A recording stand-in for the downloader (it runs as the shell, so it is
  // not counted as a downloader itself).
  void InstallRecorder() { WriteRecorder(program.File("qmdown"), records.Path()); }
  // The first arguments of the stand-in's runs, once `n` runs have ended.
  QStringList RecordedArgs(std::size_t n) {
    WaitUntil([&] { return Calls(records.Path()).size() >= n; });
    QStringList args;
    for (const Call& call : Calls(records.Path())) args << QString::fromStdString(call.arg);
    return args;
  }

  TempDir records;
};

TEST_F(DispatcherProcTest, DownloaderTakesTheQueueAndItsRemovalSwitchesToThreads) {
  InstallRecorder();
  LoopbackServer server;
  server.Serve("/i/later.jpg", Reply(std::string(3000, 'c')));
  const QString queue = DeadAddress("big.jpg") + "\"" + DeadAddress("small.jpg") + "\"\"";
  state.AppendToQueue(queue);

  qm::Timer2_Timer(state, host);

  EXPECT_EQ(host.events, kLaunched);
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(RecordedArgs(1), QStringList{"s=" + Q(save.Path()) + "&min=0&url=" + queue + "||"});
  EXPECT_EQ(LiveWorkers(state), 0);

  // The downloader program disappears mid-crawl: the next tick starts a worker.
  ASSERT_TRUE(QFile::remove(Downloader()));
  host.events.clear();
  state.AppendToQueue(Q(server.Url("/i/later.jpg")) + "\"");
  qm::Timer2_Timer(state, host);
  ASSERT_EQ(host.LogLines().size(), 1);
  EXPECT_NE(WorkerHandleIn(host.LogLines().at(0)), 0u);
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(ReadWhole(save.File("later.jpg")), std::string(3000, 'c'));
}

TEST_F(DispatcherProcTest, LimitCountsEveryRunningDownloaderStrictly) {
  InstallRecorder();
  TempDir other;
  Sleepers sleepers(Q(other.Path()));
  const QString queue = DeadAddress(QStringLiteral("a.jpg")) + "\"";
  auto tickWith = [&](int alive) {
    EXPECT_TRUE(WaitUntil([&] { return Downloaders() == alive; })) << alive;
    host.events.clear();
    state.TakeQueue();
    state.AppendToQueue(queue);
    qm::Timer2_Timer(state, host);
    return host.events == kLaunched;
  };

  ASSERT_TRUE(sleepers.Start(5));
  EXPECT_FALSE(tickWith(5));
  EXPECT_EQ(state.Queue(), queue);
  sleepers.KillOne();
  EXPECT_TRUE(tickWith(4));
  EXPECT_TRUE(state.Queue().isEmpty());

  host.limit = QStringLiteral("2.5");
  sleepers.KillOne();
  EXPECT_FALSE(tickWith(3));
  sleepers.KillOne();
  EXPECT_TRUE(tickWith(2));

  EXPECT_EQ(RecordedArgs(2), QStringList(2, "s=" + Q(save.Path()) + "&min=0&url=" + queue + "||"));
}

TEST_F(DispatcherProcTest, QueueLongerThanOneArgumentIsSplitAtAnAddress) {
  InstallRecorder();
  state.MinSizeKb = 100;
  QString queue;
  const auto max = static_cast<qsizetype>(qm::MaxParameterBytes());
  for (int i = 0; queue.toUtf8().size() < max * 3 / 2; ++i) {
    queue += DeadAddress(QStringLiteral("图片/%1/").arg(i) + QString(150, 'x') + ".jpg\"");
    if (i % 7 == 0) queue += "\"";  // empty pieces occur in a real queue
  }
  state.AppendToQueue(queue);
  const QString head = "s=" + Q(save.Path()) + "&min=102400&url=";

  qm::Timer2_Timer(state, host);

  EXPECT_EQ(host.events, kLaunched);
  const QString rest = state.Queue();
  ASSERT_FALSE(rest.isEmpty());
  ASSERT_TRUE(queue.endsWith(rest));
  const QString taken = queue.left(queue.size() - rest.size());
  EXPECT_TRUE(taken.endsWith(QLatin1Char('"')));
  const qsizetype parameterBytes = (head + taken + "||").toUtf8().size();
  EXPECT_LE(parameterBytes, max);
  // The next address would not have fitted.
  EXPECT_GT(parameterBytes + rest.left(rest.indexOf('"') + 1).toUtf8().size(), max);
  EXPECT_EQ(RecordedArgs(1), QStringList{head + taken + "||"});

  // The rest goes with the next launch.
  host.events.clear();
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(RecordedArgs(2), (QStringList{head + taken + "||", head + rest + "||"}));
}

TEST_F(DispatcherProcTest, AddressNoCommandLineCanCarryNeverStopsTheCrawl) {
  // A NUL inside an address is dropped; an address longer than a whole
  // argument is served by a worker; the rest still goes to the downloader.
  InstallRecorder();
  LoopbackServer server;
  const std::string longPath = "/" + std::string(130000, 'x') + "/long.jpg";
  server.Serve(longPath, Reply("long picture"));
  const QString good = DeadAddress("a.jpg") + "\"";
  const QString nul = DeadAddress(QStringLiteral("b") + QChar(u'\0') + ".jpg") + "\"";
  const QString other = DeadAddress("c.jpg") + "\"";
  state.AppendToQueue(good + nul + Q(server.Url(longPath)) + "\"" + other);

  qm::Timer2_Timer(state, host);

  ASSERT_EQ(host.events.size(), 3u);
  EXPECT_NE(WorkerHandleIn(host.events.at(0).mid(3)), 0u) << host.events.at(0).toStdString();
  EXPECT_EQ(std::vector<QString>(host.events.begin() + 1, host.events.end()), kLaunched);
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(RecordedArgs(1),
            QStringList{"s=" + Q(save.Path()) + "&min=0&url=" + good + other + "||"});
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(ReadWhole(save.File("long.jpg")), "long picture");
  EXPECT_FALSE(QFile::exists(program.File("errLog.txt").c_str()));
}

TEST_F(DispatcherProcTest, FailedLaunchKeepsTheTakenAddressesInTheErrorFile) {
  WriteWhole(program.File("qmdown"), "not a program");  // a downloader that cannot run
  const QString queue =
      DeadAddress(QStringLiteral("甲.jpg")) + "\"" + DeadAddress(QStringLiteral("b.jpg")) + "\"";
  state.AppendToQueue(queue);
  state.MinSizeKb = 100;

  qm::Timer2_Timer(state, host);

  EXPECT_EQ(host.events,
            (std::vector<QString>{"DisableTimer2", "StopA", "Critical:无法启动下载程序|53"}));
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(ErrorFileLines(Q(program.Path())),
            (QStringList{QStringLiteral("DI==0 LenK=%1").arg(queue.size()),
                         Downloader() + " s=" + Q(save.Path()) + "&min=102400&url=",
                         "错误:无法启动下载程序  -  代码:53", " ", queue}));
}

}  // namespace
