// Runs the built downloader program as its users do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QRegularExpression>
#include <map>
#include <memory>

#include "download/downloader_command.h"
#include "support/test_util.h"

namespace {

using namespace qmtest;

TEST(QmdownProgramTest, UsageVersionAndAnEmptyList) {
  TempDir dir;
  const QString folder = Q(dir.Path());
  const QByteArray usage = (qm::DownloaderUsageText() + QStringLiteral("\r\n")).toUtf8();
  struct Case {
    QStringList args;
    int exitCode;
    QByteArray out, err;
  };
  const Case cases[] = {
      // No address anywhere: the usage message.
      {{}, 2, {}, usage},
      {{"s=" + folder + "&min=0&url=||"}, 2, {}, usage},
      {{"s=" + folder + "&min=0&url=HTTP://127.0.0.1/a.jpg||"}, 2, {}, usage},
      // A folder holding "http" suppresses it; the empty list downloads nothing.
      {{"s=" + folder + "/http&min=0&url=||"}, 0, {}, {}},
      {{"--version"}, 0, QStringLiteral("Qmdown 1.0.0.0 链接下载插件\n").toUtf8(), {}},
  };
  for (const Case& c : cases) {
    const RunResult run = RunQmdown(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(' ').toStdString();
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

TEST(QmdownProgramTest, SavesEveryListedImageReachingTheMinimum) {
  LoopbackServer server;
  TempDir dir;
  const std::string folder = dir.Path() + "/my pics";
  std::filesystem::create_directory(folder);
  server.Serve("/a/first.jpg", Reply(std::string(10240, '1')));
  server.Serve("/b/second.jpg", Reply(std::string(20000, '2')));
  server.Serve("/c/small.jpg", Reply(std::string(10239, '3')));
  const QString line = Q("s=" + folder + "&min=10240&url=" + server.Url("/a/first.jpg") + "\"" +
                         server.Url("/c/small.jpg") + "\"" + server.Url("/b/second.jpg") + "\"||");
  // The line arrives as one argument (as the crawler passes it) or split at
  // its blanks (as a shell would pass it): both read the same.
  for (const QStringList& args : {QStringList{line}, line.split(QLatin1Char(' '))}) {
    const RunResult run = RunQmdown(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_EQ(ListFolder(folder), (std::set<std::string>{"first.jpg", "second.jpg"}));
    EXPECT_EQ(ReadWhole(folder + "/second.jpg"), std::string(20000, '2'));
    std::filesystem::remove(folder + "/first.jpg");
    std::filesystem::remove(folder + "/second.jpg");
  }
  EXPECT_EQ(server.RequestCount(), 6u);
}

TEST(QmdownProgramTest, MinimumBeyondThirtyTwoBitsEndsBeforeAnyRequest) {
  LoopbackServer server;
  TempDir dir;
  server.Serve("/a.jpg", Reply("a"));
  const RunResult run =
      RunQmdown({Q("s=" + dir.Path() + "&min=2147483648&url=" + server.Url("/a.jpg") + "||")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err.count('\n'), 1);
  EXPECT_TRUE(run.err.endsWith('\n'));
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

TEST(QmdownProgramTest, FailedWriteLeavesNoPartialImage) {
  // A file size limit stands for a full disk: the large image cannot be
  // written whole, so nothing of it may stay; the small one is saved.
  LoopbackServer server;
  TempDir dir;
  server.Serve("/big.jpg", Reply(Garbage(200000, 1)));
  server.Serve("/fits.jpg", Reply(Garbage(20000, 2)));
  const RunResult run = RunQmdown({Q("s=" + dir.Path() + "&min=0&url=" + server.Url("/big.jpg") +
                                     "\"" + server.Url("/fits.jpg") + "||")},
                                  {}, [] {
                                    ::signal(SIGXFSZ, SIG_IGN);
                                    struct rlimit limit = {65536, 65536};
                                    ::setrlimit(RLIMIT_FSIZE, &limit);
                                  });
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"fits.jpg"});
  EXPECT_EQ(ReadWhole(dir.File("fits.jpg")), Garbage(20000, 2));
}

TEST(QmdownProgramTest, FiveDownloadersOnOneFolderNeverMixFiles) {
  LoopbackServer server;
  TempDir dir;
  constexpr int kImages = 20;
  constexpr int kRuns = 5;
  std::map<std::string, int> bodyIndex;
  std::string list;
  for (int i = 0; i < kImages; ++i) {
    const std::string path = "/set/img" + std::to_string(i) + ".jpg";
    const std::string body = Garbage(60000 + 5000 * i, 100 + i);
    bodyIndex[body] = i;
    server.Serve(path, Reply(body));
    list += server.Url(path) + "\"";
  }
  std::vector<std::unique_ptr<QProcess>> runs;
  for (int r = 0; r < kRuns; ++r) {
    runs.push_back(std::make_unique<QProcess>());
    runs.back()->start(kQmdown, {Q("s=" + dir.Path() + "&min=1024&url=" + list + "||")});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(run->waitForFinished(180000));
    EXPECT_EQ(run->exitCode(), 0);
  }

  // Every file holds one image whole, under that image's name; every image
  // is there once per run.
  const auto files = ListFolder(dir.Path());
  EXPECT_EQ(files.size(), static_cast<size_t>(kImages * kRuns));
  std::vector<int> copies(kImages, 0);
  const QRegularExpression name(QStringLiteral("^([a-zA-Z1-9]{6}-)?img(\\d+)\\.jpg$"));
  for (const auto& file : files) {
    const auto match = name.match(Q(file));
    ASSERT_TRUE(match.hasMatch()) << file;
    const auto found = bodyIndex.find(ReadWhole(dir.File(file)));
    ASSERT_NE(found, bodyIndex.end()) << file << " holds no one image whole";
    EXPECT_EQ(match.captured(2).toInt(), found->second) << file;
    ++copies[found->second];
  }
  EXPECT_EQ(copies, std::vector<int>(kImages, kRuns));
}

}  // namespace
