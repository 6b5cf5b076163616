// Download worker threads: one queue snapshot each, the shared done-list, the
// count of live workers.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

#include "dispatcher_fake_host.h"
#include "download/dispatcher.h"
#include "download/download_state.h"
#include "support/loopback_server.h"

using namespace qm;
using namespace qmtest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    state.SetSavePath(Q(save.Path()));
    std::lock_guard<std::mutex> guard(state.lock);
    state.ThreadJob = QStringLiteral("downimg");
  }
  ~WorkerTest() override { EXPECT_TRUE(WaitForWorkers(state)); }

  TempDir save;
  DownloadState state;
  LoopbackServer server;
};

TEST_F(WorkerTest, RacingWorkersTakeTheQueueOnce) {
  server.Serve("/a.jpg", Body("aaaa", 300));
  server.Serve("/b.jpg", Body("bbbb", 300));
  state.AppendToQueue(Q(server.Url("/a.jpg")) + "\"" + Q(server.Url("/b.jpg")) + "\"");
  SetThreadCount(state, 2);  // as StartWorker leaves it for two workers

  std::thread first([&] { WorkerMain(state); });
  std::thread second([&] { WorkerMain(state); });
  first.join();
  second.join();

  EXPECT_EQ(ThreadCountOf(state), 0);
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(server.RequestCount(), 2u);  // each address once: one worker took both
  EXPECT_EQ(FilesIn(Q(save.Path())), (QStringList{"a.jpg", "b.jpg"}));

  // A worker that finds the queue empty only lowers the count.
  SetThreadCount(state, 1);
  WorkerMain(state);
  EXPECT_EQ(ThreadCountOf(state), 0);
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(WorkerTest, WorkerDoesOnlyTheDownloadJob) {
  server.Serve("/a.jpg", Body("aaaa"));
  const QString queue = Q(server.Url("/a.jpg")) + "\"";
  state.AppendToQueue(queue);
  for (const char* job : {"", "DOWNIMG", "downimg "}) {
    {
      std::lock_guard<std::mutex> guard(state.lock);
      state.ThreadJob = QString::fromUtf8(job);
    }
    SetThreadCount(state, 1);
    WorkerMain(state);
    EXPECT_EQ(ThreadCountOf(state), 0) << job;
    EXPECT_EQ(state.Queue(), queue) << job;
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(WorkerTest, SameAddressGivenToTwoWorkersIsSavedOnce) {
  server.Serve("/dir/pic.jpg", Body(std::string(2048, 'p'), 500));
  const QString queue = Q(server.Url("/dir/pic.jpg")) + "\"";

  state.AppendToQueue(queue);
  ASSERT_TRUE(StartWorker(state));
  ASSERT_TRUE(WaitUntil([&] { return state.Queue().isEmpty(); }));
  // The first worker is still waiting for the answer when the second starts.
  state.AppendToQueue(queue);
  ASSERT_TRUE(StartWorker(state));
  EXPECT_GE(ThreadCountOf(state), 1);
  ASSERT_TRUE(WaitForWorkers(state));

  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(FilesIn(Q(save.Path())), QStringList{"pic.jpg"});
  EXPECT_EQ(state.DoneList.Count(), 1u);
}

TEST_F(WorkerTest, StartWorkerPublishesANewThreadIdEachTime) {
  server.Serve("/a.jpg", Body("a", 300));
  server.Serve("/b.jpg", Body("b", 300));
  state.AppendToQueue(Q(server.Url("/a.jpg")) + "\"");
  ASSERT_TRUE(StartWorker(state));
  std::uint64_t firstId;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    firstId = state.ThreadHandle;
  }
  ASSERT_TRUE(WaitUntil([&] { return state.Queue().isEmpty(); }));
  state.AppendToQueue(Q(server.Url("/b.jpg")) + "\"");
  ASSERT_TRUE(StartWorker(state));
  std::uint64_t secondId;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    secondId = state.ThreadHandle;
  }
  EXPECT_NE(firstId, 0u);
  EXPECT_NE(secondId, 0u);
  EXPECT_NE(firstId, secondId);  // both threads are alive at once
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(FilesIn(Q(save.Path())), (QStringList{"a.jpg", "b.jpg"}));
}

TEST_F(WorkerTest, SizeBoundBeyond32BitsIsClampedNotWrapped) {
  server.Serve("/a.jpg", Body(std::string(5000, 'a')));
  server.Serve("/b.jpg", Body(std::string(5000, 'b')));

  // INT_MAX kilobytes would wrap to -1024 bytes and let everything through.
  state.MinSizeKb = INT_MAX;
  state.AppendToQueue(Q(server.Url("/a.jpg")) + "\"");
  SetThreadCount(state, 1);
  WorkerMain(state);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(FilesIn(Q(save.Path())).isEmpty());

  // The other end: -2,097,153 kilobytes would wrap to 2,147,482,624 bytes and
  // refuse everything; clamped to the lowest bound, it admits all.
  state.MinSizeKb = -2097153;
  state.AppendToQueue(Q(server.Url("/b.jpg")) + "\"");
  SetThreadCount(state, 1);
  WorkerMain(state);
  EXPECT_EQ(FilesIn(Q(save.Path())), QStringList{"b.jpg"});
  EXPECT_EQ(ThreadCountOf(state), 0);
}

}  // namespace
