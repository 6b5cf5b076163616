// qmdown: the windowless downloader. Its whole job stands in its command line:
//   s=<folder>&min=<bytes>&url=<address>"<address>...||
// It saves every listed image whose declared length reaches the minimum and ends.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "download/download_files.h"
#include "download/downloader_command.h"
#include "qm_version.h"
#include "web/http.h"

namespace {

void WriteStderr(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  // The line is read raw: the arguments joined by single blanks, so that a
  // parameter string split by whoever started us reads as it was written.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromUtf8(argv[i]);
  if (args.size() == 1 && args.first() == QStringLiteral("--version")) {
    std::printf("%s %s %s\n", QMDOWN_PRODUCT, QM_VERSION, QMDOWN_DESCRIPTION);
    return 0;
  }
  const QString line = args.join(QLatin1Char(' '));

  qm::HttpGlobalInit();
  const qm::DownloaderJob job = qm::ParseDownloaderCommandLine(line);
  if (job.usage) WriteStderr(qm::DownloaderUsageText() + QStringLiteral("\r\n"));
  if (job.minOverflow) {
    WriteStderr(QStringLiteral("min= is outside the signed 32-bit range\n"));
    return 2;
  }

  qm::DownloadOptions options;
  options.folder = job.folder;
  qm::DownloadFiles(job.list, job.minBytes, options);
  return job.usage ? 2 : 0;
}
