#pragma once
// frmMain in a temporary program folder with recording hooks (no dialog ever
// opens, the program never ends), clicked and typed into as a person does it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <memory>

#include "support/test_util.h"
#include "ui/frm_main.h"

namespace qmtest {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Make(Q(dir.Path())); }
  // The window in `programFolder`, shown and active.
  void Make(const QString& programFolder) {
    qm::WindowHooks hooks;
    hooks.critical = [this](QWidget*, const QString& text, const QString&) { criticals << text; };
    hooks.pickFolder = [this](QWidget*, const QString& title) {
      folderTitles << title;
      return folderAnswer;
    };
    hooks.endProgram = [this] { ++ends; };
    window = std::make_unique<qm::frmMain>(programFolder, hooks);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  qm::qMmenu* Button(int index) const { return window->qMmenu1(index); }
  // Moves the real cursor, which the buttons' hover polling reads, over the
  // centre of `over`, and lets the window see the move.
  void MoveCursorTo(const QWidget* over) {
    QCursor::setPos(over->mapToGlobal(over->rect().center()));
    QTest::mouseMove(window->windowHandle(), window->mapFromGlobal(QCursor::pos()));
    QApplication::processEvents();
  }
  // A click through the window, where a person would click.
  void ClickAt(QWidget* widget) {
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                      widget->mapTo(window.get(), widget->rect().center()));
  }
  // Clicks into a box, selects everything in it and types `text` over it.
  void TypeInto(QWidget* box, const QString& text) {
    ClickAt(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
  }
  QString Log() const { return window->TxtMulti(1)->toPlainText(); }

  TempDir dir;
  QStringList criticals;
  QStringList folderTitles;
  QString folderAnswer;  // what the folder picker returns
  int ends = 0;
  std::unique_ptr<qm::frmMain> window;
};

}  // namespace qmtest
