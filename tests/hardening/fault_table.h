#pragma once
// One table of what a server or the network can throw at the three users of
// the HTTP client: a crawl step fetching pages, the crawler's workers saving
// pictures, and qmdown. Each faulty address is followed by a good one, which
// must still be handled after it.
#include <gtest/gtest.h>

#include "support/test_util.h"

namespace qmtest::hard {

namespace fs = std::filesystem;

struct Fault {
  const char* name;
  // P: the page is analysed; W: a worker saves the picture (min 0 bytes); D:
  // qmdown saves it (min 1024 bytes); S: a stall, left out of qmdown's run,
  // which has the full time-outs; T: over TLS.
  const char* expect;
  std::function<void(Route&)> wire = {};                 // how the answer goes wrong
  std::function<std::string(std::string)> content = {};  // what is sent instead
  bool Has(char c) const { return std::strchr(expect, c) != nullptr; }
};

inline const std::vector<Fault> kFaults = {
    {"reset_mid_body", "", [](Route& r) { r.cutAfter = r.body.size() / 2; }},
    {"stall", "S", [](Route& r) { r.delayMs = 40000; }},
    {"no_length_header", "PW", [](Route& r) { r.noContentLength = true; }},
    {"status_400_with_body", "P", [](Route& r) { r.status = 400; }},  // no picture
    {"self_signed_certificate", "PWDT"},
    {"body_of_50_mb", "PWD", {}, [](std::string s) { return s + std::string(50u << 20, 'z'); }},
    {"binary_garbage", "PWD", {}, [](std::string s) { return Garbage(9000, 7) + s; }},
    {"truncated_gbk", "PWD",
     [](Route& r) { r.headerLines = {"Content-Type: text/html; charset=gbk"}; },
     [](std::string s) { return qm::ToGbk(Q(s)).toStdString() + "\xD6"; }},
};

inline std::size_t Hash(const std::string& bytes) { return std::hash<std::string>{}(bytes); }

// Serves `body` at /f/NAME as the row answers it and returns its address.
inline std::string Place(const Fault& f, const std::string& body, LoopbackServer& plain,
                         LoopbackServer& tls) {
  const std::string path = "/f/" + std::string(f.name);
  LoopbackServer& server = f.Has('T') ? tls : plain;
  Route r = Html(f.content ? f.content(body) : body);
  if (f.wire) f.wire(r);
  server.Serve(path, r);
  return server.Url(path);
}

// The list of every row's picture, each followed by a good one, and last a
// hostile address: steps up out of the folder, shell syntax, and the later
// fields of qmdown's command line in its name.
struct PictureTable {
  LoopbackServer plain, tls{LoopbackServer::Scheme::Https};
  TempDir root;
  std::string save = root.File("save"), list;
  const std::string hostile = "$(touch qmpwn);`touch qmpwn`&s=.&min=99999999&url=x.jpg";
  std::map<std::string, std::size_t> expected;  // name -> hash of the bytes

  explicit PictureTable(char who) {
    fs::create_directory(save);
    unsigned seed = 0;
    for (const Fault& f : kFaults) {
      if (who == 'D' && f.Has('S')) continue;
      const std::string body = Garbage(5000, ++seed), good = std::string(f.name) + "-next";
      list += Place(f, body, plain, tls) + "\"" + plain.Url("/g/" + good) + "\"";
      const std::string bytes = Garbage(2000, 500 + seed);
      plain.Serve("/g/" + good, Reply(bytes));
      expected[good] = Hash(bytes);
      if (f.Has(who)) expected[f.name] = Hash(f.content ? f.content(body) : body);
    }
    plain.Serve("*", Reply(Garbage(3000, 77)));
    expected[hostile] = Hash(Garbage(3000, 77));
    list += plain.Url("/f/../../" + hostile);
  }

  // Every file whole, nothing temporary, nothing outside the folder.
  void Check() {
    std::map<std::string, std::size_t> saved;
    for (const std::string& name : ListFolder(save))
      saved[name] = Hash(ReadWhole(save + "/" + name));
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(ListFolder(root.Path()), std::set<std::string>{"save"});
  }
};

}  // namespace qmtest::hard
