// Saving onto a file system that runs full: the image that does not fit
// leaves nothing behind, and the images after it still save (the space the
// failed one took while it was written is given back).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <set>
#include <string>

#include "download/download_files.h"
#include "download/download_state.h"
#include "download/store_file.h"
#include "hardening_util.h"

namespace {

using qmtest::LoopbackServer;
using qmtest::Route;
using qmtest::hard::ListFolder;
using qmtest::hard::Q;
using qmtest::hard::ReadWhole;

// One mebibyte: the large image cannot fit; after it fails, the middle one
// (more than half of the space) only fits when nothing of the large one stayed.
constexpr char kSize[] = "1m";

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    large = qmtest::hard::Garbage(3u << 20, 31);
    middle = qmtest::hard::Garbage(700u << 10, 32);
    small = qmtest::hard::Garbage(10u << 10, 33);
    for (const auto& [path, body] : {std::pair{"/a/large.jpg", &large},
                                     {"/b/middle.jpg", &middle},
                                     {"/c/small.jpg", &small}}) {
      Route r;
      r.body = *body;
      server.Serve(path, r);
    }
    list = Q(server.Url("/a/large.jpg")) + "\"" + Q(server.Url("/b/middle.jpg")) + "\"" +
           Q(server.Url("/c/small.jpg")) + "\"";
  }

  void ExpectMiddleAndSmallOnly() {
    EXPECT_EQ(ListFolder(fs.Path()), (std::set<std::string>{"middle.jpg", "small.jpg"}));
    EXPECT_TRUE(ReadWhole(fs.Path() + "/middle.jpg") == middle);
    EXPECT_TRUE(ReadWhole(fs.Path() + "/small.jpg") == small);
  }

  qmtest::hard::SmallFileSystem fs{kSize};
  LoopbackServer server;
  std::string large, middle, small;
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
  EXPECT_TRUE(qm::StoreFile(dir, "large.jpg", "large.jpg", QByteArray::fromStdString(large),
                            qm::StoreMode::kTemporaryName)
                  .isEmpty());
  EXPECT_TRUE(ListFolder(fs.Path()).empty());
  EXPECT_EQ(qm::StoreFile(dir, "middle.jpg", "middle.jpg", QByteArray::fromStdString(middle),
                          qm::StoreMode::kTemporaryName),
            QByteArray("middle.jpg"));
  ::close(dir);
  EXPECT_EQ(ListFolder(fs.Path()), (std::set<std::string>{"middle.jpg"}));
}

TEST_F(DiskFullTest, DownloaderProgramGoesOnAfterTheImageThatDoesNotFit) {
  QProcess qmdown;
  qmdown.start(QStringLiteral(QM_BIN_DIR "/qmdown"),
               {QStringLiteral("s=") + Q(fs.Path()) + QStringLiteral("&min=1024&url=") + list +
                QStringLiteral("||")});
  ASSERT_TRUE(qmdown.waitForStarted(30000));
  ASSERT_TRUE(qmdown.waitForFinished(120000));
  EXPECT_EQ(qmdown.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(qmdown.exitCode(), 0);
  ExpectMiddleAndSmallOnly();
}

}  // namespace
