#include "download/download_files.h"

#include <gtest/gtest.h>

#include "support/test_util.h"
#include "web/md5.h"

namespace {

using namespace qmtest;

class DownloadFilesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever happened, no unfinished temporary file stays behind.
    for (const auto& name : Files()) EXPECT_EQ(name.rfind(".qmpart-", 0), std::string::npos);
  }

  QString Url(const std::string& path) const { return Q(server.Url(path)); }
  void Download(const QString& list, std::int32_t minBytes, const std::string& folder = {}) {
    qm::DownloadOptions options;
    options.folder = Q(folder.empty() ? dir.Path() : folder);
    qm::DownloadFiles(list, minBytes, options);
  }
  std::set<std::string> Files() const { return ListFolder(dir.Path()); }
  std::string Read(const std::string& name) const { return ReadWhole(dir.File(name)); }
  // The files of the folder besides `except`.
  std::vector<std::string> Others(const std::set<std::string>& except) const {
    std::vector<std::string> found;
    for (const auto& name : Files())
      if (!except.count(name)) found.push_back(name);
    return found;
  }

  LoopbackServer server;
  TempDir dir;
};

TEST_F(DownloadFilesTest, EachQuoteSeparatedAddressIsHandledOnceInOrder) {
  server.Serve("/img/one.jpg", Reply("first body"));
  server.Serve("/img/two.png", Reply("second body"));
  // Nothing with "http" in it, or no folder to save into: nothing is requested.
  Download(QStringLiteral("\"ftp://x/a.jpg\"\"HTTP://y/b.jpg\"/img/one.jpg"), 0);
  Download(Url("/img/one.jpg"), 0, dir.File("missing"));  // and the folder is not made
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_TRUE(Files().empty());

  // Empty pieces and a piece without "http" are passed over.
  Download(Url("/img/one.jpg") + "\"\"not an address\"" + Url("/img/two.png") + "\"", 0);
  EXPECT_EQ(Files(), (std::set<std::string>{"one.jpg", "two.png"}));
  EXPECT_EQ(Read("one.jpg"), "first body");
  EXPECT_EQ(Read("two.png"), "second body");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/img/one.jpg");
  EXPECT_EQ(requests[1].target, "/img/two.png");
  EXPECT_EQ(requests[0].method, "GET");
}

TEST_F(DownloadFilesTest, TakenNameGetsRandomPrefixAndOldFileStays) {
  // Without a done-list the same address is requested again and saved beside.
  WriteWhole(dir.File("pic.jpg"), "old bytes");
  server.Serve("/dir/pic.jpg", Reply("new bytes"));
  Download(Url("/dir/pic.jpg") + "\"" + Url("/dir/pic.jpg") + "\"", 0);
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(Read("pic.jpg"), "old bytes");
  const auto saved = Others({"pic.jpg"});
  ASSERT_EQ(saved.size(), 2u);
  for (const std::string& name : saved) {
    EXPECT_TRUE(IsPrefixed(name, "pic.jpg")) << name;
    EXPECT_EQ(Read(name), "new bytes");
  }
}

TEST_F(DownloadFilesTest, NameTakenWhileTheRequestRunsIsNotOverwritten) {
  // Another downloader creates the chosen name between the name test and the
  // file's creation: this run draws a prefix instead of writing into it.
  const std::string clash = dir.File("race.jpg");
  server.ServeFn("/race.jpg", [clash](const RecordedRequest&) {
    WriteWhole(clash, "other downloader");
    return Reply("this downloader");
  });
  Download(Url("/race.jpg"), 0);
  EXPECT_EQ(Read("race.jpg"), "other downloader");
  const auto saved = Others({"race.jpg"});
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_TRUE(IsPrefixed(saved[0], "race.jpg")) << saved[0];
  EXPECT_EQ(Read(saved[0]), "this downloader");
}

TEST_F(DownloadFilesTest, DeclaredLengthIsComparedWithTheMinimum) {
  server.Serve("/below.jpg", Reply(std::string(99, 'b')));
  server.Serve("/equal.jpg", Reply(std::string(100, 'e')));
  // An error page is no picture, however long, whatever the minimum.
  Route notFound = Reply(std::string(150, 'n'));
  notFound.status = 404;
  server.Serve("/gone.jpg", notFound);
  Download(Url("/below.jpg") + "\"" + Url("/equal.jpg") + "\"" + Url("/gone.jpg"), 100);
  Download(Url("/gone.jpg"), 0);
  EXPECT_EQ(Files(), std::set<std::string>{"equal.jpg"});
  EXPECT_EQ(server.RequestCount(), 4u);
}

TEST_F(DownloadFilesTest, NameIsTheAddressOwnLastSegment) {
  // The query string stays part of it; a redirect does not rename, and the
  // length that counts is the final answer's.
  Route redirect;
  redirect.status = 302;
  redirect.headerLines = {"Location: /store/real-name.png"};
  server.Serve("/short.jpg", redirect);
  server.Serve("/store/real-name.png", Reply(std::string(300, 'r')));
  server.Serve("/p.jpg", Reply(std::string(300, 'q')));
  Download(Url("/short.jpg") + "\"" + Url("/p.jpg?w=1"), 300);
  EXPECT_EQ(Files(), (std::set<std::string>{"short.jpg", "p.jpg?w=1"}));
  EXPECT_EQ(Read("short.jpg"), std::string(300, 'r'));
  EXPECT_EQ(server.Requests().back().target, "/p.jpg?w=1");
}

TEST_F(DownloadFilesTest, CrawlerSkipsAddressesInTheDoneList) {
  qm::DownloadState state;
  state.SetSavePath(Q(dir.Path()));
  server.Serve("/twice.jpg", Reply("twice"));
  server.Serve("/small.jpg", Reply("tiny"));

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
  EXPECT_EQ(state.DoneList.Count(), 2u);
  EXPECT_TRUE(state.DoneList.Contains(qm::Md5Key(Url("/twice.jpg"))));

  // An address below the minimum was marked before its request: it is not
  // requested again while it stays in the list.
  server.ClearRequests();
  qm::DownloadFiles(Url("/small.jpg") + "\"" + Url("/twice.jpg"), 1000, options);
  EXPECT_EQ(server.RequestCount(), 0u);

  // Once the list is emptied, the address is fetched again.
  state.DoneList.Clear();
  qm::DownloadFiles(Url("/small.jpg"), 0, options);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(RandomTextTest, DrawsFromTheSixtyOneCharacters) {
  EXPECT_EQ(qm::RandomText(0), QString());
  EXPECT_EQ(qm::RandomText(-3), QString());
  std::set<QChar> seen;
  for (int i = 0; i < 2000; ++i) {
    const QString text = qm::RandomText(6);
    ASSERT_TRUE(IsPrefixed(text.toStdString() + "-", "")) << text.toStdString();
    seen.insert(text.begin(), text.end());
  }
  EXPECT_EQ(seen.size(), 61u);  // 12,000 draws leave none of the 61 out in practice
  EXPECT_NE(qm::RandomText(16), qm::RandomText(16));
}

}  // namespace
