// The main window: layout after load, the layout rule, folding, hover
// colours, dragging, the settings boxes as a person edits them, the run log,
// the list's copy command and the dialogs' hooks.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTime>

#include "window_test_support.h"

namespace {

using qm::frmMain;
using qm::qMmenu;
using qmtest::CentreOf;
using qmtest::MoveCursorTo;
using qmtest::WaitUntil;

const QColor kOrange(255, 128, 0);
const QColor kPeach(255, 192, 128);

QString LogText(frmMain& w) { return w.TxtMulti(1)->toPlainText(); }

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    qMmenu::SetCursorProbe({});
    window = std::make_unique<frmMain>(QString::fromStdString(dir.Path()), rec.Hooks());
  }
  void TearDown() override { window.reset(); }

  void Show() {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void ShowActive() {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  // A left click through the window, where a person would click.
  void ClickAt(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
    const QPoint at = widget->mapTo(window.get(), widget->rect().center());
    QTest::mouseClick(window->windowHandle(), button, {}, at);
  }
  // The rectangle a frame must have around a box, in twips.
  static QRect FrameAround(const QRect& box) {
    return QRect(box.left() - 25, box.top() - 25, box.width() + 60, box.height() + 60);
  }

  qmtest::TempDir dir;
  qmtest::WindowRecorder rec;
  std::unique_ptr<frmMain> window;
};

TEST_F(Window, AfterLoad) {
  Show();
  frmMain& w = *window;
  EXPECT_EQ(w.size(), QSize(653, 395));
  EXPECT_EQ(w.HeightTwips(), 5925);
  EXPECT_EQ(w.WidthTwips(), 9795);
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(w.windowTitle().isEmpty());
  EXPECT_FALSE(w.windowIcon().pixmap(48, 48).isNull());
  EXPECT_FALSE(w.Lv()->isVisible());
  EXPECT_TRUE(LogText(w).endsWith(QStringLiteral("  程序初始化完成...\n")));
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));
  EXPECT_EQ(w.qMmenu1(qm::kBtnStart)->Caption(), QStringLiteral("开 始"));

  // Nine frames around the nine boxes, those of the hidden lower panel too.
  ASSERT_EQ(w.ShpCount(), 9);
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(w.TwipGeometry(w.Shp(i)), FrameAround(w.TwipGeometry(w.Txt(i))));
    EXPECT_TRUE(w.Shp(i)->isVisibleTo(&w));
    EXPECT_EQ(w.Shp(i)->BorderColor(), kOrange);
    EXPECT_EQ(w.Txt(i)->palette().color(QPalette::Base), QColor(Qt::white));
  }
  EXPECT_EQ(w.TwipGeometry(w.Shp(3)), QRect(1280, 1145, 930, 270));
  EXPECT_EQ(w.Shp(3)->geometry(), QRect(85, 76, 62, 18));
  EXPECT_EQ(w.Txt(3)->geometry(), QRect(87, 78, 58, 14));
  // The frame is drawn: orange on its edge, white between it and the box.
  const QImage shot = w.grab().toImage();
  EXPECT_EQ(shot.pixelColor(85, 80), kOrange);
  EXPECT_EQ(shot.pixelColor(146, 80), kOrange);
  EXPECT_EQ(shot.pixelColor(86, 80), QColor(Qt::white));

  // The layout rule with the width 9795 and the folded height.
  EXPECT_EQ(w.TwipGeometry(w.Label1()).width(), 9895);
  EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnQuit)).left(), 9195);
  EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnMinimise)).left(), 8695);
  EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnFold)).top(), 5525);
  EXPECT_EQ(w.TwipGeometry(w.Shape()), QRect(0, 0, 9795, 5925));
  EXPECT_EQ(w.Shape()->BorderColor(), kPeach);

  // The list lies over the log box.
  const QRect log = w.TwipGeometry(w.Txt(1));
  EXPECT_EQ(w.TwipGeometry(w.Lv()), QRect(log.topLeft(), QSize(8970, 3030)));
  EXPECT_EQ(w.Lv()->geometry().topLeft(), w.Txt(1)->geometry().topLeft());
}

