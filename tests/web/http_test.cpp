#include "web/http.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <atomic>
#include <thread>
#include <vector>

#include "support/loopback_server.h"
#include "web/yield.h"

using qmtest::ForwardProxy;
using qmtest::LoopbackServer;
using qmtest::Route;

namespace {

// "中文标题" and "你好" in GBK.
const std::string kGbkTitle = "\xD6\xD0\xCE\xC4\xB1\xEA\xCC\xE2";
const std::string kGbkHello = "\xC4\xE3\xBA\xC3";

Route Ok(std::string body, std::vector<std::string> headerLines = {}) {
  Route r;
  r.body = std::move(body);
  r.headerLines = std::move(headerLines);
  return r;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct Call {
  QVariant result;
  QString headers;
};

Call Request(const std::string& url, int kind, const QString& method = QStringLiteral("get"),
             const QString& requestHeaders = {}, const QVariant& body = {},
             const QString& proxy = {}, const QString& previousHeaders = {}) {
  Call c;
  c.headers = previousHeaders;
  c.result = qm::HttpRequest(Q(url), kind, requestHeaders, body, method, c.headers, proxy);
  return c;
}

bool IsFailure(const QVariant& v) {
  return v.typeId() == QMetaType::QString && v.toString().startsWith(QStringLiteral("Error:")) &&
         v.toString().contains(QStringLiteral("|errNum:"));
}

// Shortens the client's time-outs for one test and restores them afterwards.
class TimeoutGuard {
 public:
  explicit TimeoutGuard(std::chrono::milliseconds stall) : saved_(qm::GetHttpTimeouts()) {
    qm::HttpTimeouts t = saved_;
    t.stall = stall;
    qm::SetHttpTimeouts(t);
  }
  ~TimeoutGuard() { qm::SetHttpTimeouts(saved_); }

 private:
  qm::HttpTimeouts saved_;
};

class YieldHookGuard {
 public:
  explicit YieldHookGuard(qm::YieldHook hook) { qm::SetYieldHook(std::move(hook)); }
  ~YieldHookGuard() { qm::SetYieldHook({}); }
};

TEST(HttpRequest, EmptyAndGetMethodsSendGetWithoutBody) {
  LoopbackServer server;
  server.Serve("/page", Ok("hello"));
  for (const QString& method : {QString(), QStringLiteral("get"), QStringLiteral("GeT")}) {
    Call c = Request(server.Url("/page"), qm::kHttpText, method, {},
                     QVariant(QByteArrayLiteral("ignored body")));
    EXPECT_EQ(c.result.toString(), QStringLiteral("hello"));
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/page");
    EXPECT_TRUE(r.body.empty());
    EXPECT_FALSE(r.HasHeader("Content-Length"));
    EXPECT_FALSE(r.HasHeader("Accept-Encoding"));
    EXPECT_FALSE(r.HasHeader("Expect"));
  }
}

TEST(HttpRequest, EmptyHeaderBlockSendsFormContentTypeAsSpelled) {
  LoopbackServer server;
  server.Serve("/", Ok("x"));
  Request(server.Url("/"), qm::kHttpText);
  Request(server.Url("/"), qm::kHttpText, QStringLiteral("get"), QStringLiteral("X-Only: 1"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  int found = 0;
  for (const auto& [name, value] : requests[0].headers) {
    if (name == "CONTENT-TYPE") {
      ++found;
      EXPECT_EQ(value, "application/x-www-form-urlencoded");
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_FALSE(requests[1].HasHeader("Content-Type"));
  EXPECT_EQ(requests[1].Header("X-Only"), "1");
}

TEST(HttpRequest, HeaderLinesAreSplitAtColonBlank) {
  LoopbackServer server;
  server.Serve("/", Ok("x"));
  const QString block = QStringLiteral(
      "Referer: http://127.0.0.1/a: tail\r\nNoSeparatorHere\r\nX-Tight:novalue\r\n"
      "X-Case-Kept: Two Words\r\nX-Empty: ");
  Call c = Request(server.Url("/"), qm::kHttpText, QStringLiteral("get"), block);
  EXPECT_EQ(c.result.toString(), QStringLiteral("x"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  // Only the text between the first and second ": " is the value.
  EXPECT_EQ(r.Header("Referer"), "http://127.0.0.1/a");
  EXPECT_FALSE(r.HasHeader("NoSeparatorHere"));
  EXPECT_FALSE(r.HasHeader("X-Tight"));
  EXPECT_TRUE(r.HasHeader("X-Empty"));
  EXPECT_EQ(r.Header("X-Empty"), "");
  bool caseKept = false;
  for (const auto& [name, value] : r.headers)
    if (name == "X-Case-Kept" && value == "Two Words") caseKept = true;
  EXPECT_TRUE(caseKept);
  EXPECT_FALSE(r.HasHeader("CONTENT-TYPE"));
}

TEST(HttpRequest, HeaderNameThatIsNoTokenFailsWithoutSending) {
  LoopbackServer server;
  server.Serve("/", Ok("x"));
  QString headers = QStringLiteral("kept");
  Call c = Request(server.Url("/"), qm::kHttpText, QStringLiteral("get"),
                   QStringLiteral("Bad Name: x"), {}, {}, headers);
  EXPECT_TRUE(IsFailure(c.result)) << c.result.toString().toStdString();
  EXPECT_EQ(c.headers, headers);
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(HttpRequest, ProxyUsedOnlyWhenTextHoldsColon) {
  LoopbackServer server;
  server.Serve("/p", Ok("through"));
  ForwardProxy proxy;

  Call direct = Request(server.Url("/p"), qm::kHttpText, QStringLiteral("get"), {}, {},
                        QStringLiteral("127.0.0.1"));
  EXPECT_EQ(direct.result.toString(), QStringLiteral("through"));
  EXPECT_EQ(proxy.RequestCount(), 0u);

  Call proxied =
      Request(server.Url("/p"), qm::kHttpText, QStringLiteral("get"), {}, {}, Q(proxy.HostPort()));
  EXPECT_EQ(proxied.result.toString(), QStringLiteral("through"));
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(proxy.Targets()[0], server.Url("/p"));
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(HttpRequest, HttpsThroughProxyIsTunnelled) {
  LoopbackServer server(LoopbackServer::Scheme::Https);
  server.Serve("/s", Ok("secret"));
  ForwardProxy proxy;
  Call c =
      Request(server.Url("/s"), qm::kHttpText, QStringLiteral("get"), {}, {}, Q(proxy.HostPort()));
  EXPECT_EQ(c.result.toString(), QStringLiteral("secret"));
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(proxy.Targets()[0], "127.0.0.1:" + std::to_string(server.Port()));
}

TEST(HttpRequest, RefusingProxyGivesItsAnswerOrAFailure) {
  LoopbackServer server;
  server.Serve("/p", Ok("never"));
  ForwardProxy proxy(/*refuse=*/true);
  // A refused plain request: the proxy's 403 page is the answer.
  Call plain =
      Request(server.Url("/p"), qm::kHttpText, QStringLiteral("get"), {}, {}, Q(proxy.HostPort()));
  EXPECT_FALSE(IsFailure(plain.result));
  EXPECT_NE(plain.result.toString(), QStringLiteral("never"));
  // A refused tunnel: no answer at all.
  LoopbackServer secure(LoopbackServer::Scheme::Https);
  Call tunnel = Request(secure.Url("/p"), qm::kHttpText, QStringLiteral("get"), {}, {},
                        Q(proxy.HostPort()), QStringLiteral("before"));
  EXPECT_TRUE(IsFailure(tunnel.result));
  EXPECT_EQ(tunnel.headers, QStringLiteral("before"));
  EXPECT_EQ(server.RequestCount() + secure.RequestCount(), 0u);
}

TEST(HttpRequest, ErrorStatusBodyComesBackWhole) {
  LoopbackServer server;
  const std::string page =
      "<html><body><h1>Missing</h1>" + std::string(3000, 'm') + "</body></html>";
  Route r = Ok(page, {"Content-Type: text/html"});
  r.status = 404;
  server.Serve("/missing", r);
  Route e = Ok("boom");
  e.status = 500;
  server.Serve("/error", e);
  Call c = Request(server.Url("/missing"), qm::kHttpText);
  EXPECT_EQ(c.result.toString(), Q(page));
  EXPECT_EQ(
      c.headers,
      Q("Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) + "\r\n"));
  EXPECT_EQ(Request(server.Url("/error"), qm::kHttpBytes).result.toByteArray(),
            QByteArrayLiteral("boom"));
}

TEST(HttpRequest, SelfSignedWrongNameCertificateIsAccepted) {
  LoopbackServer server(LoopbackServer::Scheme::Https);
  server.Serve("/img", Ok(std::string("\x89PNG\r\n\x1a\n\0\0", 10)));
  Call c = Request(server.Url("/img"), qm::kHttpBytes);
  EXPECT_EQ(c.result.toByteArray(), QByteArray("\x89PNG\r\n\x1a\n\0\0", 10));
  EXPECT_TRUE(c.headers.contains(QStringLiteral("Content-Length: 10\r\n")));
}

TEST(HttpRequest, RedirectsAreFollowedAndOnlyFinalHeadersKept) {
  LoopbackServer server;
  Route first;
  first.status = 302;
  first.headerLines = {"Location: /second", "X-First: 1"};
  first.body = "moved";
  server.Serve("/first", first);
  Route second;
  second.status = 301;
  second.headerLines = {"location: " + server.Url("/final?q=1")};
  server.Serve("/second", second);
  server.Serve("/final", Ok("arrived", {"X-Final-CASE: Yes", "content-type: text/plain"}));

  Call c = Request(server.Url("/first"), qm::kHttpText);
  EXPECT_EQ(c.result.toString(), QStringLiteral("arrived"));
  EXPECT_EQ(
      c.headers,
      QStringLiteral("X-Final-CASE: Yes\r\ncontent-type: text/plain\r\nContent-Length: 7\r\n"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].target, "/final?q=1");
}

TEST(HttpRequest, RedirectLimitsHold) {
  LoopbackServer server;
  Route loop;
  loop.status = 302;
  loop.headerLines = {"Location: /loop"};
  server.Serve("/loop", loop);
  Call looping = Request(server.Url("/loop"), qm::kHttpText, QStringLiteral("get"), {}, {}, {},
                         QStringLiteral("old"));
  EXPECT_TRUE(IsFailure(looping.result));
  EXPECT_EQ(looping.headers, QStringLiteral("old"));
  EXPECT_EQ(server.RequestCount(), 11u);  // the first request and ten redirects

  // Never from https down to http.
  LoopbackServer secure(LoopbackServer::Scheme::Https);
  Route down;
  down.status = 302;
  down.headerLines = {"Location: " + server.Url("/plain")};
  secure.Serve("/down", down);
  server.Serve("/plain", Ok("plain"));
  server.ClearRequests();
  Call downgraded = Request(secure.Url("/down"), qm::kHttpText);
  EXPECT_TRUE(IsFailure(downgraded.result));
  EXPECT_EQ(server.RequestCount(), 0u);

  // Up from http to https is fine.
  Route up;
  up.status = 302;
  up.headerLines = {"Location: " + secure.Url("/safe")};
  server.Serve("/up", up);
  secure.Serve("/safe", Ok("safe"));
  EXPECT_EQ(Request(server.Url("/up"), qm::kHttpText).result.toString(), QStringLiteral("safe"));
}

TEST(HttpRequest, UnreachableAddressGivesFailureTextAndKeepsHeaders) {
  const QString before = QStringLiteral("Content-Length: 99\r\n");
  const std::string url = "http://127.0.0.1:" + std::to_string(qmtest::ClosedPort()) + "/x";
  for (int kind : {int(qm::kHttpText), int(qm::kHttpBytes), int(qm::kHttpGbkText), 7}) {
    Call c = Request(url, kind, QStringLiteral("get"), {}, {}, {}, before);
    ASSERT_EQ(c.result.typeId(), QMetaType::QString);
    const QString text = c.result.toString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Error:"))) << text.toStdString();
    const qsizetype at = text.indexOf(QStringLiteral("|errNum:"));
    ASSERT_GT(at, 6);
    bool numeric = false;
    const int number = text.mid(at + 8).toInt(&numeric);
    EXPECT_TRUE(numeric);
    EXPECT_NE(number, 0);
    EXPECT_EQ(c.headers, before);
  }
}

TEST(HttpRequest, OnlyHttpAndHttpsAddressesAreFetched) {
  for (const char* address : {"file:///etc/hostname", "ftp://127.0.0.1/x", "127.0.0.1/x", ""}) {
    Call c =
        Request(address, qm::kHttpText, QStringLiteral("get"), {}, {}, {}, QStringLiteral("same"));
    EXPECT_TRUE(IsFailure(c.result)) << address;
    EXPECT_EQ(c.headers, QStringLiteral("same"));
  }
}

TEST(HttpRequest, ResultKinds) {
  LoopbackServer server;
  const std::string binary("\0\x01\xFF\xFE\x80text", 9);
  server.Serve("/bin", Ok(binary));
  server.Serve("/gbk", Ok(kGbkHello + "AB"));
  server.Serve("/dangling", Ok("AB\xC4"));

  Call bytes = Request(server.Url("/bin"), qm::kHttpBytes);
  EXPECT_EQ(bytes.result.typeId(), QMetaType::QByteArray);
  EXPECT_EQ(bytes.result.toByteArray(), QByteArray(binary.data(), 9));

  Call gbk = Request(server.Url("/gbk"), qm::kHttpGbkText);
  EXPECT_EQ(gbk.result.toString(), QString::fromUtf8("你好AB"));

  Call other = Request(server.Url("/gbk"), 0);
  EXPECT_FALSE(other.result.isValid());
  EXPECT_TRUE(other.headers.contains(QStringLiteral("Content-Length: 6")));

  // A lead byte as the last byte of the body: the request fails.
  Call dangling = Request(server.Url("/dangling"), qm::kHttpGbkText);
  EXPECT_TRUE(IsFailure(dangling.result)) << dangling.result.toString().toStdString();
}

TEST(BytesToText, DoubleByteRule) {
  QString text;
  ASSERT_TRUE(qm::BytesToText(QByteArrayLiteral("AB"), text));
  EXPECT_EQ(text, QStringLiteral("AB"));
  ASSERT_TRUE(qm::BytesToText(QByteArray(), text));
  EXPECT_TRUE(text.isEmpty());
  // "镕" lies outside GB2312 but inside GBK; its trail byte is an ASCII letter.
  ASSERT_TRUE(qm::BytesToText(QByteArray("a\xE9\x46z"), text));
  EXPECT_EQ(text, QString::fromUtf8("a镕z"));
  // Every pair is one character, even one that is no GBK code.
  ASSERT_TRUE(qm::BytesToText(QByteArray("\x80\x41x"), text));
  EXPECT_EQ(text.size(), 2);
  EXPECT_EQ(text.back(), u'x');
  EXPECT_FALSE(qm::BytesToText(QByteArray("\xC4\xE3\xBA"), text));
  EXPECT_FALSE(qm::BytesToText(QByteArray("\xFF"), text));
}

TEST(HttpRequest, TextKindFollowsTheDeclaredCharset) {
  LoopbackServer server;
  const std::string metaPage = "<html><head><meta charset=\"gbk\"><title>" + kGbkTitle +
                               "</title></head><body>\xE9\x46</body></html>";
  server.Serve("/meta", Ok(metaPage, {"Content-Type: text/html"}));
  const std::string equivPage =
      "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=gb2312\">"
      "<title>" +
      kGbkTitle + "</title></head></html>";
  server.Serve("/equiv", Ok(equivPage));
  // The header's charset wins over the page's own.
  server.Serve("/header", Ok("<meta charset=\"utf-8\">" + kGbkHello,
                             {"Content-Type: text/html; charset=GBK"}));
  server.Serve("/utf8", Ok("<p>\xE4\xBD\xA0\xE5\xA5\xBD</p>", {"Content-Type: text/html"}));
  server.Serve("/bom", Ok("\xEF\xBB\xBF\xE4\xBD\xA0<meta charset=gbk>"));

  const QString meta = Request(server.Url("/meta"), qm::kHttpText).result.toString();
  EXPECT_TRUE(meta.contains(QString::fromUtf8("<title>中文标题</title>"))) << meta.toStdString();
  EXPECT_TRUE(meta.contains(QString::fromUtf8("<body>镕</body>")));
  const QString equiv = Request(server.Url("/equiv"), qm::kHttpText).result.toString();
  EXPECT_TRUE(equiv.contains(QString::fromUtf8("<title>中文标题</title>"))) << equiv.toStdString();
  EXPECT_EQ(Request(server.Url("/header"), qm::kHttpText).result.toString(),
            QString::fromUtf8("<meta charset=\"utf-8\">你好"));
  EXPECT_EQ(Request(server.Url("/utf8"), qm::kHttpText).result.toString(),
            QString::fromUtf8("<p>你好</p>"));
  EXPECT_EQ(Request(server.Url("/bom"), qm::kHttpText).result.toString(),
            QString::fromUtf8("你<meta charset=gbk>"));
}

TEST(HttpRequest, BodyCutShortFailsWhileUnannouncedLengthReadsToClose) {
  LoopbackServer server;
  Route cut = Ok(std::string(20000, 'c'));
  cut.cutAfter = 7000;
  server.Serve("/cut", cut);
  Route open = Ok(std::string(20000, 'o'));
  open.noContentLength = true;
  server.Serve("/open", open);
  Route lower = Ok("lower");
  lower.lowerCaseLength = true;
  server.Serve("/lower", lower);

  Call c = Request(server.Url("/cut"), qm::kHttpBytes, QStringLiteral("get"), {}, {}, {},
                   QStringLiteral("untouched"));
  EXPECT_TRUE(IsFailure(c.result));
  EXPECT_EQ(c.headers, QStringLiteral("untouched"));

  Call o = Request(server.Url("/open"), qm::kHttpBytes);
  EXPECT_EQ(o.result.toByteArray().size(), 20000);
  EXPECT_EQ(o.headers, QString());

  Call l = Request(server.Url("/lower"), qm::kHttpText);
  EXPECT_EQ(l.result.toString(), QStringLiteral("lower"));
  EXPECT_EQ(l.headers, QStringLiteral("content-length: 5\r\n"));
}

TEST(HttpRequest, StallBeyondTimeoutFails) {
  TimeoutGuard guard(std::chrono::milliseconds(300));
  LoopbackServer server;
  Route slow = Ok("late");
  slow.delayMs = 20000;
  server.Serve("/slow", slow);
  const auto start = std::chrono::steady_clock::now();
  Call c = Request(server.Url("/slow"), qm::kHttpText, QStringLiteral("get"), {}, {}, {},
                   QStringLiteral("h"));
  EXPECT_TRUE(IsFailure(c.result));
  EXPECT_TRUE(c.result.toString().endsWith(QStringLiteral("|errNum:28")))
      << c.result.toString().toStdString();
  EXPECT_EQ(c.headers, QStringLiteral("h"));
  // Well before the server would have answered.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(HttpRequest, WaitRunsTheYieldHook) {
  LoopbackServer server;
  Route delayed = Ok("done");
  delayed.delayMs = 400;
  server.Serve("/delayed", delayed);
  int calls = 0;
  YieldHookGuard hook([&] { ++calls; });
  Call c = Request(server.Url("/delayed"), qm::kHttpText);
  EXPECT_EQ(c.result.toString(), QStringLiteral("done"));
  EXPECT_GT(calls, 1);
}

TEST(HttpRequest, RequestInsideTheYieldHookUsesItsOwnHandle) {
  LoopbackServer server;
  Route outer = Ok(std::string(50000, 'O'));
  outer.delayMs = 300;
  server.Serve("/outer", outer);
  server.Serve("/inner", Ok("inner"));
  int nested = 0;
  QVariant innerResult;
  YieldHookGuard hook([&] {
    if (nested++ == 0) {
      QString headers;
      innerResult = qm::HttpRequest(Q(server.Url("/inner")), qm::kHttpText, {}, {},
                                    QStringLiteral("get"), headers, {});
    }
  });
  Call c = Request(server.Url("/outer"), qm::kHttpBytes);
  EXPECT_EQ(c.result.toByteArray(), QByteArray(50000, 'O'));
  EXPECT_EQ(innerResult.toString(), QStringLiteral("inner"));
  // The thread's handle is free again afterwards.
  EXPECT_EQ(Request(server.Url("/inner"), qm::kHttpText).result.toString(),
            QStringLiteral("inner"));
}

TEST(HttpRequest, PostSendsItsBody) {
  LoopbackServer server;
  server.ServeFn("/form", [](const qmtest::RecordedRequest& r) { return Ok("got:" + r.body); });
  Call bytes = Request(server.Url("/form"), qm::kHttpText, QStringLiteral("post"), {},
                       QVariant(QByteArrayLiteral("a=1&b=2")));
  EXPECT_EQ(bytes.result.toString(), QStringLiteral("got:a=1&b=2"));
  Call text =
      Request(server.Url("/form"), qm::kHttpText, QStringLiteral("POST"),
              QStringLiteral("Content-Type: text/plain"), QVariant(QString::fromUtf8("名字")));
  EXPECT_EQ(text.result.toString(), QString::fromUtf8("got:名字"));
  Call empty = Request(server.Url("/form"), qm::kHttpText, QStringLiteral("Post"));
  EXPECT_EQ(empty.result.toString(), QStringLiteral("got:"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[1].Header("Content-Type"), "text/plain");
  EXPECT_EQ(requests[1].body, "\xE5\x90\x8D\xE5\xAD\x97");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].Header("Content-Length"), "0");
}

TEST(HttpRequest, OtherMethodWordStillEnds) {
  LoopbackServer server;
  server.Serve("/", Ok("answered"));
  Call c = Request(server.Url("/"), qm::kHttpText, QStringLiteral("PUT"), {},
                   QVariant(QByteArrayLiteral("not sent")));
  EXPECT_EQ(c.result.toString(), QStringLiteral("answered"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_TRUE(requests[0].body.empty());
}

TEST(HttpRequest, ThreadsRunTheirOwnRequests) {
  LoopbackServer server;
  server.ServeFn("/n", [](const qmtest::RecordedRequest& r) { return Ok(r.target); });
  const std::string big(2 * 1024 * 1024 + 17, 'b');
  server.Serve("/big", Ok(big));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i) {
        const std::string path = "/n?t=" + std::to_string(t) + "&i=" + std::to_string(i);
        QString headers;
        QVariant v = qm::HttpRequest(Q(server.Url(path)), qm::kHttpText, {}, {},
                                     QStringLiteral("get"), headers, {});
        if (v.toString() == Q(path)) ++good;
      }
      QString headers;
      QVariant v = qm::HttpRequest(Q(server.Url("/big")), qm::kHttpBytes, {}, {},
                                   QStringLiteral("get"), headers, {});
      if (v.toByteArray().size() == static_cast<qsizetype>(big.size())) ++good;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 4 * 9);
}

TEST(HttpComponent, ReportsStateAndErrors) {
  LoopbackServer server;
  server.Serve("/c", Ok("component", {"X-A: 1"}));
  qm::HttpComponent http;
  EXPECT_EQ(http.ReadyState(), 0);
  EXPECT_FALSE(http.send());
  EXPECT_NE(http.errorNumber(), 0);
  EXPECT_FALSE(http.errorMessage().isEmpty());

  http.setoption(2, 0x3300);
  http.open(QStringLiteral("GET"), Q(server.Url("/c")));
  EXPECT_EQ(http.ReadyState(), 1);
  ASSERT_TRUE(http.send());
  EXPECT_EQ(http.ReadyState(), 4);
  EXPECT_EQ(http.Responsetext(), QStringLiteral("component"));
  EXPECT_EQ(http.responseBody(), QByteArrayLiteral("component"));
  EXPECT_EQ(http.getAllResponseHeaders(), QStringLiteral("X-A: 1\r\nContent-Length: 9\r\n"));

  // Without the option, the self-signed certificate is refused.
  LoopbackServer secure(LoopbackServer::Scheme::Https);
  secure.Serve("/c", Ok("x"));
  qm::HttpComponent strict;
  strict.open(QStringLiteral("GET"), Q(secure.Url("/c")));
  EXPECT_FALSE(strict.send());
  EXPECT_FALSE(strict.errorMessage().isEmpty());
  EXPECT_EQ(strict.ReadyState(), 1);
}

}  // namespace
