#include "download/download_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QStringList>
#include <QVariant>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>

#include "download/download_state.h"
#include "download/store_file.h"
#include "web/http.h"
#include "web/md5.h"
#include "web/text.h"
#include "web/yield.h"

namespace qm {
namespace {

// The 61 characters of a random prefix: no digit 0.
constexpr char kRandomSet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ123456789";
static_assert(sizeof(kRandomSet) - 1 == 61);

// Where the file system cannot hold unnamed files, temporary files live in the
// save folder under this prefix until their bytes are complete; a folder scan
// for "does it hold a file" looks past them.
constexpr char kPartPrefix[] = ".qmpart-";

// How often a new random prefix is drawn when the chosen name is taken at the
// moment of creation. With 61^6 prefixes a second clash is already unlikely.
constexpr int kNameAttempts = 64;

// A file descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (a late write error
  // may only show here).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Names the file system would refuse, or that would not name a new entry of
// the folder: "." and "..", a NUL byte (it would cut the name short), a name
// longer than one path component may be.
bool NameAllowed(const QByteArray& name) {
  if (name.isEmpty() || name == "." || name == "..") return false;
  if (name.contains('\0') || name.contains('/')) return false;
  return name.size() <= NAME_MAX;
}

bool NameTaken(int dir, const QByteArray& name) {
  struct stat st;
  return ::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether the folder holds at least one file (sub-folders and our own
// unfinished temporary files do not count).
bool FolderHoldsFile(int dir) {
  int scanFd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (scanFd < 0) return false;
  DIR* scan = ::fdopendir(scanFd);
  if (!scan) {
    ::close(scanFd);
    return false;
  }
  bool found = false;
  while (dirent* entry = ::readdir(scan)) {
    const QByteArray name(entry->d_name);
    if (name == "." || name == ".." || name.startsWith(kPartPrefix)) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    }
    if (type != DT_DIR) {
      found = true;
      break;
    }
  }
  ::closedir(scan);
  return found;
}

QByteArray PrefixedName(const QByteArray& base) { return RandomText(6).toLatin1() + '-' + base; }

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, data, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    left -= n;
  }
  return true;
}

// Gives the finished temporary file its name without ever replacing an entry
// that holds the name already. Returns 0, or the errno of the failure (EEXIST:
// the name is taken).
int Publish(int dir, const QByteArray& temp, const QByteArray& name) {
  if (::renameat2(dir, temp.constData(), dir, name.constData(), RENAME_NOREPLACE) == 0) return 0;
  int err = errno;
  if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
  // The file system cannot rename without replacing: a hard link fails on an
  // existing name just the same.
  if (::linkat(dir, temp.constData(), dir, name.constData(), 0) != 0) return errno;
  ::unlinkat(dir, temp.constData(), 0);
  return 0;
}

// Offers the file under `name` through `place` (which returns 0 or an errno)
// and, while the name is taken (another downloader took it a moment ago),
// under `base` with a newly drawn prefix. Returns the name the file got, or an
// empty name when it got none.
template <typename Place>
QByteArray PlaceUnderFreeName(QByteArray name, const QByteArray& base, Place place, int* error) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *error = place(name);
    if (*error == 0) return name;
    if (*error != EEXIST) return QByteArray();
    name = PrefixedName(base);
    if (!NameAllowed(name)) break;
  }
  return QByteArray();
}

