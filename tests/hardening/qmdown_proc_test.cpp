// The fault table against qmdown; qmdown processes and workers on one
// folder; command lines qmdown refuses.
#include <gtest/gtest.h>

#include "download/dispatcher.h"
#include "download/downloader_command.h"
#include "fault_table.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;

TEST(FaultTable, QmdownSavesEveryGoodPictureWholeAndNothingElse) {
  PictureTable table('D');
  // Run in the save folder's parent: a name taken as a path would land there.
  const QString line = Q("s=" + table.save + "&min=1024&url=" + table.list + "||");
  EXPECT_EQ(RunQmdown({line}, Q(table.root.Path())).exitCode, 0);
  table.Check();
}

// Five qmdown processes and five workers save 120 addresses of four base
// names into one folder at once: every address is fetched once, and every
// file holds one whole body under its base name, bare or behind a prefix.
TEST(Collision, DownloadersAndWorkersOnOneFolderLoseAndMixNothing) {
  LoopbackServer server;
  TempDir dir, bin;
  ASSERT_TRUE(InstallQmdown(Q(bin.File("qmdown"))));
  qm::DownloadState state;
  state.SetSavePath(Q(dir.Path()));
  std::map<std::string, std::string> baseOf;  // body -> base name
  QString lists[10];
  for (int i = 0; i < 120; ++i) {
    const std::string base = "p" + std::to_string(i % 4) + ".jpg";
    const std::string body = Garbage(20000 + 7919u * (i % 17), i);
    server.Serve("/" + std::to_string(i) + "/" + base, Reply(body, 200));  // all names picked first
    baseOf[body] = base;
    lists[i % 10] += Q(server.Url("/" + std::to_string(i) + "/" + base)) + "\"";
  }
  for (int i = 0; i < 5; ++i) {
    const QString line = "s=" + Q(dir.Path()) + "&min=1&url=" + lists[i] + "||";
    ASSERT_TRUE(qm::ShellOpen(Q(bin.File("qmdown")), line));
    ASSERT_TRUE(qm::StartWorker(state, lists[i + 5]));
  }
  ASSERT_TRUE(WaitUntil([&] { return LiveWorkers(state) + DownloadersIn(bin.Path()) == 0; }, 240));
  EXPECT_EQ(server.RequestCount(), 120u);
  EXPECT_EQ(ListFolder(dir.Path()).size(), 120u);
  for (const std::string& name : ListFolder(dir.Path())) {
    const auto it = baseOf.find(ReadWhole(dir.File(name)));
    ASSERT_NE(it, baseOf.end()) << name << " holds no body, or one another file holds";
    EXPECT_EQ(IsPrefixed(name, it->second) ? it->second : name, it->second);
    baseOf.erase(it);
  }
}

// Without an "http" the usage, with a bound beyond 32 bits a refusal; an empty
// folder is no folder (joined with "/" it would name the root).
TEST(QmdownProgramTest, RefusesUsageOverflowAndNoFolderWithoutARequest) {
  LoopbackServer server;
  const QString url = Q(server.Url("/a.jpg")) + "||";
  const RunResult usage = RunQmdown({});
  const RunResult tooBig = RunQmdown({"s=/tmp&min=2147483648&url=" + url});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_EQ(usage.err, (qm::DownloaderUsageText() + "\r\n").toUtf8());
  EXPECT_EQ(tooBig.exitCode, 2);
  EXPECT_EQ(tooBig.err, "min= is outside the signed 32-bit range\n");
  EXPECT_EQ(RunQmdown({"s=&min=0&url=" + url}).exitCode, 0);
  EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace
