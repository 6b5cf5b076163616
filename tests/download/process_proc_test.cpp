// Starting downloader processes and counting them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dispatcher_fake_host.h"

extern char** environ;

namespace {

using namespace qmtest;
namespace fs = std::filesystem;

// The state letter and the parent of a process, from "pid (name) S ppid ...".
std::pair<char, std::string> StateOf(const std::string& pid) {
  const std::string stat = ReadWhole("/proc/" + pid + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return {0, {}};
  return {stat[close + 2], stat.substr(close + 4, stat.find(' ', close + 4) - close - 4)};
}

int ZombieChildren() {
  int zombies = 0;
  for (const std::string& pid : ListFolder("/proc")) {
    if (pid.find_first_not_of("0123456789") == std::string::npos)
      zombies += StateOf(pid) == std::pair{'Z', std::to_string(::getpid())};
  }
  return zombies;
}

TEST(ShellOpenTest, MissingOrNonExecutableProgramFails) {
  TempDir dir;
  EXPECT_FALSE(qm::ShellOpen(Q(dir.File("no-such-program")), QStringLiteral("x")));
  WriteWhole(dir.File("plain.txt"), "not a program");
  EXPECT_FALSE(qm::ShellOpen(Q(dir.File("plain.txt")), QStringLiteral("x")));
  EXPECT_FALSE(qm::ShellOpen(QString(), QStringLiteral("x")));
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellOpenTest, ParameterStringArrivesAsOneArgumentInTheProgramFolder) {
  TempDir bin, elsewhere, records;
  const std::string probe = bin.File("probe");
  WriteRecorder(probe, records.Path());
  const QString parameters =
      QStringLiteral("s=/tmp/a b&min=102400&url=http://h/x\";touch X;$(touch Y)`touch Z`\"||");
  // Started from a relative path while the caller's folder is elsewhere.
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere.Path());
  const bool started = qm::ShellOpen(Q(fs::relative(probe).string()), parameters);
  fs::current_path(before);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitUntil([&] { return Calls(records.Path()).size() == 1; }));
  const Call call = Calls(records.Path()).at(0);
  EXPECT_EQ(call.argc, "1");
  EXPECT_EQ(Q(call.arg), parameters);
  EXPECT_EQ(fs::canonical(call.cwd), fs::canonical(bin.Path()));
  // No shell ran the commands: nothing appeared where they would have written.
  EXPECT_EQ(ListFolder(bin.Path()), std::set<std::string>{"probe"});
  EXPECT_TRUE(ListFolder(elsewhere.Path()).empty());
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST(ShellOpenTest, LongestParameterPassesAndLongerFails) {
  TempDir bin, records;
  WriteRecorder(bin.File("size"), records.Path());
  const QString longest(static_cast<qsizetype>(qm::MaxParameterBytes()), QLatin1Char('a'));
  ASSERT_TRUE(qm::ShellOpen(Q(bin.File("size")), longest));
  ASSERT_TRUE(WaitUntil([&] { return Calls(records.Path()).size() == 1; }));
  EXPECT_EQ(Calls(records.Path()).at(0).arg.size(), qm::MaxParameterBytes());
  EXPECT_FALSE(qm::ShellOpen(Q(bin.File("size")), QString(200000, QLatin1Char('a'))));
}

TEST(ProcessCountTest, CountsRunningDownloadersByExecutableNameInAnyCase) {
  TempDir bin;
  const int before = Downloaders();
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-long-name")), 0);
  {
    Sleepers sleepers(Q(bin.Path()));
    ASSERT_TRUE(sleepers.Start(1, QStringLiteral("QMDOWN")));
    ASSERT_TRUE(sleepers.Start(1, QStringLiteral("qmdown-with-a-long-name")));
    EXPECT_TRUE(WaitUntil([&] { return Downloaders() == before + 1; }));
    EXPECT_EQ(qm::ProcessCount(QStringLiteral("QmDown")), before + 1);
    // The whole name counts, not the first 15 characters the kernel keeps.
    EXPECT_EQ(qm::ProcessCount(QStringLiteral("QMDOWN-WITH-A-LONG-NAME")), 1);
    EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-l")), 0);
  }
  EXPECT_EQ(Downloaders(), before);
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-with-a-long-name")), 0);
}

TEST(ProcessCountTest, EndedProcessAwaitingItsParentIsNotCounted) {
  TempDir bin;
  const QString program = Q(bin.File("qmdown-zombie"));
  ASSERT_TRUE(InstallQmdown(program));
  const std::string path = program.toStdString();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Without arguments it shows its usage and ends at once; it stays a zombie
  // until reaped.
  EXPECT_TRUE(WaitUntil([&] { return StateOf(std::to_string(pid)).first == 'Z'; }));
  EXPECT_EQ(qm::ProcessCount(QStringLiteral("qmdown-zombie")), 0);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
}

}  // namespace
