#pragma once
// A recording stand-in for the window that owns the download timer, and small
// helpers shared by the dispatcher and worker tests.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/dispatcher.h"
#include "download/download_state.h"
#include "support/loopback_server.h"
#include "web/gbk.h"

namespace qmtest {

class FakeDispatchHost : public qm::DispatchHost {
 public:
  explicit FakeDispatchHost(QString folder) : folder_(std::move(folder)) {}

  bool running = true;
  QString limit = QStringLiteral("5");
  // Every call, in order: "StopA", "Ag:<line>", "DisableTimer2", "Critical:<text>|<title>",
  // "ProcessEvents".
  std::vector<QString> events;

  bool Running() const override { return running; }
  void StopA() override { events.push_back(QStringLiteral("StopA")); }
  void Ag(const QString& message) override { events.push_back(QStringLiteral("Ag:") + message); }
  QString LimitText() const override { return limit; }
  QString ProgramFolder() const override { return folder_; }
  void DisableTimer2() override { events.push_back(QStringLiteral("DisableTimer2")); }
  void ShowCritical(const QString& text, const QString& title) override {
    events.push_back(QStringLiteral("Critical:") + text + QLatin1Char('|') + title);
  }
  void ProcessEvents() override {
    events.push_back(QStringLiteral("ProcessEvents"));
    QCoreApplication::processEvents();
  }

  // The run-log lines written so far.
  QStringList LogLines() const {
    QStringList lines;
    for (const QString& e : events) {
      if (e.startsWith(QLatin1String("Ag:"))) lines << e.mid(3);
    }
    return lines;
  }

 private:
  QString folder_;
};

// A 200 answer with `body` (its Content-Length sent), after `delayMs`.
inline Route Body(const std::string& body, int delayMs = 0) {
  Route route;
  route.body = body;
  route.delayMs = delayMs;
  return route;
}

// Polls `done` (letting events run) until it holds or `seconds` pass.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline int ThreadCountOf(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadCount;
}

inline void SetThreadCount(qm::DownloadState& state, int count) {
  std::lock_guard<std::mutex> guard(state.lock);
  state.ThreadCount = static_cast<std::int16_t>(count);
}

// Waits until every worker has ended (the state must outlive them).
inline bool WaitForWorkers(qm::DownloadState& state, int count = 0) {
  return WaitUntil([&] { return ThreadCountOf(state) == count; });
}

inline QByteArray ReadFileBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The error file split at CR LF; the raw file must end with CR LF.
inline QStringList ErrorFileLines(const QString& folder) {
  const QByteArray raw = ReadFileBytes(folder + QStringLiteral("/errLog.txt"));
  if (!raw.endsWith("\r\n")) return {};
  QStringList lines = qm::FromGbk(raw).split(QStringLiteral("\r\n"));
  lines.removeLast();  // the empty piece after the last CR LF
  return lines;
}

// Files of a folder, sorted (hidden files included).
inline QStringList FilesIn(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The number behind "建立下载线程: " in a run-log line, 0 when the line is another.
inline std::uint64_t WorkerHandleIn(const QString& line) {
  static const QRegularExpression re(QStringLiteral("^建立下载线程: (\\d+)$"));
  const auto match = re.match(line);
  return match.hasMatch() ? match.captured(1).toULongLong() : 0;
}

}  // namespace qmtest
