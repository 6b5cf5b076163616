#include "download/downloader_command.h"

#include <QStringList>

#include "web/text.h"

namespace qm {

DownloaderJob ParseDownloaderCommandLine(const QString& line) {
  DownloaderJob job;
  job.usage = !line.contains(QStringLiteral("http"));
  job.folder = CutText(line, QStringLiteral("s="), QStringLiteral("&"));
  // An absent field reads "Nothing", an unended one the empty text: both give 0.
  const auto min = LeadingInt32(CutText(line, QStringLiteral("min="), QStringLiteral("&")));
  if (min) {
    job.minBytes = *min;
  } else {
    job.minOverflow = true;
  }
  job.list = CutText(line, QStringLiteral("url="), QStringLiteral("||"));
  return job;
}

QString DownloaderUsageText() {
  const QStringList lines = {
      QStringLiteral("参数不正确,请参考以下命令:"),
      QString(),
      QStringLiteral("s=d:\\file&min=10240&url=http://www.example.com/images/qmtool.jpg\"http://"
                     "img.example.org/pic/qm.jpg||"),
      QString(),
      QStringLiteral("s=保存目录"),
      QStringLiteral("min=限制文件最小值(字节)"),
      QStringLiteral("url=文件下载地址(多个地址用 \" 一个双引号隔开)"),
      QStringLiteral("url地址最后需要加\"||\"两个竖号符作为结束!"),
  };
  return lines.join(QStringLiteral("\r\n"));
}

}  // namespace qm