TEST_F(Window, ControlsAsDesigned) {
  frmMain& w = *window;
  EXPECT_EQ(w.Label1()->palette().color(QPalette::Window), kPeach);
  EXPECT_TRUE(w.Label1()->autoFillBackground());
  EXPECT_EQ(w.Label3()->palette().color(QPalette::WindowText), kOrange);
  EXPECT_EQ(w.Label3()->font().family(), QStringLiteral("微软雅黑"));
  EXPECT_EQ(w.Label3()->font().pointSizeF(), 10.5);
  EXPECT_EQ(w.Label3()->font().weight(), 700);
  EXPECT_EQ(w.TxtMulti(1)->palette().color(QPalette::Text), kOrange);
  EXPECT_TRUE(w.TxtMulti(1)->isReadOnly());
  EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::white));

  // The Chinese fonts are shown with an installed font that has the glyphs.
  for (const QFont& font : {w.font(), w.Label3()->font()}) {
    EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'采')) << QFontInfo(font).family().toStdString();
  }

  const QString captions[] = {"-", "x", "开 始", "浏览", "查看列表", "", "√只抓取站内", "清空"};
  for (int i = 0; i < frmMain::kButtonCount; ++i) {
    SCOPED_TRACE(i);
    qMmenu* b = w.qMmenu1(i);
    EXPECT_EQ(b->Caption(), captions[i]);
    EXPECT_EQ(b->BackColor(), kPeach);
    EXPECT_EQ(b->Font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(b->Font().pointSizeF(), 9.0);
    EXPECT_EQ(b->Font().weight(), 400);
    EXPECT_EQ(b->FontCharset(), 134);
    EXPECT_EQ(b->DrawMode(), 13);
    EXPECT_EQ(b->ForeColor(), QApplication::palette().color(QPalette::ButtonText));
  }
  EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnStart)), QRect(6480, 1035, 1455, 420));
  EXPECT_EQ(w.qMmenu1(qm::kBtnStart)->geometry(), QRect(432, 69, 97, 28));
  EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnFold)).width(), 9825);

  // The boxes' limits and alignment.
  EXPECT_EQ(w.TxtLine(3)->maxLength(), 6);
  EXPECT_EQ(w.TxtLine(7)->maxLength(), 6);
  EXPECT_EQ(w.TxtLine(8)->maxLength(), 2);
  EXPECT_EQ(w.TxtLine(3)->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  EXPECT_EQ(w.TxtText(3), QStringLiteral("100ms"));
  EXPECT_EQ(w.TxtText(5), qm::CrawlEngine::KeyWordHint());
  EXPECT_EQ(w.TxtText(6), QStringLiteral("jpg*"));
  EXPECT_EQ(w.Label4(5)->text(), QStringLiteral("  文件类型"));
  EXPECT_EQ(w.Lab(7)->text(), QStringLiteral("0"));

  // The list's look.
  qm::ListView* lv = w.Lv();
  EXPECT_EQ(lv->model()->columnCount(), 3);
  EXPECT_EQ(lv->columnWidth(0), 60);
  EXPECT_EQ(lv->columnWidth(1), 430);
  EXPECT_EQ(lv->columnWidth(2), 90);
  EXPECT_EQ(lv->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("连接"));
  EXPECT_FALSE(lv->showGrid());
  EXPECT_TRUE(lv->horizontalHeader()->isVisibleTo(lv));
  EXPECT_EQ(lv->verticalHeader()->defaultSectionSize(), 17);
  EXPECT_EQ(lv->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(lv->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(lv->palette().color(QPalette::Highlight), kPeach);
  EXPECT_EQ(lv->palette().color(QPalette::HighlightedText), kOrange);
  EXPECT_EQ(lv->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(lv->size(), QSize(598, 202));
}

TEST_F(Window, FoldBarUnfoldsAndFolds) {
  Show();
  frmMain& w = *window;
  qMmenu* bar = w.qMmenu1(qm::kBtnFold);
  ClickAt(bar);
  EXPECT_EQ(w.HeightTwips(), 9300);
  EXPECT_EQ(w.height(), 620);
  EXPECT_EQ(w.TwipGeometry(bar).top(), 8900);
  EXPECT_EQ(bar->y(), 593);
  EXPECT_EQ(w.TwipGeometry(w.Shape()).height(), 9300);
  ClickAt(bar);
  EXPECT_EQ(w.HeightTwips(), 5925);
  EXPECT_EQ(w.height(), 395);
  EXPECT_EQ(w.TwipGeometry(bar).top(), 5525);
}

TEST_F(Window, AnyOtherHeightUnfolds) {
  Show();
  frmMain& w = *window;
  for (int px : {619, 621, 500}) {
    w.resize(653, px);
    QApplication::processEvents();
    ASSERT_EQ(w.HeightTwips(), px * 15);
    EXPECT_EQ(w.TwipGeometry(w.qMmenu1(qm::kBtnFold)).top(), px * 15 - 400);
    w.qMmenu1_Click(qm::kBtnFold);
    EXPECT_EQ(w.HeightTwips(), 9300) << px;
  }
  w.qMmenu1_Click(qm::kBtnFold);
  EXPECT_EQ(w.HeightTwips(), 5925);
}

TEST_F(Window, FoldBarArrowsWhileHovered) {
  Show();
  frmMain& w = *window;
  qMmenu* bar = w.qMmenu1(qm::kBtnFold);
  MoveCursorTo(&w, CentreOf(bar));
  EXPECT_EQ(bar->Caption(), QStringLiteral("↓"));
  EXPECT_EQ(bar->BackColor(), kPeach);  // the bar's face does not light up
  const QPoint oldPlace = CentreOf(bar);
  ClickAt(bar);
  ASSERT_EQ(w.HeightTwips(), 9300);
  // The bar has moved away from under the cursor: the caption empties.
  ASSERT_EQ(QCursor::pos(), oldPlace);
  ASSERT_TRUE(WaitUntil([&] { return bar->Caption().isEmpty(); }));
  MoveCursorTo(&w, CentreOf(bar));
  EXPECT_EQ(bar->Caption(), QStringLiteral("↑"));
  MoveCursorTo(&w, CentreOf(w.Txt(1)));
  ASSERT_TRUE(WaitUntil([&] { return bar->Caption().isEmpty(); }));
}

TEST_F(Window, ButtonLightsUnderTheMouse) {
  Show();
  frmMain& w = *window;
  qMmenu* start = w.qMmenu1(qm::kBtnStart);
  MoveCursorTo(&w, CentreOf(start));
  EXPECT_EQ(start->BackColor(), kOrange);
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));
  MoveCursorTo(&w, CentreOf(w.Txt(1)));
  ASSERT_TRUE(WaitUntil([&] { return start->BackColor() == kPeach; }));
  EXPECT_EQ(start->Caption(), QStringLiteral("开 始"));
  EXPECT_FALSE(start->Hovering());
}

TEST_F(Window, HeldPressKeepsTheButtonLitUntilRelease) {
  Show();
  frmMain& w = *window;
  qMmenu* list = w.qMmenu1(qm::kBtnList);
  MoveCursorTo(&w, CentreOf(list));
  ASSERT_EQ(list->BackColor(), kOrange);
  QTest::mousePress(w.windowHandle(), Qt::LeftButton, {}, list->mapTo(&w, QPoint(5, 5)));
  QCursor::setPos(CentreOf(w.Txt(1)));
  QTest::qWait(100);
  EXPECT_EQ(list->BackColor(), kOrange);
  QTest::mouseRelease(w.windowHandle(), Qt::LeftButton, {}, w.mapFromGlobal(CentreOf(w.Txt(1))));
  ASSERT_TRUE(WaitUntil([&] { return list->BackColor() == kPeach; }));
  // Released away from the button: no click, the list stays hidden.
  EXPECT_EQ(list->Caption(), QStringLiteral("查看列表"));
}

TEST_F(Window, RightClickOnAButtonIsNoClick) {
  Show();
  frmMain& w = *window;
  ClickAt(w.qMmenu1(qm::kBtnList), Qt::RightButton);
  EXPECT_EQ(w.qMmenu1(qm::kBtnList)->Caption(), QStringLiteral("查看列表"));
  EXPECT_FALSE(w.Lv()->isVisible());
  ClickAt(w.qMmenu1(qm::kBtnList));
  EXPECT_EQ(w.qMmenu1(qm::kBtnList)->Caption(), QStringLiteral("隐藏"));
  EXPECT_TRUE(w.Lv()->isVisible());
  ClickAt(w.qMmenu1(qm::kBtnList));
  EXPECT_FALSE(w.Lv()->isVisible());
}

TEST_F(Window, QuitAndCloseEndTheProgram) {
  Show();
  ClickAt(window->qMmenu1(qm::kBtnQuit));
  EXPECT_EQ(rec.ends, 1);
  window->close();
  EXPECT_EQ(rec.ends, 2);
}

TEST_F(Window, MinimiseButton) {
  Show();
  ClickAt(window->qMmenu1(qm::kBtnMinimise));
  EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
  EXPECT_EQ(rec.ends, 0);
}

TEST_F(Window, TypingTheIntervalSetsTheTimerPerKeystroke) {
  frmMain& w = *window;
  QLineEdit* box = w.TxtLine(7);
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(w.Engine().Txt(7), QString());
  EXPECT_EQ(w.Engine().Timer1Interval(), 0);
  QList<int> intervals;
  for (QChar c : QStringLiteral("1500ms")) {
    QTest::keyClicks(box, QString(c));
    intervals << w.Engine().Timer1Interval();
  }
  EXPECT_EQ(intervals, QList<int>({1, 15, 150, 1500, 1500, 1500}));
  EXPECT_EQ(w.Engine().Txt(7), QStringLiteral("1500ms"));
  // The box holds at most six characters.
  QTest::keyClicks(box, QStringLiteral("9"));
  EXPECT_EQ(box->text(), QStringLiteral("1500ms"));
  EXPECT_FALSE(w.Engine().Timer1Enabled());
}

TEST_F(Window, MinimumSizeBoxAndItsNote) {
  ShowActive();
  frmMain& w = *window;
  w.qMmenu1_Click(qm::kBtnFold);
  QLineEdit* box = w.TxtLine(4);
  box->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(WaitUntil([&] { return box->hasFocus(); }));
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(w.Engine().MinSizeKb(), 0);
  EXPECT_FALSE(LogText(w).contains(QStringLiteral("文件长度下限已重置...")));
  QTest::keyClicks(box, QStringLiteral("1kb"));
  EXPECT_EQ(w.Engine().MinSizeKb(), 1);
  w.TxtLine(6)->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(
      WaitUntil([&] { return LogText(w).contains(QStringLiteral("文件长度下限已重置...")); }));
  EXPECT_TRUE(LogText(w).startsWith(QTime::currentTime().toString().left(2)));  // newest first
}

TEST_F(Window, KeywordHintThroughClicksAndFocus) {
  ShowActive();
  frmMain& w = *window;
  w.qMmenu1_Click(qm::kBtnFold);
  QLineEdit* box = w.TxtLine(5);
  const QString logBefore = LogText(w);

  // The keyboard's focus leaves the hint in place.
  box->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(WaitUntil([&] { return box->hasFocus(); }));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());
  w.TxtLine(6)->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(WaitUntil([&] { return !box->hasFocus(); }));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());

  // A click empties it; leaving it empty puts it back; nothing is logged.
  ClickAt(box);
  EXPECT_EQ(box->text(), QString());
  EXPECT_EQ(w.Engine().Settings().KeyWords, QString());
  ClickAt(w.TxtLine(6));
  ASSERT_TRUE(WaitUntil([&] { return !box->hasFocus(); }));
  EXPECT_EQ(box->text(), qm::CrawlEngine::KeyWordHint());
  EXPECT_EQ(w.Engine().Settings().KeyWords, QString());
  EXPECT_EQ(LogText(w), logBefore);

  // Typing keywords sets them keystroke by keystroke; leaving logs the note.
  ClickAt(box);
  ASSERT_EQ(box->text(), QString());
  QStringList seen;
  for (QChar c : QStringLiteral("猫*狗")) {
    qmtest::TypeText(box, QString(c));
    seen << w.Engine().Settings().KeyWords;
  }
  EXPECT_EQ(seen, QStringList({"猫", "猫*", "猫*狗"}));
  ClickAt(w.TxtLine(6));
  ASSERT_TRUE(
      WaitUntil([&] { return LogText(w).contains(QStringLiteral("指定关键词已经更新...")); }));

  // Deleting from the right keeps the last keyword text; "*" never replaces it.
  ClickAt(box);
  QTest::keyClick(box, Qt::Key_End);
  for (int i = 0; i < 3; ++i) QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(box->text(), QString());
  EXPECT_EQ(w.Engine().Settings().KeyWords, QStringLiteral("猫"));
  QTest::keyClicks(box, QStringLiteral("*"));
  EXPECT_EQ(w.Engine().Settings().KeyWords, QStringLiteral("猫"));
}

