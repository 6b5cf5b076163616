#include "download/download_files.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <filesystem>
#include <set>
#include <string>

#include "download/download_state.h"
#include "download/download_test_util.h"
#include "support/loopback_server.h"
#include "web/md5.h"
#include "web/yield.h"

namespace {

using qmtest::ListFolder;
using qmtest::Q;
using qmtest::ReadWhole;
using qmtest::Route;
using qmtest::WriteWhole;

Route Image(const std::string& body) {
  Route route;
  route.body = body;
  route.headerLines = {"Content-Type: image/jpeg"};
  return route;
}

bool IsPrefixed(const std::string& name, const std::string& base) {
  static const QRegularExpression prefix(QStringLiteral("^[a-zA-Z1-9]{6}-"));
  QString q = Q(name);
  return q.size() == 7 + Q(base).size() && prefix.match(q).hasMatch() && q.endsWith(Q(base));
}

class DownloadFilesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever happened, no unfinished temporary file stays behind.
    for (const auto& name : ListFolder(dir.Path())) {
      EXPECT_EQ(name.rfind(".qmpart-", 0), std::string::npos) << name;
    }
  }

  QString Url(const std::string& path) const { return Q(server.Url(path)); }
  QString Folder() const { return Q(dir.Path()); }
  void Download(const QString& list, std::int32_t minBytes) {
    qm::DownloadOptions options;
    options.folder = Folder();
    qm::DownloadFiles(list, minBytes, options);
  }
  std::set<std::string> Files() const { return ListFolder(dir.Path()); }
  std::string Read(const std::string& name) const { return ReadWhole(dir.File(name)); }
  // The single file of the folder besides `except`, or "" when there is not
  // exactly one.
  std::string OnlyOtherFile(const std::set<std::string>& except) const {
    std::string found;
    int count = 0;
    for (const auto& name : Files()) {
      if (except.count(name)) continue;
      found = name;
      ++count;
    }
    return count == 1 ? found : std::string();
  }

  qmtest::LoopbackServer server;
  qmtest::TempDir dir;
};

TEST_F(DownloadFilesTest, ListWithoutHttpTouchesNothing) {
  server.Serve("/a.jpg", Image("abc"));
  Download(QStringLiteral("\"ftp://x/a.jpg\"\"HTTP://y/b.jpg\"/a.jpg"), 0);
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(Files().empty());
}

TEST_F(DownloadFilesTest, EachQuoteSeparatedAddressIsHandledOnceInOrder) {
  server.Serve("/img/one.jpg", Image("first body"));
  server.Serve("/img/two.png", Image("second body"));
  // Empty pieces and a piece without "http" are passed over.
  Download(Url("/img/one.jpg") + "\"\"not an address\"" + Url("/img/two.png") + "\"", 0);
  EXPECT_EQ(Files(), (std::set<std::string>{"one.jpg", "two.png"}));
  EXPECT_EQ(Read("one.jpg"), "first body");
  EXPECT_EQ(Read("two.png"), "second body");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/img/one.jpg");
  EXPECT_EQ(requests[1].target, "/img/two.png");
  EXPECT_EQ(requests[0].method, "GET");
}

TEST_F(DownloadFilesTest, TakenNameGetsRandomPrefixAndOldFileStays) {
  WriteWhole(dir.File("pic.jpg"), "old bytes");
  server.Serve("/dir/pic.jpg", Image("new bytes"));
  Download(Url("/dir/pic.jpg"), 0);
  EXPECT_EQ(Read("pic.jpg"), "old bytes");
  std::string saved = OnlyOtherFile({"pic.jpg"});
  EXPECT_TRUE(
      QRegularExpression(QStringLiteral("^[a-zA-Z1-9]{6}-pic\\.jpg$")).match(Q(saved)).hasMatch())
      << saved;
  EXPECT_EQ(Read(saved), "new bytes");
}

TEST_F(DownloadFilesTest, DanglingLinkUnderTheNameIsNotFollowed) {
  // A symbolic link holding the name must not lead the bytes elsewhere.
  std::filesystem::create_symlink(dir.File("victim"), dir.File("pic.jpg"));
  server.Serve("/pic.jpg", Image("bytes"));
  Download(Url("/pic.jpg"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("victim")));
  std::string saved = OnlyOtherFile({"pic.jpg"});
  EXPECT_TRUE(IsPrefixed(saved, "pic.jpg")) << saved;
}