// The file is written unnamed and linked into the folder once complete: an
// interrupted run leaves nothing behind, not even a temporary name. Returns
// the name the file got (empty: nothing saved); sets `cannotTry` when this way
// is not open here.
QByteArray StoreUnnamed(int dir, const QByteArray& name, const QByteArray& base,
                        const QByteArray& body, bool* cannotTry) {
  *cannotTry = false;
  Fd file(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!file) {
    *cannotTry = true;  // e.g. a file system without unnamed files
    return QByteArray();
  }
  if (!WriteAll(file.get(), body)) return QByteArray();  // closing frees the bytes
  char path[48];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", file.get());
  int error = 0;
  const QByteArray placed = PlaceUnderFreeName(
      name, base,
      [&](const QByteArray& candidate) {
        return ::linkat(AT_FDCWD, path, dir, candidate.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                            : errno;
      },
      &error);
  if (placed.isEmpty()) {
    *cannotTry = error == ENOENT;  // no /proc to link from
    return QByteArray();
  }
  if (!file.Close()) {
    ::unlinkat(dir, placed.constData(), 0);
    return QByteArray();
  }
  return placed;
}

// The same with a named temporary file, for file systems that cannot hold an
// unnamed one.
QByteArray StoreViaTemporaryName(int dir, const QByteArray& name, const QByteArray& base,
                                 const QByteArray& body) {
  QByteArray temp;
  Fd file;
  for (int attempt = 0; attempt < kNameAttempts && !file; ++attempt) {
    temp = kPartPrefix + RandomText(12).toLatin1();
    file.Reset(::openat(dir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file && errno != EEXIST) return QByteArray();
  }
  if (!file) return QByteArray();
  bool written = WriteAll(file.get(), body);
  if (!file.Close()) written = false;
  QByteArray placed;
  if (written) {
    int error = 0;
    placed = PlaceUnderFreeName(
        name, base, [&](const QByteArray& candidate) { return Publish(dir, temp, candidate); },
        &error);
  }
  if (placed.isEmpty()) ::unlinkat(dir, temp.constData(), 0);
  return placed;
}

}  // namespace

QByteArray StoreFile(int dirFd, const QByteArray& name, const QByteArray& base,
                     const QByteArray& body, StoreMode mode) {
  if (mode == StoreMode::kAuto) {
    bool cannotTry = false;
    QByteArray placed = StoreUnnamed(dirFd, name, base, body, &cannotTry);
    if (!cannotTry) return placed;
  }
  return StoreViaTemporaryName(dirFd, name, base, body);
}

namespace {

// One address of the list. Returns whether a file was saved.
bool DownloadPiece(const QString& piece, std::int32_t minBytes, const DownloadOptions& options) {
  const QString base = piece.mid(piece.lastIndexOf(QLatin1Char('/')) + 1);
  const QString folder = options.crawler ? options.crawler->GetSavePath() : options.folder;
  // No folder is no folder: joined with "/" an empty path would name the root.
  if (folder.isEmpty()) return false;

  if (options.crawler) {
    // Marked before the request, so that an address that fails or falls below
    // the minimum is not tried again while it stays in the list.
    if (!options.crawler->MarkDone(Md5Key(piece))) return false;
  }

  // File names are joined to the folder with "/".
  const QByteArray folderPath = (folder + QLatin1Char('/')).toUtf8();
  if (folderPath.contains('\0')) return false;
  Fd dir(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return false;  // no such folder: nothing can be saved there

  const QByteArray baseName = base.toUtf8();
  // "." and ".." name the folder and its parent, never a new file.
  if (!baseName.isEmpty() && !NameAllowed(baseName)) return false;
  QByteArray name;
  if (baseName.isEmpty()) {
    // An address ending in "/": in a folder that holds a file the name is the
    // prefix alone; otherwise it would name the folder itself.
    if (!FolderHoldsFile(dir.get())) return false;
    name = PrefixedName(baseName);
  } else if (NameTaken(dir.get(), baseName)) {
    name = PrefixedName(baseName);
  } else {
    name = baseName;
  }
  if (!NameAllowed(name)) return false;

  QString headers;  // this piece's own response headers
  int status = 0;
  const QVariant result = HttpRequest(piece, kHttpBytes, QString(), QVariant(),
                                      QStringLiteral("get"), headers, QString(), &status);
  // A failed request answers with its failure text instead of bytes, and a
  // status of 400 or above with the server's error page: neither is a picture,
  // whatever the minimum.
  if (result.typeId() != QMetaType::QByteArray || status >= 400) return false;

  const double declared =
      LeadingNumber(CutText(headers, QStringLiteral("Content-Length: "), QStringLiteral("\r\n")));
  if (declared < static_cast<double>(minBytes)) return false;

  return !StoreFile(dir.get(), name, baseName, result.toByteArray()).isEmpty();
}

}  // namespace

void DownloadFiles(const QString& list, std::int32_t minBytes, const DownloadOptions& options) {
  const QString http = QStringLiteral("http");
  if (!list.contains(http)) return;
  const QStringList pieces = list.split(QLatin1Char('"'));
  for (const QString& piece : pieces) {
    if (piece.contains(http) && DownloadPiece(piece, minBytes, options) && options.crawler) {
      YieldNow();
      WaitMs(50);
    }
    YieldNow();
  }
}

QString RandomText(int length) {
  if (length < 1) return QString();
  thread_local std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(),
                       device(), device(), device(), device()};
    return std::mt19937(seed);
  }();
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kRandomSet)) - 2);
  QString text;
  text.reserve(length);
  for (int i = 0; i < length; ++i) text += QLatin1Char(kRandomSet[pick(generator)]);
  return text;
}

}  // namespace qm
