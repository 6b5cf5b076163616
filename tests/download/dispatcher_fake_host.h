#pragma once
// A recording stand-in for the window that owns the download timer, processes
// that carry a downloader's name, and the set-up shared by the dispatcher tests.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <memory>
#include <vector>

#include "download/dispatcher.h"
#include "support/test_util.h"

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
    for (const QString& e : events)
      if (e.startsWith(QLatin1String("Ag:"))) lines << e.mid(3);
    return lines;
  }

 private:
  QString folder_;
};

inline void SetThreadCount(qm::DownloadState& state, int count) {
  std::lock_guard<std::mutex> guard(state.lock);
  state.ThreadCount = static_cast<std::int16_t>(count);
}

// The number behind "建立下载线程: " in a run-log line, 0 when the line is another.
inline std::uint64_t WorkerHandleIn(const QString& line) {
  static const QRegularExpression re(QStringLiteral("^建立下载线程: (\\d+)$"));
  const auto match = re.match(line);
  return match.hasMatch() ? match.captured(1).toULongLong() : 0;
}

// An address nothing answers at: a download of it ends quickly.
inline QString DeadAddress(const QString& name) {
  return QStringLiteral("http://127.0.0.1:%1/%2").arg(ClosedPort()).arg(name);
}

// Long-lived processes that carry a downloader's name: copies of sleep.
class Sleepers {
 public:
  explicit Sleepers(const QString& folder) : folder_(folder) {}
  ~Sleepers() {
    while (!procs_.empty()) KillOne();
  }
  bool Start(int n, const QString& name = QStringLiteral("qmdown")) {
    const QString path = folder_ + QLatin1Char('/') + name;
    if (!QFile::exists(path) && !QFile::copy(QStringLiteral("/bin/sleep"), path)) return false;
    for (int i = 0; i < n; ++i) {
      procs_.push_back(std::make_unique<QProcess>());
      procs_.back()->start(path, {QStringLiteral("120")});
      if (!procs_.back()->waitForStarted(30000)) return false;
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

// A program folder, a save folder, a download state and the fake window; the
// workers are waited for at the end.
class DispatchFixture : public ::testing::Test {
 protected:
  DispatchFixture() : host(Q(program.Path())) {
    state.SetSavePath(Q(save.Path()));
    state.MinSizeKb = 0;
  }
  ~DispatchFixture() override { EXPECT_TRUE(WaitForWorkers(state)); }

  std::set<std::string> Saved() const { return ListFolder(save.Path()); }

  TempDir program;
  TempDir save;
  qm::DownloadState state;
  FakeDispatchHost host;
};

}  // namespace qmtest
