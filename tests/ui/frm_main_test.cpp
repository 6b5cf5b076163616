// The main window: its look after load, folding, hover colours, dragging, the
// settings boxes as a person edits them, the folder picker and the address
// list with its copy command.
#include <QClipboard>
#include <QItemSelectionModel>
#include <QScrollBar>

#include "window_test_support.h"

namespace {

using namespace qmtest;
using qm::qMmenu;
using Window = WindowTest;

// Frameless, the list over the run log, which shows the log as it stands and
// is emptied when the log is dumped; every box framed 25 twips around in orange.
TEST_F(Window, LoadsFramelessAndFoldedWithTheListOverTheLog) {
  qm::frmMain& w = *window;
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  for (int i = 0; i < 60; ++i) w.Engine().Ag(QString(1000, 'x'));  // dumped on the way
  EXPECT_EQ(Log(), w.Engine().LogText().replace("\r\n", "\n"));
  EXPECT_EQ(Button(qm::kBtnSite)->Caption(), "√只抓取站内");
  EXPECT_EQ(w.TwipGeometry(w.Shp(8)), w.TwipGeometry(w.Txt(8)).adjusted(-25, -25, 35, 35));
  EXPECT_EQ(w.grab().toImage().pixelColor(85, 80), qMmenu::Orange());
  EXPECT_EQ(w.TwipGeometry(w.Lv()), QRect(w.TwipGeometry(w.Txt(1)).topLeft(), QSize(8970, 3030)));
}

// Folded, the bar unfolds to 9300 twips and back; any other height unfolds.
// Under the cursor it shows the arrow of the way it goes.
TEST_F(Window, FoldBarFoldsExactlyTheUnfoldedHeight) {
  qMmenu* bar = Button(qm::kBtnFold);
  MoveCursorTo(bar);
  EXPECT_EQ(bar->Caption(), "↓");
  ClickAt(bar);
  EXPECT_EQ(window->height(), 620);
  MoveCursorTo(bar);
  EXPECT_EQ(bar->Caption(), "↑");
  ClickAt(bar);
  EXPECT_EQ(window->height(), 395);
  for (int px : {619, 621}) {
    window->resize(653, px);
    ClickAt(bar);
    EXPECT_EQ(window->HeightTwips(), 9300) << px;
  }
}

// Orange under the cursor and peach once it has left; a held press keeps the
// colour while the cursor is away, and its release there is no click.
TEST_F(Window, ButtonsLightUntilTheCursorAndAnyHeldPressHaveLeft) {
  qMmenu* list = Button(qm::kBtnList);
  int polls = 0;
  QObject::connect(&list->HoverTimer(), &QTimer::timeout, [&] { ++polls; });
  MoveCursorTo(list);
  EXPECT_EQ(list->BackColor(), qMmenu::Orange());
  QTest::mousePress(list, Qt::LeftButton, {}, QPoint(20, 10));
  MoveCursorTo(window->Txt(1));
  polls = 0;
  ASSERT_TRUE(WaitUntil([&] { return polls >= 3; }));  // polled with the cursor away
  EXPECT_EQ(list->BackColor(), qMmenu::Orange());
  QTest::mouseRelease(list, Qt::LeftButton, {}, list->mapFromGlobal(QCursor::pos()));
  EXPECT_FALSE(window->Lv()->isVisible());
  EXPECT_TRUE(WaitUntil([&] { return list->BackColor() == qMmenu::Peach(); }));
}

// The list button shows the list; minimising ends nothing, the close button
// and closing the window end the program.
TEST_F(Window, ListMinimiseAndCloseButtons) {
  ClickAt(Button(qm::kBtnList));
  ClickAt(Button(qm::kBtnMinimise));
  EXPECT_TRUE(window->Lv()->isVisible());
  EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
  ClickAt(Button(qm::kBtnQuit));
  window->close();
  EXPECT_EQ(ends, 2);
}

// The interval re-times the crawl at each keystroke, six characters at most;
// the keyword hint goes on a click and comes back when the box is left
// empty; leaving the edited keyword and size boxes puts their notes on top of
// the run log.
TEST_F(Window, SettingsBoxesAsAPersonEditsThem) {
  qm::frmMain& w = *window;
  ClickAt(Button(qm::kBtnFold));
  TypeInto(w.TxtLine(7), QString());
  QList<int> intervals{w.Engine().Timer1Interval()};
  for (QChar c : QString("1234567")) {
    QTest::keyClicks(w.TxtLine(7), c);
    intervals << w.Engine().Timer1Interval();
  }
  EXPECT_EQ(intervals, QList<int>({0, 1, 12, 123, 1234, 12345, 123456, 123456}));
  QLineEdit* box = w.TxtLine(5);
  ClickAt(box);
  EXPECT_EQ(box->text(), "");
  ClickAt(w.TxtLine(6));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());
  TypeInto(box, "a*");
  TypeInto(w.TxtLine(4), QString());
  QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);  // another window's turn
  QApplication::sendEvent(w.TxtLine(4), &away);
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith("指定关键词已经更新..."));
  EXPECT_EQ(w.Engine().MinSizeKb(), 0);
  ClickAt(box);
  EXPECT_EQ(box->text(), "a*");
  TypeInto(box, "*");
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith("文件长度下限已重置..."));
  EXPECT_EQ(w.Engine().Settings().KeyWords, "a*");  // "*" is no keyword
}

