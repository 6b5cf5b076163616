// Downloader processes: the download timer's tick with qmdown beside the
// crawler, starting and counting processes, and the qmdown program itself.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <system_error>

#include "dispatcher_fake_host.h"
#include "download/downloader_command.h"

using namespace qmtest;
namespace fs = std::filesystem;

namespace {

const QStringList kLaunched{"Ag:创建下载进程...", "ProcessEvents"};

class DispatcherProcTest : public DispatchFixture {
 protected:
  // A recording stand-in for qmdown, a script and so not counted as one: each
  // run leaves "<argument count> <folder>\n<first argument>" in a file of its
  // own, which appears whole.
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));  // the limit counts them all
    WriteWhole(program.File("qmdown"), "#!/bin/sh\nn=" + records.File("$(date +%s%N)") +
                                           "\nprintf '%s %s\\n%s' $# \"$PWD\" \"$1\" >$n.part\n" +
                                           "mv $n.part $n.run\n");
    fs::permissions(program.File("qmdown"), fs::perms::owner_all);
  }
  // The stand-in's runs, oldest first, once `n` have ended.
  std::vector<std::string> Runs(std::size_t n) {
    std::vector<std::string> runs;
    WaitUntil([&] {
      runs.clear();
      for (const std::string& name : ListFolder(records.Path()))
        if (name.ends_with(".run")) runs.push_back(ReadWhole(records.File(name)));
      return runs.size() >= n;
    });
    return runs;
  }
  // A run with one argument in the program folder.
  std::string Run(int min, const QString& list) {
    return "1 " + fs::canonical(program.Path()).string() + "\n" +
           QString("s=%1&min=%2&url=%3||").arg(Q(save.Path())).arg(min).arg(list).toStdString();
  }
  TempDir records;
};

TEST_F(DispatcherProcTest, DownloaderGetsTheQueueWhileItIsThereAndTheFolderFitsItsLine) {
  // A "||" would end the downloader's list: every bar of such an address is written %7C.
  state.AppendToQueue(DeadAddress("a||b|c.jpg") + DeadAddress("d|e.jpg") +
                      DeadAddress("f||g||h.jpg"));
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  EXPECT_EQ(Runs(1).at(0), Run(0, DeadAddress("a%7C%7Cb%7Cc.jpg") + DeadAddress("d|e.jpg") +
                                      DeadAddress("f%7C%7Cg%7C%7Ch.jpg")));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // detached: no child of ours
  // A folder the line cannot carry, or no downloader beside the crawler: a worker.
  server.Serve("*", Reply("picture"));
  for (const std::string name : {"a&b", "min=1", "url=x", "no-downloader"}) {
    SCOPED_TRACE(name);
    fs::create_directory(save.File(name));
    if (name == "no-downloader") fs::remove(program.File("qmdown"));
    state.SetSavePath(Q(save.File(name)));
    state.AppendToQueue(Url("/" + name));
    qm::Timer2_Timer(state, host);
    EXPECT_TRUE(host.LoggedWorker(2));
    ASSERT_TRUE(WaitForWorkers(state));
    EXPECT_EQ(ReadWhole(save.File(name + "/" + name)), "picture");
    host.events.removeLast();
  }
}

// Counted by the executable's whole name in any case; an ended process not yet
// reaped is not counted.
TEST_F(DispatcherProcTest, LimitComparedStrictlyWithTheRunningDownloaders) {
  const std::string upper = save.File("QMDOWN"), zombie = save.File("qmdown");
  fs::copy_file("/bin/sleep", upper);
  fs::copy_file("/bin/true", zombie);
  auto sleeper = std::make_unique<QProcess>();
  sleeper->start(Q(upper), {"120"});
  ASSERT_TRUE(sleeper->waitForStarted(30000));
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(zombie.c_str()), nullptr};
  ASSERT_EQ(posix_spawn(&pid, zombie.c_str(), nullptr, nullptr, argv, nullptr), 0);
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  ASSERT_TRUE(WaitUntil([&] { return ReadWhole(stat).find(") Z ") != std::string::npos; }));
  host.limit = "1";
  state.AppendToQueue(DeadAddress("a.jpg"));
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, QStringList{});
  sleeper.reset();  // killed
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  EXPECT_EQ(::waitpid(pid, nullptr, 0), pid);
}

