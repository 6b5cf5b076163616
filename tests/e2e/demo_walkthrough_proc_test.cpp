// The demo's printed walk-through, followed literally: the demo site served
// with its steps printed, the printed address typed, the clicks named, and
// pictures saved by real downloaders into the folder the steps name.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include "ui/window_test_support.h"

namespace {

using namespace qmtest;

class DemoWalkThrough : public WindowTest {
 protected:
  // The crawler beside the server, as in a build folder.
  void SetUp() override {
    window = std::make_unique<qm::frmMain>(QStringLiteral(QM_BIN_DIR), rec.Hooks());
    Show(/*active=*/true);
  }
  void TearDown() override {
    WaitUntil([] { return Downloaders() == 0; });
    window.reset();
    server.kill();
    server.waitForFinished();
  }
  QProcess server;
};

TEST_F(DemoWalkThrough, PrintedStepsSavePictures) {
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  const QString site = Q(dir.File("site"));
  ASSERT_EQ(QProcess::execute(QStringLiteral(QM_BIN_DIR "/qm_site_gen"), {"demo", site}), 0);
  server.start(QStringLiteral(QM_BIN_DIR "/qm_serve"), {"--demo", site});
  QString printed;
  ASSERT_TRUE(WaitUntil([&] {
    server.waitForReadyRead(100);
    printed += QString::fromUtf8(server.readAllStandardOutput());
    return printed.contains(QStringLiteral("停 止"));
  }));
  const auto typed = QRegularExpression(QStringLiteral("Type (\\S+) into 采集网址")).match(printed);
  const auto folder = QRegularExpression(QStringLiteral("saved into\\s+(\\S+)")).match(printed);
  ASSERT_TRUE(typed.hasMatch() && folder.hasMatch()) << printed.toStdString();
  QDir images(folder.captured(1));
  images.removeRecursively();

  qm::frmMain& w = *window;
  ClickAt(w.qMmenu1(qm::kBtnFold));       // 1. unfold
  TypeInto(w.Txt(2), typed.captured(1));  // 2. the printed address
  ClickAt(w.qMmenu1(qm::kBtnSite));       // 3. the site switch, twice
  ClickAt(w.qMmenu1(qm::kBtnSite));
  ClickAt(w.qMmenu1(qm::kBtnStart));  // 4. start
  const bool saved = WaitUntil([&] { return !images.entryList(QDir::Files).isEmpty(); }, 120);
  ClickAt(w.qMmenu1(qm::kBtnStart));  // 5. stop
  ASSERT_TRUE(saved) << w.Engine().Lv().ItemCount() << " rows\n" << Log().toStdString();
  for (const QFileInfo& file : images.entryInfoList(QDir::Files))
    EXPECT_GE(file.size(), 100 * 1024) << file.fileName().toStdString();
  EXPECT_TRUE(rec.criticals.isEmpty());
  WaitUntil([] { return Downloaders() == 0; });
  images.removeRecursively();
}

}  // namespace
