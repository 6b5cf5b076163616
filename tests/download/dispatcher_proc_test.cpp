// The download timer's tick with the downloader program beside the crawler:
// counting running downloaders, launching one per tick, the command line, and
// launches that fail. These tests start processes named qmdown.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <memory>
#include <string>
#include <vector>

#include "dispatcher_fake_host.h"
#include "download/dispatcher.h"
#include "download/download_state.h"
#include "download/process.h"
#include "support/loopback_server.h"

using namespace qm;
using namespace qmtest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

const std::vector<QString> kLaunched{"Ag:创建下载进程...", "ProcessEvents"};

bool CopyExecutable(const QString& from, const QString& to) {
  QFile::remove(to);
  return QFile::copy(from, to) &&
         QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool WriteFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  file.write(bytes);
  file.close();
  return QFile::setPermissions(path, permissions);
}

int Downloaders() { return ProcessCount(QStringLiteral("qmdown")); }

// Long-lived processes that carry a downloader's name: copies of sleep.
class Sleepers {
 public:
  explicit Sleepers(const QString& folder) : folder_(folder) {}
  ~Sleepers() {
    while (!procs_.empty()) KillOne();
  }
  bool Start(int n, const QString& name = QStringLiteral("qmdown")) {
    const QString path = folder_ + QLatin1Char('/') + name;
    if (!QFile::exists(path) && !CopyExecutable(QStringLiteral("/bin/sleep"), path)) return false;
    for (int i = 0; i < n; ++i) {
      auto proc = std::make_unique<QProcess>();
      proc->start(path, {QStringLiteral("120")});
      if (!proc->waitForStarted(30000)) return false;
      procs_.push_back(std::move(proc));
    }
    return true;
  }
  void KillOne() {
    procs_.back()->kill();
    procs_.back()->waitForFinished(30000);
    procs_.pop_back();
  }

 private:
  QString folder_;
  std::vector<std::unique_ptr<QProcess>> procs_;
};

class DispatcherProcTest : public ::testing::Test {
 protected:
  DispatcherProcTest() : host(Q(program.Path())) {
    state.SetSavePath(Q(save.Path()));
    state.MinSizeKb = 0;
  }
  ~DispatcherProcTest() override { EXPECT_TRUE(WaitForWorkers(state)); }

  void SetUp() override {
    // Downloaders left by an earlier test must have ended: the limit counts them all.
    ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  }

  QString Downloader() const { return Q(program.File("qmdown")); }
  QString ArgsFile() const { return Q(program.File("args.txt")); }

  // A downloader stand-in that appends its one argument as a line to args.txt
  // (it runs as the shell, so it is not counted as a downloader itself).
  void InstallRecorder() {
    ASSERT_TRUE(WriteFile(Downloader(),
                          "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/args.txt\"\n",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }
  // The arguments the stand-in received, once `n` launches have written them.
  QStringList RecordedArgs(int n) {
    QStringList lines;
    WaitUntil([&] {
      lines = QString::fromUtf8(ReadFileBytes(ArgsFile())).split(QLatin1Char('\n'));
      lines.removeLast();
      return lines.size() >= n;
    });
    return lines;
  }

  QString DeadAddress(const QString& name) {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(ClosedPort()).arg(name);
  }

  TempDir program;
  TempDir save;
  TempDir other;
  DownloadState state;
  FakeDispatchHost host;
};

TEST_F(DispatcherProcTest, DownloaderSavesTheQueueAndItsRemovalSwitchesToThreads) {
  ASSERT_TRUE(CopyExecutable(QStringLiteral(QM_BIN_DIR "/qmdown"), Downloader()));
  LoopbackServer server;
  const std::string big(3000, 'b');
  const std::string other(3000, 'c');
  server.Serve("/i/big.jpg", Body(big));
  server.Serve("/i/small.jpg", Body(std::string(1000, 's')));
  server.Serve("/i/later.jpg", Body(other));
  state.MinSizeKb = 1;
  state.AppendToQueue(Q(server.Url("/i/big.jpg")) + "\"" + Q(server.Url("/i/small.jpg")) + "\"\"");

  Timer2_Timer(state, host);

  EXPECT_EQ(host.events, kLaunched);
  EXPECT_TRUE(state.Queue().isEmpty());
  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 2 && Downloaders() == 0; }));
  EXPECT_EQ(FilesIn(Q(save.Path())), QStringList{"big.jpg"});  // small.jpg is below 1024 bytes
  EXPECT_EQ(ReadFileBytes(Q(save.File("big.jpg"))), QByteArray::fromStdString(big));
  EXPECT_EQ(ThreadCountOf(state), 0);

  // The downloader program disappears mid-crawl: the next tick starts a worker.
  ASSERT_TRUE(QFile::remove(Downloader()));
  host.events.clear();
  state.AppendToQueue(Q(server.Url("/i/later.jpg")) + "\"");
  Timer2_Timer(state, host);
  ASSERT_EQ(host.LogLines().size(), 1);
  EXPECT_NE(WorkerHandleIn(host.LogLines().at(0)), 0u);
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(ReadFileBytes(Q(save.File("later.jpg"))), QByteArray::fromStdString(other));
}

