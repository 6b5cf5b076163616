// The download timer's tick without the downloader program: worker threads,
// the limit, the done-list trim and the failure path.
#include "download/dispatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <string>

#include "dispatcher_fake_host.h"
#include "download/download_state.h"
#include "support/loopback_server.h"
#include "web/gbk.h"

using namespace qm;
using namespace qmtest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() : host(Q(program.Path())) {
    state.SetSavePath(Q(save.Path()));
    state.MinSizeKb = 0;
  }
  ~DispatcherTest() override { EXPECT_TRUE(WaitForWorkers(state)); }

  // An address nothing answers at: a worker given it ends quickly.
  QString DeadAddress(const char* name) {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(ClosedPort()).arg(QLatin1String(name));
  }

  TempDir program;
  TempDir save;
  DownloadState state;
  FakeDispatchHost host;
};

TEST_F(DispatcherTest, StoppedCrawlOnlyCallsStopAndDispatchesNothing) {
  LoopbackServer server;
  server.Serve("/a.jpg", Body("image"));
  const QString queue = Q(server.Url("/a.jpg")) + QLatin1Char('"');
  state.AppendToQueue(queue);
  for (std::uint64_t k = 1; k <= 185043; ++k) state.DoneList.Insert(k);
  host.running = false;

  Timer2_Timer(state, host);
  Timer2_Timer(state, host);

  EXPECT_EQ(host.events, (std::vector<QString>{"StopA", "StopA"}));
  EXPECT_EQ(state.Queue(), queue);
  EXPECT_EQ(ThreadCountOf(state), 0);
  EXPECT_EQ(state.DoneList.Count(), 185043u);  // no trim while no crawl runs
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(FilesIn(Q(save.Path())).isEmpty());
}

TEST_F(DispatcherTest, LimitWithoutPositiveNumberStartsNothing) {
  const QString queue = DeadAddress("a.jpg") + QLatin1Char('"');
  state.AppendToQueue(queue);
  for (const char* limit : {"0", "", "abc", "-1", " ", "0.0"}) {
    host.limit = QString::fromUtf8(limit);
    Timer2_Timer(state, host);
    Timer2_Timer(state, host);
    EXPECT_TRUE(host.events.empty()) << limit;
    EXPECT_EQ(ThreadCountOf(state), 0) << limit;
  }
  // The queue keeps growing meanwhile.
  state.AppendToQueue(queue);
  EXPECT_EQ(state.Queue(), queue + queue);
}

TEST_F(DispatcherTest, QueueWithoutAddressStartsNothing) {
  for (const char* queue : {"", "\"\"\"", "ftp://x/a.jpg\"", "HTTP://x/a.jpg\""}) {
    state.TakeQueue();
    state.AppendToQueue(QString::fromUtf8(queue));
    Timer2_Timer(state, host);
    EXPECT_TRUE(host.events.empty()) << queue;
    EXPECT_EQ(state.Queue(), QString::fromUtf8(queue));
    EXPECT_EQ(ThreadCountOf(state), 0);
  }
}

TEST_F(DispatcherTest, WorkerSavesEverythingQueuedAndIsLoggedByItsThreadId) {
  LoopbackServer server;
  const std::string big(3000, 'x');
  const std::string small(100, 'y');
  server.Serve("/img/big.jpg", Body(big));
  server.Serve("/img/small.jpg", Body(small));
  state.MinSizeKb = 1;
  state.AppendToQueue(Q(server.Url("/img/big.jpg")) + "\"" + Q(server.Url("/img/small.jpg")) +
                      "\"\"");

  Timer2_Timer(state, host);

  ASSERT_EQ(host.LogLines().size(), 1);
  const std::uint64_t handle = WorkerHandleIn(host.LogLines().at(0));
  EXPECT_NE(handle, 0u);
  EXPECT_NE(handle, static_cast<std::uint64_t>(::gettid()));
  EXPECT_EQ(host.events.size(), 1u);  // no yield, no stop in thread mode
  {
    std::lock_guard<std::mutex> guard(state.lock);
    EXPECT_EQ(state.ThreadJob, "downimg");
    EXPECT_EQ(state.ThreadHandle, handle);
  }
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(FilesIn(Q(save.Path())), QStringList{"big.jpg"});
  EXPECT_EQ(ReadFileBytes(Q(save.File("big.jpg"))), QByteArray::fromStdString(big));
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(DispatcherTest, ThreadHandleNamesTheLiveWorkerThread) {
  LoopbackServer server;
  server.Serve("/slow.jpg", Body("z", 2000));
  state.AppendToQueue(Q(server.Url("/slow.jpg")) + "\"");

  Timer2_Timer(state, host);

  ASSERT_EQ(host.LogLines().size(), 1);
  const std::uint64_t handle = WorkerHandleIn(host.LogLines().at(0));
  ASSERT_NE(handle, 0u);
  // The worker waits on the slow answer: its id is a thread of this process.
  EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/self/task/%1").arg(handle)));
  EXPECT_EQ(ThreadCountOf(state), 1);
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

    Timer2_Timer(state, host);

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
  Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 185042u);

  state.DoneList.Insert(185043);
  ASSERT_EQ(state.DoneList.TextLength(), 3145731u);
  Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 0u);
  EXPECT_TRUE(host.events.empty());
}

TEST_F(DispatcherTest, SizeBoundBeyond32BitsStopsTheCrawlWithErrorFile) {
  const QString savePath = Q(save.Path()) + QStringLiteral("/图片");
  state.SetSavePath(savePath);
  const QString queue = DeadAddress("a.jpg") + "\"";
  state.AppendToQueue(queue);
  state.MinSizeKb = 2097152;  // x 1024 = 2^31

  Timer2_Timer(state, host);

  EXPECT_EQ(host.events, (std::vector<QString>{"DisableTimer2", "StopA", "Critical:溢出|6"}));
  EXPECT_EQ(state.Queue(), queue);  // nothing taken
  EXPECT_EQ(ThreadCountOf(state), 0);
  const QStringList lines = ErrorFileLines(Q(program.Path()));
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], "DI==0 LenK=0");
  EXPECT_EQ(lines[1], Q(program.Path()) + "/qmdown s=" + savePath + "&min=2147483648&url=");
  EXPECT_EQ(lines[2], "错误:溢出  -  代码:6");
  EXPECT_EQ(lines[3], " ");
  EXPECT_EQ(lines[4], "");
  // Written in GBK, not UTF-8.
  EXPECT_TRUE(ReadFileBytes(Q(program.File("errLog.txt"))).contains("\xb4\xed\xce\xf3:"));

  // The most negative bound still fits; one kilobyte less does not, and the
  // file holds only the latest failure.
  host.events.clear();
  state.SetSavePath(Q(save.Path()));
  state.MinSizeKb = -2097153;
  Timer2_Timer(state, host);
  EXPECT_EQ(host.events.size(), 3u);
  EXPECT_EQ(ErrorFileLines(Q(program.Path())).value(1),
            Q(program.Path()) + "/qmdown s=" + Q(save.Path()) + "&min=-2147484672&url=");

  for (int kb : {2097151, -2097152}) {
    host.events.clear();
    state.MinSizeKb = kb;
    Timer2_Timer(state, host);
    ASSERT_EQ(host.LogLines().size(), 1) << kb;
    EXPECT_NE(WorkerHandleIn(host.LogLines().at(0)), 0u);
    ASSERT_TRUE(WaitForWorkers(state));
    state.AppendToQueue(queue);
  }
}

}  // namespace