TEST_F(Window, BoxesAndEngineStayInStep) {
  frmMain& w = *window;
  // The engine's changes show in the boxes.
  w.Engine().SetTxt(3, QStringLiteral("250ms"));
  EXPECT_EQ(w.TxtLine(3)->text(), QStringLiteral("250ms"));
  // Lines typed into the address box reach the engine with CR LF.
  QPlainTextEdit* seeds = w.TxtMulti(2);
  QTest::keyClicks(seeds, QStringLiteral("http://a/"));
  QTest::keyClick(seeds, Qt::Key_Return);
  QTest::keyClicks(seeds, QStringLiteral("http://b/"));
  EXPECT_EQ(w.Engine().Txt(2), QStringLiteral("http://a/\r\nhttp://b/"));
  EXPECT_EQ(w.TxtText(2), w.Engine().Txt(2));
  w.Engine().SetTxt(2, QStringLiteral("http://c/\r\nhttp://d/"));
  EXPECT_EQ(seeds->toPlainText(), QStringLiteral("http://c/\nhttp://d/"));
  // Clear empties the address box.
  w.qMmenu1_Click(qm::kBtnClear);
  EXPECT_EQ(seeds->toPlainText(), QString());
  EXPECT_EQ(w.Engine().Txt(2), QString());
  // The site switch takes the typed addresses.
  QTest::keyClicks(seeds, QStringLiteral("http://e/"));
  w.qMmenu1_Click(qm::kBtnSite);
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("只抓取站内"));
  w.qMmenu1_Click(qm::kBtnSite);
  EXPECT_EQ(w.qMmenu1(qm::kBtnSite)->Caption(), QStringLiteral("√只抓取站内"));
  EXPECT_EQ(w.Engine().Settings().SiteBase, QStringLiteral("http://e/"));
}

