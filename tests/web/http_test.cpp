// The HTTP client against loopback servers.
#include "web/http.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "support/loopback_server.h"
#include "web/yield.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

qmtest::Route Ok(std::string body, std::vector<std::string> h = {}, int status = 200, int ms = 0) {
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

// One request a row, with the environment naming a proxy that refuses all.
// A route without a body echoes the request: method, body, then every header
// but Host, User-Agent and Accept as " name:value". A status of -1: the
// request fails, leaving headers, status and final address as they were
// (the error's message is left out here).
TEST(HttpRequest, AnswersByMethodKindCharsetAndProxy) {
  qmtest::LoopbackServer server;
  server.Serve("/cut", {200, {}, {}, std::string(20000, 'c'), 0, 7000});
  qmtest::ForwardProxy proxy(true);
  const QString via = "127.0.0.1:" + QString::number(proxy.Port());
  const std::string gbk = "\xD6\xD0\xCE\xC4\xE9\x46";
  const std::string binary("\0\xFF\x80x", 4);
  const std::string equiv = "<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; charset=gb2312\">";
  const QString form = " CONTENT-TYPE:application/x-www-form-urlencoded";
  const qmtest::Route fails = Ok("", {}, -1);
  const struct {
    const char* name;
    qmtest::Route route;
    QVariant result;
    int kind = qm::kHttpText;
    QString method = "get", headers = {};
    QVariant body = {};
    QString proxy = {};
    std::string address = {};  // empty: the server's "/"
  } rows[] = {
      {"no method word: GET, body not sent", {}, "GET  |" + form, 1, "", {}, "x"},
      {"get in any case, the lines given only", {}, "GET  | X-Only:1", 1, "GeT", "X-Only: 1", "x"},
      {"lines split at \": \"",
       {},
       "GET  | Referer:h/a X-E:",
       1,
       "get",
       "Referer: h/a: b\r\nNone\r\nX-T:1\r\nX-E: "},
      {"post bytes",
       {},
       "POST a=1&b=2 |" + form + " Content-Length:7",
       1,
       "post",
       {},
       QByteArray("a=1&b=2")},
      {"post text as UTF-8",
       {},
       "POST 中 | X:1 Content-Length:3 Content-Type:application/x-www-form-urlencoded",
       1,
       "Post",
       "X: 1",
       "中"},
      {"other word: POST without its body",
       {},
       "POST  |" + form + " Content-Length:0",
       1,
       "PUT",
       {},
       "x"},
      {"proxy text without a colon: none", {}, "GET  |" + form, 1, "get", {}, {}, "127.0.0.1"},
      {"proxy named", Ok("", {}, 403), "refused", 1, "get", {}, {}, via},
      {"error page, whole", Ok("<h1>Gone</h1>", {}, 404), "<h1>Gone</h1>"},
      {"bytes", Ok(binary, {}, 500), QByteArray::fromStdString(binary), qm::kHttpBytes},
      {"other kind: nothing", Ok("x"), QVariant(), 7},
      {"double-byte text", Ok(gbk + "\x80QAB"), "中文镕?AB", qm::kHttpGbkText},
      {"double-byte text, a lead byte last", Ok("AB\xC4"), "Error:|errNum:1003", 3},
      {"meta gb2312, a GBK-only letter", Ok(equiv + gbk), QString::fromStdString(equiv + "中文镕")},
      {"header before meta", Ok("<meta charset=utf-8>" + gbk, {"Content-Type: a; charset=\"GBK\""}),
       "<meta charset=utf-8>中文镕"},
      {"BOM before meta", Ok("\xEF\xBB\xBF<meta charset=gbk>中"), "<meta charset=gbk>中"},
      {"UTF-16 BOM", Ok(std::string("\xFF\xFE\x41\0\x2D\x4E", 6)), "A中"},
      {"meta UTF-16 read as UTF-8", Ok("<meta charset=utf-16>中"), "<meta charset=utf-16>中"},
      {"UTF-8 without a charset", Ok("中", {"Content-Type: text/html"}), "中"},
      {"header name with a blank", fails, "Error:|errNum:1002", 1, "get", "Bad Name: x"},
      {"CR in a header value", fails, "Error:|errNum:1002", 1, "get", "X-A: a\rb"},
      {"LF in a header value", fails, "Error:|errNum:1002", 1, "get", "X-A: a\nb"},
      {"NUL in a header value", fails, "Error:|errNum:1002", 1, "get",
       QString::fromUtf8("X-A: a\0b", 8)},
      {"body cut short", fails, "Error:|errNum:18", 2, "get", {}, {}, {}, server.Url("/cut")},
      {"not http", fails, "Error:|errNum:3", 2, "get", {}, {}, {}, "file:///etc/hostname"},
      {"closed port",
       fails,
       "Error:|errNum:7",
       2,
       "get",
       {},
       {},
       {},
       "http://127.0.0.1:" + std::to_string(qmtest::ClosedPort())}};
  ::setenv("http_proxy", "http://" + via.toLatin1(), 1);
  for (const auto& row : rows) {
    server.ServeFn("/", [&](const qmtest::RecordedRequest& r) {
      std::string echo = r.method + " " + r.body + " |";
      for (const auto& [name, value] : r.headers)
        if (name != "Host" && name != "User-Agent" && name != "Accept")
          echo += " " + name + ":" + value;
      return row.route.body.empty() ? Ok(echo) : row.route;
    });
    const Request call(row.address.empty() ? server.Url("/") : row.address, row.kind, row.method,
                       row.headers, row.body, row.proxy);
    QString shown = call.Text();
    shown.replace(QRegularExpression("^Error:.*\\|"), "Error:|");
    EXPECT_EQ(call.result.typeId() == QMetaType::QString ? shown : call.result, row.result)
        << row.name << ": " << shown.toStdString();
    EXPECT_EQ(call.status, row.route.status) << row.name;
    EXPECT_EQ(call.headers == "kept", row.route.status == -1) << row.name;
    EXPECT_EQ(call.final == "kept", row.route.status == -1) << row.name;
  }
  ::unsetenv("http_proxy");
}

TEST(HttpRequest, RedirectsKeepOnlyTheFinalAnswerAtMostTenNeverDownToHttp) {
  qmtest::LoopbackServer server, secure(qmtest::LoopbackServer::Scheme::Https);
  server.Serve("/first", Ok("moved", {"Location: /second", "X-First: 1"}, 302));
  server.Serve("/second", Ok("", {"location: " + server.Url("/final?q=1")}, 301));
  server.Serve("/final", Ok("arrived", {"X-Final-CASE: Yes"}, 203));
  server.Serve("/loop", Ok("", {"Location: /loop"}, 302));
  server.Serve("/up", Ok("", {"Location: " + secure.Url("/final")}, 302));
  secure.Serve("/final", Ok("safe"));
  secure.Serve("/down", Ok("", {"Location: " + server.Url("/final")}, 302));
  const Request moved(server.Url("/first"));
  EXPECT_EQ(moved.result, "arrived");
  EXPECT_EQ(moved.headers, "X-Final-CASE: Yes\r\nContent-Length: 7\r\n");
  EXPECT_EQ(moved.status, 203);
  EXPECT_EQ(moved.final, QString::fromStdString(server.Url("/final?q=1")));
  const Request up(server.Url("/up"));
  EXPECT_EQ(up.result, "safe");
  EXPECT_EQ(up.final, QString::fromStdString(secure.Url("/final")));
  // Not redirected: the address as given, though it was sent escaped.
  const QString spaced = QString::fromStdString(server.Url("/final?q=")) + " 中";
  server.ClearRequests();
  EXPECT_EQ(Request(spaced.toStdString()).final, spaced);
  EXPECT_EQ(server.Requests().at(0).target, "/final?q=%20%E4%B8%AD");
  server.ClearRequests();
  EXPECT_TRUE(Request(server.Url("/loop")).Text().endsWith("|errNum:47"));
  EXPECT_EQ(server.RequestCount(), 11u);  // the first request and ten redirects
  EXPECT_TRUE(Request(secure.Url("/down")).Text().endsWith("|errNum:1"));
  EXPECT_EQ(server.RequestCount(), 11u);
}

// The connect time-out ends a connection never answered (a listener whose
// queue is full); the stall time-out a server that answers nothing.
TEST(HttpRequest, TimeOutsEndTheRequestInTime) {
  const int port = qmtest::ClosedPort();
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{AF_INET, htons(static_cast<in_port_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  auto* address = reinterpret_cast<sockaddr*>(&at);
  ASSERT_EQ(::bind(listener, address, sizeof at), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(queued.back(), address, sizeof at);
  }
  qmtest::LoopbackServer server;
  server.Serve("/slow", Ok("late", {}, 200, 20000));
  const qm::HttpTimeouts saved = qm::GetHttpTimeouts();
  const struct {
    std::string address;
    qm::HttpTimeouts timeouts;
    bool stalled;
  } rows[] = {{"http://127.0.0.1:" + std::to_string(port), {300ms, 20s}, false},
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
  for (const int fd : queued) ::close(fd);
  ::close(listener);
}

// The wait on a thread with a yield hook runs the hook, and a request from
// inside the hook completes without disturbing the outer one.
TEST(HttpRequest, WaitRunsTheYieldHookWhichMayRequestToo) {
  qmtest::LoopbackServer server;
  server.Serve("/outer", Ok(std::string(50000, 'O'), {}, 200, 300));
  server.Serve("/inner", Ok("inner"));
  QVariant inner;
  qm::SetYieldHook([&] {
    if (!inner.isValid()) inner = Request(server.Url("/inner")).result;
  });
  const Request outer(server.Url("/outer"), qm::kHttpBytes);
  qm::SetYieldHook({});
  EXPECT_EQ(outer.result, QByteArray(50000, 'O'));
  EXPECT_EQ(inner, "inner");
}

// Each answer is held until every thread's request has come in: requests
// made one after another get "alone" once the deadline has passed.
TEST(HttpRequest, ThreadsRunTheirOwnRequestsAtOnce) {
  constexpr int kThreads = 8;
  std::atomic<int> arrived{0}, good{0};
  const auto deadline = Clock::now() + 30s;
  qmtest::LoopbackServer server;
  server.ServeFn("/n", [&](const qmtest::RecordedRequest& r) {
    ++arrived;
    while (arrived < kThreads && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return Ok(arrived == kThreads ? r.target : "alone");
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, path = "/n?" + std::to_string(t)] {
      good += Request(server.Url(path)).result == QString::fromStdString(path);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), kThreads);
}

// Option 2 names the certificate errors to ignore: the server's certificate
// is self-signed (unknown authority, 0x0100) for another name (0x1000).
TEST(HttpComponent, ChecksCertificatesUnlessToldToIgnoreTheirErrors) {
  qmtest::LoopbackServer secure(qmtest::LoopbackServer::Scheme::Https);
  secure.Serve("/c", Ok("component", {}, 201));
  const QString address = QString::fromStdString(secure.Url("/c"));
  const std::pair<int, int> rows[] = {{0, 0}, {0x0100, 0}, {0x1000, 0}, {0x1100, 201}};
  for (const auto& [ignore, status] : rows) {
    qm::HttpComponent http;
    http.setoption(2, ignore);
    http.open("GET", address);
    EXPECT_EQ(http.send(), status != 0) << ignore;
    EXPECT_EQ(http.Status(), status) << ignore;
    EXPECT_EQ(http.FinalAddress(), status ? address : "") << ignore;
  }
}

}  // namespace
