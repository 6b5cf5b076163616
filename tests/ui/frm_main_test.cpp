// The main window: layout after load, the layout rule and folding, hover
// colours, dragging, the settings boxes as a person edits them, the run log,
// the list's copy command and the folder picker.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QFontMetrics>
#include <QScrollBar>
#include <set>

#include "window_test_support.h"

namespace {

using qm::frmMain;
using qm::qMmenu;
using qmtest::CentreOf;
using qmtest::MoveCursorTo;
using qmtest::WaitUntil;

const QColor kOrange(255, 128, 0);
const QColor kPeach(255, 192, 128);

class Window : public qmtest::WindowTest {
 protected:
  QRect Twips(const QWidget* widget) const { return window->TwipGeometry(widget); }
};

TEST_F(Window, AfterLoadAsDesigned) {
  Show();
  frmMain& w = *window;
  EXPECT_EQ(w.size(), QSize(653, 395));
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(w.Lv()->isVisible());
  EXPECT_TRUE(Log().endsWith(QStringLiteral("  程序初始化完成...\n")));
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));

  // Nine frames around the nine boxes, those of the hidden lower panel too.
  ASSERT_EQ(w.ShpCount(), 9);
  for (int i = 0; i < 9; ++i) {
    const QRect box = Twips(w.Txt(i));
    EXPECT_EQ(Twips(w.Shp(i)),
              QRect(box.left() - 25, box.top() - 25, box.width() + 60, box.height() + 60))
        << i;
    EXPECT_TRUE(w.Shp(i)->isVisibleTo(&w)) << i;
  }
  EXPECT_EQ(Twips(w.Shp(3)), QRect(1280, 1145, 930, 270));
  EXPECT_EQ(w.Shp(3)->geometry(), QRect(85, 76, 62, 18));
  const QImage shot = w.grab().toImage();  // orange on the frame, white inside it
  EXPECT_EQ(shot.pixelColor(85, 80), kOrange);
  EXPECT_EQ(shot.pixelColor(146, 80), kOrange);
  EXPECT_EQ(shot.pixelColor(86, 80), QColor(Qt::white));
  EXPECT_EQ(shot.pixelColor(300, 20), kPeach);  // the title strip

  // The layout rule at the folded height; the list lies over the log box.
  EXPECT_EQ(Twips(w.Label1()).width(), 9895);
  EXPECT_EQ(Twips(w.qMmenu1(qm::kBtnQuit)).left(), 9195);
  EXPECT_EQ(Twips(w.qMmenu1(qm::kBtnMinimise)).left(), 8695);
  EXPECT_EQ(Twips(w.qMmenu1(qm::kBtnFold)).top(), 5525);
  EXPECT_EQ(Twips(w.Shape()), QRect(0, 0, 9795, 5925));
  EXPECT_EQ(Twips(w.Lv()), QRect(Twips(w.Txt(1)).topLeft(), QSize(8970, 3030)));

  // The Chinese fonts show with an installed font that has the glyphs.
  EXPECT_TRUE(QFontMetrics(w.font()).inFontUcs4(U'采'));
  EXPECT_TRUE(QFontMetrics(w.Label3()->font()).inFontUcs4(U'采'));
  for (int i = 0; i < frmMain::kButtonCount; ++i) {
    EXPECT_EQ(w.qMmenu1(i)->BackColor(), kPeach) << i;
    EXPECT_EQ(w.qMmenu1(i)->Font().family(), QStringLiteral("宋体")) << i;
  }
  EXPECT_EQ(w.qMmenu1(qm::kBtnStart)->geometry(), QRect(432, 69, 97, 28));
  qm::ListView* lv = w.Lv();
  EXPECT_EQ(lv->size(), QSize(598, 202));
  EXPECT_EQ(QList<int>({lv->columnWidth(0), lv->columnWidth(1), lv->columnWidth(2)}),
            QList<int>({60, 430, 90}));
  EXPECT_EQ(lv->palette().color(QPalette::HighlightedText), kOrange);
}

TEST_F(Window, FoldBarFoldsExactlyTheUnfoldedHeight) {
  Show();
  frmMain& w = *window;
  qMmenu* bar = w.qMmenu1(qm::kBtnFold);
  ClickAt(bar);
  EXPECT_EQ(w.height(), 620);
  EXPECT_EQ(Twips(bar).top(), 8900);
  ClickAt(bar);
  EXPECT_EQ(w.height(), 395);
  EXPECT_EQ(Twips(bar).top(), 5525);
  // Any other height unfolds.
  for (int px : {619, 621, 500}) {
    w.resize(653, px);
    QApplication::processEvents();
    EXPECT_EQ(Twips(bar).top(), px * 15 - 400);
    ClickAt(bar);
    EXPECT_EQ(w.HeightTwips(), 9300) << px;
  }
}

