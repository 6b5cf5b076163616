#pragma once
// The set-up shared by the dispatcher and worker tests: a program folder, a
// save folder, a download state and a loopback server, with the fixture itself
// standing in for the window that owns the download timer. The workers are
// waited for at the end.
#include <gtest/gtest.h>

#include "download/dispatcher.h"
#include "support/test_util.h"

namespace qmtest {

// An address nothing answers at, with the '"' that ends it in the queue.
inline QString DeadAddress(const QString& name) {
  static const int port = ClosedPort();
  return QStringLiteral("http://127.0.0.1:%1/%2\"").arg(port).arg(name);
}

class DispatchFixture : public ::testing::Test, public qm::DispatchHost {
 protected:
  DispatchFixture() { state.SetSavePath(Q(save.Path())); }
  ~DispatchFixture() override { EXPECT_TRUE(WaitForWorkers(state)); }

  bool Running() const override { return running; }
  void StopA() override { events << "StopA"; }
  void Ag(const QString& message) override { events << "Ag:" + message; }
  QString LimitText() const override { return limit; }
  QString ProgramFolder() const override { return Q(program.Path()); }
  void DisableTimer2() override { events << "DisableTimer2"; }
  void ShowCritical(const QString& t, const QString& n) override {
    events << "Critical:" + t + '|' + n;
  }
  void ProcessEvents() override { events << "ProcessEvents"; }

  void Tick() { qm::Timer2_Timer(state, *this); }
  QString Url(const std::string& path) const { return Q(server.Url(path)) + "\""; }

  TempDir program, save;
  qm::DownloadState state;
  LoopbackServer server;
  bool running = true;
  QString limit = "5";
  QStringList events;  // every call in order, e.g. "StopA", "Ag:<line>", "Critical:<text>|<title>"
};

}  // namespace qmtest