TEST_F(DispatcherProcTest, LimitCountsEveryRunningDownloaderStrictly) {
  InstallRecorder();
  Sleepers sleepers(Q(other.Path()));
  const QString queue = DeadAddress(QStringLiteral("a.jpg")) + "\"";
  auto tickWith = [&](int alive) {
    EXPECT_TRUE(WaitUntil([&] { return Downloaders() == alive; })) << alive;
    host.events.clear();
    state.TakeQueue();
    state.AppendToQueue(queue);
    Timer2_Timer(state, host);
    return host.events == kLaunched;
  };

  ASSERT_TRUE(sleepers.Start(5));
  host.limit = QStringLiteral("5");
  EXPECT_FALSE(tickWith(5));
  EXPECT_EQ(state.Queue(), queue);
  sleepers.KillOne();
  EXPECT_TRUE(tickWith(4));
  EXPECT_TRUE(state.Queue().isEmpty());

  host.limit = QStringLiteral("2.5");
  sleepers.KillOne();
  EXPECT_FALSE(tickWith(3));
  sleepers.KillOne();
  EXPECT_TRUE(tickWith(2));

  // The name is compared without regard to letter case.
  sleepers.KillOne();
  sleepers.KillOne();
  ASSERT_TRUE(sleepers.Start(1, QStringLiteral("QMDOWN")));
  host.limit = QStringLiteral("1");
  EXPECT_FALSE(tickWith(1));
  sleepers.KillOne();
  EXPECT_TRUE(tickWith(0));

  const QStringList args = RecordedArgs(3);
  ASSERT_EQ(args.size(), 3);
  for (const QString& arg : args) {
    EXPECT_EQ(arg, "s=" + Q(save.Path()) + "&min=0&url=" + queue + "||");
  }
}

TEST_F(DispatcherProcTest, QueueLongerThanOneArgumentIsSplitAtAnAddress) {
  InstallRecorder();
  state.MinSizeKb = 100;
  QString queue;
  const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort());
  for (int i = 0; queue.toUtf8().size() < static_cast<qsizetype>(MaxParameterBytes()) * 3 / 2;
       ++i) {
    queue += base + QStringLiteral("图片/%1/").arg(i) + QString(150, QLatin1Char('x')) + ".jpg\"";
    if (i % 7 == 0) queue += "\"";  // empty pieces occur in a real queue
  }
  state.AppendToQueue(queue);
  const QString head = "s=" + Q(save.Path()) + "&min=102400&url=";

  Timer2_Timer(state, host);

  EXPECT_EQ(host.events, kLaunched);
  const QString rest = state.Queue();
  ASSERT_FALSE(rest.isEmpty());
  ASSERT_TRUE(queue.endsWith(rest));
  const QString taken = queue.left(queue.size() - rest.size());
  EXPECT_TRUE(taken.endsWith(QLatin1Char('"')));
  const qsizetype parameterBytes = (head + taken + "||").toUtf8().size();
  EXPECT_LE(parameterBytes, static_cast<qsizetype>(MaxParameterBytes()));
  // The next address would not have fitted.
  const QString next = rest.left(rest.indexOf(QLatin1Char('"')) + 1);
  EXPECT_GT(parameterBytes + next.toUtf8().size(), static_cast<qsizetype>(MaxParameterBytes()));
  QStringList args = RecordedArgs(1);
  ASSERT_EQ(args.size(), 1);
  EXPECT_EQ(args[0], head + taken + "||");

  // The rest goes with the next launch.
  host.events.clear();
  Timer2_Timer(state, host);
  EXPECT_EQ(host.events, kLaunched);
  EXPECT_TRUE(state.Queue().isEmpty());
  args = RecordedArgs(2);
  ASSERT_EQ(args.size(), 2);
  EXPECT_EQ(args[1], head + rest + "||");
}

TEST_F(DispatcherProcTest, FailedLaunchKeepsTheTakenAddressesInTheErrorFile) {
  // A downloader file that cannot be run.
  ASSERT_TRUE(WriteFile(Downloader(), "not a program", QFile::ReadOwner | QFile::WriteOwner));
  const QString queue =
      DeadAddress(QStringLiteral("甲.jpg")) + "\"" + DeadAddress(QStringLiteral("b.jpg")) + "\"";
  state.AppendToQueue(queue);
  state.MinSizeKb = 100;

  Timer2_Timer(state, host);

  EXPECT_EQ(host.events,
            (std::vector<QString>{"DisableTimer2", "StopA", "Critical:无法启动下载程序|53"}));
  EXPECT_TRUE(state.Queue().isEmpty());
  const QStringList lines = ErrorFileLines(Q(program.Path()));
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], QStringLiteral("DI==0 LenK=%1").arg(queue.size()));
  EXPECT_EQ(lines[1], Downloader() + " s=" + Q(save.Path()) + "&min=102400&url=");
  EXPECT_EQ(lines[2], "错误:无法启动下载程序  -  代码:53");
  EXPECT_EQ(lines[3], " ");
  EXPECT_EQ(lines[4], queue);
}

TEST_F(DispatcherProcTest, SizeBoundBeyond32BitsLaunchesNothingAndTakesNothing) {
  InstallRecorder();
  const QString queue = DeadAddress(QStringLiteral("a.jpg")) + "\"";
  state.AppendToQueue(queue);
  state.MinSizeKb = 2097152;

  Timer2_Timer(state, host);

  EXPECT_EQ(host.events, (std::vector<QString>{"DisableTimer2", "StopA", "Critical:溢出|6"}));
  EXPECT_EQ(state.Queue(), queue);
  const QStringList lines = ErrorFileLines(Q(program.Path()));
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], "DI==0 LenK=0");
  EXPECT_EQ(lines[1], Downloader() + " s=" + Q(save.Path()) + "&min=2147483648&url=");
  EXPECT_EQ(lines[4], "");
  EXPECT_FALSE(QFile::exists(ArgsFile()));
}

}  // namespace
