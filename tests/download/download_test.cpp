// Saving images (DownloadFiles, StoreFile, the random name prefix), and the
// download timer's tick without the downloader program beside the crawler,
// with the worker threads it starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "dispatcher_fake_host.h"
#include "download/download_files.h"
#include "download/store_file.h"

namespace {

using namespace qmtest;

using DownloadFilesTest = DispatchFixture;
using DispatcherTest = DispatchFixture;

// The names saved as, "~" standing for a random prefix; an empty `savedAs`:
// never saved. The folder holds a file from the start.
TEST_F(DownloadFilesTest, PiecesReachingTheMinimumAreSavedUnderANewName) {
  const std::string longest(255, 'n');
  const struct {
    std::string path, savedAs;
    int size = 100;
    int status = 200;
  } rows[] = {
      {"/img/equal.jpg", "equal.jpg"},
      {"/one-below.jpg", "", 99},
      {"/error-page.jpg", "", 150, 400},
      {"/q.jpg?w=1", "~q.jpg?w=1"},  // the name is taken; the query stays in it
      {"/d/", "~"},                  // ends in "/": the prefix alone
      {"/a/.", ""},
      {"/a/..", ""},
      {"/" + longest, longest},
  };
  WriteWhole(save.File("q.jpg?w=1"), "old");
  server.Serve("*", Reply(std::string(100, 'a')));
  QString list;
  std::set<std::string> expected{"q.jpg?w=1"}, saved;
  for (const auto& row : rows) {
    server.Serve(row.path, {row.status, {}, {}, std::string(row.size, 'b')});
    list += Url(row.path);
    if (!row.savedAs.empty()) expected.insert(row.savedAs);
  }
  const auto began = std::chrono::steady_clock::now();
  qm::DownloadFiles(list, 100, {QString(), &state});  // the crawler's, in its folder
  // The crawler pauses 50 ms after each file it saved.
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(200));
  for (const auto& name : ListFolder(save.Path()))
    saved.insert(IsPrefixed(name, name.substr(7)) ? "~" + name.substr(7) : name);
  EXPECT_EQ(saved, expected);
  TempDir empty;  // there an address ending in "/" would name the folder
  qm::DownloadFiles(Url("/d/"), 0, {Q(empty.Path()), nullptr});
  EXPECT_EQ(ListFolder(empty.Path()), std::set<std::string>{});
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
    SCOPED_TRACE(static_cast<int>(mode));
    TempDir dir;
    const int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    const auto store = [&](const QByteArray& name, const std::string& body) {
      return qm::StoreFile(fd, name, name, QByteArray::fromStdString(body), mode).toStdString();
    };
    const std::string body = Garbage(300000, 3);
    EXPECT_EQ(store("a.jpg", body), "a.jpg");
    const std::string placed = store("a.jpg", "new");
    EXPECT_TRUE(IsPrefixed(placed, "a.jpg")) << placed;
    EXPECT_EQ(ReadWhole(dir.File(placed)), "new");
    EXPECT_EQ(ReadWhole(dir.File("a.jpg")), body);
    rlimit saved;
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limited{4096, saved.rlim_max};
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
  Tick();
  EXPECT_EQ(state.DoneList.Count(), 185042u);
  state.DoneList.Insert(185043);
  running = false;
  Tick();
  EXPECT_EQ(events, QStringList{"StopA"});  // and nothing else
  EXPECT_EQ(state.DoneList.Count(), 185043u);
  running = true;
  Tick();
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
      {"http in capitals only", "5", "HTTP://x/b.jpg\"", 0, false},
      {"one below the limit", "5", dead, 4, true},
      {"at the limit", "5", dead, 5, false},
      {"a fraction above the count", "2.5", dead, 2, true},
      {"the count at its largest", "40000", dead, 32767, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    events.clear();
    limit = row.limit;
    state.AppendToQueue(row.queue);  // what a row without a worker left stays
    state.ThreadCount = static_cast<std::int16_t>(row.alive);  // workers counted as alive
    Tick();
    EXPECT_EQ(events.size(), row.starts);
    ASSERT_TRUE(WaitForWorkers(state, row.alive));
    EXPECT_EQ(state.Queue().isEmpty(), row.starts);
  }
  state.ThreadCount = 0;
}

// Eight workers given one list at once, and workers started one after
// another while the crawl goes on adding to the queue: every address is
// marked once, every picture (each 500th) fetched and saved once, every fifth
// of the list, below the minimum, fetched once. The rest end in "/..":
// marked, then refused without a request, they let the workers race through
// the marking and the queue.
TEST_F(DispatcherTest, WorkersMarkEveryAddressOnceAndSaveEveryPictureOnce) {
  server.Serve("*", Reply(std::string(1024, 'p')));
  server.Serve("/small", Reply("s"));
  const auto address = [this](int i) {
    if (i % 500 == 0) return Url("/" + std::to_string(i));
    if (i < 20000 && i % 5 == 0) return Url("/small?" + std::to_string(i));
    return Url("/" + std::to_string(i) + "/..");
  };
  QString list;
  for (int i = 1; i < 20000; ++i) list += address(i);
  state.MinSizeKb = 1;
  state.AppendToQueue(address(20000));
  Tick();  // the first worker for the queue
  for (int i = 0; i < 8; ++i) qm::StartWorker(state, list);
  std::atomic<bool> adding = true;
  std::thread starter([&] {
    while (adding) qm::StartWorker(state);
  });
  for (int i = 20001; i < 170000; ++i) state.AppendToQueue(address(i));
  adding = false;
  starter.join();
  qm::StartWorker(state);  // for what is left
  ASSERT_TRUE(WaitForWorkers(state));
  EXPECT_EQ(state.DoneList.Count(), 169999u);
  EXPECT_EQ(server.RequestCount(), 4299u);  // 339 pictures, 3,960 below the minimum
  EXPECT_EQ(ListFolder(save.Path()).size(), 339u);
}

}  // namespace
