// The HTTP client against loopback servers.
#include "web/http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/loopback_server.h"
#include "web/yield.h"

namespace {

using namespace qmtest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Route Ok(std::string body, std::vector<std::string> h = {}, int status = 200, int ms = 0) {
  return {status, {}, std::move(h), std::move(body), ms};
}

// One HttpRequest, timed; headers, status and final address start out as
// "kept", -1 and "kept".
struct Request {
  QString headers = "kept", final = "kept";
  int status = -1;
  Clock::time_point start = Clock::now();
  QVariant result;
  Clock::duration took;
  explicit Request(const std::string& url, int kind = qm::kHttpText, QString method = "get",
                   QString requestHeaders = {}, QVariant body = {}, QString proxy = {})
      : result(qm::HttpRequest(QString::fromStdString(url), kind, requestHeaders, body, method,
                               headers, proxy, &status, &final)),
        took(Clock::now() - start) {}
  QString Text() const { return result.toString(); }
};

// One request a row, the environment naming a proxy that refuses all. A
// route without a body echoes the request: method, body, then every header
// but Host, User-Agent and Accept as " name:value". A request that fails
// (its result an error text) leaves headers, status and final address as
// they were.
TEST(HttpRequest, AnswersByMethodKindCharsetAndProxy) {
  LoopbackServer server;
  ForwardProxy proxy(true);
  const QString via = "127.0.0.1:" + QString::number(proxy.Port());
  const std::string gbk = "\xD6\xD0\xCE\xC4\xE9\x46";
  const std::string binary("\0\xFF\x80x", 4);
  const std::string equiv = "<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; charset=gb2312\">";
  const QString form = " CONTENT-TYPE:application/x-www-form-urlencoded";
  const struct {
    Route route;
    QVariant result;
    int kind = qm::kHttpText;
    QString method = "get", headers = {};
    QVariant body = {};
    QString proxy = {};
  } rows[] = {
      {{}, "GET  |" + form, 1, "", {}, "x", "127.0.0.1"},   // no method word: GET, no body; a proxy
                                                            // text without a colon: no proxy
      {{}, "GET  | X-Only:1", 1, "GeT", "X-Only: 1", "x"},  // any case; the lines given only
      {{}, "GET  | Referer:h/a X-E:", 1, "get", "Referer: h/a: b\r\nNone\r\nX-T:1\r\nX-E: "},
      {{}, "POST a=1&b=2 |" + form + " Content-Length:7", 1, "post", {}, QByteArray("a=1&b=2")},
      {{},  // text as UTF-8; curl's own form type with lines given
       "POST 中 | X:1 Content-Length:3 Content-Type:application/x-www-form-urlencoded",
       1,
       "Post",
       "X: 1",
       "中"},
      {{}, "POST  |" + form + " Content-Length:0", 1, "PUT", {}, "x"},  // other words: no body
      {Ok("", {}, 403), "refused", 1, "get", {}, {}, via},              // a proxy named
      {Ok("<h1>Gone</h1>", {}, 404), "<h1>Gone</h1>"},                  // an error page, whole
      {Ok(binary, {}, 500), QByteArray::fromStdString(binary), qm::kHttpBytes},
      {Ok("x"), QVariant(), 7},  // other kinds: nothing
      {Ok(gbk + "\x80QAB"), "中文镕?AB", qm::kHttpGbkText},
      {Ok("AB\xC4"), "Error:The body ends inside a double-byte character|errNum:1003", 3},
      {Ok(equiv + gbk), QString::fromStdString(equiv + "中文镕")},  // GB2312 read as GB18030
      {Ok("<meta charset=utf-8>" + gbk, {"Content-Type: a; charset=\"GBK\""}),
       "<meta charset=utf-8>中文镕"},  // the header before the page's own
      {Ok("\xEF\xBB\xBF<meta charset=gbk>中"), "<meta charset=gbk>中"},  // BOM before meta
      {Ok(std::string("\xFF\xFE\x41\0\x2D\x4E", 6)), "A中"},
      {Ok("<meta charset=utf-16>中"), "<meta charset=utf-16>中"},  // readable: not UTF-16
      {{}, "Error:Invalid request header \"Bad Name\"|errNum:1002", 1, "get", "Bad Name: x"},
      {{}, "Error:Invalid request header \"X-A\"|errNum:1002", 1, "get", "X-A: a\rb"},
      {{}, "Error:Invalid request header \"X-A\"|errNum:1002", 1, "get", "X-A: a\nb"},
      {{},
       "Error:Invalid request header \"X-A\"|errNum:1002",
       1,
       "get",
       QString::fromUtf8("X-A: a\0b", 8)}};
  ::setenv("http_proxy", "http://" + via.toLatin1(), 1);
  for (const auto& row : rows) {
    server.ServeFn("/", [&](const RecordedRequest& r) {
      std::string echo = r.method + " " + r.body + " |";
      for (const auto& [name, value] : r.headers)
        if (name != "Host" && name != "User-Agent" && name != "Accept")
          echo += " " + name + ":" + value;
      return row.route.body.empty() ? Ok(echo) : row.route;
    });
    const Request call(server.Url("/"), row.kind, row.method, row.headers, row.body, row.proxy);
    const std::string name = row.result.toString().toStdString();
    EXPECT_EQ(call.result, row.result) << name << " <- " << call.Text().toStdString();
    const bool failed = name.starts_with("Error:");
    EXPECT_EQ(call.status, failed ? -1 : row.route.status) << name;
    EXPECT_EQ(call.headers == "kept", failed) << name;
    EXPECT_EQ(call.final == "kept", failed) << name;
  }
  ::unsetenv("http_proxy");
}

TEST(HttpRequest, RedirectsKeepOnlyTheFinalAnswerAtMostTenNeverDownToHttp) {
  LoopbackServer server, secure(LoopbackServer::Scheme::Https);
  const std::string final = server.Url("/final?q=1");
  server.Serve("/first", Ok("moved", {"Location: /second", "X-First: 1"}, 302));
  server.Serve("/second", Ok("", {"location: " + final}, 301));
  server.Serve("/final", Ok("arrived", {"X-Final-CASE: Yes"}, 203));
  server.Serve("/loop", Ok("", {"Location: /loop"}, 302));
  secure.Serve("/down", Ok("", {"Location: " + final}, 302));
  const Request moved(server.Url("/first"));
  EXPECT_EQ(moved.result, "arrived");
  EXPECT_EQ(moved.headers, "X-Final-CASE: Yes\r\nContent-Length: 7\r\n");
  EXPECT_EQ(moved.status, 203);
  EXPECT_EQ(moved.final.toStdString(), final);
  // Not redirected: the address as given, though it was sent escaped.
  EXPECT_EQ(Request(final + " 中").final.toStdString(), final + " 中");
  server.ClearRequests();
  EXPECT_TRUE(Request(server.Url("/loop")).Text().endsWith("|errNum:47"));
  EXPECT_EQ(server.RequestCount(), 11u);  // the first request and ten redirects
  EXPECT_TRUE(Request(secure.Url("/down")).Text().endsWith("|errNum:1"));
}

// The connect time-out ends a TLS handshake never answered (a plain server
// waits for a request head); the stall time-out a server that answers nothing.
TEST(HttpRequest, TimeOutsEndTheRequestInTime) {
  LoopbackServer server;
  server.Serve("/slow", Ok("late", {}, 200, 20000));
  const qm::HttpTimeouts saved = qm::GetHttpTimeouts();
  const struct {
    std::string address;
    qm::HttpTimeouts timeouts;
    bool stalled;
  } rows[] = {{"https://127.0.0.1:" + std::to_string(server.Port()), {300ms, 20s}, false},
              {server.Url("/slow"), {20s, 300ms}, true}};
  for (const auto& row : rows) {
    qm::SetHttpTimeouts(row.timeouts);
    const Request r(row.address);
    EXPECT_TRUE(r.Text().endsWith("|errNum:28")) << r.Text().toStdString();
    EXPECT_EQ(r.Text().contains("nothing received for 300 ms"), row.stalled) << row.stalled;
    EXPECT_GE(r.took, 250ms) << row.stalled;
    EXPECT_LT(r.took, 10s) << row.stalled;
  }
  qm::SetHttpTimeouts(saved);
}

// The wait on a thread with a yield hook runs the hook, and a request from
// inside the hook completes without disturbing the outer one.
TEST(HttpRequest, WaitRunsTheYieldHookWhichMayRequestToo) {
  LoopbackServer server;
  server.Serve("/outer", Ok("outer", {}, 200, 300));
  server.Serve("/inner", Ok("inner"));
  QVariant inner;
  qm::SetYieldHook([&] {
    if (!inner.isValid()) inner = Request(server.Url("/inner")).result;
  });
  const Request outer(server.Url("/outer"));
  qm::SetYieldHook({});
  EXPECT_EQ(outer.result, "outer");
  EXPECT_EQ(inner, "inner");
}

// Each answer is held until every thread's request has come in: requests
// made one after another get "alone" once the deadline has passed.
TEST(HttpRequest, ThreadsRunTheirOwnRequestsAtOnce) {
  constexpr int kThreads = 8;
  std::atomic<int> arrived{0}, good{0};
  const auto deadline = Clock::now() + 30s;
  LoopbackServer server;
  server.ServeFn("/n", [&](const RecordedRequest& r) {
    ++arrived;
    while (arrived < kThreads && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return Ok(arrived == kThreads ? r.target : "alone");
  });
  std::vector<std::jthread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, path = "/n?" + std::to_string(t)] {
      good += Request(server.Url(path)).result == QString::fromStdString(path);
    });
  threads.clear();  // joins them
  EXPECT_EQ(good.load(), kThreads);
}

// Option 2 names the certificate errors to ignore: the server's certificate
// is self-signed (unknown authority, 0x0100) for another name (0x1000).
TEST(HttpComponent, ChecksCertificatesUnlessToldToIgnoreTheirErrors) {
  LoopbackServer secure(LoopbackServer::Scheme::Https);
  secure.Serve("/c", Ok("component", {}, 201));
  const std::pair<int, int> rows[] = {{0x0100, 0}, {0x1000, 0}, {0x1100, 201}};
  for (const auto& [ignore, status] : rows) {
    qm::HttpComponent http;
    http.setoption(2, ignore);
    http.open("GET", QString::fromStdString(secure.Url("/c")));
    http.send();
    EXPECT_EQ(http.Status(), status) << ignore;
  }
}

}  // namespace
