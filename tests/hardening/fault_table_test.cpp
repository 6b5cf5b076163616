// The fault table against a crawl step and the crawler's workers, with
// shortened time-outs.
#include "fault_table.h"

#include "download/dispatcher.h"
#include "web/http.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;
using namespace std::chrono_literals;

std::string PageOf(const std::string& name) {
  return LongPage("<img src='/" + name + "-img.jpg'>", "<title>图片</title>");
}

TEST(FaultTable, CrawlStepFinishesEveryFaultyPageAndAnalysesTheNext) {
  qm::SetHttpTimeouts({5s, 2s});
  LoopbackServer plain, tls(LoopbackServer::Scheme::Https);
  std::string links;
  for (const Fault& f : kFaults) {
    const std::string good = std::string(f.name) + "-next";
    plain.Serve("/g/" + good, Html(PageOf(good)));
    // Listed after its good page, the faulty one is walked first.
    links += "<a href='/g/" + good + "'>g</a><a href='" + Place(f, PageOf(f.name), plain, tls) +
             "'>f</a>";
  }
  plain.Serve("/", Html(LongPage(links, "<title>图片</title>")));
  EngineRig rig;
  YieldScope yields;
  rig.engine.SetTxt(5, QStringLiteral("图片"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));  // the test runs the steps itself
  rig.Seed(Q(plain.Url("/")), /*siteOnly=*/false);
  rig.Start();
  rig.engine.Timer1_Timer();
  const std::string queue = rig.engine.Downloads().Queue().toStdString();
  std::string analysed;  // the rows analysed, each address followed by a blank
  for (int row = 0; row < rig.Rows(); ++row)
    if (rig.State(row) == QStringLiteral("分析完成")) analysed += rig.Link(row).toStdString() + " ";
  for (const Fault& f : kFaults) {
    const std::string name = f.name;
    SCOPED_TRACE(name);
    EXPECT_NE(analysed.find("/f/" + name + " "), std::string::npos);
    EXPECT_NE(queue.find("/" + name + "-next-img.jpg"), std::string::npos);
    EXPECT_EQ(queue.find("/" + name + "-img.jpg") != std::string::npos, f.Has('P'));
  }
  EXPECT_TRUE(rig.engine.Running());
}

TEST(FaultTable, WorkerSavesEveryGoodPictureWholeAndNothingElse) {
  qm::SetHttpTimeouts({5s, 2s});
  PictureTable table('W');
  qm::DownloadState state;
  state.SetSavePath(Q(table.save));
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(qm::StartWorker(state, Q(table.list)));
  ASSERT_TRUE(WaitForWorkers(state));
  // The stall ends at its time-out of 2 s: not sooner, nor at ten times it
  // (the server would answer after 40 s).
  EXPECT_GE(std::chrono::steady_clock::now() - began, 2s);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 20s);
  table.Check();
}

}  // namespace
