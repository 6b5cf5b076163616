#include "download/store_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QRegularExpression>
#include <set>
#include <string>

#include "download/download_test_util.h"
#include "support/loopback_server.h"

namespace {

using qmtest::ListFolder;
using qmtest::ReadWhole;
using qmtest::WriteWhole;

// Both ways of saving: an unnamed file linked in, and a temporary name renamed.
class StoreFileTest : public ::testing::TestWithParam<qm::StoreMode> {
 protected:
  void SetUp() override {
    dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
  }
  void TearDown() override { ::close(dirFd); }
  QByteArray Store(const QByteArray& name, const QByteArray& base, const QByteArray& body) {
    return qm::StoreFile(dirFd, name, base, body, GetParam());
  }

  qmtest::TempDir dir;
  int dirFd = -1;
};

TEST_P(StoreFileTest, SavesTheWholeBodyUnderTheName) {
  const std::string body = qmtest::PatternBody(3, 300000);
  EXPECT_EQ(Store("a.jpg", "a.jpg", QByteArray::fromStdString(body)), QByteArray("a.jpg"));
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"a.jpg"}));
  EXPECT_EQ(ReadWhole(dir.File("a.jpg")), body);
}

TEST_P(StoreFileTest, TakenNameGetsAFreshPrefix) {
  WriteWhole(dir.File("a.jpg"), "old");
  WriteWhole(dir.File("qwerty-"), "old prefix");
  const QByteArray placed = Store("a.jpg", "a.jpg", "new");
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-zA-Z1-9]{6}-a\\.jpg$"))
                  .match(QString::fromLatin1(placed))
                  .hasMatch())
      << placed.toStdString();
  EXPECT_EQ(ReadWhole(dir.File(placed.toStdString())), "new");
  EXPECT_EQ(ReadWhole(dir.File("a.jpg")), "old");

  // The prefixed name of an empty base is taken too: another prefix is drawn.
  const QByteArray second = Store("qwerty-", "", "newer");
  EXPECT_NE(second, QByteArray("qwerty-"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-zA-Z1-9]{6}-$"))
                  .match(QString::fromLatin1(second))
                  .hasMatch());
  EXPECT_EQ(ReadWhole(dir.File(second.toStdString())), "newer");
  EXPECT_EQ(ReadWhole(dir.File("qwerty-")), "old prefix");
  EXPECT_EQ(ListFolder(dir.Path()).size(), 4u);
}

TEST_P(StoreFileTest, NameGrownTooLongByThePrefixIsGivenUp) {
  const std::string base(250, 'n');
  WriteWhole(dir.File(base), "old");
  EXPECT_TRUE(
      Store(QByteArray::fromStdString(base), QByteArray::fromStdString(base), "x").isEmpty());
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{base}));
}

TEST_P(StoreFileTest, FailedWriteLeavesNothing) {
  // A file size limit stands for a full disk.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore = {}, before = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &before);
  struct rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const QByteArray placed = Store("big.jpg", "big.jpg", QByteArray(100000, 'b'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &before, nullptr);
  EXPECT_TRUE(placed.isEmpty());
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, StoreFileTest,
                         ::testing::Values(qm::StoreMode::kAuto, qm::StoreMode::kTemporaryName),
                         [](const auto& info) {
                           return info.param == qm::StoreMode::kAuto ? std::string("Auto")
                                                                     : std::string("TemporaryName");
                         });

}  // namespace
