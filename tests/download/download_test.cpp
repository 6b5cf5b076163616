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

// Saved as "<name>=<size>", "~" standing for a random prefix; an empty
// `savedAs`: never saved. The folder holds a file from the start.
TEST_F(DownloadFilesTest, PiecesReachingTheMinimumAreSavedUnderANewName) {
  const std::string longest(255, 'n');
  const struct {
    std::string path, savedAs;
    int size = 100;
    int status = 200;
    bool lowerCaseLength = false;
  } rows[] = {
      {"/img/equal.jpg", "equal.jpg=100"},
      {"/one-below.jpg", "", 99},
      {"/lower-case-length.jpg", "", 100, 200, true},
      {"/error-page.jpg", "", 150, 400},
      {"/q.jpg?w=1", "~q.jpg?w=1=100"},  // the name is taken; the query stays in it
      {"/d/", "~=100"},                  // ends in "/": the prefix alone
      {"/a/.", ""},
      {"/a/..", ""},
      {"/" + longest, longest + "=100"},
  };
  WriteWhole(save.File("q.jpg?w=1"), "old");
  server.Serve("*", Reply(std::string(100, 'a')));
  QString list;
  std::set<std::string> expected{"q.jpg?w=1=3"}, saved;
  for (const auto& row : rows) {
    Route route = Reply(std::string(row.size, 'b'));
    route.status = row.status;
    route.lowerCaseLength = row.lowerCaseLength;
    server.Serve(row.path, route);
    list += Url(row.path);
    if (!row.savedAs.empty()) expected.insert(row.savedAs);
  }
  qm::DownloadFiles(list, 100, {Q(save.Path()), nullptr});
  for (const auto& name : ListFolder(save.Path())) {
    const std::string body = ReadWhole(save.File(name)), base = name.substr(7);
    saved.insert((IsPrefixed(name, base) ? "~" + base : name) + "=" + std::to_string(body.size()));
  }
  EXPECT_EQ(saved, expected);
  TempDir empty;  // in an empty folder, an address ending in "/" would name the folder
  qm::DownloadFiles(Url("/d/"), 0, {Q(empty.Path()), nullptr});
  EXPECT_EQ(ListFolder(empty.Path()), std::set<std::string>{});
}

TEST_F(DownloadFilesTest, CrawlerMarksEachAddressBeforeItsRequestUntilTheListIsCleared) {
  server.Serve("/twice.jpg", Reply("twice"));
  server.Serve("/small.jpg", Reply("tiny"));
  const qm::DownloadOptions crawler{QString(), &state};  // the folder is the crawler's
  const auto began = std::chrono::steady_clock::now();
  qm::DownloadFiles(Url("/twice.jpg") + Url("/twice.jpg") + Url("/small.jpg"), 5, crawler);
  // The crawler pauses 50 ms after each file it saved.
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50));
  qm::DownloadFiles(Url("/small.jpg"), 0, crawler);  // below the minimum before, yet marked
  EXPECT_EQ(server.RequestCount(), 2u);
  state.DoneList.Clear();
  qm::DownloadFiles(Url("/small.jpg"), 0, crawler);
  EXPECT_EQ(ListFolder(save.Path()), (std::set<std::string>{"twice.jpg", "small.jpg"}));
}

TEST(RandomTextTest, DrawsEveryOneOfTheSixtyOneCharactersAndNoOther) {
  std::set<char16_t> seen;  // 12,000 draws leave none out in practice
  for (int i = 0; i < 2000; ++i)
    for (const QChar c : qm::RandomText(6)) seen.insert(c.unicode());
  EXPECT_EQ(QString::fromStdU16String({seen.begin(), seen.end()}),
            "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

// A file size limit stands for a full disk.
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
    EXPECT_TRUE(IsPrefixed(placed, "a.jpg")) << placed;
    EXPECT_EQ(ReadWhole(dir.File(placed)), "new");
    EXPECT_EQ(ReadWhole(dir.File("a.jpg")), body);
    struct rlimit saved, limited;
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

// 185,042 entries are the most whose text form (a 16-digit fingerprint and a
// comma each) stays within 3 MiB characters.
TEST_F(DispatcherTest, DoneListEmptiedPastThreeMebiCharactersOnlyWhileTheCrawlRuns) {
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
    int alive;
    bool starts;
  } rows[] = {
      {"one below the limit", "5", dead, 4, true},
      {"at the limit", "5", dead, 5, false},
      {"a fraction above the count", "2.5", dead, 2, true},
      {"a number before letters", "1kb", dead, 0, true},
      {"the count at its largest", "40000", dead, 32767, false},
      {"http in capitals only", "5", "HTTP://x/b.jpg\"", 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host.events.clear();
    host.limit = row.limit;
    state.TakeQueue();
    state.AppendToQueue(row.queue);
    state.ThreadCount = static_cast<std::int16_t>(row.alive);  // workers counted as alive
    qm::Timer2_Timer(state, host);
    EXPECT_EQ(host.events.size(), row.starts);
    EXPECT_EQ(host.LoggedWorker(), row.starts);
    ASSERT_TRUE(WaitForWorkers(state, row.alive));
    EXPECT_EQ(state.Queue().isEmpty(), row.starts);
  }
  state.ThreadCount = 0;
}

// Eight workers given one list at once, and a worker a tick while the crawl
// goes on adding to the queue: every address is fetched once and saved once.
TEST_F(DispatcherTest, WorkersFetchAndSaveEveryAddressExactlyOnce) {
  server.Serve("*", Reply("picture"));
  std::set<std::string> names;
  QString list;
  for (int i = 0; i < 300; ++i) {
    names.insert(std::to_string(i) + "l");
    list += Url("/" + std::to_string(i) + "l");
  }
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(qm::StartWorker(state, list));
  host.limit = "1000";
  for (int i = 0; i < 300; ++i) {
    names.insert(std::to_string(i) + "q");
    state.AppendToQueue(Url("/" + std::to_string(i) + "q"));
    qm::Timer2_Timer(state, host);
  }
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(state.Queue(), "");
  EXPECT_EQ(server.RequestCount(), names.size());
  EXPECT_EQ(ListFolder(save.Path()), names);
}

}  // namespace
