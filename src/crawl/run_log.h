#pragma once
// The run log: the text of the log box, newest line first, each line followed
// by CR LF. At 50,000 characters the whole text is dumped to a file in the
// "Log" folder and the box starts afresh.
#include <QDateTime>
#include <QString>
#include <deque>
#include <functional>

namespace qm {

class RunLog {
 public:
  static constexpr qsizetype kDumpLength = 50000;
  using Clock = std::function<QDateTime()>;

  // `logFolder` receives the dumps; it is created when missing. Without a
  // clock the local time is used.
  explicit RunLog(QString logFolder, Clock clock = {});

  struct Added {
    QString line;         // the line put on top, without its CR LF
    bool dumped = false;  // the previous text was dumped and emptied first
  };
  // Adds "HH:mm:ss  " + message on top; never fails towards its caller.
  Added Add(const QString& message);

  QString Text() const;  // the whole text, built on demand
  qsizetype Length() const { return length_; }
  qsizetype LineCount() const { return static_cast<qsizetype>(lines_.size()); }
  QString LogFolder() const { return folder_; }
  // The file a dump at `when` goes to: <folder>/MMDD-HHMM-Log.txt.
  QString DumpFileName(const QDateTime& when) const;

 private:
  void Dump(const QDateTime& when);

  QString folder_;
  Clock clock_;
  std::deque<QString> lines_;  // front: newest
  qsizetype length_ = 0;       // characters of Text(), CR LFs included
  mutable QString text_;
  mutable bool textValid_ = true;
};

}  // namespace qm