// An address holding a NUL is dropped, one longer than a whole argument is
// saved by a worker; the rest goes to downloaders, each taking addresses up to
// the last one its argument carries whole, none lost and none repeated.
TEST_F(DispatcherProcTest, QueueIsTakenUpToTheLastAddressOneArgumentCarries) {
  const std::string longPath = "/" + std::string(130000, 'x') + "/long.jpg";
  server.Serve(longPath, Reply(std::string(102400, 0)));  // reaches the minimum of 100 kb
  QStringList addresses;
  qsizetype bytes = 0;
  while (bytes < 190000) {
    addresses << DeadAddress(QStringLiteral("图片/%1/").arg(bytes) + QString(150, 'x') + ".jpg");
    bytes += addresses.last().toUtf8().size();
  }
  state.MinSizeKb = 100;
  state.AppendToQueue(DeadAddress(QStringLiteral("b") + QChar(u'\0')) + Url(longPath) +
                      addresses.join(""));
  qm::Timer2_Timer(state, host);
  qm::Timer2_Timer(state, host);
  EXPECT_TRUE(host.LoggedWorker(0));
  EXPECT_EQ(host.events.mid(1), kLaunched + kLaunched);
  EXPECT_EQ(state.Queue(), "");
  const std::vector<std::string> runs = Runs(2);
  const qsizetype first = Q(runs.at(0)).count(".jpg\"");
  EXPECT_EQ(runs.at(0), Run(102400, addresses.mid(0, first).join("")));
  EXPECT_EQ(runs.at(1), Run(102400, addresses.mid(first).join("")));
  const std::string argument = runs.at(0).substr(runs.at(0).find('\n') + 1);
  EXPECT_LE(argument.size(), 126976u);  // 32 pages, less one for the margin
  EXPECT_GT(argument.size() + addresses.at(first).toUtf8().size(), 126976u);
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(ListFolder(save.Path()), std::set<std::string>{"long.jpg"});
  EXPECT_FALSE(fs::exists(program.File("errLog.txt")));
}

// What the tick took stays in the error file: the downloader's batch, and an
// address too long for it whose worker cannot start.
TEST_F(DispatcherProcTest, FailedLaunchOrWorkerKeepsTheTakenAddressesInTheErrorFile) {
  WriteWhole(program.File("qmdown"), "not a program");
  state.StartThread = [](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  state.MinSizeKb = 100;
  const QString queue = DeadAddress(QStringLiteral("甲.jpg")) + DeadAddress("b.jpg");
  const struct {
    QString queue, error, title;
  } rows[] = {{queue, "无法启动下载程序", "53"},
              {DeadAddress(QString(140000, 'x')) + queue, "无法建立下载线程", "7"}};
  for (const auto& row : rows) {
    host.events.clear();
    state.AppendToQueue(row.queue);
    qm::Timer2_Timer(state, host);
    EXPECT_EQ(host.events,
              (QStringList{"DisableTimer2", "StopA", "Critical:" + row.error + "|" + row.title}));
    EXPECT_EQ(state.Queue(), "");
    EXPECT_EQ(ErrorFile(host.folder),
              ErrorText(102400, row.error + "  -  代码:" + row.title, row.queue));
  }
}

// In both modes, before anything is taken; -2^31 bytes still fit.
TEST_F(DispatcherProcTest, SizeBoundBeyond32BitsStopsTheCrawlAndKeepsTheQueue) {
  for (const bool downloader : {true, false}) {
    SCOPED_TRACE(downloader ? "downloader" : "workers");
    if (!downloader) fs::remove(program.File("qmdown"));
    host.events.clear();
    state.AppendToQueue(DeadAddress("a.jpg"));
    state.MinSizeKb = 2097152;
    qm::Timer2_Timer(state, host);
    EXPECT_EQ(host.events, (QStringList{"DisableTimer2", "StopA", "Critical:溢出|6"}));
    EXPECT_EQ(state.Queue(), DeadAddress("a.jpg"));
    EXPECT_EQ(ErrorFile(host.folder), ErrorText(2147483648, "溢出  -  代码:6", ""));
    state.MinSizeKb = -2097152;
    qm::Timer2_Timer(state, host);
    ASSERT_TRUE(WaitForWorkers(state));
    EXPECT_EQ(state.Queue(), "");
  }
}

TEST(QmdownProgramTest, EndsWithStatusTwoOnUsageOrOverflowWithoutARequest) {
  LoopbackServer server;
  const QString overflow = "s=/tmp&min=2147483648&url=" + Q(server.Url("/a.jpg")) + "||";
  const RunResult usage = RunQmdown({}), tooBig = RunQmdown({overflow});
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_EQ(usage.err, (qm::DownloaderUsageText() + "\r\n").toUtf8());
  EXPECT_EQ(tooBig.exitCode, 2);
  EXPECT_EQ(tooBig.err, "min= is outside the signed 32-bit range\n");
  EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace
