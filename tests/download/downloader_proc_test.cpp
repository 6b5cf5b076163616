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
  // A recording stand-in for qmdown: a script, so not counted as a downloader.
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));  // the limit counts them all
    WriteRecorder(program.File("qmdown"), records.Path());
  }
  // The stand-in's runs, once `n` have ended.
  std::vector<Call> Runs(std::size_t n) {
    WaitUntil([&] { return Calls(records.Path()).size() >= n; });
    return Calls(records.Path());
  }
  QString Head(int min = 0) { return QString("s=%1&min=%2&url=").arg(Q(save.Path())).arg(min); }
  TempDir records;
};

TEST_F(DispatcherProcTest, DownloaderGetsTheQueueWhileItIsThereAndTheFolderFitsItsLine) {
  const QString queue = DeadAddress("a||b.jpg") + DeadAddress("c.jpg") + "\"";
  state.AppendToQueue(queue);
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  const Call run = Runs(1).at(0);  // one argument, through no shell, in the program folder
  EXPECT_EQ(Q(run.arg), Head() + QString(queue).replace("||", "%7C%7C") + "||");
  EXPECT_EQ(run.argc + run.cwd, "1" + fs::canonical(program.Path()).string());
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
  EXPECT_TRUE(host.events.isEmpty());
  sleeper.reset();  // killed
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  EXPECT_EQ(::waitpid(pid, nullptr, 0), pid);
}

// An address holding a NUL is dropped, one longer than a whole argument is
// served by a worker; the rest is taken up to the last whole address that fits.
TEST_F(DispatcherProcTest, QueueIsTakenUpToTheLastAddressOneArgumentCarries) {
  const std::string longPath = "/" + std::string(130000, 'x') + "/long.jpg";
  server.Serve(longPath, Reply(std::string(102400, 0)));  // reaches the minimum of 100 kb
  QString queue;
  const auto max = static_cast<qsizetype>(qm::MaxParameterBytes());
  for (int i = 0; queue.toUtf8().size() < max * 3 / 2; ++i)
    queue += DeadAddress(QStringLiteral("图片/%1/").arg(i) + QString(150, 'x') + ".jpg");
  state.MinSizeKb = 100;
  state.AppendToQueue(DeadAddress(QStringLiteral("b") + QChar(u'\0')) + Url(longPath) + queue);
  qm::Timer2_Timer(state, host);
  const QString rest = state.Queue();
  ASSERT_TRUE(queue.endsWith(rest) && !rest.isEmpty());
  const QString line = Head(102400) + queue.chopped(rest.size()) + "||";
  EXPECT_LE(line.toUtf8().size(), max);
  EXPECT_GT((line + rest.left(rest.indexOf('"') + 1)).toUtf8().size(),
            max);  // the next one did not fit
  qm::Timer2_Timer(state, host);
  EXPECT_TRUE(host.LoggedWorker(0));
  EXPECT_EQ(host.events.mid(1), kLaunched + kLaunched);
  EXPECT_EQ(Q(Runs(2).at(0).arg + "|" + Runs(2).at(1).arg),
            line + "|" + Head(102400) + rest + "||");
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
    QString queue;
    QString error;
    QString title;
  } rows[] = {{queue, "无法启动下载程序", "53"},
              {DeadAddress(QString(140000, 'x')) + queue, "无法建立下载线程", "7"}};
  for (const auto& r : rows) {
    host.events.clear();
    state.AppendToQueue(r.queue);
    qm::Timer2_Timer(state, host);
    EXPECT_EQ(host.events,
              (QStringList{"DisableTimer2", "StopA", "Critical:" + r.error + "|" + r.title}));
    EXPECT_TRUE(state.Queue().isEmpty());
    EXPECT_EQ(ErrorFileLines(Q(program.Path())),
              (QStringList{QStringLiteral("DI==0 LenK=%1").arg(r.queue.size()),
                           Q(program.File("qmdown")) + " " + Head(102400),
                           "错误:" + r.error + "  -  代码:" + r.title, " ", r.queue}));
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
