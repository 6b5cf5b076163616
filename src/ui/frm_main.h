#pragma once
// frmMain: the crawler's one window. A frameless window with a title strip of
// its own, the short settings with the Start and list buttons, the run log
// with the address list over it, three counters, the fold bar and the lower
// panel of settings shown only while the window is unfolded. Positions are
// kept in twips as designed and shown at 15 twips per pixel. The window binds
// to the crawl engine: it forwards edits, clicks and focus changes of the boxes
// and the buttons' clicks, and shows what the engine reports.
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRect>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "crawl/engine.h"
#include "ui/clipboard.h"
#include "ui/list_view.h"
#include "ui/property_bag.h"
#include "ui/qmmenu.h"
#include "ui/shape_outline.h"

namespace qm {

// What the window needs of the program around it. The program shows real
// dialogs and ends the process; tests record instead, so nothing ever waits
// on a dialog.
struct WindowHooks {
  // A critical message box with one OK button.
  std::function<void(QWidget* parent, const QString& text, const QString& title)> critical;
  // The folder picker with its title: the chosen folder, or the empty text.
  std::function<QString(QWidget* parent, const QString& title)> pickFolder;
  // Ends the program at once, waiting for nothing.
  std::function<void()> endProgram;
};

// The program's hooks: QMessageBox, QFileDialog and an immediate exit.
WindowHooks ProgramHooks();

// Makes the Chinese fonts the window is designed with show with a font that is
// installed. Idempotent.
void InstallFontSubstitutes();

class frmMain : public QWidget, public EngineHost {
  Q_OBJECT
 public:
  static constexpr int kWidthTwips = 9795;
  static constexpr int CompactHeight = 5925;   // folded
  static constexpr int ExpandedHeight = 9300;  // unfolded, as designed
  static constexpr int kButtonCount = 8;
  static QString ProgramTitle();
  static QString FolderPrompt();  // title of the folder picker for an empty prompt
  static QColor White() { return QColor(255, 255, 255); }

  frmMain(const QString& programFolder, WindowHooks hooks, QWidget* parent = nullptr);
  ~frmMain() override;

  CrawlEngine& Engine() { return *engine_; }

  // ---- controls, by their names in the window
  QWidget* Txt(int index) const { return txt_[static_cast<std::size_t>(index)]; }
  QLineEdit* TxtLine(int index) const;        // the single-line boxes; nullptr for 1 and 2
  QPlainTextEdit* TxtMulti(int index) const;  // Txt(1) and Txt(2); nullptr for the others
  QString TxtText(int index) const;           // a box's text as the engine holds it
  ShapeOutline* Shp(int index) const;         // nullptr while not created
  int ShpCount() const { return static_cast<int>(shp_.size()); }
  qMmenu* qMmenu1(int index) const { return buttons_[static_cast<std::size_t>(index)]; }
  QLabel* Lab(int index) const;  // 3..8
  QLabel* Label4(int index) const { return label4_[static_cast<std::size_t>(index)]; }
  QLabel* Label1() const { return label1_; }
  QLabel* Label3() const { return label3_; }
  ShapeOutline* Shape() const { return shape_; }
  ListView* Lv() const { return lv_; }

  // ---- geometry in twips
  QRect TwipGeometry(const QWidget* widget) const;
  int WidthTwips() const { return widthTwips_; }
  int HeightTwips() const { return heightTwips_; }
  void SetHeightTwips(int twips);  // runs the layout rule
  int DragX() const { return dragX_; }
  int DragY() const { return dragY_; }

  // ---- EngineHost
  void ShowCritical(const QString& text, const QString& title) override;
  QString BrowseFolder(const QString& prompt) override;
  void EndProgram() override;

  // ---- handlers
  void Form_Resize();  // the layout rule
  void qMmenu1_Click(int index);
  void qMmenu1_MouseMove(int index);
  void qMmenu1_MouseOut(int index);
  void Label_MouseDown(QWidget* label, Qt::MouseButton button, const QPointF& pos);
  void Label_MouseMove(QWidget* label, Qt::MouseButtons buttons, const QPointF& pos);
  void Lv_ItemMouse(int item, int button, int shift, int x, int y);
  // The copy command's text: the links of the selected rows in row order,
  // each followed by CR LF.
  QString SelectedLinks() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void BindEngine();
  void WindowSteps();
  QLabel* MakeLabel(const QString& text, const QRect& twips, bool autoSize,
                    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
  qMmenu* MakeButton(int index, const QString& caption, const QRect& twips);
  void SetTwipGeometry(QWidget* widget, const QRect& twips);
  void SetTwipLeft(QWidget* widget, int left);
  void SetTwipTop(QWidget* widget, int top);
  void SetTwipWidth(QWidget* widget, int width);
  int TxtIndexOf(QObject* watched) const;
  void OnTxtChanged(int index, const QString& text);
  void PrependLogLine(const QString& line);

  WindowHooks hooks_;
  std::unique_ptr<CrawlEngine> engine_;
  std::array<QWidget*, CrawlEngine::kTxtCount> txt_{};
  std::vector<ShapeOutline*> shp_;
  std::array<qMmenu*, kButtonCount> buttons_{};
  std::array<QLabel*, 8> label4_{};
  std::array<QLabel*, 9> lab_{};
  QLabel* label1_ = nullptr;
  QLabel* label3_ = nullptr;
  ShapeOutline* shape_ = nullptr;
  ListView* lv_ = nullptr;
  QHash<const QWidget*, QRect> twips_;
  int widthTwips_ = kWidthTwips;
  int heightTwips_ = ExpandedHeight;
  int dragX_ = 0;
  int dragY_ = 0;
  bool syncing_ = false;  // a box is being updated from the engine
};

}  // namespace qm
