#include "download/store_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/test_util.h"

namespace qm {
// Test names print a way of saving by its name.
void PrintTo(StoreMode mode, std::ostream* os) {
  *os << (mode == StoreMode::kAuto ? "Auto" : "TemporaryName");
}
}  // namespace qm

namespace {

using namespace qmtest;

// Both ways of saving: an unnamed file linked in, and a temporary name renamed.
class StoreFileTest : public ::testing::TestWithParam<qm::StoreMode> {
 protected:
  void SetUp() override {
    dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
  }
  void TearDown() override { ::close(dirFd); }
  std::string Store(const std::string& name, const std::string& base, const std::string& body) {
    return qm::StoreFile(dirFd, QByteArray::fromStdString(name), QByteArray::fromStdString(base),
                         QByteArray::fromStdString(body), GetParam())
        .toStdString();
  }

  TempDir dir;
  int dirFd = -1;
};

TEST_P(StoreFileTest, SavesTheWholeBodyUnderTheName) {
  const std::string body = Garbage(300000, 3);
  EXPECT_EQ(Store("a.jpg", "a.jpg", body), "a.jpg");
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"a.jpg"});
  EXPECT_EQ(ReadWhole(dir.File("a.jpg")), body);
}

TEST_P(StoreFileTest, TakenNameGetsAFreshPrefix) {
  WriteWhole(dir.File("a.jpg"), "old");
  WriteWhole(dir.File("qwerty-"), "old prefix");
  const std::string placed = Store("a.jpg", "a.jpg", "new");
  EXPECT_TRUE(IsPrefixed(placed, "a.jpg")) << placed;
  EXPECT_EQ(ReadWhole(dir.File(placed)), "new");
  EXPECT_EQ(ReadWhole(dir.File("a.jpg")), "old");

  // The prefixed name of an empty base is taken too: another prefix is drawn.
  const std::string second = Store("qwerty-", "", "newer");
  EXPECT_NE(second, "qwerty-");
  EXPECT_TRUE(IsPrefixed(second, "")) << second;
  EXPECT_EQ(ReadWhole(dir.File(second)), "newer");
  EXPECT_EQ(ReadWhole(dir.File("qwerty-")), "old prefix");
  EXPECT_EQ(ListFolder(dir.Path()).size(), 4u);
}

TEST_P(StoreFileTest, NameGrownTooLongByThePrefixIsGivenUp) {
  const std::string base(250, 'n');
  WriteWhole(dir.File(base), "old");
  EXPECT_EQ(Store(base, base, "x"), "");
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{base});
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
  const std::string placed = Store("big.jpg", "big.jpg", std::string(100000, 'b'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &before, nullptr);
  EXPECT_EQ(placed, "");
  EXPECT_TRUE(ListFolder(dir.Path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, StoreFileTest,
                         ::testing::Values(qm::StoreMode::kAuto, qm::StoreMode::kTemporaryName),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

}  // namespace
