#pragma once
// A window under test: frmMain in a temporary program folder with recording
// hooks (no dialog ever opens, the program never ends), clicked and typed
// into as a person does it, and the real cursor moved over it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QTest>
#include <memory>

#include "support/test_util.h"
#include "ui/frm_main.h"
#include "ui/twips.h"

namespace qmtest {

struct WindowRecorder {
  QStringList criticals;     // "title|text"
  QStringList folderTitles;  // titles the folder picker was opened with
  QString folderAnswer;      // what the picker returns
  int ends = 0;

  qm::WindowHooks Hooks() {
    qm::WindowHooks hooks;
    hooks.critical = [this](QWidget*, const QString& text, const QString& title) {
      criticals << title + "|" + text;
    };
    hooks.pickFolder = [this](QWidget*, const QString& title) {
      folderTitles << title;
      return folderAnswer;
    };
    hooks.endProgram = [this] { ++ends; };
    return hooks;
  }
};

// Moves the real cursor to a point of the window (what the buttons' hover test
// asks for) and lets the window see the move as the platform reports it.
inline void MoveCursorTo(QWidget* window, const QPoint& global) {
  QCursor::setPos(global);
  QTest::mouseMove(window->windowHandle(), window->mapFromGlobal(global));
  QApplication::processEvents();
}

// Types `text` into `widget` one key at a time, as a keyboard or an input
// method delivers it (characters outside ASCII come as text-only key events).
inline void TypeText(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClicks(widget, QString(c));
      continue;
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

// Centre of a widget in global coordinates.
inline QPoint CentreOf(const QWidget* widget) {
  return widget->mapToGlobal(widget->rect().center());
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { window = std::make_unique<qm::frmMain>(Q(dir.Path()), rec.Hooks()); }
  void Show(bool active = false) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(active ? QTest::qWaitForWindowActive(window.get())
                       : QTest::qWaitForWindowExposed(window.get()));
  }
  // A click through the window, where a person would click.
  void ClickAt(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(window->windowHandle(), button, {},
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
  // `rows` rows of links in the address list (`link` with the row's number),
  // the first `analysed` of them done.
  void FillList(int rows, int analysed, const QString& link = QStringLiteral("http://h/%1.html")) {
    qm::AddressList& list = window->Engine().Lv();
    list.SetRedraw(false);
    for (int i = 0; i < rows; ++i) {
      list.AddItem(QString::number(i + 1));
      list.SetItemText(i, 1, link.arg(i + 1));
      list.SetItemText(i, 2, i < analysed ? QStringLiteral("分析完成") : QString());
    }
    list.SetRedraw(true);
  }
  void Select(int row) {
    qm::ListView* lv = window->Lv();
    lv->selectionModel()->select(lv->model()->index(row, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  TempDir dir;
  WindowRecorder rec;
  std::unique_ptr<qm::frmMain> window;
};

}  // namespace qmtest
