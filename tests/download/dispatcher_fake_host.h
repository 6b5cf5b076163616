#pragma once
// A recording stand-in for the window that owns the download timer, and the
// set-up shared by the dispatcher and worker tests.
#include <gtest/gtest.h>

#include "download/dispatcher.h"
#include "support/test_util.h"

namespace qmtest {

class FakeDispatchHost : public qm::DispatchHost {
 public:
  explicit FakeDispatchHost(QString programFolder) : folder(std::move(programFolder)) {}
  const QString folder;
  bool running = true;
  QString limit = QStringLiteral("5");
  QStringList events;  // every call in order, e.g. "StopA", "Ag:<line>", "Critical:<text>|<title>"

  bool Running() const override { return running; }
  void StopA() override { events << "StopA"; }
  void Ag(const QString& message) override { events << "Ag:" + message; }
  QString LimitText() const override { return limit; }
  QString ProgramFolder() const override { return folder; }
  void DisableTimer2() override { events << "DisableTimer2"; }
  void ShowCritical(const QString& t, const QString& n) override {
    events << "Critical:" + t + '|' + n;
  }
  void ProcessEvents() override { events << "ProcessEvents"; }
  // Whether event `i` logs a new worker by its thread id.
  bool LoggedWorker(qsizetype i = 0) const {
    return events.value(i).startsWith("Ag:建立下载线程: ") &&
           events.value(i).section(' ', 1).toULongLong();
  }
};

// An address nothing answers at, with the '"' that ends it in the queue.
inline QString DeadAddress(const QString& name) {
  static const int port = ClosedPort();
  return QStringLiteral("http://127.0.0.1:%1/%2\"").arg(port).arg(name);
}

// A program folder, a save folder, a download state, the fake window and a
// loopback server; the workers are waited for at the end.
class DispatchFixture : public ::testing::Test {
 protected:
  DispatchFixture() : host(Q(program.Path())) { state.SetSavePath(Q(save.Path())); }
  ~DispatchFixture() override { EXPECT_TRUE(WaitForWorkers(state)); }
  QString Url(const std::string& path) const { return Q(server.Url(path)) + "\""; }
  // What the error file holds after a failed tick that took `taken`.
  QString ErrorText(qint64 minBytes, const QString& failure, const QString& taken) {
    return QStringLiteral("DI==0 LenK=%1\r\n%2/qmdown s=%3&min=%4&url=\r\n错误:%5\r\n \r\n%6\r\n")
        .arg(taken.size())
        .arg(host.folder, state.GetSavePath())
        .arg(minBytes)
        .arg(failure, taken);
  }

  TempDir program, save;
  qm::DownloadState state;
  FakeDispatchHost host;
  LoopbackServer server;
};

}  // namespace qmtest
