// Hostile input in process mode: the crawler starts nothing but the program
// named qmdown beside it, handing it the whole command line as one argument,
// unchanged; and the downloader program itself keeps hostile names inside
// its folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "crawl/crawl_fixture.h"
#include "download/process.h"
#include "hardening_util.h"
#include "hostile_site.h"
#include "web/gbk.h"

namespace {

using qmtest::EngineRig;
using qmtest::TempDir;
using qmtest::YieldScope;
using qmtest::hard::ListFolder;
using qmtest::hard::Q;
using qmtest::hard::ReadWhole;

// A stand-in for the downloader program: records how many arguments it got
// and the first one, byte for byte, into a folder of its own.
void WriteRecorder(const std::string& program, const std::string& records) {
  {
    std::ofstream script(program, std::ios::binary);
    script << "#!/bin/sh\n"
              "n=$(mktemp '"
           << records
           << "/call.XXXXXX')\n"
              "printf '%s' \"$#\" > \"$n.argc\"\n"
              "printf '%s' \"$1\" > \"$n.arg\"\n"
              "touch \"$n.done\"\n";
  }
  ::chmod(program.c_str(), 0755);
}

struct Call {
  std::string argc;
  std::string arg;
};

std::vector<Call> Calls(const std::string& records) {
  std::vector<Call> calls;
  for (const std::string& name : ListFolder(records)) {
    if (name.size() < 5 || name.compare(name.size() - 5, 5, ".done") != 0) continue;
    const std::string stem = records + "/" + name.substr(0, name.size() - 5);
    calls.push_back({ReadWhole(stem + ".argc"), ReadWhole(stem + ".arg")});
  }
  return calls;
}

// The command line the dispatcher is to hand over for what is queued now.
std::string ExpectedLine(qm::CrawlEngine& engine) {
  const qm::DownloadState& state = engine.Downloads();
  const QString line = QStringLiteral("s=") + engine.Downloads().GetSavePath() +
                       QStringLiteral("&min=") +
                       QString::number(static_cast<qint64>(state.MinSizeKb.load()) * 1024) +
                       QStringLiteral("&url=") + engine.Downloads().Queue() + QStringLiteral("||");
  return line.toUtf8().toStdString();
}

TEST(HostileProcessTest, OnlyTheDownloaderRunsWithTheLineAsOneArgument) {
  qmtest::hard::HostileSite site;
  TempDir records;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  std::filesystem::create_directory(save);
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  WriteRecorder(rig.dir.File("qmdown"), records.Path());
  rig.host.browseResult = Q(save);
  rig.engine.Click(qm::kBtnBrowse);
  rig.engine.SetTxt(4, QStringLiteral("3kb"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  const auto programBefore = qmtest::hard::Snapshot(rig.dir.Path());
  const auto saveBefore = qmtest::hard::Snapshot(saveRoot.Path());

  std::vector<std::string> expected;
  for (const QString& start : {site.StartLines(), site.Start()}) {
    rig.Seed(start, /*siteOnly=*/true);
    rig.Start();
    ASSERT_TRUE(rig.engine.Running());
    rig.engine.Timer1_Timer();
    ASSERT_TRUE(rig.engine.Downloads().Queue().contains(QStringLiteral("$(touch\t")));
    expected.push_back(ExpectedLine(rig.engine));
    rig.engine.Timer2_Timer();
    EXPECT_TRUE(rig.engine.Downloads().Queue().isEmpty());
    rig.engine.Click(qm::kBtnStart);  // stop
  }
  ASSERT_TRUE(qmtest::hard::PollUntil([&] { return Calls(records.Path()).size() >= 2; }));
  // A moment for a third call that must not come.
  QThread::msleep(300);

  std::vector<Call> calls = Calls(records.Path());
  ASSERT_EQ(calls.size(), 2u);
  std::set<std::string> got;
  for (const Call& call : calls) {
    EXPECT_EQ(call.argc, "1");
    got.insert(call.arg);
  }
  EXPECT_EQ(got, std::set<std::string>(expected.begin(), expected.end()));
  EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 2);
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  qmtest::hard::ExpectChangesOnlyIn(rig.dir.Path(), programBefore, {"Log", "errLog.txt"});
  qmtest::hard::ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  qmtest::hard::ExpectNoMarker();
}

TEST(HostileProcessTest, OverflowingSizeBoundStartsNothing) {
  qmtest::hard::HostileSite site;
  TempDir records;
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  WriteRecorder(rig.dir.File("qmdown"), records.Path());
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  rig.Seed(site.Start(), /*siteOnly=*/true);
  rig.Start();
  rig.engine.Timer1_Timer();
  const QString queue = rig.engine.Downloads().Queue();
  ASSERT_TRUE(queue.contains(QStringLiteral("http")));
  rig.engine.SetTxt(4, QStringLiteral("99999999999kb"));
  rig.engine.Timer2_Timer();

  EXPECT_FALSE(rig.engine.Running());
  EXPECT_FALSE(rig.engine.Timer2().isActive());
  EXPECT_EQ(rig.host.criticals, QStringList{QStringLiteral("6: 溢出")});
  EXPECT_EQ(rig.engine.Downloads().Queue(), queue);
  const QStringList lines =
      qm::FromGbk(QByteArray::fromStdString(ReadWhole(rig.dir.File("errLog.txt"))))
          .split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 6);
  EXPECT_EQ(lines[0], QStringLiteral("DI==0 LenK=0"));
  EXPECT_EQ(lines[2], QStringLiteral("错误:溢出  -  代码:6"));
  QThread::msleep(300);
  EXPECT_TRUE(Calls(records.Path()).empty());
}

TEST(HostileProcessTest, FolderTheCommandLineCannotCarryIsServedByAWorker) {
  qmtest::hard::HostileSite site;
  TempDir saveRoot;
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  const QString downloader = Q(rig.dir.File("qmdown"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QM_BIN_DIR "/qmdown"), downloader));
  ASSERT_TRUE(QFile::setPermissions(downloader, QFile::ReadOwner | QFile::ExeOwner));
  rig.engine.SetTxt(4, QStringLiteral("0kb"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  // "&" ends the folder field of the downloader's line; "min=" and "url="
  // would be read as the later fields. The folders named by the cut-off
  // lines exist, so that a downloader given such a line would save there.
  for (const std::string name : {"a&b", "c min=1&", "d url=x"}) {
    const std::string folder = saveRoot.File(name);
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(saveRoot.File(name.substr(0, name.find('&'))));
    const auto before = qmtest::hard::Snapshot(saveRoot.Path());
    rig.host.browseResult = Q(folder);
    rig.engine.Click(qm::kBtnBrowse);
    rig.Seed(site.Start(), /*siteOnly=*/true);
    rig.Start();
    rig.engine.Timer1_Timer();
    rig.engine.Timer2_Timer();
    rig.engine.Click(qm::kBtnStart);  // stop
    ASSERT_TRUE(qmtest::hard::PollUntil([&] {
      std::lock_guard<std::mutex> guard(rig.engine.Downloads().lock);
      return rig.engine.Downloads().ThreadCount == 0 &&
             qm::ProcessCount(QStringLiteral("qmdown")) == 0;
    }));
    EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 0) << name;
    const std::set<std::string> files = ListFolder(folder);
    for (const std::string& saved : qmtest::hard::HostileSite::SavedNames())
      EXPECT_TRUE(files.count(saved)) << name << ": " << saved;
    qmtest::hard::ExpectChangesOnlyIn(saveRoot.Path(), before, {name});
    // The done-list would skip the same addresses in the next round.
    std::lock_guard<std::mutex> guard(rig.engine.Downloads().lock);
    rig.engine.Downloads().DoneList.Clear();
  }
}

TEST(HostileProcessTest, AddressWithDoubleBarDoesNotEndTheDownloadersList) {
  qmtest::LoopbackServer server;
  std::string images;
  for (const char* path : {"/img/x||y.jpg", "/img/after1.jpg", "/img/after2.jpg"}) {
    images += "<img src='" + std::string(path) + "'>";
    qmtest::Route r;
    r.body = std::string(2048, path[5]);
    server.Serve(path, r);
  }
  // A server takes the escaped bars for the bars themselves.
  qmtest::Route escaped;
  escaped.body = std::string(2048, 'x');
  server.Serve("/img/x%7C%7Cy.jpg", escaped);
  server.Serve("/", qmtest::hard::HostileSite::HtmlRoute(qmtest::LongPage(images)));
  TempDir save;
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  const QString downloader = Q(rig.dir.File("qmdown"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QM_BIN_DIR "/qmdown"), downloader));
  ASSERT_TRUE(QFile::setPermissions(downloader, QFile::ReadOwner | QFile::ExeOwner));
  rig.host.browseResult = Q(save.Path());
  rig.engine.Click(qm::kBtnBrowse);
  rig.engine.SetTxt(4, QStringLiteral("1kb"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  rig.Seed(Q(server.Url("/")), /*siteOnly=*/true);
  rig.Start();
  rig.engine.Timer1_Timer();
  rig.engine.Timer2_Timer();
  rig.engine.Click(qm::kBtnStart);  // stop
  EXPECT_EQ(rig.LogCount(QStringLiteral("创建下载进程...")), 1);
  ASSERT_TRUE(
      qmtest::hard::PollUntil([&] { return qm::ProcessCount(QStringLiteral("qmdown")) == 0; }));
  // The bars go out escaped, as browsers send them; the server sees the same
  // address and the file is named after the address as handed over.
  EXPECT_EQ(ListFolder(save.Path()),
            (std::set<std::string>{"after1.jpg", "after2.jpg", "x%7C%7Cy.jpg"}));
  EXPECT_TRUE(ReadWhole(save.File("after2.jpg")) == std::string(2048, 'a'));
  EXPECT_TRUE(ReadWhole(save.File("x%7C%7Cy.jpg")) == std::string(2048, 'x'));
}

TEST(HostileProcessTest, DownloaderKeepsHostileNamesInsideItsFolder) {
  qmtest::hard::HostileSite site;
  TempDir root;
  const std::string save = root.File("save");
  std::filesystem::create_directory(save);
  const auto before = qmtest::hard::Snapshot(root.Path());
  const std::string base = site.Server().Url("/img/");
  std::string list;
  std::set<std::string> expected;
  for (const std::string& name : qmtest::hard::ShellNames(".jpg")) {
    list += base + name + "\"";
    expected.insert(name);
  }
  const std::string m = qmtest::hard::Marker();
  for (const std::string& name : std::vector<std::string>{
           "$(touch " + m + ").jpg", "it's.jpg", "..\\..\\esc.jpg", "ctl\r\n\x01\x1b[31m.jpg"}) {
    list += base + name + "\"";
    expected.insert(name);
  }
  list += base + "../../up.jpg\"" + base + "..\"" + base + ".\"";
  expected.insert("up.jpg");

  QProcess qmdown;
  // The working folder is the save folder's parent: a name taken as a path
  // would land there.
  qmdown.setWorkingDirectory(Q(root.Path()));
  qmdown.start(QStringLiteral(QM_BIN_DIR "/qmdown"),
               {Q("s=" + save + "&min=0&url=" + list + "||")});
  ASSERT_TRUE(qmdown.waitForStarted(30000));
  ASSERT_TRUE(qmdown.waitForFinished(120000));
  EXPECT_EQ(qmdown.exitCode(), 0);
  EXPECT_EQ(ListFolder(save), expected);
  qmtest::hard::ExpectChangesOnlyIn(root.Path(), before, {"save"});
  qmtest::hard::ExpectNoMarker();

  // No folder at all ("s=" empty): nothing requested, nothing saved.
  qmtest::Route cut;
  cut.body = std::string(4096, 'c');
  cut.cutAfter = 100;
  site.Server().Serve("/img/empty-folder.jpg", cut);
  site.Server().ClearRequests();
  QProcess empty;
  empty.setWorkingDirectory(Q(root.Path()));
  empty.start(QStringLiteral(QM_BIN_DIR "/qmdown"),
              {Q("s=&min=0&url=" + base + "empty-folder.jpg||")});
  ASSERT_TRUE(empty.waitForStarted(30000));
  ASSERT_TRUE(empty.waitForFinished(120000));
  EXPECT_EQ(empty.exitCode(), 0);
  EXPECT_EQ(site.Server().RequestCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists("/empty-folder.jpg"));
}

}  // namespace