TEST_F(DownloadFilesTest, NameTakenWhileTheRequestRunsIsNotOverwritten) {
  // Another downloader creates the chosen name between the name test and the
  // file's creation: this run draws a prefix instead of writing into it.
  const std::string clash = dir.File("race.jpg");
  server.ServeFn("/race.jpg", [clash](const qmtest::RecordedRequest&) {
    WriteWhole(clash, "other downloader");
    return Image("this downloader");
  });
  Download(Url("/race.jpg"), 0);
  EXPECT_EQ(Read("race.jpg"), "other downloader");
  std::string saved = OnlyOtherFile({"race.jpg"});
  EXPECT_TRUE(IsPrefixed(saved, "race.jpg")) << saved;
  EXPECT_EQ(Read(saved), "this downloader");
}

TEST_F(DownloadFilesTest, AddressEndingInSlashNeedsAFileInTheFolder) {
  server.Serve("/gallery/", Image("index bytes"));
  Download(Url("/gallery/"), 0);
  EXPECT_TRUE(Files().empty());

  WriteWhole(dir.File("a.txt"), "x");
  Download(Url("/gallery/"), 0);
  std::string saved = OnlyOtherFile({"a.txt"});
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-zA-Z1-9]{6}-$")).match(Q(saved)).hasMatch())
      << saved;
  EXPECT_EQ(Read(saved), "index bytes");
  EXPECT_EQ(Read("a.txt"), "x");
}

TEST_F(DownloadFilesTest, DeclaredLengthIsComparedWithTheMinimum) {
  server.Serve("/below.jpg", Image(std::string(99, 'b')));
  server.Serve("/equal.jpg", Image(std::string(100, 'e')));
  Route lower = Image(std::string(5000, 'l'));
  lower.lowerCaseLength = true;
  Route missing = Image(std::string(5000, 'm'));
  missing.noContentLength = true;
  server.Serve("/lower.jpg", lower);
  server.Serve("/missing.jpg", missing);
  // A length header in another letter case, or none, declares 0.
  const QString list = Url("/below.jpg") + "\"" + Url("/equal.jpg") + "\"" + Url("/lower.jpg") +
                       "\"" + Url("/missing.jpg") + "\"";
  Download(list, 100);
  EXPECT_EQ(Files(), (std::set<std::string>{"equal.jpg"}));
  EXPECT_EQ(server.RequestCount(), 4u);
  std::filesystem::remove(dir.File("equal.jpg"));
  Download(list, 0);
  EXPECT_EQ(Files(), (std::set<std::string>{"below.jpg", "equal.jpg", "lower.jpg", "missing.jpg"}));
  EXPECT_EQ(Read("missing.jpg"), std::string(5000, 'm'));
}

TEST_F(DownloadFilesTest, ErrorStatusBodyIsSavedLikeAnyOther) {
  Route notFound = Image(std::string(2048, 'n'));
  notFound.status = 404;
  server.Serve("/gone.jpg", notFound);
  Download(Url("/gone.jpg"), 1024);
  EXPECT_EQ(Read("gone.jpg"), std::string(2048, 'n'));
}

TEST_F(DownloadFilesTest, RedirectIsSavedUnderTheAddressOwnName) {
  Route redirect;
  redirect.status = 302;
  redirect.headerLines = {"Location: /store/real-name.png"};
  server.Serve("/short.jpg", redirect);
  server.Serve("/store/real-name.png", Image(std::string(300, 'r')));
  Download(Url("/short.jpg"), 300);
  EXPECT_EQ(Files(), (std::set<std::string>{"short.jpg"}));
  EXPECT_EQ(Read("short.jpg"), std::string(300, 'r'));
}

TEST_F(DownloadFilesTest, FailedRequestWritesNothingAndTheNextIsSaved) {
  const QString unreachable =
      QStringLiteral("http://127.0.0.1:%1/lost.jpg").arg(qmtest::ClosedPort());
  Route cut = Image(std::string(200000, 'c'));
  cut.cutAfter = 50000;
  server.Serve("/cut.jpg", cut);
  server.Serve("/next.jpg", Image("next"));
  // A minimum of 0 lets every piece pass the size test; a failed request (no
  // connection, a body cut short) still has no body to save.
  Download(unreachable + "\"" + Url("/cut.jpg") + "\"" + Url("/next.jpg"), 0);
  EXPECT_EQ(Files(), (std::set<std::string>{"next.jpg"}));
}

