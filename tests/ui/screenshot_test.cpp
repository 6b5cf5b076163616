// Pictures of the window for the documentation: with QM_SCREENSHOT_DIR set,
// the window is rendered folded, unfolded and with the address list shown into
// window-folded.png, window-unfolded.png and window-list.png in that folder.
#include <QDir>

#include "window_test_support.h"

namespace {

using Screenshots = qmtest::WindowTest;

TEST_F(Screenshots, FoldedAndUnfolded) {
  const QString target = qEnvironmentVariable("QM_SCREENSHOT_DIR");
  if (target.isEmpty()) GTEST_SKIP() << "QM_SCREENSHOT_DIR not set";
  ASSERT_TRUE(QDir().mkpath(target));
  Show();
  qm::frmMain& w = *window;
  w.Engine().SetTxt(2, QStringLiteral("http://127.0.0.1/"));
  w.Engine().Ag(QStringLiteral("开始检查配置与环境..."));
  w.qMmenu1(qm::kBtnStart)->setFocus();  // no text cursor in the pictures
  auto shoot = [&](const char* name, const QSize& size) {
    QApplication::processEvents();
    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.size(), size) << name;
    EXPECT_TRUE(image.save(QDir(target).filePath(QLatin1String(name))));
  };
  shoot("window-folded.png", QSize(653, 395));
  w.qMmenu1_Click(qm::kBtnFold);
  shoot("window-unfolded.png", QSize(653, 620));

  // The address list over the log, with a few rows and two of them selected.
  FillList(30, 3, QStringLiteral("http://127.0.0.1/page%1.html"));
  w.qMmenu1_Click(qm::kBtnFold);
  w.qMmenu1_Click(qm::kBtnList);
  Select(0);
  Select(2);
  shoot("window-list.png", QSize(653, 395));
}

}  // namespace
