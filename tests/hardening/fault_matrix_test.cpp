// Faults of servers and of the network against the two users of the HTTP
// client: a crawl step fetching pages and DownloadFiles saving images. Under
// every fault nothing crashes, nothing waits beyond the time-outs, no partial
// file stays, and the work goes on with the next page or image.
#include <gtest/gtest.h>

#include <QStringList>
#include <memory>
#include <set>
#include <string>

#include "crawl/crawl_fixture.h"
#include "download/download_files.h"
#include "fault_cases.h"
#include "hardening_util.h"
#include "web/http.h"

namespace {

using qmtest::LoopbackServer;
using qmtest::Route;
using qmtest::TempDir;
using qmtest::hard::ListFolder;
using qmtest::hard::Q;
using qmtest::hard::ReadWhole;
using qmtest::hard::Where;

const QString kAnalysed = QStringLiteral("分析完成");

// The address of the fault: its route served at `path` on the server it
// belongs to, or a port nothing listens on.
std::string PlaceFault(Where where, const Route& route, const std::string& path,
                       LoopbackServer& plain, LoopbackServer& tls) {
  switch (where) {
    case Where::kClosed:
      return "http://127.0.0.1:" + std::to_string(qmtest::ClosedPort()) + path;
    case Where::kTls:
      tls.Serve(path, route);
      return tls.Url(path);
    case Where::kPlain:
      break;
  }
  plain.Serve(path, route);
  return plain.Url(path);
}

// ---- page fetches through a crawl step

class PageFaultTest : public ::testing::TestWithParam<qmtest::hard::PageCase> {};

TEST_P(PageFaultTest, CrawlStepMarksTheRowAndGoesOnWithTheNext) {
  const qmtest::hard::PageCase& fault = GetParam();
  qmtest::hard::TimeoutScope timeouts(5000, qmtest::hard::kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  const std::string faultAddress =
      PlaceFault(fault.where, fault.Prepared(), "/fault.html", plain, tls);
  // The start page lists a good page first and the fault second, so the walk
  // (newest row first) meets the fault and then the good page.
  plain.Serve("/", qmtest::hard::HtmlRoute(qmtest::LongPage(
                       "<a href='/after.html'>a</a><a href='" + faultAddress + "'>f</a>",
                       "<title>图片 index</title>")));
  plain.Serve("/after.html", qmtest::hard::HtmlRoute(qmtest::LongPage(
                                 "<img src='/afterimg.jpg'>", "<title>图片 after</title>")));

  qmtest::EngineRig rig;
  qmtest::YieldScope yields;
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
  EXPECT_EQ(queue.contains(faultRoot + QStringLiteral("faultimg.jpg")), fault.analysed)
      << queue.toStdString();
  // (Random bytes before the first apostrophe of a garbage page make one more
  // link: the text before the first marker is a candidate like any other.)
  EXPECT_EQ(rig.Links().contains(faultRoot + QStringLiteral("faultlink.html")), fault.analysed)
      << rig.Links().join(' ').toStdString();
  if (!fault.analysed) {
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

INSTANTIATE_TEST_SUITE_P(Faults, PageFaultTest, ::testing::ValuesIn(qmtest::hard::PageCases()),
                         [](const auto& info) { return info.param.name; });

// ---- image downloads through DownloadFiles

class ImageFaultTest : public ::testing::TestWithParam<qmtest::hard::ImageCase> {};

TEST_P(ImageFaultTest, NoPartialFileAndTheNextImageIsSaved) {
  const qmtest::hard::ImageCase& fault = GetParam();
  qmtest::hard::TimeoutScope timeouts(5000, qmtest::hard::kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  TempDir dir;
  const std::string address =
      PlaceFault(fault.where, fault.Prepared(), "/img/fault.jpg", plain, tls);
  const std::string next = qmtest::hard::Garbage(2048, 99);
  Route nextRoute;
  nextRoute.body = next;
  plain.Serve("/img/next.jpg", nextRoute);

  qm::DownloadOptions options;
  options.folder = Q(dir.Path());
  qm::DownloadFiles(Q(address) + "\"" + Q(plain.Url("/img/next.jpg")) + "\"", fault.minBytes,
                    options);

  std::set<std::string> expected{"next.jpg"};
  if (fault.saved) expected.insert("fault.jpg");
  EXPECT_EQ(ListFolder(dir.Path()), expected);  // hidden temporary files included
  EXPECT_EQ(ReadWhole(dir.File("next.jpg")), next);
  if (fault.saved) {
    const std::string saved = ReadWhole(dir.File("fault.jpg"));
    const std::string expected = fault.SavedBytes();
    EXPECT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ImageFaultTest, ::testing::ValuesIn(qmtest::hard::ImageCases()),
                         [](const auto& info) { return info.param.name; });

// ---- the HTTP client and a proxy

TEST(ProxyFaultTest, RefusingOrAbsentProxyNeverReachesTheServer) {
  qmtest::hard::TimeoutScope timeouts(5000, qmtest::hard::kStallMs);
  LoopbackServer plain;
  LoopbackServer tls(LoopbackServer::Scheme::Https);
  plain.Serve("/p.html", qmtest::hard::HtmlRoute("page"));
  tls.Serve("/p.html", qmtest::hard::HtmlRoute("page"));
  qmtest::ForwardProxy refusing(/*refuse=*/true);
  const QString closedProxy = QStringLiteral("127.0.0.1:%1").arg(qmtest::ClosedPort());

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
