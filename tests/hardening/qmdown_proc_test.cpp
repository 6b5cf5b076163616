// The fault table against qmdown; qmdown processes and workers on one folder.
#include <gtest/gtest.h>

#include "download/dispatcher.h"
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

// Five qmdown processes and five workers, base names shared by many
// addresses: every address is fetched once, and every file holds one whole
// body under its base name, bare or behind a prefix.
TEST(Collision, DownloadersAndWorkersOnOneFolderLoseAndMixNothing) {
  LoopbackServer server;
  TempDir dir, bin;
  ASSERT_TRUE(InstallQmdown(Q(bin.File("qmdown"))));
  qm::DownloadState state;
  state.SetSavePath(Q(dir.Path()));
  std::map<std::string, std::string> baseOf;  // body -> base name
  for (int batch = 0; batch < 10; ++batch) {
    QString list;
    for (int i = batch * 12; i < batch * 12 + 12; ++i) {
      const std::string base = i % 2 ? "pic.jpg" : "p" + std::to_string(i % 3) + ".jpg";
      const std::string path = "/" + std::to_string(i) + "/" + base;
      const std::string body = Garbage(20000 + 7919u * (i % 17), i);
      server.Serve(path, Reply(body, 200));  // names are picked before any file is placed
      baseOf[body] = base;
      list += Q(server.Url(path)) + "\"";
    }
    if (batch < 5) {
      ASSERT_TRUE(
          qm::ShellOpen(Q(bin.File("qmdown")), "s=" + Q(dir.Path()) + "&min=1&url=" + list + "||"));
    } else {
      ASSERT_TRUE(qm::StartWorker(state, list));
    }
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

}  // namespace
