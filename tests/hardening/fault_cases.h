#pragma once
// The faults a server or the network can throw at a page fetch or an image
// download, each as a route of a loopback server (or a place nothing listens
// on), with what the crawler is to make of it.
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "hardening_util.h"
#include "support/loopback_server.h"
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

// A page that passes every gate of the analysis (long enough, the keyword in
// its title) and shows one image and one link, both near its start.
inline std::string FaultPage(std::size_t filler = 6000) {
  std::string page =
      "<html><head><title>图片 fault</title></head><body>"
      "<img src='/faultimg.jpg'><a href='/faultlink.html'>on</a><p>";
  page.append(filler, 'x');
  return page + "</p></body></html>";
}

inline std::string Gbk(const std::string& utf8) {
  return qm::ToGbk(QString::fromStdString(utf8)).toStdString();
}

inline Route HtmlRoute(const std::string& body, const std::string& charset = "utf-8") {
  Route r;
  r.headerLines = {"Content-Type: text/html; charset=" + charset};
  r.body = body;
  return r;
}

struct PageCase {
  std::string name;
  Where where = Where::kPlain;
  Route route;
  bool analysed = false;  // whether the page's image and link come out of the analysis
  // Fills in a body too large to be made for every case at start-up.
  std::function<void(Route&)> lazy;

  Route Prepared() const {
    Route r = route;
    if (lazy) lazy(r);
    return r;
  }
};

// Invalid UTF-8 before, inside and after the markers: a broken two-byte
// sequence, a stray continuation byte, an overlong slash, an encoded
// surrogate, a byte that never occurs.
inline std::string WithInvalidUtf8(std::string page) {
  const std::string bad[] = {"\xC3(", "\x80", "\xC0\xAF", "\xED\xA0\x80", "\xFF", "\xF4\x90"};
  std::string out;
  std::size_t k = 0;
  for (std::size_t i = 0; i < page.size(); ++i) {
    if (page[i] == '<' || (i % 997) == 0) out += bad[k++ % std::size(bad)];
    out += page[i];
  }
  return out;
}

// Random bytes with the markers of a page somewhere inside.
inline std::string GarbageWithMarkers() {
  return Garbage(20000, 7) + "\n<title>图片 junk</title>\n" + Garbage(20000, 8) +
         "\n<img src='/faultimg.jpg'>\n<a href='/faultlink.html'>x</a>\n" + Garbage(20000, 9);
}

inline std::vector<PageCase> PageCases() {
  std::vector<PageCase> cases;
  auto add = [&](std::string name, Route route, bool analysed, Where where = Where::kPlain) {
    cases.push_back({std::move(name), where, std::move(route), analysed, {}});
  };
  const std::string page = FaultPage();

  add("refused", Route{}, false, Where::kClosed);

  Route reset = HtmlRoute(page);
  reset.cutAfter = static_cast<long>(page.size() / 2);
  add("reset_mid_body", reset, false);

  Route stall = HtmlRoute(page);
  stall.delayMs = kServerStallMs;
  add("stall", stall, false);

  Route notFound = HtmlRoute(page);
  notFound.status = 404;
  add("status_404_with_page", notFound, true);

  Route error = HtmlRoute("<html><title>图片</title><body>Internal error</body></html>");
  error.status = 500;
  add("status_500_short_body", error, false);

  Route loop;
  loop.status = 302;
  loop.headerLines = {"Location: /fault.html"};
  loop.body = "again";
  add("redirect_loop", loop, false);

  Route longerClosed = HtmlRoute(page);
  longerClosed.headerLines.push_back("Content-Length: " + std::to_string(page.size() + 4096));
  longerClosed.cutAfter = static_cast<long>(page.size());
  add("declared_longer_then_closed", longerClosed, false);

  Route longerOpen = HtmlRoute(page);
  longerOpen.headerLines.push_back("Content-Length: " + std::to_string(page.size() + 4096));
  add("declared_longer_kept_open", longerOpen, false);

  Route lower;
  lower.headerLines = {"content-type: text/html; charset=gbk", "x-powered-by: lower"};
  lower.lowerCaseLength = true;
  lower.body = Gbk(page);
  add("lower_case_headers", lower, true);

  Route noLength = HtmlRoute(page);
  noLength.noContentLength = true;
  add("no_length_header", noLength, true);

  add("chunked", ChunkedRoute(page, "text/html; charset=utf-8"), true);

  add("self_signed_certificate", HtmlRoute(page), true, Where::kTls);

  add("page_of_50_mb", HtmlRoute(std::string()), true);
  cases.back().lazy = [](Route& r) { r.body = FaultPage(50u << 20); };

  Route garbage;
  garbage.headerLines = {"Content-Type: application/octet-stream"};
  garbage.body = GarbageWithMarkers();
  add("binary_garbage", garbage, true);

  add("invalid_utf8", HtmlRoute(WithInvalidUtf8(page)), true);

  add("truncated_gbk", HtmlRoute(Gbk(page) + "\xD6", "gbk"), true);
  return cases;
}