TEST_F(DownloadFilesTest, QueryStringStaysPartOfTheName) {
  server.Serve("/p.jpg", Image("query"));
  Download(Url("/p.jpg?w=1"), 0);
  EXPECT_EQ(Files(), (std::set<std::string>{"p.jpg?w=1"}));
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].target, "/p.jpg?w=1");
}

TEST_F(DownloadFilesTest, NamesThatLeaveTheFolderOrAreTooLongAreRefused) {
  const std::string sub = dir.File("sub");
  std::filesystem::create_directory(sub);
  server.Serve("/ok.jpg", Image("ok"));
  const QString tooLong = Url("/" + std::string(256, 'x'));
  qm::DownloadOptions options;
  options.folder = Q(sub);
  qm::DownloadFiles(Url("/a/.") + "\"" + Url("/a/..") + "\"" + tooLong + "\"" + Url("/ok.jpg"), 0,
                    options);
  EXPECT_EQ(ListFolder(sub), (std::set<std::string>{"ok.jpg"}));
  EXPECT_EQ(Files(), (std::set<std::string>{"sub"}));

  // A folder that does not exist is not created.
  options.folder = Q(dir.File("missing"));
  qm::DownloadFiles(Url("/ok.jpg"), 0, options);
  EXPECT_EQ(Files(), (std::set<std::string>{"sub"}));
}

TEST_F(DownloadFilesTest, DownloaderRequestsTheSameAddressAgain) {
  server.Serve("/twice.jpg", Image("twice"));
  Download(Url("/twice.jpg") + "\"" + Url("/twice.jpg") + "\"", 0);
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(Read("twice.jpg"), "twice");
  std::string second = OnlyOtherFile({"twice.jpg"});
  EXPECT_TRUE(IsPrefixed(second, "twice.jpg")) << second;
}

TEST_F(DownloadFilesTest, CrawlerSkipsAddressesInTheDoneList) {
  qm::DownloadState state;
  state.SetSavePath(Folder());
  server.Serve("/twice.jpg", Image("twice"));
  Route small = Image("tiny");
  server.Serve("/small.jpg", small);

  int yields = 0;
  qm::SetYieldHook([&yields] { ++yields; });
  qm::DownloadOptions options;
  options.crawler = &state;
  options.folder = Q(dir.File("not-used"));  // the crawler saves into SavePath
  const QString list = Url("/twice.jpg") + "\"" + Url("/twice.jpg") + "\"" + Url("/small.jpg");
  qm::DownloadFiles(list, 3, options);
  qm::SetYieldHook({});

  EXPECT_EQ(Files(), (std::set<std::string>{"twice.jpg", "small.jpg"}));
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_GE(yields, 3);  // at least one per piece
  {
    std::lock_guard<std::mutex> guard(state.lock);
    EXPECT_EQ(state.DoneList.Count(), 2u);
    EXPECT_TRUE(state.DoneList.Contains(qm::Md5Key(Url("/twice.jpg"))));
  }

  // An address below the minimum was marked before its request: it is not
  // requested again while it stays in the list.
  server.ClearRequests();
  qm::DownloadFiles(Url("/small.jpg") + "\"" + Url("/twice.jpg"), 1000, options);
  EXPECT_EQ(server.RequestCount(), 0u);

  // Once the list is emptied, the address is fetched again.
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.DoneList.Clear();
  }
  qm::DownloadFiles(Url("/small.jpg"), 0, options);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(RandomTextTest, DrawsFromTheSixtyOneCharacters) {
  EXPECT_EQ(qm::RandomText(0), QString());
  EXPECT_EQ(qm::RandomText(-3), QString());
  const QString set =
      QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ123456789");
  std::set<QChar> seen;
  for (int i = 0; i < 2000; ++i) {
    const QString text = qm::RandomText(6);
    ASSERT_EQ(text.size(), 6);
    for (QChar c : text) {
      ASSERT_TRUE(set.contains(c)) << text.toStdString();
      seen.insert(c);
    }
  }
  EXPECT_EQ(seen.size(), 61u);  // 12,000 draws leave none of the 61 out in practice
  EXPECT_NE(qm::RandomText(16), qm::RandomText(16));
}

}  // namespace
