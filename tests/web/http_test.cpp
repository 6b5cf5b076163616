#include "web/http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "support/loopback_server.h"
#include "web/yield.h"

namespace {

qmtest::Route Ok(std::string body, std::vector<std::string> h = {}, int status = 200, int ms = 0) {
  return {status, {}, std::move(h), std::move(body), ms};
}

// One HttpRequest; the headers and the status start out as "kept" and -1.
struct Request {
  QString headers = "kept";
  int status = -1;
  QVariant result;
  explicit Request(const std::string& url, int kind = qm::kHttpText, QString method = "get",
                   QString requestHeaders = {}, QVariant body = {}, QString proxy = {})
      : result(qm::HttpRequest(QString::fromStdString(url), kind, requestHeaders, body, method,
                               headers, proxy, &status)) {}
};

// "Error:" + message + "|errNum:" + number; `kept`: headers and status left as they were.
bool Failed(const Request& r, bool kept = true) {
  static const QRegularExpression text("^Error:[\\s\\S]+\\|errNum:[1-9][0-9]*$");
  return r.result.typeId() == QMetaType::QString && text.match(r.result.toString()).hasMatch() &&
         (!kept || (r.headers == "kept" && r.status == -1));
}

// One request a row. The route without a body echoes the method and the body received.
TEST(HttpRequest, AnswersByMethodKindAndCharset) {
  const qmtest::Route echo = Ok("");
  const std::string gbk = "\xD6\xD0\xCE\xC4\xE9\x46", binary("\0\xFF\x80x", 4);
  const std::string equiv = "<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; charset=gb2312\">";
  const struct {
    const char* name;
    qmtest::Route route;
    QVariant result;
    int kind = qm::kHttpText;
    QString method = "get", headers = {};
    QVariant body = {};
  } cases[] = {
      {"no method word: GET, body not sent", echo, "GET:", 1, "", {}, QByteArray("x")},
      {"get in any case", echo, "GET:", 1, "GeT", "X-Only: 1", QByteArray("x")},
      {"split at \": \"", echo, "GET:", 1, "get", "Referer: h/a: b\r\nNone\r\nX-T:1\r\nX-E: "},
      {"post bytes", echo, "POST:a=1&b=2", 1, "post", {}, QByteArray("a=1&b=2")},
      {"post nothing", echo, "POST:", 1, "Post"},
      {"other word: POST without its body", echo, "POST:", 1, "PUT", {}, QByteArray("x")},
      {"error page, whole", Ok("<h1>Gone</h1>", {}, 404), "<h1>Gone</h1>"},
      {"bytes", Ok(binary, {}, 500), QByteArray::fromStdString(binary), qm::kHttpBytes},
      {"double-byte text", Ok(gbk + "\x80QAB"), "中文镕?AB", qm::kHttpGbkText},
      {"meta gb2312, a GBK-only letter", Ok(equiv + gbk), QString::fromStdString(equiv + "中文镕")},
      {"header before meta", Ok("<meta charset=utf-8>" + gbk, {"Content-Type: a; charset=\"GBK\""}),
       "<meta charset=utf-8>中文镕"},
      {"BOM before meta", Ok("\xEF\xBB\xBF<meta charset=gbk>中"), "<meta charset=gbk>中"},
      {"utf-8 without a charset", Ok("中", {"Content-Type: text/html"}), "中"}};
  qmtest::LoopbackServer server;
  for (const auto& c : cases) {
    server.ServeFn("/", [&](const qmtest::RecordedRequest& r) {
      return c.route.body.empty() ? Ok(r.method + ":" + r.body) : c.route;
    });
    const Request call(server.Url("/"), c.kind, c.method, c.headers, c.body);
    EXPECT_EQ(call.result, c.result) << c.name;
    EXPECT_EQ(call.status, c.route.status) << c.name;
  }
  const auto r = server.Requests();
  ASSERT_EQ(r.size(), std::size(cases));
  const std::pair<std::string, std::string> form{"CONTENT-TYPE",
                                                 "application/x-www-form-urlencoded"};
  EXPECT_EQ(std::count(r[0].headers.begin(), r[0].headers.end(), form), 1);  // spelled so, once
  EXPECT_FALSE(r[1].HasHeader("Content-Type") || r[0].HasHeader("Accept-Encoding"));
  EXPECT_EQ(r[2].Header("Referer"), "h/a");
  EXPECT_FALSE(r[2].HasHeader("None") || r[2].HasHeader("X-T") || !r[2].HasHeader("X-E"));
  server.Serve("/", Ok("AB\xC4"));  // a lead byte last
  EXPECT_TRUE(Failed(Request(server.Url("/"), qm::kHttpGbkText), false));
}

// Only a proxy text with ":" counts; without one, not even the environment's proxy is used.
TEST(HttpRequest, ProxyIsUsedOnlyWhenItsTextHoldsAColon) {
  qmtest::LoopbackServer server;
  server.Serve("/p", Ok("through"));
  qmtest::ForwardProxy proxy;
  ::setenv("http_proxy", ("http://" + proxy.HostPort()).c_str(), 1);
  const Request empty(server.Url("/p")), noColon(server.Url("/p"), 1, "get", {}, {}, "127.0.0.1");
  ::unsetenv("http_proxy");
  EXPECT_EQ(empty.result.toString() + noColon.result.toString(), "throughthrough");
  EXPECT_EQ(proxy.RequestCount(), 0u);
  const QString via = QString::fromStdString(proxy.HostPort());
  EXPECT_EQ(Request(server.Url("/p"), 1, "get", {}, {}, via).result, "through");
  EXPECT_EQ(proxy.Targets(), std::vector<std::string>{server.Url("/p")});
}

TEST(HttpRequest, RedirectsKeepOnlyTheFinalHeadersAtMostTenNeverDownToHttp) {
  qmtest::LoopbackServer server, secure(qmtest::LoopbackServer::Scheme::Https);
  server.Serve("/first", Ok("moved", {"Location: /second", "X-First: 1"}, 302));
  server.Serve("/second", Ok("", {"location: " + server.Url("/final?q=1")}, 301));
  server.Serve("/final", Ok("arrived", {"X-Final-CASE: Yes"}));
  server.Serve("/loop", Ok("", {"Location: /loop"}, 302));
  server.Serve("/up", Ok("", {"Location: " + secure.Url("/final")}, 302));
  secure.Serve("/final", Ok("safe"));
  secure.Serve("/down", Ok("", {"Location: " + server.Url("/final")}, 302));
  const Request c(server.Url("/first"));
  EXPECT_EQ(c.result, "arrived");
  EXPECT_EQ(c.headers, "X-Final-CASE: Yes\r\nContent-Length: 7\r\n");
  EXPECT_EQ(Request(server.Url("/up")).result, "safe");
  server.ClearRequests();
  EXPECT_TRUE(Failed(Request(server.Url("/loop"))));
  EXPECT_EQ(server.RequestCount(), 11u);  // the first request and ten redirects
  EXPECT_TRUE(Failed(Request(secure.Url("/down"))));
  EXPECT_EQ(server.RequestCount(), 11u);
}

TEST(HttpRequest, FailuresGiveTheErrorTextAndKeepTheHeaders) {
  const qm::HttpTimeouts saved = qm::GetHttpTimeouts();
  EXPECT_TRUE(saved.connect == std::chrono::seconds(60) && saved.stall == std::chrono::seconds(30));
  qm::SetHttpTimeouts({saved.connect, std::chrono::milliseconds(300)});
  qmtest::LoopbackServer server;
  server.Serve("/cut", {200, {}, {}, std::string(20000, 'c'), 0, 7000});
  server.Serve("/slow", Ok("late", {}, 200, 20000));
  const std::string ok = server.Url("/ok");  // never requested
  const struct {
    const char* name;
    std::string address;
    QString headers = {};
  } cases[] = {{"closed port", "http://127.0.0.1:" + std::to_string(qmtest::ClosedPort())},
               {"not http", "file:///etc/hostname"},
               {"body cut short", server.Url("/cut")},
               {"nothing received for the stall time", server.Url("/slow")},
               {"header name with a blank", ok, "Bad Name: x"},
               {"CR in a header value", ok, "X-A: a\rb"},
               {"LF in a header value", ok, "X-A: a\nb"},
               {"NUL in a header value", ok, QString::fromUtf8("X-A: a\0b", 8)}};
  for (const auto& c : cases)
    for (int kind : {1, 2, 3, 7})
      EXPECT_TRUE(Failed(Request(c.address, kind, "get", c.headers))) << c.name << kind;
  for (const auto& r : server.Requests()) EXPECT_NE(r.target, "/ok");
  EXPECT_TRUE(Request(server.Url("/slow")).result.toString().endsWith("|errNum:28"));
  qm::SetHttpTimeouts(saved);
}

// A listener that never accepts, its queue full: a new connection is never
// answered, so only the connect time-out ends the request (the stall time-out
// is far away, and its message differs).
TEST(HttpRequest, ConnectionNeverAnsweredEndsAtTheConnectTimeOut) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), size), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(queued.back(), reinterpret_cast<sockaddr*>(&at), size);
  }
  const qm::HttpTimeouts saved = qm::GetHttpTimeouts();
  qm::SetHttpTimeouts({std::chrono::milliseconds(300), std::chrono::seconds(20)});
  const QString text =
      Request("http://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/").result.toString();
  qm::SetHttpTimeouts(saved);
  EXPECT_TRUE(text.startsWith("Error:") && text.endsWith("|errNum:28")) << text.toStdString();
  EXPECT_FALSE(text.contains("nothing received")) << text.toStdString();
  for (const int fd : queued) ::close(fd);
  ::close(listener);
}

