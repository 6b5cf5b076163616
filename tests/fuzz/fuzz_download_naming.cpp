// DownloadFiles on arbitrary address lists. Every piece is made to point at a
// closed loopback port, so requests fail at once and nothing leaves the
// machine; what is exercised is the splitting, the naming and the file
// handling around them. Nothing may appear outside the temporary folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>

#include "download/download_files.h"
#include "fuzz_util.h"
#include "web/http.h"

namespace {

int ClosedPort() {
  // A loopback port bound once and released: nothing listens there.
  static const int port = [] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return static_cast<int>(ntohs(addr.sin_port));
  }();
  return port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static QTemporaryDir root;
  static const bool once = [] {
    qm::HttpGlobalInit();
    qm::SetHttpTimeouts({std::chrono::milliseconds(200), std::chrono::milliseconds(200)});
    return true;
  }();
  (void)once;
  const QString prefix = QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort());
  QString list;
  for (const QString& piece : FuzzText(data, size).split(QLatin1Char('"'))) {
    list += prefix + piece;
    list += QLatin1Char('"');
  }
  const QString folder = root.path() + QStringLiteral("/save");
  QDir().mkpath(folder);
  qm::DownloadOptions options;
  options.folder = folder;
  qm::DownloadFiles(list, 0, options);
  // Failed requests write nothing: the folder stays empty, and nothing
  // appeared beside it.
  if (!QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
    __builtin_trap();
  if (QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() != 1)
    __builtin_trap();
  return 0;
}
