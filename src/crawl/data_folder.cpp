#include "crawl/data_folder.h"

#include <unistd.h>

#include <QDir>
#include <QFile>

namespace qm {

bool FolderWritable(const QString& folder) {
  if (folder.isEmpty()) return false;
  return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString UserDataFolder() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  // The base directory rules ignore a relative path.
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(base + QStringLiteral("/qmcrawl"));
}

QString DataFolderFor(const QString& programFolder,
                      const std::function<bool(const QString&)>& writable) {
  return writable(programFolder) ? programFolder : UserDataFolder();
}

QString DataFolderFor(const QString& programFolder) {
  return DataFolderFor(programFolder, FolderWritable);
}

}  // namespace qm