TEST_F(Window, FoldBarArrowsWhileHovered) {
  Show();
  frmMain& w = *window;
  qMmenu* bar = w.qMmenu1(qm::kBtnFold);
  MoveCursorTo(&w, CentreOf(bar));
  EXPECT_EQ(bar->Caption(), QStringLiteral("↓"));
  EXPECT_EQ(bar->BackColor(), kPeach);
  ClickAt(bar);  // the bar moves away from under the cursor
  ASSERT_TRUE(WaitUntil([&] { return bar->Caption().isEmpty(); }));
  MoveCursorTo(&w, CentreOf(bar));
  EXPECT_EQ(bar->Caption(), QStringLiteral("↑"));
}

TEST_F(Window, ButtonsLightUnderTheMouse) {
  Show();
  frmMain& w = *window;
  qMmenu* start = w.qMmenu1(qm::kBtnStart);
  MoveCursorTo(&w, CentreOf(start));
  EXPECT_EQ(start->BackColor(), kOrange);
  MoveCursorTo(&w, CentreOf(w.Txt(1)));
  ASSERT_TRUE(WaitUntil([&] { return start->BackColor() == kPeach; }));
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));

  // A press held while the cursor leaves keeps the button lit until release.
  qMmenu* list = w.qMmenu1(qm::kBtnList);
  MoveCursorTo(&w, CentreOf(list));
  QTest::mousePress(w.windowHandle(), Qt::LeftButton, {}, list->mapTo(&w, QPoint(5, 5)));
  QCursor::setPos(CentreOf(w.Txt(1)));
  QTest::qWait(100);
  EXPECT_EQ(list->BackColor(), kOrange);
  QTest::mouseRelease(w.windowHandle(), Qt::LeftButton, {}, w.mapFromGlobal(CentreOf(w.Txt(1))));
  ASSERT_TRUE(WaitUntil([&] { return list->BackColor() == kPeach; }));
  EXPECT_EQ(list->Caption(), QStringLiteral("查看列表"));  // released elsewhere: no click
}

TEST_F(Window, ChromeAndListButtons) {
  Show();
  frmMain& w = *window;
  ClickAt(w.qMmenu1(qm::kBtnList), Qt::RightButton);  // not a click
  EXPECT_FALSE(w.Lv()->isVisible());
  ClickAt(w.qMmenu1(qm::kBtnList));
  EXPECT_TRUE(w.Lv()->isVisible());
  EXPECT_EQ(w.qMmenu1(qm::kBtnList)->Caption(), QStringLiteral("隐藏"));
  ClickAt(w.qMmenu1(qm::kBtnMinimise));
  EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
  EXPECT_EQ(rec.ends, 0);
  ClickAt(w.qMmenu1(qm::kBtnQuit));
  EXPECT_EQ(rec.ends, 1);
  w.close();
  EXPECT_EQ(rec.ends, 2);
}

TEST_F(Window, TypingTheIntervalSetsTheTimerPerKeystroke) {
  QLineEdit* box = window->TxtLine(7);
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(window->Engine().Timer1Interval(), 0);
  QList<int> intervals;
  for (QChar c : QStringLiteral("1500ms")) {
    QTest::keyClicks(box, QString(c));
    intervals << window->Engine().Timer1Interval();
  }
  EXPECT_EQ(intervals, QList<int>({1, 15, 150, 1500, 1500, 1500}));
  QTest::keyClicks(box, QStringLiteral("9"));  // six characters at most
  EXPECT_EQ(window->Engine().Txt(7), QStringLiteral("1500ms"));
}