// The picker's folder becomes the image folder; a cancelled picker keeps it.
TEST_F(Window, FolderPickerChoiceKeptWhenCancelled) {
  folderAnswer = Q(dir.Path());
  window->qMmenu1_Click(qm::kBtnBrowse);
  folderAnswer.clear();
  window->qMmenu1_Click(qm::kBtnBrowse);
  EXPECT_EQ(window->Engine().Downloads().GetSavePath(), Q(dir.Path()));
}

// Rows of 17 pixels beside a 17-pixel scroll bar; a right click copies the
// selected links in row order, a click of another button or on the empty list
// nothing.
TEST_F(Window, ListCopiesTheSelectedLinks) {
  qm::AddressList& list = window->Engine().Lv();
  for (int i = 0; i < 100; ++i) {
    list.AddItem(QString::number(i + 1));
    list.SetItemText(i, 1, QString("http://h/%1.html").arg(i + 1));
  }
  window->qMmenu1_Click(qm::kBtnList);
  qm::ListView* lv = window->Lv();
  lv->scrollToBottom();
  QApplication::processEvents();
  EXPECT_EQ(lv->rowViewportPosition(99) + 17, lv->viewport()->height());
  EXPECT_EQ(lv->verticalScrollBar()->width(), 17);
  for (int row : {99, 2, 0})
    lv->selectionModel()->select(lv->model()->index(row, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QApplication::clipboard()->setText("before");
  window->Lv_ItemMouse(0, qMmenu::kMiddle, 0, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text(), "before");
  QTest::mouseClick(lv->viewport(), Qt::RightButton, {}, QPoint(100, 5));
  const QString copied = "http://h/1.html\r\nhttp://h/3.html\r\nhttp://h/100.html\r\n";
  EXPECT_EQ(QApplication::clipboard()->text(), copied);
  list.Clear();
  window->Lv_ItemMouse(-1, qMmenu::kRight, 0, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text(), copied);
}

// The title strip drags the window with the left button, the grabbed point
// staying under the cursor; the right button moves nothing.
TEST_F(Window, DragsByTheTitleStripWithTheLeftButton) {
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    window->move(300, 200);
    QTest::mousePress(window->Label1(), button, {}, QPoint(10, 5));
    QTest::mouseMove(window->Label1(), QPoint(40, 25));
    QTest::mouseRelease(window->Label1(), button, {}, QPoint(40, 25));
    EXPECT_EQ(window->pos(), QPoint(300, 200) + (button == Qt::LeftButton) * QPoint(30, 20));
  }
}

}  // namespace
