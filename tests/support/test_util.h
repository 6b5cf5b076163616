#pragma once
// Helpers shared by the download, end-to-end, hardening and window tests, on
// top of the crawl engine's fixture: folder listings and file contents,
// reproducible bodies, waiting with a deadline while events run, the count of
// download workers and downloader processes, and the built downloader program.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "crawl/crawl_fixture.h"
#include "download/download_state.h"
#include "download/process.h"
#include "support/loopback_server.h"
#include "web/gbk.h"

namespace qmtest {

inline const QString kQmdown = QStringLiteral(QM_BIN_DIR "/qmdown");

// Names of a folder's entries, hidden ones and sub-folders included.
inline std::set<std::string> ListFolder(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    names.insert(entry.path().filename().string());
  return names;
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// `size` bytes of every value, NUL included; the same for the same seed.
inline std::string Garbage(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

// Whether `name` is `base` behind a random prefix: six of the characters
// RandomText draws and "-".
inline bool IsPrefixed(const std::string& name, const std::string& base) {
  return name.size() == base.size() + 7 && name[6] == '-' && name.ends_with(base) &&
         name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ123456789") ==
             6;
}

// A 200 answer with `body` (its length declared), after `delayMs`.
inline Route Reply(const std::string& body, int delayMs = 0) {
  return {200, {}, {}, body, delayMs};
}

// Polls `done`, letting events run, until it holds or `seconds` pass.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline int LiveWorkers(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadCount;
}

inline bool WaitForWorkers(qm::DownloadState& state, int count = 0) {
  return WaitUntil([&] { return LiveWorkers(state) == count; }, 180);
}

// Waits at the end of its scope until the workers of `state` have ended: they
// use the state, which must outlive them even when a test fails half-way.
struct WorkerGuard {
  qm::DownloadState& state;
  ~WorkerGuard() { WaitForWorkers(state); }
};

inline int Downloaders() { return qm::ProcessCount(QStringLiteral("qmdown")); }

// The downloaders running from `folder` (their program stands there): those a
// test started, whatever else runs on the machine. Ended ones, whose program
// can no longer be read, are not counted.
inline int DownloadersIn(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::canonical(folder, ec) / "qmdown";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec))
    count += std::filesystem::read_symlink(entry.path() / "exe", ec) == program;
  return count;
}

// A copy of the built downloader at `path`, runnable by its owner.
inline bool InstallQmdown(const QString& path) {
  QFile::remove(path);
  return QFile::copy(kQmdown, path) &&
         QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

struct RunResult {
  int exitCode = -1;  // -1 when the program did not start, did not end or crashed
  QByteArray err;
};

// Runs the built downloader with `args` to its end.
inline RunResult RunQmdown(const QStringList& args, const QString& workDir = {}) {
  QProcess process;
  process.setWorkingDirectory(workDir);
  process.start(kQmdown, args);
  if (!process.waitForStarted(30000) || !process.waitForFinished(180000)) return {};
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardError()};
}

// The dispatcher's error file in `folder`, read as GBK.
inline QString ErrorFile(const QString& folder) {
  return qm::FromGbk(QByteArray::fromStdString(ReadWhole((folder + "/errLog.txt").toStdString())));
}

}  // namespace qmtest
