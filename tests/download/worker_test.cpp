// Download worker threads: one queue snapshot each, the shared done-list, the
// count of live workers.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>

#include "dispatcher_fake_host.h"

using namespace qmtest;

namespace {

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    state.SetSavePath(Q(save.Path()));
    std::lock_guard<std::mutex> guard(state.lock);
    state.ThreadJob = QStringLiteral("downimg");
  }
  ~WorkerTest() override { EXPECT_TRUE(WaitForWorkers(state)); }

  QString Url(const std::string& path) const { return Q(server.Url(path)) + "\""; }
  std::uint64_t Handle() {
    std::lock_guard<std::mutex> guard(state.lock);
    return state.ThreadHandle;
  }

  TempDir save;
  qm::DownloadState state;
  LoopbackServer server;
};

TEST_F(WorkerTest, RacingWorkersTakeTheQueueOnce) {
  server.Serve("/a.jpg", Reply("aaaa", 300));
  server.Serve("/b.jpg", Reply("bbbb", 300));
  state.AppendToQueue(Url("/a.jpg") + Url("/b.jpg"));
  SetThreadCount(state, 2);  // as StartWorker leaves it for two workers

  std::thread first([&] { qm::WorkerMain(state); });
  std::thread second([&] { qm::WorkerMain(state); });
  first.join();
  second.join();

  EXPECT_EQ(LiveWorkers(state), 0);
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(server.RequestCount(), 2u);  // each address once: one worker took both
  EXPECT_EQ(ListFolder(save.Path()), (std::set<std::string>{"a.jpg", "b.jpg"}));

  // A worker that finds the queue empty only lowers the count.
  SetThreadCount(state, 1);
  qm::WorkerMain(state);
  EXPECT_EQ(LiveWorkers(state), 0);
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(WorkerTest, WorkerDoesOnlyTheDownloadJob) {
  server.Serve("/a.jpg", Reply("aaaa"));
  state.AppendToQueue(Url("/a.jpg"));
  for (const char* job : {"", "DOWNIMG", "downimg "}) {
    {
      std::lock_guard<std::mutex> guard(state.lock);
      state.ThreadJob = QString::fromUtf8(job);
    }
    SetThreadCount(state, 1);
    qm::WorkerMain(state);
    EXPECT_EQ(LiveWorkers(state), 0) << job;
    EXPECT_EQ(state.Queue(), Url("/a.jpg")) << job;
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(WorkerTest, SameAddressGivenToTwoWorkersIsSavedOnce) {
  server.Serve("/dir/pic.jpg", Reply(std::string(2048, 'p'), 500));
  state.AppendToQueue(Url("/dir/pic.jpg"));
  ASSERT_TRUE(qm::StartWorker(state));
  const std::uint64_t firstId = Handle();
  ASSERT_TRUE(WaitUntil([&] { return state.Queue().isEmpty(); }));
  // The first worker is still waiting for the answer when the second starts.
  state.AppendToQueue(Url("/dir/pic.jpg"));
  ASSERT_TRUE(qm::StartWorker(state));
  EXPECT_GE(LiveWorkers(state), 1);
  // Each start publishes the id of its own thread; both are alive at once.
  EXPECT_NE(firstId, 0u);
  EXPECT_NE(Handle(), 0u);
  EXPECT_NE(Handle(), firstId);
  ASSERT_TRUE(WaitForWorkers(state));

  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(ListFolder(save.Path()), std::set<std::string>{"pic.jpg"});
  EXPECT_EQ(state.DoneList.Count(), 1u);
}

TEST_F(WorkerTest, SizeBoundBeyond32BitsIsClampedNotWrapped) {
  server.Serve("/a.jpg", Reply(std::string(5000, 'a')));
  server.Serve("/b.jpg", Reply(std::string(5000, 'b')));

  // INT_MAX kilobytes would wrap to -1024 bytes and let everything through.
  state.MinSizeKb = INT_MAX;
  state.AppendToQueue(Url("/a.jpg"));
  SetThreadCount(state, 1);
  qm::WorkerMain(state);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(ListFolder(save.Path()).empty());

  // The other end: -2,097,153 kilobytes would wrap to 2,147,482,624 bytes and
  // refuse everything; clamped to the lowest bound, it admits all.
  state.MinSizeKb = -2097153;
  state.AppendToQueue(Url("/b.jpg"));
  SetThreadCount(state, 1);
  qm::WorkerMain(state);
  EXPECT_EQ(ListFolder(save.Path()), std::set<std::string>{"b.jpg"});
  EXPECT_EQ(LiveWorkers(state), 0);
}

TEST_F(WorkerTest, MarkDoneAdmitsEachFingerprintOnceAcrossThreads) {
  // Four threads mark overlapping ranges of fingerprints at once: each
  // fingerprint must be admitted exactly once, as by one test-and-append.
  constexpr std::uint64_t kKeys = 20000;
  std::atomic<int> admitted{0};
  std::vector<std::thread> threads;
  for (std::uint64_t t = 0; t < 4; ++t) {
    threads.emplace_back([this, &admitted, t] {
      for (std::uint64_t i = 0; i < kKeys; ++i)
        admitted += state.MarkDone(0x9E3779B97F4A7C15ull * ((i + t * 5000) % kKeys));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(admitted.load(), static_cast<int>(kKeys));
  EXPECT_EQ(state.DoneList.Count(), kKeys);
  EXPECT_FALSE(state.MarkDone(0));  // key 0 (i = 0) was admitted already
}

}  // namespace
