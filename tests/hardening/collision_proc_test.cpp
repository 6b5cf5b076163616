// Five downloader processes and five download worker threads saving into one
// folder at the same time, every address with a base name that others share:
// every address is saved, each file holds exactly one whole body.
#include <gtest/gtest.h>

#include <map>

#include "download/dispatcher.h"
#include "support/test_util.h"

namespace {

using namespace qmtest;

constexpr int kDownloaders = 5;
constexpr int kWorkers = 5;
constexpr int kPerBatch = 12;

TEST(CollisionTest, DownloadersAndWorkersOnOneFolderLoseAndMixNothing) {
  LoopbackServer server;
  TempDir dir;
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));

  std::map<std::string, std::string> baseOf;  // body -> base name
  std::vector<QString> lists;
  for (int batch = 0; batch < kDownloaders + kWorkers; ++batch) {
    QString list;
    for (int i = 0; i < kPerBatch; ++i) {
      // Half of all addresses end in pic.jpg, the rest in one of three names.
      const std::string base = i % 2 ? "pic.jpg" : "p" + std::to_string(i % 3) + ".jpg";
      const std::string path = "/b" + std::to_string(batch) + "/n" + std::to_string(i) + "/" + base;
      const std::string body = Garbage(20000 + 7919 * static_cast<std::size_t>(i + batch),
                                       static_cast<unsigned>(1000 + batch * 100 + i));
      server.Serve(path, Reply(body));
      baseOf[body] = base;
      list += Q(server.Url(path)) + "\"";
    }
    lists.push_back(list);
  }
  const std::size_t total = baseOf.size();
  ASSERT_EQ(total, static_cast<std::size_t>((kDownloaders + kWorkers) * kPerBatch));

  const QString folder = Q(dir.Path());
  for (int p = 0; p < kDownloaders; ++p)
    ASSERT_TRUE(qm::ShellOpen(kQmdown, "s=" + folder + "&min=1&url=" + lists[p] + "||"));
  qm::DownloadState state;
  WorkerGuard workers(state);
  state.SetSavePath(folder);
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.ThreadJob = QStringLiteral("downimg");
  }
  for (int w = 0; w < kWorkers; ++w) {
    // Each worker takes the whole queue: the next batch is queued once the
    // worker before has taken its own.
    state.AppendToQueue(lists[kDownloaders + w]);
    ASSERT_TRUE(qm::StartWorker(state));
    ASSERT_TRUE(WaitUntil([&] { return state.Queue().isEmpty(); }));
  }
  ASSERT_TRUE(WaitUntil([&] { return LiveWorkers(state) == 0 && Downloaders() == 0; }, 240));
  EXPECT_EQ(server.RequestCount(), total);

  // Every file equals exactly one body, under that body's base name (with or
  // without a prefix), and every body is in exactly one file. The first file
  // of each base name got the bare name, every later one a prefix: four bare
  // names.
  const std::set<std::string> files = ListFolder(dir.Path());
  EXPECT_EQ(files.size(), total);
  int bare = 0;
  for (const std::string& name : files) {
    const auto it = baseOf.find(ReadWhole(dir.File(name)));
    if (it == baseOf.end()) {
      ADD_FAILURE() << name << " holds no body, or one already claimed by another file";
      continue;
    }
    bare += name == it->second;
    EXPECT_TRUE(name == it->second || IsPrefixed(name, it->second))
        << name << " holds a body of " << it->second;
    baseOf.erase(it);
  }
  EXPECT_EQ(bare, 4);
  EXPECT_TRUE(baseOf.empty()) << baseOf.size() << " bodies were not saved";
}

}  // namespace
