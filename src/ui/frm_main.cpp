#include "ui/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <cstdlib>

#include "ui/twips.h"
#include "web/text.h"

// The icon resource lives in the static library qmui: it is registered by
// hand, from outside any namespace.
static void InitIconResource() { Q_INIT_RESOURCE(qmcrawl_icons); }

namespace qm {

namespace {

const QColor kPeach(255, 192, 128);
const QColor kOrange(255, 128, 0);

const QString kSongTi = QStringLiteral("宋体");
const QString kYaHei = QStringLiteral("微软雅黑");

QFont WindowFont() {
  QFont font(kSongTi);
  font.setPointSizeF(9);
  font.setWeight(QFont::Normal);
  return font;
}

QFont TitleFont() {
  QFont font(kYaHei);
  font.setPointSizeF(10.5);
  font.setWeight(QFont::Bold);
  return font;
}

// The stored properties of every button of the window: its caption (none for
// the fold bar), 9-point 宋体 of weight 400 in the GB2312 character set, drawing
// mode 13, the system's button-text colour and a peach face.
PropertyBag ButtonDesign(const QString& caption) {
  PropertyBag bag;
  if (!caption.isEmpty()) bag.WriteProperty(QStringLiteral("Caption"), caption);
  bag.WriteProperty(QStringLiteral("Font"), StoredFont{kSongTi, 9, 400, 134}.ToVariant());
  bag.WriteProperty(QStringLiteral("DrawMode"), 13);
  bag.WriteProperty(QStringLiteral("ForeColor"), SystemColorRef(QPalette::ButtonText));
  bag.WriteProperty(QStringLiteral("BackColor"), kPeach);
  bag.ClearLogs();
  return bag;
}

// The window icon: the 48 x 48 picture of the desktop entry, built into the
// program (data/org.example.qmcrawl.png, drawn from the SVG beside it).
QIcon MakeIcon() {
  InitIconResource();
  return QIcon(QStringLiteral(":/qmcrawl/icon-48.png"));
}

QString ToDisplayText(const QString& text) {
  QString out = text;
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return out;
}

QString ToEngineText(const QString& text) { return ToCrLf(text); }

}  // namespace

WindowHooks ProgramHooks() {
  WindowHooks hooks;
  hooks.critical = [](QWidget* parent, const QString& text, const QString& title) {
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
  };
  hooks.pickFolder = [](QWidget* parent, const QString& title) {
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
  };
  // The window's unload ends everything at once: nothing is saved or waited for.
  hooks.endProgram = [] { std::_Exit(0); };
  return hooks;
}

void InstallFontSubstitutes() {
  static bool done = false;
  if (done) return;
  done = true;
  QFont::insertSubstitutions(
      kSongTi, {QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN")});
  QFont::insertSubstitutions(
      kYaHei, {QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
               QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC")});
}

QString frmMain::ProgramTitle() { return QStringLiteral("Qmcrawl 图片采集"); }
QString frmMain::FolderPrompt() { return QStringLiteral("请选择一个文件夹:"); }

frmMain::frmMain(const QString& programFolder, WindowHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), hooks_(std::move(hooks)) {
  InstallFontSubstitutes();
  engine_ = std::make_unique<CrawlEngine>(programFolder, this);

  setWindowTitle(ProgramTitle());
  setWindowIcon(MakeIcon());
  setFont(WindowFont());
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, White());
  setPalette(palette);
  setAutoFillBackground(true);
  resize(TwipsToPx(widthTwips_), TwipsToPx(heightTwips_));

  CreateControls();
  BindEngine();
  engine_->Form_Load([this] { WindowSteps(); });

  // The engine's captions and counters as they stand after the load.
  for (int i : {kBtnStart, kBtnList, kBtnSite}) {
    const QString caption = engine_->Caption(i);
    if (!caption.isNull() && qMmenu1(i)->Caption() != caption) qMmenu1(i)->SetCaption(caption);
  }
  for (int i : {4, 6, 7}) {
    const QString text = engine_->Lab(i);
    if (!text.isNull()) Lab(i)->setText(text);
  }
  lv_->setVisible(engine_->ListVisible());

  // First shown in the middle of the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, TwipsToPx(ExpandedHeight) / 2));
  }
}

frmMain::~frmMain() {
  // The engine goes first: its signals reach controls that are about to go.
  engine_->disconnect(this);
  lv_->SetAddressList(nullptr);
  engine_.reset();
}

// ---- creating the controls

QLabel* frmMain::MakeLabel(const QString& text, const QRect& twips, bool autoSize,
                           Qt::Alignment alignment) {
  auto* label = new QLabel(text, this);
  // Label text is drawn from the label's top edge.
  label->setAlignment((alignment & Qt::AlignHorizontal_Mask) | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  label->setAttribute(Qt::WA_TranslucentBackground);
  QRect geometry = twips;
  if (autoSize) {
    // The label sizes itself to its caption.
    const QSize hint = label->sizeHint();
    geometry.setSize(QSize(static_cast<int>(PxToTwips(hint.width())),
                           static_cast<int>(PxToTwips(hint.height()))));
  } else {
    // A label of fixed size is never lower than its text, whatever font
    // stands in for the designed one.
    const int needed = static_cast<int>(PxToTwips(label->sizeHint().height()));
    geometry.setHeight(std::max(geometry.height(), needed));
  }
  SetTwipGeometry(label, geometry);
  return label;
}

qMmenu* frmMain::MakeButton(int index, const QString& caption, const QRect& twips) {
  auto* button = new qMmenu(this);
  PropertyBag design = ButtonDesign(caption);
  button->ReadProperties(design);
  SetTwipGeometry(button, twips);
  buttons_[static_cast<std::size_t>(index)] = button;
  connect(button, &qMmenu::Click, this, [this, index] { qMmenu1_Click(index); });
  connect(button, &qMmenu::MouseMove, this,
          [this, index](short&, short&, float&, float&) { qMmenu1_MouseMove(index); });
  connect(button, &qMmenu::MouseOut, this, [this, index] { qMmenu1_MouseOut(index); });
  return button;
}

void frmMain::CreateControls() {
  // The title strip and the title.
  label1_ = new QLabel(this);
  label1_->setAutoFillBackground(true);
  {
    QPalette p = label1_->palette();
    p.setColor(QPalette::Window, kPeach);
    label1_->setPalette(p);
  }
  SetTwipGeometry(label1_, QRect(0, 0, 10005, 825));
  label1_->installEventFilter(this);

  label3_ = new QLabel(ProgramTitle(), this);
  label3_->setFont(TitleFont());
  {
    QPalette p = label3_->palette();
    p.setColor(QPalette::WindowText, kOrange);
    label3_->setPalette(p);
  }
  label3_->setAttribute(Qt::WA_TranslucentBackground);
  label3_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  const QSize titleSize = label3_->sizeHint();  // sized to the title
  SetTwipGeometry(label3_, QRect(225, 270, static_cast<int>(PxToTwips(titleSize.width())),
                                 static_cast<int>(PxToTwips(titleSize.height()))));
  label3_->installEventFilter(this);

  // The template of the frames around the boxes.
  auto* frame0 = new ShapeOutline(kOrange, this);
  SetTwipGeometry(frame0, QRect(0, 4635, 285, 195));
  shp_.push_back(frame0);

  // Captions of the boxes.
  label4_[2] = MakeLabel(QStringLiteral("采集延时"), QRect(405, 1170, 720, 180), true);
  label4_[3] = MakeLabel(QStringLiteral("采集间隔"), QRect(2430, 1170, 720, 180), true);
  label4_[7] = MakeLabel(QStringLiteral("并发下载"), QRect(4455, 1170, 720, 180), true);
  label4_[0] = MakeLabel(QStringLiteral("图片保存到"), QRect(450, 6120, 900, 180), true);
  label4_[1] = MakeLabel(QStringLiteral("采集网址"), QRect(630, 6480, 720, 180), true);
  label4_[4] = MakeLabel(QStringLiteral("指定关键词"), QRect(450, 7560, 900, 180), true);
  label4_[5] = MakeLabel(QStringLiteral("  文件类型"), QRect(450, 7920, 900, 180), true);
  label4_[6] = MakeLabel(QStringLiteral("文件长度下限"), QRect(5490, 7920, 1080, 180), true);

  // The status row.
  const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignVCenter;
  lab_[3] = MakeLabel(QStringLiteral("已采集图片:"), QRect(405, 5085, 990, 180), true);
  lab_[4] = MakeLabel(QStringLiteral("0"), QRect(1440, 5085, 990, 180), false, centred);
  lab_[5] = MakeLabel(QStringLiteral("网址总数:"), QRect(2565, 5085, 810, 180), true);
  lab_[6] = MakeLabel(QStringLiteral("0"), QRect(3420, 5085, 990, 180), false, centred);
  lab_[8] = MakeLabel(QStringLiteral("当前:"), QRect(4725, 5085, 450, 180), true);
  lab_[7] = MakeLabel(QStringLiteral("0"), QRect(5265, 5085, 4095, 180), false);

  // The boxes.
  struct BoxDesign {
    int index;
    QRect twips;
    bool multiLine;
    bool centred;
    int maxLength;
  };
  const BoxDesign boxes[] = {
      {3, QRect(1305, 1170, 870, 210), false, true, 6},
      {7, QRect(3330, 1170, 870, 210), false, true, 6},
      {8, QRect(5355, 1170, 870, 210), false, true, 2},
      {1, QRect(405, 1710, 8970, 3045), true, false, 0},
      {0, QRect(1710, 6120, 6405, 210), false, false, 0},
      {2, QRect(1710, 6480, 6405, 945), true, false, 0},
      {5, QRect(1710, 7560, 6405, 210), false, false, 0},
      {6, QRect(1710, 7920, 3570, 210), false, false, 0},
      {4, QRect(6750, 7920, 1365, 210), false, false, 0},
  };
  for (const BoxDesign& box : boxes) {
    QWidget* widget = nullptr;
    if (box.multiLine) {
      auto* edit = new QPlainTextEdit(this);
      edit->setFrameStyle(QFrame::NoFrame);
      edit->setTabChangesFocus(true);
      edit->setLineWrapMode(QPlainTextEdit::NoWrap);
      edit->setUndoRedoEnabled(box.index != 1);
      edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      edit->document()->setDocumentMargin(1);
      edit->viewport()->installEventFilter(this);
      if (box.index == 1) {
        // The run log: read-only, orange text, newest line first.
        edit->setReadOnly(true);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        QPalette p = edit->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
          p.setColor(group, QPalette::Text, kOrange);
        edit->setPalette(p);
        edit->setPlainText(ToDisplayText(engine_->LogText()));
      } else {
        edit->setPlainText(ToDisplayText(engine_->Txt(box.index)));
        connect(edit, &QPlainTextEdit::textChanged, this, [this, edit, index = box.index] {
          if (!syncing_) engine_->SetTxt(index, ToEngineText(edit->toPlainText()));
        });
      }
      widget = edit;
    } else {
      auto* edit = new QLineEdit(this);
      edit->setFrame(false);
      edit->setTextMargins(0, 0, 0, 0);
      if (box.centred) edit->setAlignment(Qt::AlignCenter);
      if (box.maxLength > 0) edit->setMaxLength(box.maxLength);
      edit->setText(engine_->Txt(box.index));
      edit->setCursorPosition(0);
      connect(edit, &QLineEdit::textEdited, this,
              [this, index = box.index](const QString& text) { engine_->SetTxt(index, text); });
      widget = edit;
    }
    widget->installEventFilter(this);
    txt_[static_cast<std::size_t>(box.index)] = widget;
    SetTwipGeometry(widget, box.twips);
  }

  // The address list, over the run log once the window has loaded.
  lv_ = new ListView(this);
  lv_->SetAddressList(&engine_->Lv());
  SetTwipGeometry(lv_, QRect(7605, 2295, 8970, 3030));
  lv_->hide();
  connect(lv_, &ListView::ItemMouse, this, &frmMain::Lv_ItemMouse);

  // The buttons.
  MakeButton(kBtnMinimise, QStringLiteral("-"), QRect(8595, 225, 420, 330));
  MakeButton(kBtnQuit, QStringLiteral("x"), QRect(9135, 180, 420, 330));
  MakeButton(kBtnStart, QStringLiteral("开 始"), QRect(6480, 1035, 1455, 420));
  MakeButton(kBtnList, QStringLiteral("查看列表"), QRect(8055, 1035, 1320, 420));
  MakeButton(kBtnFold, QString(), QRect(0, 5580, 9825, 240));
  MakeButton(kBtnBrowse, QStringLiteral("浏览"), QRect(8415, 6030, 960, 330));
  MakeButton(kBtnClear, QStringLiteral("清空"), QRect(8415, 6480, 960, 330));
  MakeButton(kBtnSite, QStringLiteral("只抓取站内"), QRect(1665, 8280, 1635, 375));

  // The window's one-pixel border, over everything and transparent to the mouse.
  shape_ = new ShapeOutline(kPeach, this);
  SetTwipGeometry(shape_, QRect(0, 0, 420, 1050));
}

void frmMain::BindEngine() {
  connect(engine_.get(), &CrawlEngine::TxtChanged, this, &frmMain::OnTxtChanged);
  connect(engine_.get(), &CrawlEngine::LogPrepended, this, &frmMain::PrependLogLine);
  connect(engine_.get(), &CrawlEngine::LogCleared, this, [this] { TxtMulti(1)->clear(); });
  connect(engine_.get(), &CrawlEngine::CaptionChanged, this,
          [this](int index, const QString& caption) {
            if (index >= 0 && index < kButtonCount) qMmenu1(index)->SetCaption(caption);
          });
  connect(engine_.get(), &CrawlEngine::LabChanged, this, [this](int index, const QString& text) {
    if (QLabel* label = Lab(index)) label->setText(text);
  });
  connect(engine_.get(), &CrawlEngine::ListVisibleChanged, lv_, &QWidget::setVisible);
}

// The window's steps of the load: the list over the log box, the frames, the
// folded height.
void frmMain::WindowSteps() {
  const QRect log = TwipGeometry(Txt(1));
  QRect list = TwipGeometry(lv_);
  list.moveTopLeft(log.topLeft());
  SetTwipGeometry(lv_, list);

  for (int i = static_cast<int>(shp_.size()); i < CrawlEngine::kTxtCount; ++i) {
    auto* frame = new ShapeOutline(shp_[0]->BorderColor(), this);
    frame->hide();
    frame->stackUnder(shp_[0]);
    SetTwipGeometry(frame, TwipGeometry(shp_[0]));
    shp_.push_back(frame);
  }
  SetHeightTwips(CompactHeight);
}

// ---- geometry

QRect frmMain::TwipGeometry(const QWidget* widget) const { return twips_.value(widget); }

void frmMain::SetTwipGeometry(QWidget* widget, const QRect& twips) {
  twips_[widget] = twips;
  widget->setGeometry(TwipRectToPx(twips));
}

void frmMain::SetTwipLeft(QWidget* widget, int left) {
  QRect r = twips_.value(widget);
  r.moveLeft(left);
  SetTwipGeometry(widget, r);
}

void frmMain::SetTwipTop(QWidget* widget, int top) {
  QRect r = twips_.value(widget);
  r.moveTop(top);
  SetTwipGeometry(widget, r);
}

void frmMain::SetTwipWidth(QWidget* widget, int width) {
  QRect r = twips_.value(widget);
  r.setWidth(width);
  SetTwipGeometry(widget, r);
}

void frmMain::SetHeightTwips(int twips) {
  heightTwips_ = twips;
  const QSize size(TwipsToPx(widthTwips_), TwipsToPx(heightTwips_));
  if (this->size() != size) resize(size);
  // A hidden window hears of its new size only when shown: lay out now.
  Form_Resize();
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Sizes set by the window are kept exactly in twips; any other size comes
  // from the platform and is taken as it is.
  if (height() != TwipsToPx(heightTwips_)) heightTwips_ = static_cast<int>(PxToTwips(height()));
  if (width() != TwipsToPx(widthTwips_)) widthTwips_ = static_cast<int>(PxToTwips(width()));
  Form_Resize();
}

void frmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Minimising and restoring run the layout rule too.
  if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmMain::Form_Resize() {
  const int w = widthTwips_;
  const int h = heightTwips_;
  SetTwipGeometry(shape_, QRect(0, 0, w, h));
  SetTwipWidth(label1_, w + 100);
  const int strip = TwipGeometry(label1_).width();
  SetTwipLeft(qMmenu1(kBtnQuit), strip - 700);
  SetTwipLeft(qMmenu1(kBtnMinimise), strip - 1200);
  SetTwipTop(qMmenu1(kBtnFold), h - 400);
  const QColor background = palette().color(QPalette::Window);
  for (int i = 0; i < CrawlEngine::kTxtCount && i < ShpCount(); ++i) {
    const QRect box = TwipGeometry(Txt(i));
    SetTwipGeometry(shp_[static_cast<std::size_t>(i)],
                    QRect(box.left() - 25, box.top() - 25, box.width() + 60, box.height() + 60));
    shp_[static_cast<std::size_t>(i)]->show();
    QPalette p = Txt(i)->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      p.setColor(group, QPalette::Base, background);
    Txt(i)->setPalette(p);
  }
}

// ---- controls

QLineEdit* frmMain::TxtLine(int index) const { return qobject_cast<QLineEdit*>(Txt(index)); }
QPlainTextEdit* frmMain::TxtMulti(int index) const {
  return qobject_cast<QPlainTextEdit*>(Txt(index));
}

QString frmMain::TxtText(int index) const {
  if (QLineEdit* line = TxtLine(index)) return line->text();
  if (QPlainTextEdit* multi = TxtMulti(index)) return ToEngineText(multi->toPlainText());
  return QString();
}

ShapeOutline* frmMain::Shp(int index) const {
  if (index < 0 || index >= ShpCount()) return nullptr;
  return shp_[static_cast<std::size_t>(index)];
}

QLabel* frmMain::Lab(int index) const {
  if (index < 3 || index > 8) return nullptr;
  return lab_[static_cast<std::size_t>(index)];
}

int frmMain::TxtIndexOf(QObject* watched) const {
  for (int i = 0; i < CrawlEngine::kTxtCount; ++i) {
    QWidget* box = Txt(i);
    if (!box) continue;
    if (watched == box) return i;
    if (auto* multi = qobject_cast<QPlainTextEdit*>(box); multi && watched == multi->viewport())
      return i;
  }
  return -1;
}

void frmMain::OnTxtChanged(int index, const QString& text) {
  if (index == 1 || index < 0 || index >= CrawlEngine::kTxtCount) return;
  if (TxtText(index) == text) return;  // the box already shows it: no echo
  syncing_ = true;
  if (QLineEdit* line = TxtLine(index))
    line->setText(text);
  else if (QPlainTextEdit* multi = TxtMulti(index))
    multi->setPlainText(ToDisplayText(text));
  syncing_ = false;
}

void frmMain::PrependLogLine(const QString& line) {
  // The line and its line break go on top; only the new line is laid out and
  // the rest of the log stays as it is.
  QTextCursor cursor(TxtMulti(1)->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.insertText(line);
  cursor.insertBlock();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == label1_ || watched == label3_) {
    auto* label = static_cast<QWidget*>(watched);
    if (type == QEvent::MouseButtonPress) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      Label_MouseDown(label, mouse->button(), mouse->position());
    } else if (type == QEvent::MouseMove) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      Label_MouseMove(label, mouse->buttons(), mouse->position());
    }
    return false;
  }
  if (type == QEvent::MouseButtonRelease || type == QEvent::FocusOut) {
    const int index = TxtIndexOf(watched);
    if (index >= 0) {
      if (type == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* target = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            target->rect().contains(mouse->position().toPoint()))
          engine_->Txt_Click(index);
      } else {
        // Leaving the box for another control; a window going to the
        // background or a context menu opening is no leaving.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
          engine_->Txt_LostFocus(index);
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- EngineHost

void frmMain::ShowCritical(const QString& text, const QString& title) {
  if (hooks_.critical) hooks_.critical(this, text, title);
}

QString frmMain::BrowseFolder(const QString& prompt) {
  if (!hooks_.pickFolder) return QString();
  return hooks_.pickFolder(this, prompt.isEmpty() ? FolderPrompt() : prompt);
}

void frmMain::EndProgram() {
  if (hooks_.endProgram) hooks_.endProgram();
}

void frmMain::closeEvent(QCloseEvent* event) {
  event->accept();
  engine_->Form_Unload();
}

// ---- chrome

void frmMain::qMmenu1_Click(int index) {
  switch (index) {
    case kBtnMinimise:
      showMinimized();
      break;
    case kBtnFold:
      SetHeightTwips(heightTwips_ == ExpandedHeight ? CompactHeight : ExpandedHeight);
      break;
    default:
      engine_->Click(index);
      break;
  }
}

void frmMain::qMmenu1_MouseMove(int index) {
  if (index == kBtnFold) {
    qMmenu1(index)->SetCaption(heightTwips_ > CompactHeight ? QStringLiteral("↑")
                                                            : QStringLiteral("↓"));
  } else {
    qMmenu1(index)->SetBackColor(kOrange);
  }
}

void frmMain::qMmenu1_MouseOut(int index) {
  if (index == kBtnFold)
    qMmenu1(index)->SetCaption(QString());
  else
    qMmenu1(index)->SetBackColor(label1_->palette().color(QPalette::Window));
}

void frmMain::Label_MouseDown(QWidget*, Qt::MouseButton button, const QPointF& pos) {
  if (button != Qt::LeftButton) return;
  dragX_ = static_cast<int>(RoundHalfEven(PxToTwips(pos.x())));
  dragY_ = static_cast<int>(RoundHalfEven(PxToTwips(pos.y())));
}

void frmMain::Label_MouseMove(QWidget*, Qt::MouseButtons buttons, const QPointF& pos) {
  if (!(buttons & Qt::LeftButton)) return;
  // The grabbed point of the label stays under the cursor.
  const double left = PxToTwips(x()) - dragX_ + PxToTwips(pos.x());
  const double top = PxToTwips(y()) - dragY_ + PxToTwips(pos.y());
  move(TwipsToPx(left), TwipsToPx(top));
}

// ---- the list's copy command

QString frmMain::SelectedLinks() const {
  const AddressList& list = engine_->Lv();
  QString text;
  for (int row : lv_->SelectedRows()) {
    if (row >= list.ItemCount()) break;
    text += list.ItemText(row, 1);
    text += QLatin1String("\r\n");
  }
  return text;
}

void frmMain::Lv_ItemMouse(int, int button, int, int, int) {
  if (engine_->Lv().ItemCount() == 0 || button != qMmenu::kRight) return;
  CopyText(
      SelectedLinks(),
      [this](const QString& text, const QString& title) { ShowCritical(text, title); },
      ProgramTitle());
}

}  // namespace qm