TEST_F(Window, KeywordHintAndNotesThroughClicksAndFocus) {
  Show(true);
  frmMain& w = *window;
  w.qMmenu1_Click(qm::kBtnFold);
  QLineEdit* box = w.TxtLine(5);
  const QString logBefore = Log();

  // The keyboard's focus leaves the hint in place; a click empties it; leaving
  // it empty puts it back; nothing is logged and the keywords stay unset.
  box->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(WaitUntil([&] { return box->hasFocus(); }));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());
  ClickAt(box);
  EXPECT_EQ(box->text(), QString());
  ClickAt(w.TxtLine(6));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());
  EXPECT_EQ(w.Engine().Settings().KeyWords, QString());
  EXPECT_EQ(Log(), logBefore);

  // Typed keywords count keystroke by keystroke; leaving logs the note.
  ClickAt(box);
  QStringList seen;
  for (QChar c : QStringLiteral("猫*狗")) {
    qmtest::TypeText(box, QString(c));
    seen << w.Engine().Settings().KeyWords;
  }
  EXPECT_EQ(seen, QStringList({"猫", "猫*", "猫*狗"}));
  ClickAt(w.TxtLine(4));
  EXPECT_TRUE(Log().startsWith(QTime::currentTime().toString().left(2)));
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith(QStringLiteral("指定关键词已经更新...")));

  // Emptying the size box sets 0 at once; leaving it logs its note.
  QTest::keyClick(w.TxtLine(4), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(w.TxtLine(4), Qt::Key_Backspace);
  EXPECT_EQ(w.Engine().MinSizeKb(), 0);
  ClickAt(box);
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith(QStringLiteral("文件长度下限已重置...")));
}

TEST_F(Window, BoxesAndEngineStayInStep) {
  frmMain& w = *window;
  w.Engine().SetTxt(3, QStringLiteral("250ms"));
  EXPECT_EQ(w.TxtLine(3)->text(), QStringLiteral("250ms"));
  // Lines typed into the address box reach the engine with CR LF.
  QPlainTextEdit* seeds = w.TxtMulti(2);
  QTest::keyClicks(seeds, QStringLiteral("http://a/"));
  QTest::keyClick(seeds, Qt::Key_Return);
  QTest::keyClicks(seeds, QStringLiteral("http://b/"));
  EXPECT_EQ(w.Engine().Txt(2), QStringLiteral("http://a/\r\nhttp://b/"));
  w.Engine().SetTxt(2, QStringLiteral("http://c/\r\nhttp://d/"));
  EXPECT_EQ(seeds->toPlainText(), QStringLiteral("http://c/\nhttp://d/"));
  w.qMmenu1_Click(qm::kBtnClear);
  EXPECT_EQ(seeds->toPlainText(), QString());
}

TEST_F(Window, RunLogShowsTheEngineLogNewestFirst) {
  frmMain& w = *window;
  auto engineLog = [&] { return w.Engine().LogText().replace("\r\n", "\n"); };
  for (int i = 0; i < 5; ++i) w.Engine().Ag(QStringLiteral("行%1").arg(i));
  EXPECT_EQ(Log(), engineLog());
  EXPECT_TRUE(Log().section('\n', 0, 0).endsWith(QStringLiteral("  行4")));
  // Past 50,000 characters the engine empties the log; the box follows.
  while (w.Engine().LogText().size() < 50000) w.Engine().Ag(QString(900, QChar(u'长')));
  w.Engine().Ag(QStringLiteral("最后"));
  EXPECT_EQ(Log(), engineLog());
  EXPECT_LT(Log().size(), 100);
}

TEST_F(Window, BrowseCancelledAndChosen) {
  frmMain& w = *window;
  Show();
  w.qMmenu1_Click(qm::kBtnFold);
  w.Engine().SetTxt(0, QStringLiteral("/typed/by/hand"));
  const QString savePath = w.Engine().Downloads().GetSavePath();
  ClickAt(w.qMmenu1(qm::kBtnBrowse));
  EXPECT_EQ(rec.folderTitles, QStringList{QStringLiteral("请选择一个文件夹:")});
  EXPECT_EQ(w.TxtLine(0)->text(), QString());
  EXPECT_EQ(w.Engine().Downloads().GetSavePath(), savePath);
  rec.folderAnswer = QString::fromStdString(dir.Path());
  ClickAt(w.qMmenu1(qm::kBtnBrowse));
  EXPECT_EQ(w.TxtLine(0)->text(), rec.folderAnswer);
  EXPECT_EQ(w.Engine().Downloads().GetSavePath(), rec.folderAnswer);
}

class CopyCommand : public Window {
 protected:
  void Fill(int rows) {
    FillList(rows, rows);
    Show();
    window->qMmenu1_Click(qm::kBtnList);
    QApplication::clipboard()->setText(QStringLiteral("before"));
  }
  void ClickList(Qt::MouseButton button) {
    QTest::mouseClick(window->Lv()->viewport(), button, {}, QPoint(100, 5));  // over row 0
  }
  QString Clipboard() const { return QApplication::clipboard()->text(); }
};

