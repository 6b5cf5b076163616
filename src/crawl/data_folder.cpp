#include "crawl/data_folder.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm {

bool FolderWritable(const QString& folder) {
  if (folder.isEmpty()) return false;
  return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString InstallFolder() { return QStringLiteral(QM_INSTALL_BINDIR); }

bool SameFolder(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  const QString realA = QFileInfo(a).canonicalFilePath();
  const QString realB = QFileInfo(b).canonicalFilePath();
  if (!realA.isEmpty() && !realB.isEmpty()) return realA == realB;
  return QDir::cleanPath(a) == QDir::cleanPath(b);
}

QString UserDataFolder() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  // The base directory rules ignore a relative path.
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(base + QStringLiteral("/qmcrawl"));
}

QString DataFolderFor(const QString& programFolder, const QString& installFolder) {
  // Root may write everywhere, so the install folder is recognised by its path.
  if (SameFolder(programFolder, installFolder) || !FolderWritable(programFolder))
    return UserDataFolder();
  return programFolder;
}

}  // namespace qm