TEST_F(Window, RunLogShowsTheEngineLogNewestFirst) {
  frmMain& w = *window;
  for (int i = 0; i < 5; ++i) w.Engine().Ag(QStringLiteral("行%1").arg(i));
  QString expected = w.Engine().LogText();
  expected.replace("\r\n", "\n");
  EXPECT_EQ(LogText(w), expected);
  EXPECT_TRUE(LogText(w).section('\n', 0, 0).endsWith(QStringLiteral("  行4")));
  // Past 50,000 characters the engine empties the log; the box follows.
  const QString longLine(900, QChar(u'长'));
  while (w.Engine().LogText().size() < 50000) w.Engine().Ag(longLine);
  w.Engine().Ag(QStringLiteral("最后"));
  expected = w.Engine().LogText();
  expected.replace("\r\n", "\n");
  EXPECT_EQ(LogText(w), expected);
  EXPECT_LT(LogText(w).size(), 100);
}

TEST_F(Window, StatusLabelsFollowTheEngine) {
  frmMain& w = *window;
  // A refused Start logs its message and leaves the caption.
  w.Engine().SetTxt(2, QStringLiteral("https://only.secure/"));
  w.qMmenu1_Click(qm::kBtnStart);
  EXPECT_TRUE(
      LogText(w).contains(QStringLiteral("采集网址为空,或者格式输入有误.请添加正确的网址...")));
  EXPECT_EQ(w.qMmenu1(qm::kBtnStart)->Caption(), QStringLiteral("开 始"));
  // Start fills the image folder box with the default folder.
  EXPECT_EQ(w.TxtLine(0)->text(), w.Engine().Txt(0));
  EXPECT_TRUE(w.TxtLine(0)->text().endsWith(QStringLiteral("imgdown")));
}

