// Faults of servers and of the network against the two users of the HTTP
// client: a crawl step fetching pages and DownloadFiles saving images. Under
// every fault nothing crashes, nothing waits beyond the time-outs, no partial
// file stays, and the work goes on with the next page or image.
#include <gtest/gtest.h>

#include "download/download_files.h"
#include "fault_cases.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;

const QString kAnalysed = QStringLiteral("分析完成");

// ---- page fetches through a crawl step

class PageFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(PageFaultTest, CrawlStepMarksTheRowAndGoesOnWithTheNext) {
  const FaultCase& fault = GetParam();
  TimeoutScope timeouts(5000, kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  const std::string faultAddress =
      PlaceFault(fault.where, fault.Prepared(), "/fault.html", plain, tls);
  // The start page lists a good page first and the fault second, so the walk
  // (newest row first) meets the fault and then the good page.
  plain.Serve("/", Html(LongPage("<a href='/after.html'>a</a><a href='" + faultAddress + "'>f</a>",
                                 "<title>图片 index</title>")));
  plain.Serve("/after.html",
              Html(LongPage("<img src='/afterimg.jpg'>", "<title>图片 after</title>")));

  EngineRig rig;
  YieldScope yields;
  rig.engine.SetTxt(5, QStringLiteral("图片"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));  // the test runs the steps itself
  rig.Seed(Q(plain.Url("/")), /*siteOnly=*/false);
  rig.Start();
  ASSERT_TRUE(rig.engine.Running());
  rig.engine.Timer1_Timer();

  const QString faultRoot = Q(faultAddress.substr(0, faultAddress.find('/', 8) + 1));
  const QString queue = rig.engine.Downloads().Queue();
  ASSERT_GE(rig.Rows(), 2);
  EXPECT_EQ(rig.Link(0), Q(plain.Url("/after.html")));
  EXPECT_EQ(rig.Link(1), Q(faultAddress));
  // The fault's row is done and the next row was analysed after it.
  EXPECT_EQ(rig.State(1), kAnalysed);
  EXPECT_EQ(rig.State(0), kAnalysed);
  EXPECT_TRUE(queue.contains(Q(plain.Url("/afterimg.jpg")))) << queue.toStdString();
  // What came out of the fault page itself: all of it, or nothing.
  EXPECT_EQ(queue.contains(faultRoot + QStringLiteral("faultimg.jpg")), fault.ok)
      << queue.toStdString();
  // (Random bytes before the first apostrophe of a garbage page make one more
  // link: the text before the first marker is a candidate like any other.)
  EXPECT_EQ(rig.Links().contains(faultRoot + QStringLiteral("faultlink.html")), fault.ok)
      << rig.Links().join(' ').toStdString();
  if (!fault.ok) {
    EXPECT_EQ(rig.Rows(), 2);
  }
  EXPECT_TRUE(rig.engine.Running());
  EXPECT_TRUE(rig.host.criticals.isEmpty());

  // A redirect loop ends after a bounded number of requests.
  std::size_t faultRequests = 0;
  for (const auto& r : plain.Requests()) faultRequests += r.target == "/fault.html";
  EXPECT_LE(faultRequests, 12u);
  rig.engine.Click(qm::kBtnStart);  // stop
}

INSTANTIATE_TEST_SUITE_P(Faults, PageFaultTest, ::testing::ValuesIn(PageCases()),
                         [](const auto& info) { return info.param.name; });

// ---- image downloads through DownloadFiles

class ImageFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ImageFaultTest, NoPartialFileAndTheNextImageIsSaved) {
  const FaultCase& fault = GetParam();
  TimeoutScope timeouts(5000, kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  TempDir dir;
  const std::string address =
      PlaceFault(fault.where, fault.Prepared(), "/img/fault.jpg", plain, tls);
  const std::string next = Garbage(2048, 99);
  plain.Serve("/img/next.jpg", Reply(next));

  qm::DownloadOptions options;
  options.folder = Q(dir.Path());
  qm::DownloadFiles(Q(address) + "\"" + Q(plain.Url("/img/next.jpg")) + "\"", fault.minBytes,
                    options);

  std::set<std::string> expected{"next.jpg"};
  if (fault.ok) expected.insert("fault.jpg");
  EXPECT_EQ(ListFolder(dir.Path()), expected);  // hidden temporary files included
  EXPECT_EQ(ReadWhole(dir.File("next.jpg")), next);
  if (fault.ok) {
    const std::string saved = ReadWhole(dir.File("fault.jpg"));
    EXPECT_EQ(saved.size(), fault.SavedBytes().size());
    EXPECT_TRUE(saved == fault.SavedBytes());  // (too large to print)
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ImageFaultTest, ::testing::ValuesIn(ImageCases()),
                         [](const auto& info) { return info.param.name; });

// ---- the HTTP client and a proxy

TEST(ProxyFaultTest, RefusingOrAbsentProxyNeverReachesTheServer) {
  TimeoutScope timeouts(5000, kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  plain.Serve("/p.html", Html("page"));
  tls.Serve("/p.html", Html("page"));
  ForwardProxy refusing(/*refuse=*/true);
  const QString closedProxy = QStringLiteral("127.0.0.1:%1").arg(ClosedPort());

  // A plain request through a refusing proxy: the proxy's own answer comes
  // back like any response (statuses are not failures).
  QString headers = QStringLiteral("kept");
  QVariant result = qm::HttpRequest(Q(plain.Url("/p.html")), qm::kHttpText, QString(), QVariant(),
                                    QStringLiteral("get"), headers, Q(refusing.HostPort()));
  EXPECT_EQ(result.toString(), QStringLiteral("proxy refuses requests"));
  EXPECT_TRUE(headers.contains(QStringLiteral("Content-Length: 22")));

  // A tunnel the proxy refuses, and a proxy nobody runs: failure texts, the
  // header block left as it was.
  for (const auto& [url, proxy] : {std::pair{Q(tls.Url("/p.html")), Q(refusing.HostPort())},
                                   std::pair{Q(plain.Url("/p.html")), closedProxy},
                                   std::pair{Q(tls.Url("/p.html")), closedProxy}}) {
    headers = QStringLiteral("kept");
    result = qm::HttpRequest(url, qm::kHttpBytes, QString(), QVariant(), QStringLiteral("get"),
                             headers, proxy);
    const QString text = result.toString();
    EXPECT_EQ(result.typeId(), QMetaType::QString) << url.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Error:"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("|errNum:"))) << text.toStdString();
    EXPECT_EQ(headers, QStringLiteral("kept"));
  }
  EXPECT_EQ(plain.RequestCount(), 0u);
  EXPECT_EQ(tls.RequestCount(), 0u);
  EXPECT_EQ(refusing.RequestCount(), 2u);
}

}  // namespace
