#include "download/downloader_command.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using qm::ParseDownloaderCommandLine;

struct Case {
  const char* line;
  const char* folder;
  int minBytes;  // not looked at when the minimum overflows
  const char* list;
  bool usage = false;
  bool minOverflow = false;
};

TEST(DownloaderCommandTest, FieldsAsTheMarkersCutThem) {
  const char* const a = "http://h/a.jpg";
  const Case cases[] = {
      {"s=/srv/my pics&min=10240&url=http://a.test/x/1.jpg\"http://b.test/2.jpg\"||",
       "/srv/my pics", 10240, "http://a.test/x/1.jpg\"http://b.test/2.jpg\""},
      // The minimum: the leading number, half to even; none, or no "&" after it: 0.
      {"s=/d&min=10.5&url=http://h/a.jpg||", "/d", 10, a},
      {"s=/d&min=11.5&url=http://h/a.jpg||", "/d", 12, a},
      {"s=/d&min=10.6&url=http://h/a.jpg||", "/d", 11, a},
      {"s=/d&min=abc&url=http://h/a.jpg||", "/d", 0, a},
      {"s=/d&min=2048kb&url=http://h/a.jpg||", "/d", 2048, a},
      {"s=/d&min=&url=http://h/a.jpg||", "/d", 0, a},
      {"s=/d&min=2147483647&url=http://h/a.jpg||", "/d", 2147483647, a},
      {"s=/d&min=2147483647.4&url=http://h/a.jpg||", "/d", 2147483647, a},
      {"s=/d&url=http://h/a.jpg||", "/d", 0, a},
      {"url=http://h/a.jpg||min=500", "Nothing", 0, a},
      // Beyond 32 bits: flagged.
      {"s=/d&min=2147483648&url=http://h/a.jpg||", "/d", 0, a, false, true},
      {"s=/d&min=99999999999999&url=http://h/a.jpg||", "/d", 0, a, false, true},
      // "&" in the folder cuts it; "||" inside an address ends the list there.
      {"s=/d/a&b&min=5&url=http://h/x||y.jpg\"http://h/z.jpg||", "/d/a", 5, "http://h/x"},
      // A folder holding "min=" makes the minimum read from the folder.
      {"s=/d/min=7x&min=5&url=http://h/a.jpg||", "/d/min=7x", 7, a},
      // Missing fields read as "Nothing", or empty without the end marker.
      {"min=1&url=http://h/a.jpg||", "Nothing", 1, a},
      {"s=/d&min=1&http://h/a.jpg||", "/d", 1, "Nothing"},
      {"s=/d&min=1&url=http://h/a.jpg", "/d", 1, ""},
      // The usage message only without "http" anywhere (a folder holding it counts).
      {"", "Nothing", 0, "Nothing", true},
      {"s=/d&min=0&url=||", "/d", 0, "", true},
      {"s=/d&min=0&url=HTTP://h/a.jpg||", "/d", 0, "HTTP://h/a.jpg", true},
      {"s=/d/http&min=0&url=||", "/d/http", 0, ""},
  };
  for (const Case& c : cases) {
    const auto job = ParseDownloaderCommandLine(QString::fromUtf8(c.line));
    EXPECT_EQ(job.folder, QString::fromUtf8(c.folder)) << c.line;
    if (!c.minOverflow) {
      EXPECT_EQ(job.minBytes, c.minBytes) << c.line;
    }
    EXPECT_EQ(job.list, QString::fromUtf8(c.list)) << c.line;
    EXPECT_EQ(job.usage, c.usage) << c.line;
    EXPECT_EQ(job.minOverflow, c.minOverflow) << c.line;
  }
}

TEST(DownloaderCommandTest, UsageTextHasEightLinesAndAWorkingExample) {
  const QStringList lines = qm::DownloaderUsageText().split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 8);
  const QStringList fixed{"参数不正确,请参考以下命令:",
                          "",
                          lines[2],
                          "",
                          "s=保存目录",
                          "min=限制文件最小值(字节)",
                          "url=文件下载地址(多个地址用 \" 一个双引号隔开)",
                          "url地址最后需要加\"||\"两个竖号符作为结束!"};
  EXPECT_EQ(lines, fixed);

  // The example is itself a valid command line, with two addresses on two hosts.
  const QString example = lines[2];
  EXPECT_TRUE(example.startsWith(QStringLiteral("s=d:\\file&min=10240&url=")));
  EXPECT_TRUE(example.endsWith(QStringLiteral("||")));
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
}

}  // namespace
