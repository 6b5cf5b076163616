#pragma once
// One table of what a server, the network or a hostile site can throw at the
// three users of the HTTP client: a crawl step fetching pages, the crawler's
// workers saving pictures, and qmdown. Each row is followed by a good page or
// picture, which must still be handled after it.
#include <gtest/gtest.h>

#include <map>

#include "support/test_util.h"
#include "web/gbk.h"

namespace qmtest::hard {

namespace fs = std::filesystem;
inline const std::string kMarker = "qmpwn";         // what a name run by a shell would create
inline const std::string kAny = Garbage(3000, 77);  // the answer to every hostile address

struct Fault {
  const char* name;
  // P: the page is analysed; W: a worker saves the picture (min 0 bytes);
  // D: qmdown saves it (min 1024 bytes); -: too slow for qmdown's full time-outs.
  const char* expect;
  std::string file;                                      // a hostile address's last part
  std::function<void(Route&)> wire = {};                 // how the answer goes wrong
  std::function<std::string(std::string)> content = {};  // what is sent instead
  enum { kPlain, kTls, kClosed } where = kPlain;
  bool Has(char c) const { return std::strchr(expect, c) != nullptr; }
};

inline void Longer(Route& r, bool closed) {
  r.headerLines.push_back("Content-Length: " + std::to_string(r.body.size() + 4096));
  if (closed) r.cutAfter = r.body.size();
}

inline void Chunked(Route& r) {  // two chunks, an extension, a trailer
  auto hex = [](std::size_t n) { return QByteArray::number(qulonglong{n}, 16).toStdString(); };
  const std::string a = r.body.substr(0, r.body.size() / 2), b = r.body.substr(a.size());
  r.body = hex(a.size()) + ";x=1\r\n" + a + "\r\n" + hex(b.size()) + "\r\n" + b +
           "\r\n0\r\nX: 1\r\n\r\n";
  r.headerLines.push_back("Transfer-Encoding: chunked");
}

inline std::string Huge(std::string s) { return s + std::string(50u << 20, 'z'); }
inline std::string InGarbage(std::string s) { return Garbage(20000, 7) + s + Garbage(20000, 8); }
inline std::string InvalidUtf8(std::string s) {
  return "\xC3(\x80\xC0\xAF" + s.insert(s.size() / 2, "\xED\xA0\x80\xFF") + "\xF4\x90";
}

inline const std::vector<Fault> kFaults = {
    {"refused", "", "", {}, {}, Fault::kClosed},
    {"reset_mid_body", "", "", [](Route& r) { r.cutAfter = r.body.size() / 2; }},
    {"stall", "-", "", [](Route& r) { r.delayMs = 15000; }},
    {"declared_longer_then_closed", "", "", [](Route& r) { Longer(r, true); }},
    {"declared_longer_kept_open", "-", "", [](Route& r) { Longer(r, false); }},
    {"lower_case_length", "PW", "", [](Route& r) { r.lowerCaseLength = true; }},
    {"no_length_header", "PW", "", [](Route& r) { r.noContentLength = true; }},
    {"chunked", "PW", "", Chunked},
    {"redirect_loop", "", "",
     [](Route& r) { r.status = 302, r.headerLines.push_back("Location: /f/redirect_loop"); }},
    // A status of 400 or above is no picture, whatever its body.
    {"status_400_with_body", "P", "", [](Route& r) { r.status = 400; }},
    {"status_500_with_body", "P", "", [](Route& r) { r.status = 500; }},
    {"self_signed_certificate", "PWD", "", {}, {}, Fault::kTls},
    {"body_of_50_mb", "PWD", "", {}, Huge},
    {"binary_garbage", "PWD", "", {}, InGarbage},
    {"invalid_utf8", "PWD", "", {}, InvalidUtf8},
    {"truncated_gbk", "PWD", "",
     [](Route& r) { r.headerLines = {"Content-Type: text/html; charset=gbk"}; },
     [](std::string s) { return qm::ToGbk(Q(s)).toStdString() + "\xD6"; }},
    // Hostile addresses: saved inside the save folder under their last part, or not at all.
    {"shell_syntax", "WD", "$(touch " + kMarker + ");`touch " + kMarker + "`|a&&b.jpg"},
    {"dot_dot_steps", "WD", "../../up.jpg"},
    {"dot_dot_alone", "", ".."},
    {"control_characters", "WD", "ctl\r\n\t\x01\x1b[31m\x7f.jpg"},
    {"address_of_10000_chars", "WD", std::string(10000, 'd') + "/long.jpg"},
    {"name_too_long_for_a_file", "", std::string(300, 'n') + ".jpg"},
    // Links in the save folder: never written through, a prefixed name beside them.
    {"name_of_a_link", "", "link.jpg"},
    {"name_of_a_dangling_link", "", "gone.jpg"},
};

// Serves `body` at /f/NAME as the row answers it and returns its address.
inline std::string Place(const Fault& f, const std::string& body, LoopbackServer& plain,
                         LoopbackServer& tls) {
  const std::string path = "/f/" + (f.file.empty() ? std::string(f.name) : f.file);
  if (f.where == Fault::kClosed) return "http://127.0.0.1:" + std::to_string(ClosedPort()) + path;
  LoopbackServer& server = f.where == Fault::kTls ? tls : plain;
  Route r = Html(f.content ? f.content(body) : body);
  if (f.wire) f.wire(r);
  if (f.file.empty()) server.Serve(path, r);
  return server.Url(path);
}

// A save folder holding a link to a file beside it and a dangling link, and
// the list of every row's picture, each followed by a good one.
struct PictureTable {
  LoopbackServer plain, tls{LoopbackServer::Scheme::Https};
  TempDir root;
  std::string save = root.File("save"), list;
  std::map<std::string, std::string> expected{{"link.jpg", "keep"}, {"gone.jpg", ""}};

