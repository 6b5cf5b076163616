// Downloader processes: the download timer's tick with qmdown beside the
// crawler, starting and counting processes, and the qmdown program itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <system_error>

#include "dispatcher_fake_host.h"

using namespace qmtest;
namespace fs = std::filesystem;

namespace {

const QStringList kLaunched{"Ag:创建下载进程...", "ProcessEvents"};

class DispatcherProcTest : public DispatchFixture {
 protected:
  // A recording stand-in for qmdown, a script and so not counted as one: each
  // run leaves "<argument count> <folder>\n<first argument>" in a file of its
  // own beside it, which appears whole.
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));  // the limit counts them all
    WriteWhole(program.File("qmdown"),
               "#!/bin/sh\nn=$0.$(date +%s%N)\nprintf '%s %s\\n%s' $# \"$PWD\" \"$1\" >$n.part\n"
               "mv $n.part $n.run\n");
    fs::permissions(program.File("qmdown"), fs::perms::owner_all);
  }
  // The stand-in's runs, oldest first, once `n` have ended.
  std::vector<std::string> Runs(std::size_t n) {
    std::vector<std::string> runs;
    WaitUntil([&] {
      runs.clear();
      for (const std::string& name : ListFolder(program.Path()))
        if (name.ends_with(".run")) runs.push_back(ReadWhole(program.File(name)));
      return runs.size() >= n;
    });
    return runs;
  }
  // A run with one argument in the program folder.
  std::string Run(qint64 min, const QString& list) {
    return "1 " + fs::canonical(program.Path()).string() + "\n" +
           QString("s=%1&min=%2&url=%3||").arg(Q(save.Path())).arg(min).arg(list).toStdString();
  }
  // What the error file holds after a tick that took `taken` failed with
  // "<description>|<number>".
  QString ErrorText(qint64 minBytes, QString failure, const QString& taken) {
    return QStringLiteral("DI==0 LenK=%1\r\n%2/qmdown s=%3&min=%4&url=\r\n错误:%5\r\n \r\n%6\r\n")
        .arg(taken.size())
        .arg(ProgramFolder(), state.GetSavePath())
        .arg(minBytes)
        .arg(failure.replace('|', "  -  代码:"), taken);
  }
};

TEST_F(DispatcherProcTest, DownloaderGetsTheQueueWhileItIsThereAndTheFolderFitsItsLine) {
  state.MinSizeKb = -2097152;  // -2^31 bytes, the lowest bound that fits
  // A "||" would end the downloader's list: every bar of such an address is
  // written %7C.
  state.AppendToQueue(DeadAddress("a||b|c.jpg") + DeadAddress("d|e.jpg") +
                      DeadAddress("f||g||h.jpg"));
  Tick();
  EXPECT_EQ(events, kLaunched);
  EXPECT_EQ(Runs(1).at(0),
            Run(-2147483648, DeadAddress("a%7C%7Cb%7Cc.jpg") + DeadAddress("d|e.jpg") +
                                 DeadAddress("f%7C%7Cg%7C%7Ch.jpg")));
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // detached: no child of ours
  state.MinSizeKb = 2097152;  // beyond 32 bits, yet with nothing to hand over no failure
  Tick();
  EXPECT_EQ(events, kLaunched);
  state.MinSizeKb = 0;
  // A folder the line cannot carry, or no downloader beside the crawler: a
  // worker.
  for (const std::string name : {"a&b", "min=1", "url=x", "no-downloader"}) {
    SCOPED_TRACE(name);
    if (name == "no-downloader") fs::remove(program.File("qmdown"));
    state.SetSavePath(Q(save.File(name)));
    state.AppendToQueue(DeadAddress(Q(name)));
    Tick();
    EXPECT_GT(events.value(2).section("Ag:建立下载线程: ", 1).toULongLong(), 0u);  // by its id
    ASSERT_TRUE(WaitForWorkers(state));
    events.removeLast();
  }
}

