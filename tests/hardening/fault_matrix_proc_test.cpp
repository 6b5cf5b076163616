// The downloader program under the same faults as DownloadFiles in process:
// one run over a list in which every fault sits between two good images.
// (Stalls are left out here: the program runs with the client's full 30 s
// time-out, which the in-process matrix covers shortened.)
#include <gtest/gtest.h>

#include "fault_cases.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;

TEST(QmdownFaultTest, EveryFaultAbandonsOnlyItsOwnAddress) {
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  TempDir dir;
  std::string list;
  std::map<std::string, std::string> expected;  // file name -> bytes
  int good = 0;
  auto addGood = [&] {
    const std::string name = "good" + std::to_string(good) + ".jpg";
    expected[name] = Garbage(1500 + 100 * good, 500 + good);
    plain.Serve("/img/" + name, Reply(expected[name]));
    list += plain.Url("/img/" + name) + "\"";
    ++good;
  };
  addGood();
  for (const FaultCase& fault : ImageCases()) {
    if (fault.name == "stall" || fault.name == "declared_longer_kept_open") continue;
    if (fault.minBytes != 1024 && fault.ok) continue;  // needs another minimum
    const std::string path = "/img/" + fault.name + ".jpg";
    Route route = fault.Prepared();
    if (route.status == 302) route.headerLines = {"Location: " + path};  // loops on itself
    list += PlaceFault(fault.where, route, path, plain, tls) + "\"";
    if (fault.ok) expected[fault.name + ".jpg"] = fault.SavedBytes();
    addGood();
  }

  const RunResult run = RunQmdown({Q("s=" + dir.Path() + "&min=1024&url=" + list + "||")});
  EXPECT_EQ(run.exitCode, 0);  // a normal exit
  std::set<std::string> names;
  for (const auto& [name, bytes] : expected) names.insert(name);
  EXPECT_EQ(ListFolder(dir.Path()), names);  // nothing partial, nothing temporary
  for (const auto& [name, bytes] : expected)
    EXPECT_TRUE(ReadWhole(dir.File(name)) == bytes) << name;
  EXPECT_GE(good, 10);
}

}  // namespace