  explicit PictureTable(char who) {
    fs::create_directory(save);
    WriteWhole(root.File("outside.txt"), "keep");
    fs::create_symlink(root.File("outside.txt"), save + "/link.jpg");
    fs::create_symlink(root.File("missing.txt"), save + "/gone.jpg");
    plain.Serve("*", Reply(kAny));
    unsigned seed = 0;
    for (const Fault& f : kFaults) {
      if (who == 'D' && f.Has('-')) continue;
      const std::string body = Garbage(5000, ++seed), good = "/g/" + std::string(f.name) + "-next";
      list += Place(f, body, plain, tls) + "\"" + plain.Url(good) + "\"";
      plain.Serve(good, Reply(expected[good.substr(3)] = Garbage(2000, 500 + seed)));
      if (f.Has(who) && f.file.empty()) expected[f.name] = f.content ? f.content(body) : body;
      if (f.Has(who) && !f.file.empty()) expected[f.file.substr(f.file.rfind('/') + 1)] = kAny;
    }
  }

  // Every file whole, nothing temporary, nothing outside the folder or through a link.
  void Check() {
    std::set<std::string> files = ListFolder(save), names;
    for (const std::string& name : files)
      if (IsPrefixed(name, "link.jpg") || IsPrefixed(name, "gone.jpg")) names.insert(name);
    for (const std::string& name : names) EXPECT_TRUE(ReadWhole(save + "/" + name) == kAny) << name;
    EXPECT_EQ(names.size(), 2u);
    for (const auto& [name, bytes] : expected)
      EXPECT_TRUE(names.insert(name).second && ReadWhole(save + "/" + name) == bytes) << name;
    EXPECT_EQ(files, names);
    EXPECT_EQ(ListFolder(root.Path()), (std::set<std::string>{"save", "outside.txt"}));
    EXPECT_FALSE(fs::exists(kMarker));
  }
};

}  // namespace qmtest::hard
