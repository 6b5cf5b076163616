// The download timer's tick without the downloader program: worker threads,
// the limit, the done-list trim and the failure path.
#include "download/dispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "dispatcher_fake_host.h"

using namespace qmtest;

namespace {

using DispatcherTest = DispatchFixture;

TEST_F(DispatcherTest, StoppedCrawlOnlyCallsStopAndDispatchesNothing) {
  LoopbackServer server;
  server.Serve("/a.jpg", Reply("image"));
  const QString queue = Q(server.Url("/a.jpg")) + QLatin1Char('"');
  state.AppendToQueue(queue);
  for (std::uint64_t k = 1; k <= 185043; ++k) state.DoneList.Insert(k);
  host.running = false;

  qm::Timer2_Timer(state, host);
  qm::Timer2_Timer(state, host);

  EXPECT_EQ(host.events, (std::vector<QString>{"StopA", "StopA"}));
  EXPECT_EQ(state.Queue(), queue);
  EXPECT_EQ(LiveWorkers(state), 0);
  EXPECT_EQ(state.DoneList.Count(), 185043u);  // no trim while no crawl runs
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(Saved().empty());
}

TEST_F(DispatcherTest, NothingStartsWithoutAPositiveLimitOrAnAddress) {
  const QString dead = DeadAddress("a.jpg") + QLatin1Char('"');
  std::vector<std::pair<QString, QString>> cases;  // limit, queue
  for (const char* limit : {"0", "", "abc", "-1", " ", "0.0"}) cases.emplace_back(limit, dead);
  for (const char* queue : {"", "\"\"\"", "ftp://x/a.jpg\"", "HTTP://x/a.jpg\""})
    cases.emplace_back("5", queue);
  for (const auto& [limit, queue] : cases) {
    host.limit = limit;
    state.TakeQueue();
    state.AppendToQueue(queue);
    qm::Timer2_Timer(state, host);
    qm::Timer2_Timer(state, host);
    EXPECT_TRUE(host.events.empty()) << limit.toStdString() << " " << queue.toStdString();
    EXPECT_EQ(state.Queue(), queue);
    EXPECT_EQ(LiveWorkers(state), 0);
  }
}

TEST_F(DispatcherTest, WorkerSavesEverythingQueuedAndIsLoggedByItsThreadId) {
  LoopbackServer server;
  const std::string big(3000, 'x');
  server.Serve("/img/big.jpg", Reply(big, 1500));
  server.Serve("/img/small.jpg", Reply(std::string(100, 'y')));
  state.MinSizeKb = 1;
  state.AppendToQueue(Q(server.Url("/img/big.jpg")) + "\"" + Q(server.Url("/img/small.jpg")) +
                      "\"\"");

  qm::Timer2_Timer(state, host);

  ASSERT_EQ(host.events.size(), 1u);  // no yield, no stop in thread mode
  const std::uint64_t handle = WorkerHandleIn(host.LogLines().value(0));
  ASSERT_NE(handle, 0u);
  EXPECT_NE(handle, static_cast<std::uint64_t>(::gettid()));
  // The worker waits on the slow answer: its id is a thread of this process.
  EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/self/task/%1").arg(handle)));
  EXPECT_EQ(LiveWorkers(state), 1);
  {
    std::lock_guard<std::mutex> guard(state.lock);
    EXPECT_EQ(state.ThreadJob, "downimg");
    EXPECT_EQ(state.ThreadHandle, handle);
  }
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(Saved(), std::set<std::string>{"big.jpg"});
  EXPECT_EQ(ReadWhole(save.File("big.jpg")), big);
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(DispatcherTest, LimitIsComparedStrictlyAsANumberWithFractions) {
  struct Case {
    const char* limit;
    int alive;
    bool starts;
  };
  for (const Case& c : {Case{"5", 4, true}, Case{"5", 5, false}, Case{"2.5", 2, true},
                        Case{"2.5", 3, false}, Case{"1kb", 0, true}, Case{"1", 1, false}}) {
    host.events.clear();
    state.TakeQueue();
    state.AppendToQueue(DeadAddress("a.jpg") + "\"");
    host.limit = QString::fromUtf8(c.limit);
    SetThreadCount(state, c.alive);  // workers counted as alive

    qm::Timer2_Timer(state, host);

    EXPECT_EQ(host.LogLines().size(), c.starts ? 1 : 0) << c.limit << " " << c.alive;
    ASSERT_TRUE(WaitForWorkers(state, c.alive));
    EXPECT_EQ(state.Queue().isEmpty(), c.starts) << c.limit << " " << c.alive;
  }
  SetThreadCount(state, 0);
}

TEST_F(DispatcherTest, DoneListEmptiedOnlyPastItsLimit) {
  // 17 characters per entry: 185,042 entries are 3,145,714 characters, one
  // more makes 3,145,731, past the limit of 3,145,728.
  for (std::uint64_t k = 1; k <= 185042; ++k) state.DoneList.Insert(k);
  ASSERT_EQ(state.DoneList.TextLength(), 3145714u);
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 185042u);

  state.DoneList.Insert(185043);
  ASSERT_EQ(state.DoneList.TextLength(), 3145731u);
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 0u);
  EXPECT_TRUE(host.events.empty());
}

TEST_F(DispatcherTest, SizeBoundBeyond32BitsStopsTheCrawlWithErrorFile) {
  const QString savePath = Q(save.Path()) + QStringLiteral("/图片");
  const QString head = Q(program.Path()) + "/qmdown s=";
  const std::vector<QString> failure{"DisableTimer2", "StopA", "Critical:溢出|6"};
  state.SetSavePath(savePath);
  const QString queue = DeadAddress("a.jpg") + "\"";
  state.AppendToQueue(queue);
  state.MinSizeKb = 2097152;  // x 1024 = 2^31

  qm::Timer2_Timer(state, host);

  EXPECT_EQ(host.events, failure);
  EXPECT_EQ(state.Queue(), queue);  // nothing taken
  EXPECT_EQ(LiveWorkers(state), 0);
  EXPECT_EQ(ErrorFileLines(Q(program.Path())),
            (QStringList{"DI==0 LenK=0", head + savePath + "&min=2147483648&url=",
                         "错误:溢出  -  代码:6", " ", ""}));
  // Written in GBK, not UTF-8.
  EXPECT_NE(ReadWhole(program.File("errLog.txt")).find("\xb4\xed\xce\xf3:"), std::string::npos);

  // The most negative bound still fits; one kilobyte less does not, and the
  // file holds only the latest failure. With a downloader beside the crawler
  // (one that cannot run: a launch would fail otherwise) nothing starts either.
  WriteWhole(program.File("qmdown"), "not a program");
  host.events.clear();
  state.SetSavePath(Q(save.Path()));
  state.MinSizeKb = -2097153;
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, failure);
  EXPECT_EQ(state.Queue(), queue);
  EXPECT_EQ(ErrorFileLines(Q(program.Path())).value(1),
            head + Q(save.Path()) + "&min=-2147484672&url=");
  QFile::remove(Q(program.File("qmdown")));

  for (int kb : {2097151, -2097152}) {
    host.events.clear();
    state.MinSizeKb = kb;
    qm::Timer2_Timer(state, host);
    ASSERT_EQ(host.LogLines().size(), 1) << kb;
    EXPECT_NE(WorkerHandleIn(host.LogLines().at(0)), 0u);
    ASSERT_TRUE(WaitForWorkers(state));
    state.AppendToQueue(queue);
  }
}

}  // namespace
