// Starting downloader processes and counting them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "download/download_test_util.h"
#include "download/process.h"
#include "support/loopback_server.h"

extern char** environ;

namespace {

using qmtest::ListFolder;
using qmtest::Q;
using qmtest::ReadWhole;
using qmtest::WriteWhole;

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& condition, int seconds = 30) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QThread::msleep(20);
  }
  return true;
}

// A copy of the built downloader under another name, in a folder of its own.
std::string CopyQmdown(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  fs::copy_file(QM_BIN_DIR "/qmdown", path);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

void WriteScript(const std::string& path, const std::string& text) {
  WriteWhole(path, text);
  fs::permissions(path, fs::perms::owner_all);
}

// Zombie children of this process.
int ZombieChildren() {
  int zombies = 0;
  const std::string self = std::to_string(::getpid());
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadWhole(entry.path().string() + "/stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) continue;
    char state = stat[close + 2];
    std::string rest = stat.substr(close + 4);
    std::string ppid = rest.substr(0, rest.find(' '));
    if (ppid == self && state == 'Z') ++zombies;
  }
  return zombies;
}

TEST(ShellOpenTest, MissingOrNonExecutableProgramFails) {
  qmtest::TempDir dir;
  EXPECT_FALSE(qm::ShellOpen(Q(dir.File("no-such-program")), QStringLiteral("x")));
  WriteWhole(dir.File("plain.txt"), "not a program");
  EXPECT_FALSE(qm::ShellOpen(Q(dir.File("plain.txt")), QStringLiteral("x")));
  EXPECT_FALSE(qm::ShellOpen(QString(), QStringLiteral("x")));
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellOpenTest, ParameterStringArrivesAsOneArgumentInTheProgramFolder) {
  qmtest::TempDir bin;
  qmtest::TempDir elsewhere;
  const std::string script = bin.File("probe");
  WriteScript(script,
              "#!/bin/sh\n"
              "pwd > \"$0.cwd.tmp\" && mv \"$0.cwd.tmp\" \"$0.cwd\"\n"
              "printf '%s|%s' \"$#\" \"$1\" > \"$0.args.tmp\" && mv \"$0.args.tmp\" \"$0.args\"\n");
  const QString parameters =
      QStringLiteral("s=/tmp/a b&min=102400&url=http://h/x\";touch X;$(touch Y)`touch Z`\"||");
  // Started from a relative path while the caller's folder is elsewhere.
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere.Path());
  const bool started = qm::ShellOpen(Q(fs::relative(script).string()), parameters);
  fs::current_path(before);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(script + ".args") && fs::exists(script + ".cwd"); }));
  EXPECT_EQ(Q(ReadWhole(script + ".args")), QStringLiteral("1|") + parameters);
  EXPECT_EQ(
      fs::canonical(ReadWhole(script + ".cwd").substr(0, ReadWhole(script + ".cwd").size() - 1)),
      fs::canonical(bin.Path()));
  EXPECT_EQ(ListFolder(bin.Path()), (std::set<std::string>{"probe", "probe.args", "probe.cwd"}));
  EXPECT_TRUE(ListFolder(elsewhere.Path()).empty());
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellOpenTest, LongestParameterPassesAndLongerFails) {
  qmtest::TempDir bin;
  const std::string script = bin.File("size");
  WriteScript(script,
              "#!/bin/sh\nprintf '%s' \"$1\" | wc -c > \"$0.n.tmp\" && mv \"$0.n.tmp\" \"$0.n\"\n");
  const QString longest(static_cast<qsizetype>(qm::MaxParameterBytes()), QLatin1Char('a'));
  ASSERT_TRUE(qm::ShellOpen(Q(script), longest));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(script + ".n"); }));
  EXPECT_EQ(std::stoul(ReadWhole(script + ".n")), qm::MaxParameterBytes());
  EXPECT_FALSE(qm::ShellOpen(Q(script), QString(200000, QLatin1Char('a'))));
}

TEST(ShellOpenTest, ShellCharactersReachTheDownloaderUnchanged) {
  qmtest::LoopbackServer server;
  qmtest::TempDir bin;
  qmtest::TempDir save;
  const std::string program = CopyQmdown(bin.Path(), "qmdown");
  const std::string name = "a;touch${IFS}X;b$(touch${IFS}Y)c`touch${IFS}Z`|d&e.jpg";
  qmtest::Route image;
  image.body = "shell-free";
  server.Serve("/m/" + name, image);
  const int running = qm::ProcessCount(QStringLiteral("qmdown"));

  const QString parameters =
      Q("s=" + save.Path() + "&min=0&url=" + server.Url("/m/" + name) + "\"||");
  ASSERT_TRUE(qm::ShellOpen(Q(program), parameters));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(save.File(name)); }));
  EXPECT_TRUE(WaitFor([&] { return qm::ProcessCount(QStringLiteral("qmdown")) == running; }));

  EXPECT_EQ(ReadWhole(save.File(name)), "shell-free");
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].target, "/m/" + name);
  EXPECT_EQ(ListFolder(save.Path()), (std::set<std::string>{name}));
  EXPECT_EQ(ListFolder(bin.Path()), (std::set<std::string>{"qmdown"}));
  for (const char* stray : {"X", "Y", "Z"}) EXPECT_FALSE(fs::exists(stray)) << stray;
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ProcessCountTest, CountsRunningDownloadersByExecutableNameInAnyCase) {
  qmtest::LoopbackServer server;
  qmtest::TempDir bin;
  qmtest::TempDir save;
  qmtest::Route slow;
  slow.body = "slow";
  slow.delayMs = 3000;
  server.Serve("/slow.jpg", slow);
  const std::string upper = CopyQmdown(bin.Path(), "QMDOWN");
  const std::string longName = CopyQmdown(bin.Path(), "qmdown-with-a-long-name");
  const int before = qm::ProcessCount(QStringLiteral("qmdown"));
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-long-name")), 0);

  const QString line = Q("s=" + save.Path() + "&min=0&url=" + server.Url("/slow.jpg") + "||");
  QProcess first;
  QProcess second;
  first.start(Q(upper), {line});
  second.start(Q(longName), {line});
  ASSERT_TRUE(first.waitForStarted(30000));
  ASSERT_TRUE(second.waitForStarted(30000));
  EXPECT_TRUE(WaitFor([&] { return qm::ProcessCount(QStringLiteral("qmdown")) == before + 1; }));
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("QmDown")), before + 1);
  // The whole name counts, not the first 15 characters the kernel keeps.
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("QMDOWN-WITH-A-LONG-NAME")), 1);
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-l")), 0);
  ASSERT_TRUE(first.waitForFinished(60000));
  ASSERT_TRUE(second.waitForFinished(60000));
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown")), before);
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-long-name")), 0);
}

TEST(ProcessCountTest, EndedProcessAwaitingItsParentIsNotCounted) {
  qmtest::TempDir bin;
  const std::string program = CopyQmdown(bin.Path(), "qmdown-zombie");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Without arguments it shows its usage and ends at once; it stays a zombie
  // until reaped.
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  EXPECT_TRUE(WaitFor([&] {
    std::string text = ReadWhole(stat);
    auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
  }));
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-zombie")), 0);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
}

}  // namespace
