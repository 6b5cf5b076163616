// The downloader program under the same faults as DownloadFiles in process:
// one run over a list in which every fault sits between two good images.
// (Stalls are left out here: the program runs with the client's full 30 s
// time-out, which the in-process matrix covers shortened.)
#include <gtest/gtest.h>

#include <QProcess>
#include <set>
#include <string>
#include <vector>

#include "fault_cases.h"
#include "hardening_util.h"

namespace {

using qmtest::LoopbackServer;
using qmtest::Route;
using qmtest::TempDir;
using qmtest::hard::ListFolder;
using qmtest::hard::Q;
using qmtest::hard::ReadWhole;
using qmtest::hard::Where;

TEST(QmdownFaultTest, EveryFaultAbandonsOnlyItsOwnAddress) {
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  TempDir dir;
  constexpr std::int32_t kMin = 1024;

  std::string list;
  std::map<std::string, std::string> expected;  // file name -> bytes
  int good = 0;
  auto addGood = [&] {
    const std::string name = "good" + std::to_string(good) + ".jpg";
    Route r;
    r.body = qmtest::hard::Garbage(1500 + 100 * good, 500 + good);
    plain.Serve("/img/" + name, r);
    expected[name] = r.body;
    list += plain.Url("/img/" + name) + "\"";
    ++good;
  };
  addGood();
  for (const qmtest::hard::ImageCase& fault : qmtest::hard::ImageCases()) {
    if (fault.route.delayMs > 0) continue;  // a stall
    bool keptOpen = false;
    for (const std::string& line : fault.route.headerLines)
      keptOpen |= line.rfind("Content-Length: ", 0) == 0 && fault.route.cutAfter < 0;
    if (keptOpen) continue;                               // a stall as well
    if (fault.minBytes != kMin && fault.saved) continue;  // needs another minimum
    const std::string name = fault.name + ".jpg";
    const std::string path = "/img/" + name;
    std::string address;
    Route route = fault.Prepared();
    if (route.status == 302) route.headerLines = {"Location: " + path};  // loops on itself
    switch (fault.where) {
      case Where::kClosed:
        address = "http://127.0.0.1:" + std::to_string(qmtest::ClosedPort()) + path;
        break;
      case Where::kTls:
        tls.Serve(path, route);
        address = tls.Url(path);
        break;
      case Where::kPlain:
        plain.Serve(path, route);
        address = plain.Url(path);
        break;
    }
    list += address + "\"";
    if (fault.saved) expected[name] = fault.SavedBytes();
    addGood();
  }

  QProcess qmdown;
  qmdown.start(QStringLiteral(QM_BIN_DIR "/qmdown"),
               {Q("s=" + dir.Path() + "&min=" + std::to_string(kMin) + "&url=" + list + "||")});
  ASSERT_TRUE(qmdown.waitForStarted(30000));
  ASSERT_TRUE(qmdown.waitForFinished(120000));
  EXPECT_EQ(qmdown.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(qmdown.exitCode(), 0);

  std::set<std::string> names;
  for (const auto& [name, bytes] : expected) names.insert(name);
  EXPECT_EQ(ListFolder(dir.Path()), names);  // nothing partial, nothing temporary
  for (const auto& [name, bytes] : expected)
    EXPECT_TRUE(ReadWhole(dir.File(name)) == bytes) << name;
  EXPECT_GE(good, 10);
}

}  // namespace