class CopyCommand : public Window {
 protected:
  void SetUp() override {
    Window::SetUp();
    qm::AddressList& list = window->Engine().Lv();
    for (int i = 0; i < 4; ++i) {
      list.AddItem(QString::number(i + 1));
      list.SetItemText(i, 1, QStringLiteral("http://h/%1.html").arg(i));
      list.SetItemText(i, 2, QStringLiteral("分析完成"));
    }
    Show();
    window->qMmenu1_Click(qm::kBtnList);
    QApplication::clipboard()->setText(QStringLiteral("before"));
  }
  void Select(int row) {
    qm::ListView* lv = window->Lv();
    lv->selectionModel()->select(lv->model()->index(row, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  void ClickList(Qt::MouseButton button) {
    qm::ListView* lv = window->Lv();
    QTest::mouseClick(lv->viewport(), button, {}, QPoint(100, 5));  // over row 0
  }
};

TEST_F(CopyCommand, SelectedLinksInRowOrder) {
  Select(2);
  Select(0);
  ClickList(Qt::RightButton);
  EXPECT_EQ(QApplication::clipboard()->text(),
            QStringLiteral("http://h/0.html\r\nhttp://h/2.html\r\n"));
  // The right button leaves the selection as it was.
  EXPECT_EQ(window->Lv()->SelectedRows(), QList<int>({0, 2}));
  EXPECT_TRUE(rec.criticals.isEmpty());
}

TEST_F(CopyCommand, NoSelectionCopiesTheEmptyText) {
  ClickList(Qt::RightButton);
  EXPECT_EQ(QApplication::clipboard()->text(), QString());
}

TEST_F(CopyCommand, OtherButtonsCopyNothing) {
  Select(1);
  ClickList(Qt::MiddleButton);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
  ClickList(Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(CopyCommand, EmptyListCopiesNothing) {
  window->Engine().Lv().Clear();
  window->Lv()->selectAll();
  window->Lv_ItemMouse(-1, qMmenu::kRight, 0, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST(CopyTextTest, FailureShowsTheMessage) {
  QStringList shown;
  qm::CopyText(
      QStringLiteral("x"),
      [&](const QString& text, const QString& title) { shown << title + "|" + text; },
      QStringLiteral("标题"), nullptr);
  EXPECT_EQ(shown, QStringList{QStringLiteral("标题|复制失败!")});
  shown.clear();
  qm::CopyText(
      QStringLiteral("y\r\n"), [&](const QString& text, const QString&) { shown << text; },
      QStringLiteral("标题"));
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("y\r\n"));
}

TEST_F(Window, BrowseCancelledAndChosen) {
  Show();
  frmMain& w = *window;
  w.qMmenu1_Click(qm::kBtnFold);
  w.Engine().SetTxt(0, QStringLiteral("/typed/by/hand"));
  const QString savePath = w.Engine().Downloads().GetSavePath();
  rec.folderAnswer = QString();
  ClickAt(w.qMmenu1(qm::kBtnBrowse));
  EXPECT_EQ(rec.folderTitles, QStringList{QStringLiteral("请选择一个文件夹:")});
  EXPECT_EQ(w.TxtLine(0)->text(), QString());
  EXPECT_EQ(w.Engine().Downloads().GetSavePath(), savePath);

  rec.folderAnswer = QString::fromStdString(dir.Path());
  ClickAt(w.qMmenu1(qm::kBtnBrowse));
  EXPECT_EQ(w.TxtLine(0)->text(), rec.folderAnswer);
  EXPECT_EQ(w.Engine().Downloads().GetSavePath(), rec.folderAnswer);
}

TEST_F(Window, CriticalMessagesGoThroughTheHook) {
  window->ShowCritical(QStringLiteral("消息"), QStringLiteral("标题"));
  EXPECT_EQ(rec.criticals, QStringList{QStringLiteral("标题|消息")});
}

class Drag : public Window, public ::testing::WithParamInterface<bool> {};

TEST_P(Drag, ByTitleLabelsWithTheLeftButton) {
  Show();
  frmMain& w = *window;
  QLabel* label = GetParam() ? w.Label3() : w.Label1();
  w.move(300, 200);
  QApplication::processEvents();
  const QPoint start = w.pos();
  const QPoint grab(10, 5);
  QTest::mousePress(label, Qt::LeftButton, {}, grab);
  EXPECT_EQ(w.DragX(), 150);
  EXPECT_EQ(w.DragY(), 75);
  QTest::mouseMove(label, QPoint(40, 25));
  EXPECT_EQ(w.pos(), start + QPoint(30, 20));
  // The grabbed point is under the cursor again: the label-relative position
  // of the cursor equals the grab.
  const QPoint cursorGlobal = start + label->mapTo(&w, QPoint(40, 25));
  EXPECT_EQ(label->mapFromGlobal(cursorGlobal), grab);
  QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(40, 25));

  // A right-button drag moves nothing and leaves the drag point.
  const QPoint before = w.pos();
  QTest::mousePress(label, Qt::RightButton, {}, QPoint(3, 3));
  EXPECT_EQ(w.DragX(), 150);
  QTest::mouseMove(label, QPoint(60, 30));
  QTest::mouseRelease(label, Qt::RightButton, {}, QPoint(60, 30));
  EXPECT_EQ(w.pos(), before);
}

INSTANTIATE_TEST_SUITE_P(Labels, Drag, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Label3" : "Label1"; });

}  // namespace
