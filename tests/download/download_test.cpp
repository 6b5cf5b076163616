// Saving images (DownloadFiles, StoreFile, the random name prefix), and the
// download timer's tick without the downloader program beside the crawler,
// with the worker threads it starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>

#include "dispatcher_fake_host.h"
#include "download/download_files.h"
#include "download/store_file.h"

namespace {

using namespace qmtest;

using DownloadFilesTest = DispatchFixture;
using DispatcherTest = DispatchFixture;
using WorkerTest = DispatchFixture;

TEST_F(DownloadFilesTest, HttpPiecesReachingTheMinimumAreSavedInOrderBesideTakenNames) {
  const struct {
    const char *path, *savedAs;  // the name saved as, "~" standing for a random prefix
    int size, status, lowerCaseLength;
  } cases[] = {
      {"/img/equal.jpg", "equal.jpg=100", 100, 200, false},
      {"/one-below.jpg", nullptr, 99, 200, false},
      {"/lower-case-length-counts-0.jpg", nullptr, 100, 200, true},
      {"/error-page.jpg", nullptr, 150, 404, false},
      {"/q.jpg?w=1", "~q.jpg?w=1=100", 100, 200, false},  // the query stays; the name is taken
  };
  WriteWhole(save.File("q.jpg?w=1"), "old");
  QString list = "\"not an address\"ftp://x/a.jpg\"" + DeadAddress("refused.jpg");
  std::set<std::string> expected{"q.jpg?w=1=3"}, saved;  // "<name>=<size>"
  for (const auto& c : cases) {
    Route route = Reply(std::string(c.size, 'b'));
    route.status = c.status;
    route.lowerCaseLength = c.lowerCaseLength;
    server.Serve(c.path, route);
    list += Url(c.path);
    if (c.savedAs) expected.insert(c.savedAs);
  }
  qm::DownloadFiles(list, 100, {Q(save.Path()), nullptr});
  for (const auto& name : ListFolder(save.Path())) {
    const std::string body = ReadWhole(save.File(name)), base = name.substr(7);
    saved.insert((IsPrefixed(name, base) ? "~" + base : name) + "=" + std::to_string(body.size()));
  }
  EXPECT_EQ(saved, expected);
  ASSERT_EQ(server.RequestCount(), std::size(cases));  // in list order
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(server.Requests()[i].target, cases[i].path);
}

TEST_F(DownloadFilesTest, NamesThatNameNoNewFileAreRefused) {
  // ".", ".." and a name past 255 bytes are never saved; an address ending in
  // "/" is abandoned in an empty folder and saved as a bare prefix beside a file.
  server.Serve("*", Reply("picture"));
  const qm::DownloadOptions options{Q(save.Path()), nullptr};
  qm::DownloadFiles(Url("/a/.") + Url("/a/..") + Url("/" + std::string(256, 'n')) + Url("/d/"), 0,
                    options);
  EXPECT_TRUE(ListFolder(save.Path()).empty());
  qm::DownloadFiles(Url("/" + std::string(255, 'n')) + Url("/d/"), 0, options);
  const auto files = ListFolder(save.Path());
  ASSERT_EQ(files.size(), 2u);
  ASSERT_TRUE(files.count(std::string(255, 'n')));
  const std::string bare =
      *files.begin() == std::string(255, 'n') ? *files.rbegin() : *files.begin();
  EXPECT_TRUE(IsPrefixed(bare, "")) << bare;
}

TEST_F(DownloadFilesTest, CrawlerMarksEachAddressBeforeItsRequestUntilTheListIsCleared) {
  server.Serve("/twice.jpg", Reply("twice"));
  server.Serve("/small.jpg", Reply("tiny"));
  const qm::DownloadOptions options{QString(), &state};
  int yields = 0;
  qm::SetYieldHook([&yields] { ++yields; });
  const auto began = std::chrono::steady_clock::now();
  qm::DownloadFiles(Url("/twice.jpg") + Url("/twice.jpg") + Url("/small.jpg"), 5, options);
  qm::SetYieldHook({});
  // The crawler pauses 50 ms after the one file it saved (a lower bound only).
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50));
  EXPECT_GE(yields, 7);  // one a piece (four), one after the saved file, and the pause runs events
  qm::DownloadFiles(Url("/small.jpg"), 0, options);  // below the minimum before, yet marked
  EXPECT_EQ(ListFolder(save.Path()), std::set<std::string>{"twice.jpg"});
  EXPECT_EQ(server.RequestCount(), 2u);
  state.DoneList.Clear();
  qm::DownloadFiles(Url("/small.jpg"), 0, options);
  EXPECT_EQ(ListFolder(save.Path()), (std::set<std::string>{"twice.jpg", "small.jpg"}));
}

