// Runs the built downloader program as its users do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "download/download_test_util.h"
#include "download/downloader_command.h"
#include "support/loopback_server.h"

namespace {

using qmtest::ListFolder;
using qmtest::Q;
using qmtest::ReadWhole;
using qmtest::Route;

const QString kQmdown = QStringLiteral(QM_BIN_DIR "/qmdown");

struct RunResult {
  bool finished = false;
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

RunResult RunQmdown(const QStringList& args, std::function<void()> childSetup = {}) {
  QProcess process;
  if (childSetup) process.setChildProcessModifier(childSetup);
  process.start(kQmdown, args);
  RunResult result;
  if (!process.waitForStarted(30000)) return result;
  result.finished = process.waitForFinished(120000);
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput();
  result.err = process.readAllStandardError();
  return result;
}

Route Image(const std::string& body) {
  Route route;
  route.body = body;
  return route;
}

TEST(QmdownProgramTest, NoAddressShowsTheUsageAndExitsTwo) {
  qmtest::TempDir dir;
  const QByteArray usage = (qm::DownloaderUsageText() + QStringLiteral("\r\n")).toUtf8();
  for (const QStringList& args :
       {QStringList{}, QStringList{Q("s=" + dir.Path() + "&min=0&url=||")},
        QStringList{Q("s=" + dir.Path() + "&min=0&url=HTTP://127.0.0.1/a.jpg||")}}) {
    RunResult run = RunQmdown(args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, usage);
    EXPECT_TRUE(run.out.isEmpty());
  }
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

TEST(QmdownProgramTest, FolderHoldingHttpSuppressesTheUsage) {
  qmtest::TempDir dir;
  RunResult run = RunQmdown({Q("s=" + dir.Path() + "/http&min=0&url=||")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.err.isEmpty());
}

TEST(QmdownProgramTest, VersionAsSoleArgument) {
  RunResult run = RunQmdown({QStringLiteral("--version")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(QString::fromUtf8(run.out), QStringLiteral("Qmdown 1.0.0.0 链接下载插件\n"));
}

TEST(QmdownProgramTest, SavesEveryListedImageReachingTheMinimum) {
  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
  const std::string folder = dir.Path() + "/my pics";
  std::filesystem::create_directory(folder);
  server.Serve("/a/first.jpg", Image(std::string(10240, '1')));
  server.Serve("/b/second.jpg", Image(std::string(20000, '2')));
  server.Serve("/c/small.jpg", Image(std::string(10239, '3')));
  const std::string line = "s=" + folder + "&min=10240&url=" + server.Url("/a/first.jpg") + "\"" +
                           server.Url("/c/small.jpg") + "\"" + server.Url("/b/second.jpg") + "\"||";
  // The line arrives as one argument (as the crawler passes it) or split at
  // its blanks (as a shell would pass it): both read the same.
  RunResult run = RunQmdown({Q(line)});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
  EXPECT_EQ(ListFolder(folder), (std::set<std::string>{"first.jpg", "second.jpg"}));
  EXPECT_EQ(ReadWhole(folder + "/second.jpg"), std::string(20000, '2'));

  std::filesystem::remove(folder + "/first.jpg");
  std::filesystem::remove(folder + "/second.jpg");
  run = RunQmdown(Q(line).split(QLatin1Char(' ')));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ListFolder(folder), (std::set<std::string>{"first.jpg", "second.jpg"}));
  EXPECT_EQ(server.RequestCount(), 6u);
}

TEST(QmdownProgramTest, AddressCutByDoubleBarEndsTheList) {
  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
  server.Serve("/x.jpg", Image("x"));
  server.Serve("/y.jpg", Image("y"));
  RunResult run =
      RunQmdown({Q("s=" + dir.Path() + "&min=0&url=" + server.Url("/x.jpg") + "\"" +
                   server.Url("/y.jpg") + "||tail.jpg\"" + server.Url("/z.jpg") + "||")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"x.jpg", "y.jpg"}));
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(QmdownProgramTest, MinimumBeyondThirtyTwoBitsEndsBeforeAnyRequest) {
  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
  server.Serve("/a.jpg", Image("a"));
  RunResult run =
      RunQmdown({Q("s=" + dir.Path() + "&min=2147483648&url=" + server.Url("/a.jpg") + "||")});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err.count('\n'), 1);
  EXPECT_TRUE(run.err.endsWith('\n'));
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

TEST(QmdownProgramTest, FailedWriteLeavesNoPartialImage) {
  // A file size limit stands for a full disk: the large image cannot be
  // written whole, so nothing of it may stay; the small one is saved.
  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
  server.Serve("/big.jpg", Image(qmtest::PatternBody(1, 200000)));
  server.Serve("/fits.jpg", Image(qmtest::PatternBody(2, 20000)));
  RunResult run = RunQmdown({Q("s=" + dir.Path() + "&min=0&url=" + server.Url("/big.jpg") + "\"" +
                               server.Url("/fits.jpg") + "||")},
                            [] {
                              ::signal(SIGXFSZ, SIG_IGN);
                              struct rlimit limit = {65536, 65536};
                              ::setrlimit(RLIMIT_FSIZE, &limit);
                            });
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"fits.jpg"}));
  EXPECT_EQ(ReadWhole(dir.File("fits.jpg")), qmtest::PatternBody(2, 20000));
}

TEST(QmdownProgramTest, FiveDownloadersOnOneFolderNeverMixFiles) {
  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
  constexpr int kImages = 20;
  constexpr int kRuns = 5;
  std::map<std::string, int> bodyIndex;
  std::string list;
  for (int i = 0; i < kImages; ++i) {
    std::string body = qmtest::PatternBody(100 + i, 60000 + 5000 * i);
    bodyIndex[body] = i;
    const std::string path = "/set/img" + std::to_string(i) + ".jpg";
    server.Serve(path, Image(body));
    list += server.Url(path) + "\"";
  }
  const QString line = Q("s=" + dir.Path() + "&min=1024&url=" + list + "||");

  std::vector<std::unique_ptr<QProcess>> runs;
  for (int r = 0; r < kRuns; ++r) {
    runs.push_back(std::make_unique<QProcess>());
    runs.back()->start(kQmdown, {line});
  }
  for (auto& run : runs) {
    ASSERT_TRUE(run->waitForFinished(180000));
    EXPECT_EQ(run->exitCode(), 0);
  }

  const auto files = ListFolder(dir.Path());
  EXPECT_EQ(files.size(), static_cast<size_t>(kImages * kRuns));
  std::vector<int> copies(kImages, 0);
  const QRegularExpression name(QStringLiteral("^([a-zA-Z1-9]{6}-)?img(\\d+)\\.jpg$"));
  for (const auto& file : files) {
    auto match = name.match(Q(file));
    ASSERT_TRUE(match.hasMatch()) << file;
    auto found = bodyIndex.find(ReadWhole(dir.File(file)));
    ASSERT_NE(found, bodyIndex.end()) << file << " holds no one image whole";
    EXPECT_EQ(match.captured(2).toInt(), found->second) << file;
    ++copies[found->second];
  }
  for (int i = 0; i < kImages; ++i) EXPECT_EQ(copies[i], kRuns) << "image " << i;
}

}  // namespace
