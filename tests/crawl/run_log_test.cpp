#include "crawl/run_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "support/loopback_server.h"
#include "web/gbk.h"

namespace {

using qm::RunLog;

const QString kCrLf = QStringLiteral("\r\n");

QDateTime At(int month, int day, int hour, int minute, int second) {
  return QDateTime(QDate(2024, month, day), QTime(hour, minute, second));
}

QString ReadGbk(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("<missing>");
  return qm::FromGbk(f.readAll());
}

// Fills the log to exactly `length` characters with lines of the given clock.
void FillTo(RunLog& log, qsizetype length) {
  // Each line costs 10 (time and two blanks) + message + 2 (CR LF).
  while (log.Length() < length) {
    const qsizetype left = length - log.Length();
    const qsizetype message = left - 12 <= 1000 ? left - 12 : (left - 1012 < 12 ? 500 : 1000);
    ASSERT_GE(message, 0) << "cannot reach the length exactly";
    log.Add(QString(message, QLatin1Char('m')));
  }
  ASSERT_EQ(log.Length(), length);
}

TEST(RunLog, NewestLineFirstEachEndedByCrLfWith24HourTime) {
  qmtest::TempDir dir;
  QDateTime now = At(3, 7, 21, 5, 9);
  RunLog log(QString::fromStdString(dir.File("Log")), [&] { return now; });
  const RunLog::Added first = log.Add(QStringLiteral("程序初始化完成..."));
  EXPECT_EQ(first.line, QStringLiteral("21:05:09  程序初始化完成..."));
  EXPECT_FALSE(first.dumped);
  now = now.addSecs(1);
  log.Add(QStringLiteral("初始化..."));
  EXPECT_EQ(log.Text(), QStringLiteral("21:05:10  初始化...") + kCrLf +
                            QStringLiteral("21:05:09  程序初始化完成...") + kCrLf);
  EXPECT_EQ(log.Length(), log.Text().size());
}

TEST(RunLog, DumpsAtFiftyThousandCharactersNotBefore) {
  qmtest::TempDir dir;
  const QString folder = QString::fromStdString(dir.File("Log"));
  const QDateTime now = At(1, 2, 3, 4, 5);
  RunLog log(folder, [&] { return now; });
  FillTo(log, RunLog::kDumpLength - 1);
  const QString before = log.Text();

  RunLog::Added added = log.Add(QStringLiteral("还差一个"));
  EXPECT_FALSE(added.dumped);
  EXPECT_FALSE(QDir(folder).exists());
  EXPECT_TRUE(log.Text().endsWith(before));

  // Now past 50,000: the next line dumps the box first. The missing Log
  // folder is created for it.
  const QString dumped = log.Text();
  added = log.Add(QStringLiteral("新的一行"));
  EXPECT_TRUE(added.dumped);
  EXPECT_EQ(log.Text(), added.line + kCrLf);
  const QString file = folder + QStringLiteral("/0102-0304-Log.txt");
  EXPECT_EQ(log.DumpFileName(now), file);
  EXPECT_EQ(ReadGbk(file), dumped + kCrLf);
}

TEST(RunLog, DumpAtExactlyFiftyThousand) {
  qmtest::TempDir dir;
  const QString folder = QString::fromStdString(dir.File("Log"));
  const QDateTime now = At(12, 31, 23, 59, 0);
  RunLog log(folder, [&] { return now; });
  FillTo(log, RunLog::kDumpLength);
  const QString dumped = log.Text();
  EXPECT_TRUE(log.Add(QStringLiteral("x")).dumped);
  EXPECT_EQ(ReadGbk(folder + QStringLiteral("/1231-2359-Log.txt")), dumped + kCrLf);
  // The file is written in the Chinese code page.
  QFile raw(folder + QStringLiteral("/1231-2359-Log.txt"));
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  EXPECT_EQ(raw.readAll(), qm::ToGbk(dumped + kCrLf));
}

TEST(RunLog, TwoDumpsInOneMinuteAreBothKept) {
  qmtest::TempDir dir;
  const QString folder = QString::fromStdString(dir.File("Log"));
  QDateTime now = At(5, 6, 7, 8, 1);
  RunLog log(folder, [&] { return now; });
  FillTo(log, RunLog::kDumpLength);
  const QString first = log.Text();
  log.Add(QStringLiteral("第二轮"));
  now = now.addSecs(30);  // same minute
  FillTo(log, RunLog::kDumpLength + 5);
  const QString second = log.Text();
  EXPECT_TRUE(log.Add(QStringLiteral("第三轮")).dumped);
  EXPECT_EQ(ReadGbk(folder + QStringLiteral("/0506-0708-Log.txt")), first + kCrLf + second + kCrLf);
  EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
}

TEST(RunLog, AnUnwritableFolderLosesOnlyTheFileNotTheCaller) {
  qmtest::TempDir dir;
  // "Log" is taken by a plain file: the dump cannot be written.
  QFile blocker(QString::fromStdString(dir.File("Log")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  RunLog log(QString::fromStdString(dir.File("Log")));
  FillTo(log, RunLog::kDumpLength);
  const RunLog::Added added = log.Add(QStringLiteral("继续"));
  EXPECT_TRUE(added.dumped);
  EXPECT_EQ(log.LineCount(), 1);
}

}  // namespace
