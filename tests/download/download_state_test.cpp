#include "download/download_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(DownloadStateTest, TakeQueueMovesEverythingOut) {
  qm::DownloadState state;
  state.AppendToQueue(QStringLiteral("http://a/1.jpg\""));
  state.AppendToQueue(QStringLiteral("http://a/2.jpg\""));
  EXPECT_EQ(state.Queue(), QStringLiteral("http://a/1.jpg\"http://a/2.jpg\""));
  EXPECT_EQ(state.TakeQueue(), QStringLiteral("http://a/1.jpg\"http://a/2.jpg\""));
  EXPECT_TRUE(state.Queue().isEmpty());
  EXPECT_TRUE(state.TakeQueue().isEmpty());
  state.SetSavePath(QStringLiteral("/tmp/pics"));
  EXPECT_EQ(state.GetSavePath(), QStringLiteral("/tmp/pics"));
}

TEST(DownloadStateTest, MarkDoneAdmitsEachFingerprintOnceAcrossThreads) {
  // Four threads mark overlapping ranges of fingerprints at once: each
  // fingerprint must be admitted exactly once, as by one test-and-append.
  qm::DownloadState state;
  constexpr int kThreads = 4;
  constexpr std::uint64_t kKeys = 20000;
  std::atomic<int> admitted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&state, &admitted, t] {
      for (std::uint64_t i = 0; i < kKeys; ++i) {
        std::uint64_t key =
            0x9E3779B97F4A7C15ull * ((i + static_cast<std::uint64_t>(t) * 5000) % kKeys);
        if (state.MarkDone(key)) ++admitted;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(admitted.load(), static_cast<int>(kKeys));
  EXPECT_EQ(state.DoneList.Count(), kKeys);
  EXPECT_FALSE(state.MarkDone(0));  // key 0 (i = 0) was admitted already
}

}  // namespace
