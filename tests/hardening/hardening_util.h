#pragma once
// Helpers of the hardening tests: shortened client time-outs, bodies in the
// chunked coding, a small file system that runs full, a loopback site whose
// addresses carry shell syntax, path steps, control characters and overlong
// names, and the checks that none of it escapes: no command ran (the marker
// file it would make never appears), nothing was written outside the places
// the programs own.
#include <sys/mount.h>
#include <unistd.h>

#include <map>

#include "support/test_util.h"
#include "web/http.h"

namespace qmtest::hard {

// Shortens the HTTP client's time-outs for the scope and restores the earlier
// ones at its end.
class TimeoutScope {
 public:
  TimeoutScope(int connectMs, int stallMs) : saved_(qm::GetHttpTimeouts()) {
    qm::HttpTimeouts t;
    t.connect = std::chrono::milliseconds(connectMs);
    t.stall = std::chrono::milliseconds(stallMs);
    qm::SetHttpTimeouts(t);
  }
  ~TimeoutScope() { qm::SetHttpTimeouts(saved_); }
  TimeoutScope(const TimeoutScope&) = delete;
  TimeoutScope& operator=(const TimeoutScope&) = delete;

 private:
  qm::HttpTimeouts saved_;
};

// `body` in the chunked transfer coding, in chunks of 1000 bytes (hex sizes,
// one with an extension, a trailer line after the last chunk).
inline Route ChunkedRoute(const std::string& body, const std::string& contentType) {
  Route route;
  route.headerLines = {"Content-Type: " + contentType, "Transfer-Encoding: chunked"};
  for (std::size_t at = 0; at < body.size(); at += 1000) {
    const std::size_t n = std::min<std::size_t>(1000, body.size() - at);
    route.body += QByteArray::number(static_cast<qulonglong>(n), 16).toStdString() +
                  (at == 0 ? ";ext=1" : "") + "\r\n" + body.substr(at, n) + "\r\n";
  }
  route.body += "0\r\nX-Trailer: end\r\n\r\n";
  return route;
}

// Every entry below `root`, by path relative to it, with its kind and, for
// files, size and content hash ("d", "l:<target>", "f:<size>:<hash>").
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string& what = entries[fs::relative(it->path(), root, ec).string()];
    if (it->is_symlink(ec)) {
      what = "l:" + fs::read_symlink(it->path(), ec).string();
    } else if (it->is_directory(ec)) {
      what = "d";
    } else {
      const std::string bytes = ReadWhole(it->path().string());
      what = "f:" + std::to_string(bytes.size()) + ":" +
             std::to_string(std::hash<std::string>()(bytes));
    }
  }
  return entries;
}

// Fails the test for every entry below `root` added, changed or removed since
// `before` outside `allowed` (relative paths of files, or of folders and all
// below them).
inline void ExpectChangesOnlyIn(const std::string& root,
                                const std::map<std::string, std::string>& before,
                                const std::vector<std::string>& allowed) {
  auto inside = [&](const std::string& path) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const std::string& a) {
      return path == a || path.rfind(a + "/", 0) == 0;
    });
  };
  const auto after = Snapshot(root);
  for (const auto& [path, what] : after) {
    const auto it = before.find(path);
    EXPECT_TRUE(inside(path) || (it != before.end() && it->second == what)) << path << " changed";
  }
  for (const auto& [path, what] : before)
    EXPECT_TRUE(inside(path) || after.count(path)) << path << " removed";
}

