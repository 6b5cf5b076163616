#include "crawl/run_log.h"

#include <QDir>
#include <QFile>
#include <utility>

#include "web/gbk.h"

namespace qm {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
}  // namespace

RunLog::RunLog(QString logFolder, Clock clock)
    : folder_(std::move(logFolder)), clock_(std::move(clock)) {}

QString RunLog::DumpFileName(const QDateTime& when) const {
  return folder_ + QLatin1Char('/') + when.toString(QStringLiteral("MMdd-HHmm")) +
         QStringLiteral("-Log.txt");
}

void RunLog::Dump(const QDateTime& when) {
  // The folder is made when missing and a second dump within the same minute
  // goes after the first in that minute's file: no log text is ever lost to
  // a missing folder or a name clash.
  QDir().mkpath(folder_);
  QFile file(DumpFileName(when));
  if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
    file.write(ToGbk(Text() + kCrLf));
    file.close();
  }
  lines_.clear();
  length_ = 0;
  text_.clear();
  textValid_ = true;
}

RunLog::Added RunLog::Add(const QString& message) {
  const QDateTime now = clock_ ? clock_() : QDateTime::currentDateTime();
  Added added;
  if (length_ >= kDumpLength) {
    Dump(now);
    added.dumped = true;
  }
  added.line = now.time().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + message;
  length_ += added.line.size() + kCrLf.size();
  lines_.push_front(added.line);
  textValid_ = false;
  return added;
}

QString RunLog::Text() const {
  if (!textValid_) {
    QString text;
    text.reserve(length_);
    for (const QString& line : lines_) {
      text += line;
      text += kCrLf;
    }
    text_ = std::move(text);
    textValid_ = true;
  }
  return text_;
}

}  // namespace qm
