// The main window: its look after load, folding, hover colours, dragging, the
// settings boxes as a person edits them, the run log, the folder picker and
// the address list with its copy command.
#include <QClipboard>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <set>

#include "window_test_support.h"

namespace {

using namespace qmtest;
using qm::qMmenu;
using Window = WindowTest;

TEST_F(Window, LoadsFramelessAndFoldedWithTheListOverTheLog) {
  qm::frmMain& w = *window;
  EXPECT_TRUE(w.size() == QSize(653, 395) && (w.windowFlags() & Qt::FramelessWindowHint) &&
              !w.Lv()->isVisible());
  EXPECT_TRUE(Log().endsWith(QStringLiteral("  程序初始化完成...\n")));
  EXPECT_EQ(Button(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));
  EXPECT_EQ(Button(qm::kBtnStart)->Font().family(), QStringLiteral("宋体"));
  // Every box framed 25 twips around, in orange.
  EXPECT_EQ(w.TwipGeometry(w.Shp(8)), w.TwipGeometry(w.Txt(8)).adjusted(-25, -25, 35, 35));
  EXPECT_EQ(w.grab().toImage().pixelColor(85, 80), qMmenu::Orange());
  EXPECT_EQ(w.TwipGeometry(w.Lv()), QRect(w.TwipGeometry(w.Txt(1)).topLeft(), QSize(8970, 3030)));
  EXPECT_EQ(QList<int>({w.Lv()->columnWidth(0), w.Lv()->columnWidth(1), w.Lv()->columnWidth(2)}),
            QList<int>({60, 430, 90}));
}

// Folded, the bar unfolds to 9300 twips and back; any other height unfolds.
// Under the cursor it shows the arrow of the way it goes.
TEST_F(Window, FoldBarFoldsExactlyTheUnfoldedHeight) {
  qMmenu* bar = Button(qm::kBtnFold);
  MoveCursorTo(window.get(), bar);
  EXPECT_EQ(bar->Caption(), QStringLiteral("↓"));
  ClickAt(bar);
  EXPECT_EQ(window->height(), 620);
  ASSERT_TRUE(WaitUntil([&] { return bar->Caption().isEmpty(); }));  // it left the cursor
  MoveCursorTo(window.get(), bar);
  EXPECT_EQ(bar->Caption(), QStringLiteral("↑"));
  ClickAt(bar);
  EXPECT_EQ(window->height(), 395);
  for (int px : {619, 621}) {
    window->resize(653, px);
    ClickAt(bar);
    EXPECT_EQ(window->HeightTwips(), 9300) << px;
  }
}

// Orange under the cursor, found by polling it every 10 ms, and peach once it
// has left; a held press keeps the colour until its release, which away from
// the button is no click.
TEST_F(Window, ButtonsLightUntilTheCursorAndAnyHeldPressHaveLeft) {
  qMmenu* list = Button(qm::kBtnList);
  MoveCursorTo(window.get(), list);
  EXPECT_TRUE(list->BackColor() == qMmenu::Orange() && list->HoverTimer().interval() == 10);
  MoveCursorTo(window.get(), window->Txt(1));
  ASSERT_TRUE(WaitUntil(
      [&] { return list->BackColor() == qMmenu::Peach() && !list->HoverTimer().isActive(); }));
  MoveCursorTo(window.get(), list);
  QTest::mousePress(list, Qt::LeftButton, {}, QPoint(20, 10));
  MoveCursorTo(window.get(), window->Txt(1));
  QTest::qWait(120);  // many polls with the cursor away
  EXPECT_EQ(list->BackColor(), qMmenu::Orange());
  QTest::mouseRelease(list, Qt::LeftButton, {}, list->mapFromGlobal(QCursor::pos()));
  ASSERT_TRUE(WaitUntil([&] { return list->BackColor() == qMmenu::Peach(); }));
  EXPECT_FALSE(window->Lv()->isVisible());
}

// The list button shows the list; minimising ends nothing, the close button
// and closing the window end the program.
TEST_F(Window, ListMinimiseAndCloseButtons) {
  ClickAt(Button(qm::kBtnList));
  ClickAt(Button(qm::kBtnMinimise));
  EXPECT_TRUE(window->Lv()->isVisible() && (window->windowState() & Qt::WindowMinimized));
  EXPECT_EQ(Button(qm::kBtnList)->Caption(), QStringLiteral("隐藏"));
  ClickAt(Button(qm::kBtnQuit));
  window->close();
  EXPECT_EQ(ends, 2);
}

// The interval re-times the crawl at each keystroke; the keyword hint goes on
// a click and comes back when the box is left empty; leaving the edited
// keyword and size boxes puts their notes at the top of the run log.
TEST_F(Window, SettingsBoxesAsAPersonEditsThem) {
  qm::frmMain& w = *window;
  ClickAt(Button(qm::kBtnFold));
  TypeInto(w.TxtLine(7), QString());
  QList<int> intervals{w.Engine().Timer1Interval()};
  for (QChar c : QStringLiteral("1500ms9")) {  // six characters at most
    QTest::keyClicks(w.TxtLine(7), QString(c));
    intervals << w.Engine().Timer1Interval();
  }
  EXPECT_EQ(intervals, QList<int>({0, 1, 15, 150, 1500, 1500, 1500, 1500}));
  QLineEdit* box = w.TxtLine(5);
  ClickAt(box);
  const QString logBefore = Log();
  EXPECT_EQ(box->text(), QString());
  ClickAt(w.TxtLine(6));
  EXPECT_EQ(box->text() + w.Engine().Settings().KeyWords + Log(),
            qm::CrawlEngine::KeyWordHint() + logBefore);
  TypeInto(box, QStringLiteral("a*"));
  EXPECT_EQ(w.Engine().Settings().KeyWords, QStringLiteral("a*"));
  TypeInto(w.TxtLine(4), QString());
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith(QStringLiteral("指定关键词已经更新...")));
  EXPECT_EQ(w.Engine().MinSizeKb(), 0);
  ClickAt(box);
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith(QStringLiteral("文件长度下限已重置...")));
}