// Counted by the executable's whole name in any case, until it has ended
// (though not yet reaped).
TEST_F(DispatcherProcTest, LimitComparedStrictlyWithTheRunningDownloaders) {
  std::string upper = save.File("QMDOWN");
  fs::copy_file("/bin/sleep", upper);
  pid_t pid;
  char* argv[] = {upper.data(), const_cast<char*>("120"), nullptr};
  ASSERT_EQ(posix_spawn(&pid, upper.c_str(), nullptr, nullptr, argv, nullptr), 0);
  limit = "1";
  state.AppendToQueue(DeadAddress("a.jpg"));
  Tick();
  EXPECT_EQ(events, QStringList{});
  ::kill(pid, SIGKILL);
  siginfo_t ended;
  ASSERT_EQ(::waitid(P_PID, pid, &ended, WEXITED | WNOWAIT), 0);  // not reaped
  Tick();
  EXPECT_EQ(events, kLaunched);
  ::waitpid(pid, nullptr, 0);
}

// An address holding a NUL is dropped; the rest goes to downloaders, each
// taking addresses up to the last one its argument carries whole, none lost
// and none repeated.
TEST_F(DispatcherProcTest, QueueIsTakenUpToTheLastAddressOneArgumentCarries) {
  QStringList addresses;
  for (int bytes = 0; bytes < 190000; bytes += addresses.last().toUtf8().size())
    addresses << DeadAddress(QStringLiteral("图片/%1/").arg(bytes) + QString(150, 'x'));
  state.AppendToQueue(DeadAddress(QStringLiteral("b") + QChar()) + addresses.join(""));
  Tick();
  Tick();
  const std::vector<std::string> runs = Runs(2);
  const qsizetype first = Q(runs.at(0)).count("x\"");
  EXPECT_EQ(runs.at(0), Run(0, addresses.mid(0, first).join("")));
  EXPECT_EQ(runs.at(1), Run(0, addresses.mid(first).join("")));
  const std::size_t size = runs.at(0).size() - runs.at(0).find('\n') - 1;  // the argument's
  EXPECT_LE(size, 126976u);  // 32 pages, less one for the margin
  EXPECT_GT(size + addresses.at(first).toUtf8().size(), 126976u);
}

// A failed tick stops the crawl and keeps what it took in the error file: the
// downloader's batch, or an address too long for it whose worker cannot
// start. A size bound beyond 32 bits is refused before anything is taken, with
// the downloader and without it.
TEST_F(DispatcherProcTest, FailedTickStopsTheCrawlAndKeepsWhatItTookInTheErrorFile) {
  WriteWhole(program.File("qmdown"), "not a program");
  state.StartThread = [](std::function<void()>) {
    throw std::system_error(EAGAIN, std::generic_category());
  };
  const QString queue = DeadAddress("甲.jpg") + DeadAddress("b.jpg");
  const QString longer = DeadAddress(QString(140000, 'x')) + queue;
  const struct {
    QString queue;
    int minKb;
    QString failure, taken;
  } rows[] = {{queue, 100, "无法启动下载程序|53", queue},
              {longer, 100, "无法建立下载线程|7", longer},
              {queue, 2097152, "溢出|6", ""},
              {queue, 2097152, "溢出|6", ""}};
  for (const auto& row : rows) {
    if (&row == &rows[3]) fs::remove(program.File("qmdown"));  // workers
    events.clear();
    state.TakeQueue();
    state.AppendToQueue(row.queue);
    state.MinSizeKb = row.minKb;
    Tick();
    EXPECT_EQ(events, (QStringList{"DisableTimer2", "StopA", "Critical:" + row.failure}));
    EXPECT_EQ(state.Queue(), row.taken.isEmpty() ? row.queue : "");
    EXPECT_EQ(ErrorFile(ProgramFolder()),
              ErrorText(row.minKb * qint64{1024}, row.failure, row.taken));
  }
}

}  // namespace
