#include "download/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qm {
namespace {

// Reads a small /proc file whole ("" when it cannot be read).
std::string ReadProcFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A process that has ended but was not yet reaped (or is being torn down) no
// longer runs. The state follows the last ')' of /proc/<pid>/stat, since the
// command name in parentheses may itself hold blanks and parentheses.
bool Ended(const std::string& procDir) {
  const std::string stat = ReadProcFile(procDir + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return true;  // gone meanwhile
  char state = stat[close + 2];
  return state == 'Z' || state == 'X' || state == 'x';
}

// The executable file name of a process: the target of its exe link (the
// comm field is cut at 15 characters), else the first word of its command
// line, else comm.
std::string ExecutableName(const std::string& procDir) {
  char target[PATH_MAX];
  ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string path(target, static_cast<size_t>(n));
    static const std::string kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
      path.resize(path.size() - kDeleted.size());
    }
    return BaseName(path);
  }
  const std::string cmdline = ReadProcFile(procDir + "/cmdline");
  if (!cmdline.empty()) {
    std::string first = cmdline.substr(0, cmdline.find('\0'));
    if (!first.empty()) return BaseName(first);
  }
  std::string comm = ReadProcFile(procDir + "/comm");
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

bool AllDigits(const char* text) {
  if (!*text) return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

}  // namespace

int ProcessCount(const QString& name) {
  const QString wanted = name.toLower();
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  int count = 0;
  while (dirent* entry = ::readdir(proc)) {
    if (!AllDigits(entry->d_name)) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    const std::string exe = ExecutableName(dir);
    if (exe.empty()) continue;
    if (QString::fromUtf8(exe.data(), static_cast<qsizetype>(exe.size())).toLower() != wanted) {
      continue;
    }
    if (!Ended(dir)) ++count;
  }
  ::closedir(proc);
  return count;
}

bool ShellOpen(const QString& program, const QString& parameters) {
  // Everything the child needs is prepared before fork: after it, in a
  // process with several threads, only async-signal-safe calls are allowed.
  if (program.isEmpty()) return false;
  // The program is found by its absolute path: the child changes its working
  // folder before the exec.
  const QFileInfo info(program);
  const QByteArray path = info.absoluteFilePath().toUtf8();
  const QByteArray folder = info.absolutePath().toUtf8();
  const QByteArray argument = parameters.toUtf8();
  // A NUL would cut the argument short without notice: refuse instead.
  if (path.contains('\0') || argument.contains('\0')) return false;
  char* const argv[] = {const_cast<char*>(path.constData()),
                        const_cast<char*>(argument.constData()), nullptr};

  // Descriptors of this process (sockets, files) must not leak into the
  // downloader: past the standard three they are all closed at the exec.
  struct rlimit files;
  int lastFd = 65535;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      files.rlim_cur < 65536) {
    lastFd = static_cast<int>(files.rlim_cur) - 1;
  }

  int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devNull < 0) return false;
  int report[2];  // the grandchild writes its exec errno here; exec closes it
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(devNull);
    return false;
  }

  pid_t middle = ::fork();
  if (middle < 0) {
    ::close(report[0]);
    ::close(report[1]);
    ::close(devNull);
    return false;
  }
  if (middle == 0) {
    // The intermediate child: a new session, then a grandchild that the init
    // process adopts, so the caller never has to wait for the downloader and
    // no zombie is left behind.
    ::close(report[0]);
    ::setsid();
    pid_t child = ::fork();
    if (child < 0) {
      int err = errno;
      (void)!::write(report[1], &err, sizeof err);
      ::_exit(127);
    }
    if (child > 0) ::_exit(0);

    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    ::dup2(devNull, STDIN_FILENO);
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
      for (int fd = 3; fd <= lastFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    int err = 0;
    if (::chdir(folder.constData()) != 0) {
      err = errno;
    } else {
      ::execv(path.constData(), argv);
      err = errno;
    }
    (void)!::write(report[1], &err, sizeof err);
    ::_exit(127);
  }

  ::close(report[1]);
  ::close(devNull);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // End of file without a word: the exec succeeded (the pipe closed on exec).
  int err = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  return n == 0;
}

std::size_t MaxParameterBytes() {
  // The kernel's limit for one argument string (MAX_ARG_STRLEN, 32 pages), less
  // a margin.
  return 131072 - 4096;
}

}  // namespace qm
