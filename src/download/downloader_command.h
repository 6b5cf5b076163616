#pragma once
// The downloader program's command line: "s=" folder "&min=" bytes "&url="
// addresses separated by '"' "||". Read raw; double quotes are data.
#include <QString>
#include <QtGlobal>

namespace qm {

struct DownloaderJob {
  QString folder;            // the s= field ("Nothing" when absent)
  qint32 minBytes = 0;       // the min= field's leading number, half to even
  QString list;              // the url= field up to "||" ("Nothing" when absent)
  bool usage = false;        // the line holds no "http": show the usage message
  bool minOverflow = false;  // the min= number does not fit a signed 32-bit value
};

DownloaderJob ParseDownloaderCommandLine(const QString& line);

// The usage message: eight lines joined by CR LF, without a line end after the
// last one.
QString DownloaderUsageText();

}  // namespace qm
