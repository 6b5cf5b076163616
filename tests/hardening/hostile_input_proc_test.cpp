// Hostile input in process mode: the crawler starts nothing but the program
// named qmdown beside it, handing it the whole command line as one argument,
// unchanged; and the downloader program itself keeps hostile names inside
// its folder.
#include <gtest/gtest.h>

#include <QThread>

#include "hardening_util.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;

TEST(HostileProcessTest, OnlyTheDownloaderRunsWithTheLineAsOneArgument) {
  HostileSite site;
  TempDir records;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  std::filesystem::create_directory(save);
  StepRig rig(QStringLiteral("3kb"));
  WriteRecorder(rig.dir.File("qmdown"), records.Path());
  rig.SaveInto(save);
  const auto programBefore = Snapshot(rig.dir.Path());
  const auto saveBefore = Snapshot(saveRoot.Path());

  std::multiset<std::string> expected;
  for (const QString& start : {site.StartLines(), site.Start()}) {
    rig.Crawl(start);
    ASSERT_TRUE(rig.engine.Running());
    ASSERT_TRUE(rig.engine.Downloads().Queue().contains(QStringLiteral("$(touch\t")));
    // The command line the dispatcher is to hand over for what is queued now.
    expected.insert(("s=" + rig.engine.Downloads().GetSavePath() + "&min=" +
                     QString::number(qint64{rig.engine.Downloads().MinSizeKb.load()} * 1024) +
                     "&url=" + rig.engine.Downloads().Queue() + "||")
                        .toStdString());
    rig.engine.Timer2_Timer();
    EXPECT_TRUE(rig.engine.Downloads().Queue().isEmpty());
    rig.engine.Click(qm::kBtnStart);  // stop
  }
  ASSERT_TRUE(WaitUntil([&] { return Calls(records.Path()).size() >= 2; }));
  QThread::msleep(300);  // a moment for a third call that must not come

  const std::vector<Call> calls = Calls(records.Path());
  ASSERT_EQ(calls.size(), 2u);
  std::multiset<std::string> got;
  for (const Call& call : calls) {
    EXPECT_EQ(call.argc, "1");
    got.insert(call.arg);
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 2);
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  ExpectChangesOnlyIn(rig.dir.Path(), programBefore, {"Log", "errLog.txt"});
  ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  ExpectNoMarker();
}

TEST(HostileProcessTest, FolderTheCommandLineCannotCarryIsServedByAWorker) {
  HostileSite site;
  TempDir saveRoot;
  StepRig rig;
  ASSERT_TRUE(InstallQmdown(Q(rig.dir.File("qmdown"))));
  // "&" ends the folder field of the downloader's line; "min=" and "url="
  // would be read as the later fields. The folders named by the cut-off
  // lines exist, so that a downloader given such a line would save there.
  for (const std::string name : {"a&b", "c min=1&", "d url=x"}) {
    const std::string folder = saveRoot.File(name);
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(saveRoot.File(name.substr(0, name.find('&'))));
    const auto before = Snapshot(saveRoot.Path());
    rig.SaveInto(folder);
    rig.Crawl(site.Start());
    rig.engine.Timer2_Timer();
    rig.engine.Click(qm::kBtnStart);  // stop
    ASSERT_TRUE(
        WaitUntil([&] { return LiveWorkers(rig.engine.Downloads()) == 0 && Downloaders() == 0; }));
    EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 0) << name;
    ExpectHostileImagesIn(folder);
    ExpectChangesOnlyIn(saveRoot.Path(), before, {name});
    // The done-list would skip the same addresses in the next round.
    rig.engine.Downloads().DoneList.Clear();
  }
}

TEST(HostileProcessTest, AddressWithDoubleBarDoesNotEndTheDownloadersList) {
  LoopbackServer server;
  std::string images;
  for (const char* path : {"/img/x||y.jpg", "/img/after1.jpg", "/img/after2.jpg"}) {
    images += "<img src='" + std::string(path) + "'>";
    server.Serve(path, Reply(std::string(2048, path[5])));
  }
  // A server takes the escaped bars for the bars themselves.
  server.Serve("/img/x%7C%7Cy.jpg", Reply(std::string(2048, 'x')));
  server.Serve("/", Html(LongPage(images)));
  TempDir save;
  StepRig rig(QStringLiteral("1kb"));
  ASSERT_TRUE(InstallQmdown(Q(rig.dir.File("qmdown"))));
  rig.SaveInto(save.Path());
  rig.Crawl(Q(server.Url("/")));
  rig.engine.Timer2_Timer();
  rig.engine.Click(qm::kBtnStart);  // stop
  EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 1);
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  // The bars go out escaped, as browsers send them; the server sees the same
  // address and the file is named after the address as handed over.
  EXPECT_EQ(ListFolder(save.Path()),
            (std::set<std::string>{"after1.jpg", "after2.jpg", "x%7C%7Cy.jpg"}));
  EXPECT_TRUE(ReadWhole(save.File("after2.jpg")) == std::string(2048, 'a'));
  EXPECT_TRUE(ReadWhole(save.File("x%7C%7Cy.jpg")) == std::string(2048, 'x'));
}

TEST(HostileProcessTest, DownloaderKeepsHostileNamesInsideItsFolder) {
  HostileSite site;
  TempDir root;
  const std::string save = root.File("save");
  std::filesystem::create_directory(save);
  const auto before = Snapshot(root.Path());
  const std::string base = site.server.Url("/img/");
  const std::string m = Marker();
  std::set<std::string> expected;
  const std::string list = HostileList(
      base, {"$(touch " + m + ").jpg", "it's.jpg", "..\\..\\esc.jpg", "ctl\r\n\x01\x1b[31m.jpg"},
      expected);

  // The working folder is the save folder's parent: a name taken as a path
  // would land there.
  RunResult run = RunQmdown({Q("s=" + save + "&min=0&url=" + list + "||")}, Q(root.Path()));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ListFolder(save), expected);
  ExpectChangesOnlyIn(root.Path(), before, {"save"});
  ExpectNoMarker();

  // No folder at all ("s=" empty): nothing requested, nothing saved.
  Route cut = Reply(std::string(4096, 'c'));
  cut.cutAfter = 100;
  site.server.Serve("/img/empty-folder.jpg", cut);
  site.server.ClearRequests();
  run = RunQmdown({Q("s=&min=0&url=" + base + "empty-folder.jpg||")}, Q(root.Path()));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(site.server.RequestCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists("/empty-folder.jpg"));
}

}  // namespace