// A tmpfs of `size` mounted on a fresh folder, unmounted at the end of the
// scope. Mounting needs root; `Mounted()` says whether it worked.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& size) {
    const std::string point = dir_.File("fs");
    if (::geteuid() == 0 && std::filesystem::create_directory(point) &&
        ::mount("tmpfs", point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                ("size=" + size + ",mode=0755").c_str()) == 0)
      point_ = point;
  }
  ~SmallFileSystem() {
    if (!point_.empty()) ::umount2(point_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool Mounted() const { return !point_.empty(); }
  const std::string& Path() const { return point_; }

 private:
  TempDir dir_;
  std::string point_;
};

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

// A download list of image addresses below `base` made to break out of a
// file name or into a shell, with the names they are saved under: `extra`
// names are added, and "../../up.jpg" (saved as up.jpg), ".." and "." (not
// saved).
inline std::string HostileList(const std::string& base, const std::vector<std::string>& extra,
                               std::set<std::string>& saved) {
  std::string list;
  std::vector<std::string> names = ShellNames(".jpg");
  names.insert(names.end(), extra.begin(), extra.end());
  for (const std::string& name : names) {
    list += base + name + "\"";
    saved.insert(name);
  }
  saved.insert("up.jpg");
  return list + base + "../../up.jpg\"" + base + "..\"" + base + ".\"";
}

// The site: "/" shows hostile links and images; every other address answers
// with a short picture, saved with a minimum of 0.
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
    server.Serve("/", Html(LongPage(body, "<title>hostile</title>")));
    server.Serve("*", Reply("short picture"));
  }

  QString Start() const { return Q(server.Url("/")); }

  // Start addresses with apostrophes and backslashes, and one good line.
  QString StartLines() const {
    const std::string base = server.Url("/");
    return Q(base + "it's\\odd.html\r\n" + base + "'; touch " + Marker() + "; '\r\n" + base +
             "a\\'b\\\\c\r\n" + base);
  }

  // The names under which the site's images are saved (lower-cased by the
  // analysis), for a minimum of 0: every allowed base name, literally.
  static std::vector<std::string> SavedNames() {
    std::vector<std::string> names = ShellNames(".jpg");
    names.insert(names.end(), {"up.jpg", "..\\..\\esc.jpg", "ctl\t\x01\x1b[31m.jpg", "long.jpg"});
    return names;
  }

  LoopbackServer server;
};

// A crawl engine whose steps the test runs itself (a long crawl interval),
// with up to five downloads at once and its download workers waited for at
// the end.
struct StepRig : EngineRig {
  WorkerGuard workers{engine.Downloads()};
  YieldScope yields;

  explicit StepRig(const QString& minSize = QStringLiteral("0kb")) {
    engine.SetTxt(4, minSize);
    engine.SetTxt(7, QStringLiteral("600000ms"));
    engine.SetTxt(8, QStringLiteral("5"));
  }
  // The folder the picker gives.
  void SaveInto(const std::string& folder) {
    host.browseResult = Q(folder);
    engine.Click(qm::kBtnBrowse);
  }
  // Starts a site-only crawl of `start` and runs one crawl step.
  void Crawl(const QString& start) {
    Seed(start, /*siteOnly=*/true);
    Start();
    engine.Timer1_Timer();
  }
  // Stops the crawl and waits until every worker has ended.
  void Settle() {
    if (engine.Running()) engine.Click(qm::kBtnStart);
    EXPECT_TRUE(WaitForWorkers(engine.Downloads()));
  }
};

// Fails the test when a file named `Marker()` exists in the temporary tree
// or in the working folder (links not followed; folders that vanish meanwhile,
// as other tests clean up, are passed over).
inline void ExpectNoMarker() {
  namespace fs = std::filesystem;
  for (const fs::path& root : {fs::temp_directory_path(), fs::current_path()}) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      EXPECT_NE(it->path().filename().string(), Marker()) << it->path().string();
  }
}

// Every image of the hostile site is saved in `folder`.
inline void ExpectHostileImagesIn(const std::string& folder) {
  const std::set<std::string> files = ListFolder(folder);
  for (const std::string& name : HostileSite::SavedNames())
    EXPECT_TRUE(files.count(name)) << folder << ": " << name;
}

// Nothing of the hostile site's images may land in the root folder or the
// working folder (where an empty save folder would put them).
inline void ExpectNothingOutsideTheSaveFolder() {
  for (const std::string& name : HostileSite::SavedNames()) {
    EXPECT_FALSE(std::filesystem::exists("/" + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / name)) << name;
  }
}

}  // namespace qmtest::hard