// The wait on a thread with a yield hook runs the hook, and a request from
// inside the hook completes without disturbing the outer one.
TEST(HttpRequest, WaitRunsTheYieldHookWhichMayRequestToo) {
  qmtest::LoopbackServer server;
  server.Serve("/outer", Ok(std::string(50000, 'O'), {}, 200, 300));
  server.Serve("/inner", Ok("inner"));
  int calls = 0;
  QVariant inner;
  qm::SetYieldHook([&] { inner = calls++ == 0 ? Request(server.Url("/inner")).result : inner; });
  const Request outer(server.Url("/outer"), qm::kHttpBytes);
  qm::SetYieldHook({});
  EXPECT_EQ(outer.result, QByteArray(50000, 'O'));
  EXPECT_EQ(inner, "inner");
  EXPECT_GT(calls, 1);
}

TEST(HttpRequest, ThreadsRunTheirOwnRequestsAtOnce) {
  qmtest::LoopbackServer server;
  server.ServeFn("/n", [](const qmtest::RecordedRequest& r) { return Ok(r.target, {}, 200, 5); });
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 32; ++t)
    threads.emplace_back([&, path = "/n?" + std::to_string(t)] {
      good += Request(server.Url(path)).result == QString::fromStdString(path);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 32);
}

// Certificates are checked unless option 2 says which errors to ignore (0x3300: all).
TEST(HttpComponent, ChecksCertificatesUnlessToldToIgnoreTheirErrors) {
  qmtest::LoopbackServer secure(qmtest::LoopbackServer::Scheme::Https);
  secure.Serve("/c", Ok("component", {}, 201));
  qm::HttpComponent http;
  http.open("GET", QString::fromStdString(secure.Url("/c")));
  EXPECT_FALSE(http.send());
  http.setoption(2, 0x3300);
  ASSERT_TRUE(http.send());
  EXPECT_EQ(http.Status(), 201);
}

}  // namespace
