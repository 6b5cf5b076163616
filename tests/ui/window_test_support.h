#pragma once
// A window under test: frmMain in a temporary program folder with recording
// hooks (no dialog ever opens, the program never ends), and helpers that move
// the real cursor and wait with a deadline.
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <QTime>
#include <memory>

#include "support/loopback_server.h"
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

template <class F>
bool WaitUntil(F done, int deadlineMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) return false;
    QTest::qWait(5);
  }
  return true;
}

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

}  // namespace qmtest
