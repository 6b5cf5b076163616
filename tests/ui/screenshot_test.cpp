// Pictures of the window for the documentation: with QM_SCREENSHOT_DIR set,
// the window is rendered folded and unfolded into window-folded.png and
// window-unfolded.png in that folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "support/loopback_server.h"
#include "ui/frm_main.h"

namespace {

TEST(Screenshots, FoldedAndUnfolded) {
  const QString target = qEnvironmentVariable("QM_SCREENSHOT_DIR");
  if (target.isEmpty()) GTEST_SKIP() << "QM_SCREENSHOT_DIR not set";
  ASSERT_TRUE(QDir().mkpath(target));
  qmtest::TempDir dir;
  qm::WindowHooks hooks;
  hooks.critical = [](QWidget*, const QString&, const QString&) {};
  hooks.pickFolder = [](QWidget*, const QString&) { return QString(); };
  hooks.endProgram = [] {};
  qm::frmMain window(QString::fromStdString(dir.Path()), hooks);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.Engine().SetTxt(2, QStringLiteral("http://127.0.0.1/"));
  window.Engine().Ag(QStringLiteral("开始检查配置与环境..."));
  window.qMmenu1(qm::kBtnStart)->setFocus();  // no text cursor in the pictures

  const QImage folded = window.grab().toImage();
  EXPECT_EQ(folded.size(), QSize(653, 395));
  EXPECT_TRUE(folded.save(QDir(target).filePath("window-folded.png")));

  window.qMmenu1_Click(qm::kBtnFold);
  QApplication::processEvents();
  const QImage unfolded = window.grab().toImage();
  EXPECT_EQ(unfolded.size(), QSize(653, 620));
  EXPECT_TRUE(unfolded.save(QDir(target).filePath("window-unfolded.png")));

  // The address list over the log, with a few rows and two of them selected.
  qm::AddressList& list = window.Engine().Lv();
  for (int i = 0; i < 30; ++i) {
    list.AddItem(QString::number(i + 1));
    list.SetItemText(i, 1, QStringLiteral("http://127.0.0.1/page%1.html").arg(i + 1));
    list.SetItemText(i, 2, i < 3 ? QStringLiteral("分析完成") : QString());
  }
  window.qMmenu1_Click(qm::kBtnFold);
  window.qMmenu1_Click(qm::kBtnList);
  window.Lv()->selectRow(0);
  window.Lv()->selectionModel()->select(window.Lv()->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QApplication::processEvents();
  EXPECT_TRUE(window.grab().toImage().save(QDir(target).filePath("window-list.png")));
}

}  // namespace