TEST_F(Window, FolderPickerCancelledKeepsTheFolderChosenSetsIt) {
  window->Engine().SetTxt(0, QStringLiteral("/typed/by/hand"));
  const QString before = window->Engine().Downloads().GetSavePath();
  auto pick = [&] {
    window->qMmenu1_Click(qm::kBtnBrowse);
    return window->TxtLine(0)->text() + "|" + window->Engine().Downloads().GetSavePath();
  };
  EXPECT_EQ(pick(), "|" + before);
  folderAnswer = Q(dir.Path());
  EXPECT_EQ(pick(), folderAnswer + "|" + folderAnswer);
  EXPECT_EQ(folderTitles, QStringList(2, QStringLiteral("请选择一个文件夹:")));
}

// A million rows of 17 pixels beside a 17-pixel scroll bar in the list's four
// colours; a right click copies the selected links in row order, a click of
// another button or on the empty list nothing.
TEST_F(Window, ListOfAMillionRowsCopiesTheSelectedLinks) {
  constexpr int kRows = 1000000;
  qm::AddressList& list = window->Engine().Lv();
  list.SetRedraw(false);
  for (int i = 0; i < kRows; ++i) {
    list.AddItem(QString::number(i + 1));
    list.SetItemText(i, 1, QStringLiteral("http://h/%1.html").arg(i + 1));
  }
  list.SetRedraw(true);
  window->qMmenu1_Click(qm::kBtnList);
  qm::ListView* lv = window->Lv();
  lv->scrollToBottom();
  QApplication::processEvents();
  EXPECT_EQ(lv->rowViewportPosition(kRows - 1) + 17, lv->viewport()->height());
  const QImage look = lv->verticalScrollBar()->grab().toImage();
  std::set<QRgb> colours;
  for (int y = 0; y < look.height(); ++y)
    for (int x = 0; x < look.width(); ++x) colours.insert(look.pixel(x, y) | 0xff000000u);
  EXPECT_EQ(look.width(), 17);
  EXPECT_EQ(colours, (std::set<QRgb>{qRgb(224, 224, 224), qRgb(212, 208, 200), qRgb(64, 64, 64),
                                     qRgb(0, 0, 0)}));
  for (int row : {kRows - 1, 2, 0})
    lv->selectionModel()->select(lv->model()->index(row, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QApplication::clipboard()->setText(QStringLiteral("before"));
  window->Lv_ItemMouse(0, qMmenu::kMiddle, 0, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
  QTest::mouseClick(lv->viewport(), Qt::RightButton, {}, QPoint(100, 5));
  const QString copied = QApplication::clipboard()->text();
  EXPECT_EQ(copied,
            QString("http://h/1.html\r\nhttp://h/3.html\r\nhttp://h/%1.html\r\n").arg(kRows));
  list.Clear();
  window->Lv_ItemMouse(-1, qMmenu::kRight, 0, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text() + criticals.join(""), copied);
}

TEST(CopyText, FailureShowsTheMessage) {
  QStringList shown;
  auto sink = [&](const QString& text, const QString& title) { shown << title + "|" + text; };
  qm::CopyText(QStringLiteral("x"), sink, QStringLiteral("标题"), nullptr);
  EXPECT_EQ(shown, QStringList{QStringLiteral("标题|复制失败!")});
}

// Either title label drags the window with the left button, the grabbed point
// staying under the cursor; the right button moves nothing.
TEST_F(Window, DragsByTheTitleLabelsWithTheLeftButton) {
  for (QLabel* label : {window->Label1(), window->Label3()})
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
      window->move(300, 200);
      QTest::mousePress(label, button, {}, QPoint(10, 5));
      QTest::mouseMove(label, QPoint(40, 25));
      QTest::mouseRelease(label, button, {}, QPoint(40, 25));
      EXPECT_EQ(window->pos(), QPoint(300, 200) + (button == Qt::LeftButton) * QPoint(30, 20));
    }
}

}  // namespace