TEST(RandomTextTest, DrawsEveryOneOfTheSixtyOneCharactersAndNoOther) {
  std::set<char16_t> seen;  // 12,000 draws leave none out in practice
  for (int i = 0; i < 2000; ++i)
    for (const QChar c : qm::RandomText(6)) seen.insert(c.unicode());
  EXPECT_EQ(QString::fromStdU16String({seen.begin(), seen.end()}),
            "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

TEST(StoreFileTest, FileIsCompleteOrAbsentAndNeverReplacesAnEntry) {
  for (const auto mode : {qm::StoreMode::kAuto, qm::StoreMode::kTemporaryName}) {
    SCOPED_TRACE(mode == qm::StoreMode::kAuto ? "unnamed file" : "temporary name");
    TempDir dir;
    const int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto store = [&](const QByteArray& name, const std::string& body) {
      return qm::StoreFile(fd, name, name, QByteArray::fromStdString(body), mode).toStdString();
    };
    const std::string body = Garbage(300000, 3);
    EXPECT_EQ(store("a.jpg", body), "a.jpg");
    const std::string placed = store("a.jpg", "new");
    EXPECT_EQ(ReadWhole(dir.File(placed)), "new");
    EXPECT_TRUE(IsPrefixed(placed, "a.jpg") && ReadWhole(dir.File("a.jpg")) == body) << placed;
    struct rlimit saved, limited;  // a file size limit stands for a full disk
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limited = {4096, saved.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limited);
    EXPECT_EQ(store("big.jpg", std::string(100000, 'b')), "");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"a.jpg", placed}));
    ::close(fd);
  }
}

TEST_F(DispatcherTest, DoneListEmptiedPastThreeMegaCharactersOnlyWhileTheCrawlRuns) {
  // 17 characters an entry: 185,042 entries are 3,145,714, one more 3,145,731.
  for (std::uint64_t k = 1; k <= 185042; ++k) state.DoneList.Insert(k);
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 185042u);
  state.DoneList.Insert(185043);
  state.AppendToQueue(DeadAddress("a.jpg"));
  host.running = false;
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, QStringList{"StopA"});  // and nothing else
  EXPECT_EQ(state.Queue(), DeadAddress("a.jpg"));
  EXPECT_EQ(state.DoneList.Count(), 185043u);
  host.running = true;
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(state.DoneList.Count(), 0u);
}

TEST_F(DispatcherTest, WorkerStartsOnlyBelowTheLimitReadAsANumberAndForAnHttpAddress) {
  const QString dead = DeadAddress("a.jpg");
  const struct {
    const char *name, *limit;
    QString queue;
    int alive, starts;
  } cases[] = {
      {"one below the limit", "5", dead, 4, true}, {"at the limit", "5", dead, 5, false},
      {"fraction above", "2.5", dead, 2, true},    {"fraction below", "2.5", dead, 3, false},
      {"leading number", "1kb", dead, 0, true},    {"no number", "abc", dead, 0, false},
      {"empty pieces", "5", "\"\"", 0, false},     {"no http", "5", "HTTP://x/b.jpg\"", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.events.clear();
    host.limit = c.limit;
    state.TakeQueue();
    state.AppendToQueue(c.queue);
    state.ThreadCount = static_cast<std::int16_t>(c.alive);  // workers counted as alive
    qm::Timer2_Timer(state, host);
    EXPECT_EQ(host.events.size(), c.starts);
    EXPECT_EQ(host.LoggedWorker(), c.starts == 1);
    ASSERT_TRUE(WaitForWorkers(state, c.alive));
    EXPECT_EQ(state.Queue().isEmpty(), c.starts == 1);
  }
  state.ThreadCount = 0;
}

TEST_F(DispatcherTest, SizeBoundBeyond32BitsStopsTheCrawlBeforeTakingTheQueue) {
  state.AppendToQueue(DeadAddress("a.jpg"));
  state.MinSizeKb = 2097152;  // 2^31 bytes
  qm::Timer2_Timer(state, host);
  EXPECT_EQ(host.events, (QStringList{"DisableTimer2", "StopA", "Critical:溢出|6"}));
  EXPECT_EQ(state.Queue(), DeadAddress("a.jpg"));
  const QStringList error = ErrorFileLines(Q(program.Path()));  // read as GBK
  EXPECT_TRUE(error.value(1).endsWith("&min=2147483648&url=")) << error.value(1).toStdString();
  EXPECT_EQ(error.value(2), "错误:溢出  -  代码:6");
  host.events.clear();
  state.MinSizeKb = -2097152;  // -2^31 bytes still fit
  qm::Timer2_Timer(state, host);
  EXPECT_TRUE(host.LoggedWorker());
}

// Several workers at once on one folder: the first takes the whole queue, the
// others find it empty, one given its own list skips what the done-list holds;
// each lowers the count again.
TEST_F(WorkerTest, WorkersTakeTheQueueOnceAndSaveAnAddressOnce) {
  server.Serve("/a.jpg", Reply(std::string(1024, 'a'), 300));
  server.Serve("/b.jpg", Reply(std::string(1023, 'b'), 300));  // below the minimum of 1 kb
  state.AppendToQueue(Url("/a.jpg") + Url("/b.jpg"));
  state.MinSizeKb = 1;
  qm::Timer2_Timer(state, host);  // one worker, and the download job for all
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(qm::StartWorker(state));
  ASSERT_TRUE(WaitUntil([&] { return state.Queue().isEmpty(); }));
  ASSERT_TRUE(qm::StartWorker(state, Url("/a.jpg")));
  EXPECT_GE(LiveWorkers(state), 1);
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_EQ(ListFolder(save.Path()), std::set<std::string>{"a.jpg"});
}

}  // namespace
