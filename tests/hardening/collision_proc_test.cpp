// Five downloader processes and five download worker threads saving into one
// folder at the same time, every address with a base name that others share:
// every address is saved, each file holds exactly one whole body.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "download/dispatcher.h"
#include "download/download_state.h"
#include "download/process.h"
#include "hardening_util.h"

namespace {

using qmtest::LoopbackServer;
using qmtest::Route;
using qmtest::TempDir;
using qmtest::hard::ListFolder;
using qmtest::hard::PollUntil;
using qmtest::hard::Q;
using qmtest::hard::ReadWhole;

constexpr int kDownloaders = 5;
constexpr int kWorkers = 5;
constexpr int kPerBatch = 12;

int LiveWorkers(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadCount;
}

TEST(CollisionTest, DownloadersAndWorkersOnOneFolderLoseAndMixNothing) {
  LoopbackServer server;
  TempDir dir;
  ASSERT_TRUE(PollUntil([] { return qm::ProcessCount(QStringLiteral("qmdown")) == 0; }));

  struct Body {
    std::string base;
    std::string bytes;
  };
  std::vector<Body> bodies;
  std::vector<QString> lists;
  for (int batch = 0; batch < kDownloaders + kWorkers; ++batch) {
    QString list;
    for (int i = 0; i < kPerBatch; ++i) {
      // Half of all addresses end in pic.jpg, the rest in one of three names.
      const std::string base = i % 2 ? "pic.jpg" : "p" + std::to_string(i % 3) + ".jpg";
      const std::string path = "/b" + std::to_string(batch) + "/n" + std::to_string(i) + "/" + base;
      Route r;
      r.body = qmtest::hard::Garbage(20000 + 7919 * static_cast<std::size_t>(i + batch),
                                     static_cast<unsigned>(1000 + batch * 100 + i));
      server.Serve(path, r);
      bodies.push_back({base, r.body});
      list += Q(server.Url(path)) + "\"";
    }
    lists.push_back(list);
  }

  const QString folder = Q(dir.Path());
  for (int p = 0; p < kDownloaders; ++p) {
    ASSERT_TRUE(qm::ShellOpen(QStringLiteral(QM_BIN_DIR "/qmdown"),
                              QStringLiteral("s=") + folder + QStringLiteral("&min=1&url=") +
                                  lists[static_cast<std::size_t>(p)] + QStringLiteral("||")));
  }
  qm::DownloadState state;
  state.SetSavePath(folder);
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.ThreadJob = QStringLiteral("downimg");
  }
  state.MinSizeKb.store(0);
  for (int w = 0; w < kWorkers; ++w) {
    // Each worker takes the whole queue: the next batch is queued once the
    // worker before has taken its own.
    state.AppendToQueue(lists[static_cast<std::size_t>(kDownloaders + w)]);
    ASSERT_TRUE(qm::StartWorker(state));
    ASSERT_TRUE(PollUntil([&] { return state.Queue().isEmpty(); }));
  }

  const std::size_t total = bodies.size();
  const bool settled = PollUntil(
      [&] { return LiveWorkers(state) == 0 && qm::ProcessCount(QStringLiteral("qmdown")) == 0; },
      240);
  ASSERT_TRUE(settled || PollUntil([&] { return LiveWorkers(state) == 0; }, 600));
  ASSERT_TRUE(settled);
  EXPECT_EQ(server.RequestCount(), total);

  // Every file equals exactly one body, under that body's base name (with or
  // without a prefix), and every body is in exactly one file.
  std::map<std::string, int> unclaimed;  // bytes -> index
  for (std::size_t i = 0; i < bodies.size(); ++i) unclaimed[bodies[i].bytes] = static_cast<int>(i);
  ASSERT_EQ(unclaimed.size(), total);
  const std::set<std::string> files = ListFolder(dir.Path());
  EXPECT_EQ(files.size(), total);
  // The first file of each base name got the bare name, every later one a
  // prefix: four bare names.
  int bare = 0;
  for (const std::string& name : files) bare += name == "pic.jpg" || name.size() == 6;
  EXPECT_EQ(bare, 4);
  static const QRegularExpression prefixed(QStringLiteral("^[a-zA-Z1-9]{6}-(.+)$"));
  for (const std::string& name : files) {
    const auto it = unclaimed.find(ReadWhole(dir.File(name)));
    if (it == unclaimed.end()) {
      ADD_FAILURE() << name << " holds no body, or one already claimed by another file";
      continue;
    }
    const std::string& base = bodies[static_cast<std::size_t>(it->second)].base;
    const auto match = prefixed.match(Q(name));
    EXPECT_TRUE(name == base || (match.hasMatch() && match.captured(1) == Q(base)))
        << name << " holds a body of " << base;
    unclaimed.erase(it);
  }
  EXPECT_TRUE(unclaimed.empty()) << unclaimed.size() << " bodies were not saved";
}

}  // namespace
