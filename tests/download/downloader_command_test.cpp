#include "download/downloader_command.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using qm::ParseDownloaderCommandLine;

TEST(DownloaderCommandTest, ReadsTheThreeFields) {
  const auto job = ParseDownloaderCommandLine(QStringLiteral(
      "s=/srv/my pics&min=10240&url=http://a.test/x/1.jpg\"http://b.test/2.jpg\"||"));
  EXPECT_FALSE(job.usage);
  EXPECT_FALSE(job.minOverflow);
  EXPECT_EQ(job.folder, QStringLiteral("/srv/my pics"));
  EXPECT_EQ(job.minBytes, 10240);
  EXPECT_EQ(job.list, QStringLiteral("http://a.test/x/1.jpg\"http://b.test/2.jpg\""));
}

TEST(DownloaderCommandTest, MinimumIsRoundedHalfToEven) {
  auto min = [](const QString& field) {
    return ParseDownloaderCommandLine(QStringLiteral("s=/d&min=") + field +
                                      QStringLiteral("&url=http://h/a.jpg||"))
        .minBytes;
  };
  EXPECT_EQ(min(QStringLiteral("10.5")), 10);
  EXPECT_EQ(min(QStringLiteral("11.5")), 12);
  EXPECT_EQ(min(QStringLiteral("10.6")), 11);
  EXPECT_EQ(min(QStringLiteral("abc")), 0);
  EXPECT_EQ(min(QStringLiteral("2048kb")), 2048);
  EXPECT_EQ(min(QStringLiteral("")), 0);
  EXPECT_EQ(min(QStringLiteral("2147483647")), 2147483647);
  // No field, or no "&" after it: 0.
  EXPECT_EQ(ParseDownloaderCommandLine(QStringLiteral("s=/d&url=http://h/a.jpg||")).minBytes, 0);
  EXPECT_EQ(ParseDownloaderCommandLine(QStringLiteral("url=http://h/a.jpg||min=500")).minBytes, 0);
}

TEST(DownloaderCommandTest, MinimumBeyondThirtyTwoBitsIsFlagged) {
  EXPECT_TRUE(ParseDownloaderCommandLine(QStringLiteral("s=/d&min=2147483648&url=http://h/a.jpg||"))
                  .minOverflow);
  EXPECT_TRUE(
      ParseDownloaderCommandLine(QStringLiteral("s=/d&min=99999999999999&url=http://h/a.jpg||"))
          .minOverflow);
  EXPECT_FALSE(
      ParseDownloaderCommandLine(QStringLiteral("s=/d&min=2147483647.4&url=http://h/a.jpg||"))
          .minOverflow);
}

TEST(DownloaderCommandTest, CutsFollowTheMarkers) {
  // "&" in the folder cuts it; "||" inside an address ends the list there.
  auto job = ParseDownloaderCommandLine(
      QStringLiteral("s=/d/a&b&min=5&url=http://h/x||y.jpg\"http://h/z.jpg||"));
  EXPECT_EQ(job.folder, QStringLiteral("/d/a"));
  EXPECT_EQ(job.minBytes, 5);
  EXPECT_EQ(job.list, QStringLiteral("http://h/x"));

  // A folder holding "min=" makes the minimum read from the folder.
  job = ParseDownloaderCommandLine(QStringLiteral("s=/d/min=7x&min=5&url=http://h/a.jpg||"));
  EXPECT_EQ(job.folder, QStringLiteral("/d/min=7x"));
  EXPECT_EQ(job.minBytes, 7);
}

TEST(DownloaderCommandTest, MissingFieldsReadAsNothingOrEmpty) {
  auto job = ParseDownloaderCommandLine(QStringLiteral("min=1&url=http://h/a.jpg||"));
  EXPECT_EQ(job.folder, QStringLiteral("Nothing"));
  job = ParseDownloaderCommandLine(QStringLiteral("s=/d&min=1&http://h/a.jpg||"));
  EXPECT_EQ(job.list, QStringLiteral("Nothing"));
  EXPECT_FALSE(job.usage);
  job = ParseDownloaderCommandLine(QStringLiteral("s=/d&min=1&url=http://h/a.jpg"));
  EXPECT_EQ(job.list, QString());
}

TEST(DownloaderCommandTest, UsageOnlyWithoutHttpAnywhere) {
  EXPECT_TRUE(ParseDownloaderCommandLine(QString()).usage);
  EXPECT_TRUE(ParseDownloaderCommandLine(QStringLiteral("s=/d&min=0&url=||")).usage);
  EXPECT_TRUE(ParseDownloaderCommandLine(QStringLiteral("s=/d&min=0&url=HTTP://h/a.jpg||")).usage);
  // The folder holds "http": no message, and the empty list downloads nothing.
  auto job = ParseDownloaderCommandLine(QStringLiteral("s=/d/http&min=0&url=||"));
  EXPECT_FALSE(job.usage);
  EXPECT_EQ(job.list, QString());
}

TEST(DownloaderCommandTest, UsageTextHasEightLinesAndAWorkingExample) {
  const QStringList lines = qm::DownloaderUsageText().split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], QStringLiteral("参数不正确,请参考以下命令:"));
  EXPECT_EQ(lines[1], QString());
  EXPECT_EQ(lines[3], QString());
  EXPECT_EQ(lines[4], QStringLiteral("s=保存目录"));
  EXPECT_EQ(lines[5], QStringLiteral("min=限制文件最小值(字节)"));
  EXPECT_EQ(lines[6], QStringLiteral("url=文件下载地址(多个地址用 \" 一个双引号隔开)"));
  EXPECT_EQ(lines[7], QStringLiteral("url地址最后需要加\"||\"两个竖号符作为结束!"));

  // The example is itself a valid command line.
  const QString example = lines[2];
  EXPECT_TRUE(example.startsWith(QStringLiteral("s=d:\\file&min=10240&url=")));
  const auto job = ParseDownloaderCommandLine(example);
  EXPECT_FALSE(job.usage);
  EXPECT_EQ(job.folder, QStringLiteral("d:\\file"));
  EXPECT_EQ(job.minBytes, 10240);
  const QStringList addresses = job.list.split(QLatin1Char('"'));
  ASSERT_EQ(addresses.size(), 2);
  EXPECT_TRUE(addresses[0].startsWith(QStringLiteral("http://")));
  EXPECT_TRUE(addresses[0].endsWith(QStringLiteral("/qmtool.jpg")));
  EXPECT_TRUE(addresses[1].startsWith(QStringLiteral("http://")));
  EXPECT_TRUE(addresses[1].endsWith(QStringLiteral("/qm.jpg")));
  EXPECT_NE(addresses[0].section(QLatin1Char('/'), 2, 2),
            addresses[1].section(QLatin1Char('/'), 2, 2));
  EXPECT_TRUE(example.endsWith(QStringLiteral("||")));
}

}  // namespace