TEST_F(CopyCommand, SelectedLinksInRowOrder) {
  Fill(4);
  ClickList(Qt::MiddleButton);  // other buttons copy nothing
  ClickList(Qt::LeftButton);
  EXPECT_EQ(Clipboard(), QStringLiteral("before"));
  window->Lv()->clearSelection();
  ClickList(Qt::RightButton);  // nothing selected: the empty text
  EXPECT_EQ(Clipboard(), QString());
  Select(2);
  Select(0);
  ClickList(Qt::RightButton);
  EXPECT_EQ(Clipboard(), QStringLiteral("http://h/1.html\r\nhttp://h/3.html\r\n"));
  EXPECT_EQ(window->Lv()->SelectedRows(), QList<int>({0, 2}));  // the selection stays
  // An empty list copies nothing.
  window->Engine().Lv().Clear();
  QApplication::clipboard()->setText(QStringLiteral("before"));
  window->Lv_ItemMouse(-1, qMmenu::kRight, 0, 0, 0);
  EXPECT_EQ(Clipboard(), QStringLiteral("before"));
  EXPECT_TRUE(rec.criticals.isEmpty());
}

TEST_F(CopyCommand, MillionRows) {
  constexpr int kRows = 1000000;
  Fill(kRows);
  qm::ListView* lv = window->Lv();
  ASSERT_EQ(lv->model()->rowCount(), kRows);
  lv->scrollToBottom();
  QApplication::processEvents();
  // Every row is 17 pixels high: the last row ends at the bottom of the view.
  EXPECT_EQ(lv->rowViewportPosition(kRows - 1) + 17, lv->viewport()->height());
  // The scroll bar, 17 pixels wide, in exactly the list's colours: grey track,
  // buttons and thumb framed in dark grey, black arrows.
  QScrollBar* bar = lv->verticalScrollBar();
  EXPECT_EQ(bar->width(), 17);
  const QImage look = bar->grab().toImage();
  std::set<QRgb> colours;
  for (int y = 0; y < look.height(); ++y)
    for (int x = 0; x < look.width(); ++x) colours.insert(look.pixel(x, y) | 0xff000000u);
  EXPECT_EQ(colours, (std::set<QRgb>{qRgb(224, 224, 224), qRgb(212, 208, 200), qRgb(64, 64, 64),
                                     qRgb(0, 0, 0)}));
  Select(kRows - 1);
  Select(0);
  window->Lv_ItemMouse(0, qMmenu::kRight, 0, 0, 0);
  EXPECT_EQ(Clipboard(), QString("http://h/1.html\r\nhttp://h/%1.html\r\n").arg(kRows));
}

TEST(CopyTextTest, FailureShowsTheMessage) {
  QStringList shown;
  auto sink = [&](const QString& text, const QString& title) { shown << title + "|" + text; };
  qm::CopyText(QStringLiteral("x"), sink, QStringLiteral("标题"), nullptr);
  EXPECT_EQ(shown, QStringList{QStringLiteral("标题|复制失败!")});
}

class Drag : public Window, public ::testing::WithParamInterface<bool> {};

TEST_P(Drag, ByTitleLabelsWithTheLeftButton) {
  Show();
  frmMain& w = *window;
  QLabel* label = GetParam() ? w.Label3() : w.Label1();
  w.move(300, 200);
  const QPoint start = w.pos();
  QTest::mousePress(label, Qt::LeftButton, {}, QPoint(10, 5));
  EXPECT_EQ(QPoint(w.DragX(), w.DragY()), QPoint(150, 75));
  const QPoint cursor = label->mapToGlobal(QPoint(40, 25));
  QTest::mouseMove(label, QPoint(40, 25));
  EXPECT_EQ(w.pos(), start + QPoint(30, 20));
  EXPECT_EQ(label->mapFromGlobal(cursor), QPoint(10, 5));  // the grabbed point is under the cursor
  QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(40, 25));

  // A right-button drag moves nothing and leaves the drag point.
  QTest::mousePress(label, Qt::RightButton, {}, QPoint(3, 3));
  QTest::mouseMove(label, QPoint(60, 30));
  QTest::mouseRelease(label, Qt::RightButton, {}, QPoint(60, 30));
  EXPECT_EQ(w.pos(), start + QPoint(30, 20));
  EXPECT_EQ(w.DragX(), 150);
}

INSTANTIATE_TEST_SUITE_P(Labels, Drag, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Label3" : "Label1"; });

}  // namespace
