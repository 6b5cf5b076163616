#pragma once
// The faults a server or the network can throw at a page fetch or an image
// download, each as a route of a loopback server (or a place nothing listens
// on), with what the crawler is to make of it.
#include <functional>
#include <ostream>

#include "hardening_util.h"
#include "web/gbk.h"

namespace qmtest::hard {

// Where a fault is served.
enum class Where {
  kPlain,   // the plain loopback server
  kTls,     // the HTTPS loopback server (self-signed certificate, wrong host name)
  kClosed,  // a loopback port nothing listens on
};

inline constexpr int kStallMs = 2000;         // the shortened stall time-out
inline constexpr int kServerStallMs = 15000;  // how long a stalling server keeps quiet

struct FaultCase {
  FaultCase(std::string name, Route route, bool ok = false, std::int32_t minBytes = 1024,
            Where where = Where::kPlain, std::string saved = {},
            std::function<void(Route&)> lazy = {})
      : name(std::move(name)),
        route(std::move(route)),
        ok(ok),
        minBytes(minBytes),
        where(where),
        saved(std::move(saved)),
        lazy(std::move(lazy)) {}

  std::string name;
  Route route;
  bool ok;                // a page: analysed; an image: saved
  std::int32_t minBytes;  // the size bound an image is downloaded with
  Where where;
  std::string saved;  // a saved image's bytes where they are not the route's body
  // Fills in a body too large to be made for every case at start-up.
  std::function<void(Route&)> lazy;

  Route Prepared() const {
    Route r = route;
    if (lazy) lazy(r);
    return r;
  }
  std::string SavedBytes() const { return saved.empty() ? Prepared().body : saved; }
};

// Test names print a case by its name.
inline void PrintTo(const FaultCase& fault, std::ostream* os) { *os << fault.name; }

// The address of a fault: its route served at `path` on the server it
// belongs to, or a port nothing listens on.
inline std::string PlaceFault(Where where, const Route& route, const std::string& path,
                              LoopbackServer& plain, LoopbackServer& tls) {
  if (where == Where::kClosed) return "http://127.0.0.1:" + std::to_string(ClosedPort()) + path;
  LoopbackServer& server = where == Where::kTls ? tls : plain;
  server.Serve(path, route);
  return server.Url(path);
}

// A page that passes every gate of the analysis (long enough, the keyword in
// its title) and shows one image and one link, both near its start.
inline std::string FaultPage(std::size_t filler = 6000) {
  return "<html><head><title>图片 fault</title></head><body><img src='/faultimg.jpg'>"
         "<a href='/faultlink.html'>on</a><p>" +
         std::string(filler, 'x') + "</p></body></html>";
}

inline std::string Gbk(const std::string& utf8) { return qm::ToGbk(Q(utf8)).toStdString(); }

inline Route Typed(const std::string& body, const std::string& contentType) {
  Route r = Reply(body);
  r.headerLines = {"Content-Type: " + contentType};
  return r;
}

// Invalid UTF-8 before every tag and every 997 bytes: a broken two-byte
// sequence, a stray continuation byte, an overlong slash, an encoded
// surrogate, a byte that never occurs.
inline std::string WithInvalidUtf8(const std::string& text) {
  const std::string bad[] = {"\xC3(", "\x80", "\xC0\xAF", "\xED\xA0\x80", "\xFF", "\xF4\x90"};
  std::string out;
  std::size_t k = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<' || (i % 997) == 0) out += bad[k++ % std::size(bad)];
    out += text[i];
  }
  return out;
}

// The ways of answering that both users of the client meet, made from a good answer.
inline Route Cut(Route r, std::size_t at) {
  r.cutAfter = static_cast<long>(at);
  return r;
}
inline Route Stalled(Route r) {
  r.delayMs = kServerStallMs;
  return r;
}
inline Route WithStatus(Route r, int status) {
  r.status = status;
  return r;
}
inline Route RedirectTo(const std::string& location) {
  Route r = WithStatus(Reply("again"), 302);
  r.headerLines = {"Location: " + location};
  return r;
}
// A length declared 4096 bytes longer than the body, the connection then closed or kept open.
inline Route DeclaredLonger(Route r, bool closed) {
  r.headerLines.push_back("Content-Length: " + std::to_string(r.body.size() + 4096));
  if (closed) r.cutAfter = static_cast<long>(r.body.size());
  return r;
}
inline Route LowerCase(Route r, std::vector<std::string> headerLines) {
  r.headerLines = std::move(headerLines);
  r.lowerCaseLength = true;
  return r;
}
inline Route NoLength(Route r) {
  r.noContentLength = true;
  return r;
}

