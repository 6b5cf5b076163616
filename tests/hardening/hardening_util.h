#pragma once
// Helpers of the hardening tests: shortened client time-outs restored at the
// end of a scope, hand-made response bodies, snapshots of folder trees, a
// search for files that must never appear, and a small file system that runs
// full.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_server.h"
#include "web/http.h"

namespace qmtest::hard {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// Names of the entries of a folder (hidden ones and sub-folders included).
inline std::set<std::string> ListFolder(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    names.insert(entry.path().filename().string());
  return names;
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

// `body` in the chunked transfer coding, in chunks of `size` bytes (hex sizes,
// one with an extension, a trailer line after the last chunk).
inline std::string ChunkedBody(const std::string& body, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  bool first = true;
  for (std::size_t at = 0; at < body.size(); at += size) {
    const std::size_t n = std::min(size, body.size() - at);
    std::string hex;
    for (std::size_t v = n; v > 0; v /= 16) hex.insert(hex.begin(), kHex[v % 16]);
    out += hex + (first ? ";ext=1" : "") + "\r\n" + body.substr(at, n) + "\r\n";
    first = false;
  }
  return out + "0\r\nX-Trailer: end\r\n\r\n";
}

inline Route ChunkedRoute(const std::string& body, const std::string& contentType) {
  Route route;
  route.headerLines = {"Content-Type: " + contentType, "Transfer-Encoding: chunked"};
  route.body = ChunkedBody(body, 1000);
  return route;
}

// Bytes from a seeded generator: every byte value, NUL included.
inline std::string Garbage(std::size_t size, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t v = gen();
    std::memcpy(out.data() + i, &v, std::min<std::size_t>(8, size - i));
  }
  return out;
}

// Every entry below `root`, by path relative to it, with its kind and, for
// files, size and content hash ("d", "l:<target>", "f:<size>:<hash>").
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string rel = fs::relative(p, root, ec).string();
    if (it->is_symlink(ec)) {
      entries[rel] = "l:" + fs::read_symlink(p, ec).string();
    } else if (it->is_directory(ec)) {
      entries[rel] = "d";
    } else {
      std::ifstream in(p, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      entries[rel] = "f:" + std::to_string(bytes.size()) + ":" +
                     std::to_string(std::hash<std::string>()(bytes));
    }
  }
  return entries;
}

// Paths added or changed between two snapshots, and paths removed (with a
// leading "-").
inline std::vector<std::string> Changes(const std::map<std::string, std::string>& before,
                                        const std::map<std::string, std::string>& after) {
  std::vector<std::string> out;
  for (const auto& [path, what] : after) {
    auto it = before.find(path);
    if (it == before.end() || it->second != what) out.push_back(path);
  }
  for (const auto& [path, what] : before)
    if (!after.count(path)) out.push_back("-" + path);
  return out;
}

// Whether a path relative to a snapshot root lies inside one of `allowed`
// (relative paths of a file, or of a folder and all below it).
inline bool Inside(const std::string& path, const std::vector<std::string>& allowed) {
  for (const std::string& a : allowed) {
    if (path == a || path.rfind(a + "/", 0) == 0) return true;
  }
  return false;
}

// Paths below `root` (the folder itself, links not followed) whose last
// component is `name`. Folders that vanish meanwhile (other tests clean up)
// are passed over.
inline std::vector<std::string> FindNamed(const std::string& root, const std::string& name) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename() == name) found.push_back(it->path().string());
  }
  return found;
}

// Polls `done`, letting events run, for up to `seconds`.
inline bool PollUntil(const std::function<bool()>& done, int seconds = 90) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A tmpfs of a few hundred kilobytes mounted on a fresh folder, unmounted at
// the end of the scope. Mounting needs root; `Mounted()` says whether it
// worked.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& size) {
    if (::geteuid() != 0) return;
    const std::string point = dir_.File("fs");
    if (::mkdir(point.c_str(), 0755) != 0) return;
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      return;
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

}  // namespace qmtest::hard