struct ImageCase {
  std::string name;
  Where where = Where::kPlain;
  Route route;
  std::int32_t minBytes = 1024;
  bool saved = false;
  std::string savedBytes;  // the file's content when saved
  // Fills in a body too large to be made for every case at start-up (it is
  // then also the content when saved).
  std::function<void(Route&)> lazy;

  Route Prepared() const {
    Route r = route;
    if (lazy) lazy(r);
    return r;
  }
  std::string SavedBytes() const { return lazy ? Prepared().body : savedBytes; }
};

inline std::vector<ImageCase> ImageCases() {
  std::vector<ImageCase> cases;
  auto add = [&](std::string name, Route route, std::int32_t min, bool saved,
                 Where where = Where::kPlain) {
    std::string bytes = saved ? route.body : std::string();
    cases.push_back({std::move(name), where, std::move(route), min, saved, std::move(bytes), {}});
  };
  auto image = [](const std::string& body) {
    Route r;
    r.headerLines = {"Content-Type: image/jpeg"};
    r.body = body;
    return r;
  };
  const std::string body = Garbage(200000, 1);

  add("refused", Route{}, 1024, false, Where::kClosed);

  Route reset = image(body);
  reset.cutAfter = 50000;
  add("reset_mid_body", reset, 0, false);

  Route stall = image(body);
  stall.delayMs = kServerStallMs;
  add("stall", stall, 0, false);

  Route notFound = image(Garbage(4096, 2));
  notFound.status = 404;
  add("status_404_with_body", notFound, 1024, true);

  Route error = image("<html>Internal error</html>");
  error.status = 500;
  add("status_500_short_body", error, 1024, false);

  Route loop;
  loop.status = 302;
  loop.headerLines = {"Location: /img/fault.jpg"};
  loop.body = "again";
  add("redirect_loop", loop, 0, false);

  Route longerClosed = image(body);
  longerClosed.headerLines.push_back("Content-Length: " + std::to_string(body.size() + 4096));
  longerClosed.cutAfter = static_cast<long>(body.size());
  add("declared_longer_then_closed", longerClosed, 0, false);

  Route longerOpen = image(body);
  longerOpen.headerLines.push_back("Content-Length: " + std::to_string(body.size() + 4096));
  add("declared_longer_kept_open", longerOpen, 0, false);

  Route lower = image(body);
  lower.headerLines = {"content-type: image/jpeg"};
  lower.lowerCaseLength = true;
  add("lower_case_length_min_1024", lower, 1024, false);
  add("lower_case_length_min_0", lower, 0, true);

  Route noLength = image(body);
  noLength.noContentLength = true;
  add("no_length_header_min_1024", noLength, 1024, false);
  add("no_length_header_min_0", noLength, 0, true);

  add("chunked_min_1024", ChunkedRoute(body, "image/jpeg"), 1024, false);
  {
    ImageCase chunked{
        "chunked_min_0", Where::kPlain, ChunkedRoute(body, "image/jpeg"), 0, true, body, {}};
    cases.push_back(chunked);
  }

  // Length headers that are no length: a failure, or (too large for any
  // count, or the same length twice) the body read to the end of the
  // connection and saved whole.
  struct Odd {
    const char* what;
    const char* length;
    bool saved;
  };
  for (const Odd& odd :
       {Odd{"letters", "abc", false}, Odd{"negative", "-5", false},
        Odd{"huge", "99999999999999999999999", true}, Odd{"twice", "5000, 5000", true}}) {
    Route r = image(Garbage(5000, 6));
    r.headerLines.push_back(std::string("Content-Length: ") + odd.length);
    r.cutAfter = 5000;
    add(std::string("odd_length_") + odd.what, r, 1024, odd.saved);
  }

  add("self_signed_certificate", image(body), 1024, true, Where::kTls);

  add("image_of_50_mb", image(std::string()), 1024, true);
  cases.back().lazy = [](Route& r) { r.body = Garbage(50u << 20, 3); };

  add("binary_with_nul_bytes", image(std::string(3000, '\0') + Garbage(3000, 4)), 1024, true);

  add("invalid_utf8_bytes", image(WithInvalidUtf8(std::string(5000, 'u'))), 1024, true);

  add("truncated_gbk_bytes", image(Gbk(std::string(3000, 'g') + "图片") + "\xD6"), 1024, true);
  return cases;
}

}  // namespace qmtest::hard