inline std::vector<FaultCase> PageCases() {
  const std::string page = FaultPage();
  const Route good = Typed(page, "text/html; charset=utf-8");
  // Random bytes with the markers of a page somewhere inside.
  const std::string garbage =
      Garbage(20000, 7) + "\n<title>图片 junk</title>\n" + Garbage(20000, 8) +
      "\n<img src='/faultimg.jpg'>\n<a href='/faultlink.html'>x</a>\n" + Garbage(20000, 9);
  return {
      {"refused", {}, false, 0, Where::kClosed},
      {"reset_mid_body", Cut(good, page.size() / 2)},
      {"stall", Stalled(good)},
      {"status_404_with_page", WithStatus(good, 404), true},
      {"status_500_short_body",
       WithStatus(Typed("<html><title>图片</title><body>Internal error</body></html>",
                        "text/html; charset=utf-8"),
                  500)},
      {"redirect_loop", RedirectTo("/fault.html")},
      {"declared_longer_then_closed", DeclaredLonger(good, true)},
      {"declared_longer_kept_open", DeclaredLonger(good, false)},
      {"lower_case_headers",
       LowerCase(Reply(Gbk(page)), {"content-type: text/html; charset=gbk", "x-powered-by: lower"}),
       true},
      {"no_length_header", NoLength(good), true},
      {"chunked", ChunkedRoute(page, "text/html; charset=utf-8"), true},
      {"self_signed_certificate", good, true, 0, Where::kTls},
      {"page_of_50_mb",
       good,
       true,
       0,
       Where::kPlain,
       {},
       [](Route& r) { r.body = FaultPage(50u << 20); }},
      {"binary_garbage", Typed(garbage, "application/octet-stream"), true},
      {"invalid_utf8", Typed(WithInvalidUtf8(page), "text/html; charset=utf-8"), true},
      {"truncated_gbk", Typed(Gbk(page) + "\xD6", "text/html; charset=gbk"), true},
  };
}

inline std::vector<FaultCase> ImageCases() {
  const std::string body = Garbage(200000, 1);
  const Route good = Typed(body, "image/jpeg");
  const Route lower = LowerCase(good, {"content-type: image/jpeg"});
  const Route chunked = ChunkedRoute(body, "image/jpeg");
  std::vector<FaultCase> cases = {
      {"refused", {}, false, 1024, Where::kClosed},
      {"reset_mid_body", Cut(good, 50000), false, 0},
      {"stall", Stalled(good), false, 0},
      {"status_404_with_body", WithStatus(Typed(Garbage(4096, 2), "image/jpeg"), 404), false},
      {"status_500_short_body",
       WithStatus(Typed("<html>Internal error</html>", "image/jpeg"), 500)},
      {"redirect_loop", RedirectTo("/img/fault.jpg"), false, 0},
      {"declared_longer_then_closed", DeclaredLonger(good, true), false, 0},
      {"declared_longer_kept_open", DeclaredLonger(good, false), false, 0},
      {"lower_case_length_min_1024", lower},
      {"lower_case_length_min_0", lower, true, 0},
      {"no_length_header_min_1024", NoLength(good)},
      {"no_length_header_min_0", NoLength(good), true, 0},
      {"chunked_min_1024", chunked},
      {"chunked_min_0", chunked, true, 0, Where::kPlain, body},
      {"self_signed_certificate", good, true, 1024, Where::kTls},
      {"image_of_50_mb",
       good,
       true,
       1024,
       Where::kPlain,
       {},
       [](Route& r) { r.body = Garbage(50u << 20, 3); }},
      {"binary_with_nul_bytes", Typed(std::string(3000, '\0') + Garbage(3000, 4), "image/jpeg"),
       true},
      {"invalid_utf8_bytes", Typed(WithInvalidUtf8(std::string(5000, 'u')), "image/jpeg"), true},
      {"truncated_gbk_bytes", Typed(Gbk(std::string(3000, 'g') + "图片") + "\xD6", "image/jpeg"),
       true},
  };
  // Length headers that are no length: a failure, or (too large for any
  // count, or the same length twice) the body read to the end of the
  // connection and saved whole.
  for (const auto& [what, length, saved] :
       {std::tuple{"letters", "abc", false}, std::tuple{"negative", "-5", false},
        std::tuple{"huge", "99999999999999999999999", true},
        std::tuple{"twice", "5000, 5000", true}}) {
    Route r = Cut(Typed(Garbage(5000, 6), "image/jpeg"), 5000);
    r.headerLines.push_back(std::string("Content-Length: ") + length);
    cases.push_back({std::string("odd_length_") + what, r, saved});
  }
  return cases;
}

}  // namespace qmtest::hard
