#pragma once
// A loopback site whose addresses carry shell syntax, path steps, control
// characters and overlong names, and the checks that none of it escapes: no
// command ran (the marker file it would make never appears), nothing was
// written outside the places the programs own.
#include <unistd.h>

#include <QString>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "crawl/crawl_fixture.h"
#include "hardening_util.h"

namespace qmtest::hard {

// The file a command smuggled into an address would create. Lower case: page
// analysis lower-cases every address.
inline std::string Marker() { return "qmpwn" + std::to_string(::getpid()); }

// Base names of addresses, each a way to run `touch <marker>` if it ever
// reached a shell (a tab between the words: page analysis drops links with
// blanks, and lower-cases everything).
inline std::vector<std::string> ShellNames(const std::string& ext) {
  const std::string t = "touch\t" + Marker();
  return {"$(" + t + ")" + ext, "a;" + t + ";" + ext, "`" + t + "`" + ext, "a|" + t + "|" + ext,
          "a&&" + t + "&&" + ext};
}

// The site: "/" shows hostile links and images; every other address answers
// with the server's short 404 page (statuses are not looked at, so with a
// minimum of 0 that page is saved as the image).
class HostileSite {
 public:
  HostileSite() {
    std::string body;
    for (const std::string& name : ShellNames(".html")) body += "<a href='/" + name + "'>l</a>\n";
    for (const std::string& name : ShellNames(".jpg")) body += "<img src='/img/" + name + "'>\n";
    body +=
        "<a href='/../../up.html'>l</a><a href='/./dot.html'>l</a>\n"
        "<a href=\"/back\\slash.html\">l</a><a href='/ctl\x01\x1b.html'>l</a>\n"
        "<a href='/" +
        std::string(10000, 'p') +
        ".html'>l</a>\n"
        "<img src='/img/..'><img src='/img/.'><img src='/img/../../up.jpg'>\n"
        "<img src=\"/img/..\\..\\esc.jpg\"><img src='/img/ctl\t\x01\x1b[31m.jpg'>\n"
        "<img src='/img/" +
        std::string(300, 'n') + ".jpg'>\n<img src='/img/" + std::string(10000, 'd') +
        "/long.jpg'>\n";
    server_.Serve("/", HtmlRoute(LongPage(body, "<title>hostile</title>")));
  }

  static Route HtmlRoute(const std::string& body) {
    Route r;
    r.headerLines = {"Content-Type: text/html; charset=utf-8"};
    r.body = body;
    return r;
  }

  LoopbackServer& Server() { return server_; }
  QString Start() const { return Q(server_.Url("/")); }

  // Start addresses with apostrophes and backslashes, and one good line.
  QString StartLines() const {
    const std::string base = server_.Url("/");
    return Q(base + "it's\\odd.html\r\n" + base + "'; touch " + Marker() + "; '\r\n" + base +
             "a\\'b\\\\c\r\n" + base);
  }

  // The names under which the site's images are saved (lower-cased by the
  // analysis), for a minimum of 0: every allowed base name, literally.
  static std::vector<std::string> SavedNames() {
    std::vector<std::string> names;
    for (const std::string& name : ShellNames(".jpg")) names.push_back(name);
    names.push_back("up.jpg");
    names.push_back("..\\..\\esc.jpg");
    names.push_back("ctl\t\x01\x1b[31m.jpg");
    names.push_back("long.jpg");
    return names;
  }

 private:
  LoopbackServer server_;
};

// Waits, at the end of its scope, until the engine's download workers have
// ended: they use the engine's state, which must outlive them even when a
// test fails half-way. Declare it after the engine.
class WorkerGuard {
 public:
  explicit WorkerGuard(qm::CrawlEngine& engine) : engine_(engine) {}
  ~WorkerGuard() {
    PollUntil(
        [this] {
          std::lock_guard<std::mutex> guard(engine_.Downloads().lock);
          return engine_.Downloads().ThreadCount == 0;
        },
        180);
  }
  WorkerGuard(const WorkerGuard&) = delete;
  WorkerGuard& operator=(const WorkerGuard&) = delete;

 private:
  qm::CrawlEngine& engine_;
};

// Fails the test when a file named `Marker()` exists in the temporary tree
// or in the working folder.
inline void ExpectNoMarker() {
  for (const std::string& root : {std::filesystem::temp_directory_path().string(),
                                  std::filesystem::current_path().string()}) {
    const std::vector<std::string> found = FindNamed(root, Marker());
    EXPECT_TRUE(found.empty()) << found.front();
  }
}

// Fails the test for every change below `root` outside `allowed`.
inline void ExpectChangesOnlyIn(const std::string& root,
                                const std::map<std::string, std::string>& before,
                                const std::vector<std::string>& allowed) {
  for (const std::string& path : Changes(before, Snapshot(root)))
    EXPECT_TRUE(Inside(path, allowed)) << root << ": " << path << " changed";
}

}  // namespace qmtest::hard
