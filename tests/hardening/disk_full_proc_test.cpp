// Saving onto a file system that runs full: the image that does not fit
// leaves nothing behind, and the images after it still save (the space the
// failed one took while it was written is given back).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "download/download_files.h"
#include "download/store_file.h"
#include "hardening_util.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;

// One mebibyte: the large image cannot fit; after it fails, the middle one
// (more than half of the space) only fits when nothing of the large one stayed.
class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    for (const auto& [name, body] : bodies) {
      server.Serve("/" + name, Reply(body));
      list += Q(server.Url("/" + name)) + "\"";
    }
  }
  void ExpectMiddleAndSmallOnly() {
    EXPECT_EQ(ListFolder(fs.Path()), (std::set<std::string>{"middle.jpg", "small.jpg"}));
    EXPECT_TRUE(ReadWhole(fs.Path() + "/middle.jpg") == bodies.at("middle.jpg"));
    EXPECT_TRUE(ReadWhole(fs.Path() + "/small.jpg") == bodies.at("small.jpg"));
  }

  SmallFileSystem fs{"1m"};
  LoopbackServer server;
  // In the order of the list: the large one first.
  const std::map<std::string, std::string> bodies{{"large.jpg", Garbage(3u << 20, 31)},
                                                  {"middle.jpg", Garbage(700u << 10, 32)},
                                                  {"small.jpg", Garbage(10u << 10, 33)}};
  QString list;
};

TEST_F(DiskFullTest, DownloadFilesGoesOnAfterTheImageThatDoesNotFit) {
  qm::DownloadOptions options;
  options.folder = Q(fs.Path());
  qm::DownloadFiles(list, 1024, options);
  ExpectMiddleAndSmallOnly();
  EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(DiskFullTest, CrawlerCopyGoesOnAfterTheImageThatDoesNotFit) {
  qm::DownloadState state;
  state.SetSavePath(Q(fs.Path()));
  qm::DownloadOptions options;
  options.crawler = &state;
  qm::DownloadFiles(list, 1024, options);
  ExpectMiddleAndSmallOnly();
}

TEST_F(DiskFullTest, TemporaryNameIsRemovedWhenTheDiskRunsFull) {
  const int dir = ::open(fs.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  for (const auto& [name, body] : bodies) {
    const QByteArray placed =
        qm::StoreFile(dir, name.c_str(), name.c_str(), QByteArray::fromStdString(body),
                      qm::StoreMode::kTemporaryName);
    EXPECT_EQ(placed, name == "large.jpg" ? QByteArray() : QByteArray(name.c_str())) << name;
    if (name == "large.jpg") {
      EXPECT_TRUE(ListFolder(fs.Path()).empty());
    }
  }
  ::close(dir);
  ExpectMiddleAndSmallOnly();
}

TEST_F(DiskFullTest, DownloaderProgramGoesOnAfterTheImageThatDoesNotFit) {
  const RunResult run = RunQmdown({"s=" + Q(fs.Path()) + "&min=1024&url=" + list + "||"});
  EXPECT_EQ(run.exitCode, 0);  // a normal exit
  ExpectMiddleAndSmallOnly();
}

}  // namespace
