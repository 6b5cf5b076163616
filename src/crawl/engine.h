#pragma once
// The crawl engine: everything of the main window that is not presentation.
// It holds the nine settings boxes as texts, the shared crawl state, the three
// button captions that double as state, the status texts, the run log, both
// timers and the address list. The window binds to it; tests drive it headless.
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "crawl/address_list.h"
#include "download/download_state.h"
#include "web/filters.h"
#include "web/fingerprint_set.h"

namespace qm {

// What the engine needs of the program around it: the window in the program,
// a recorder in tests. Nothing here may block a test.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  // A critical message box with one OK button.
  virtual void ShowCritical(const QString& text, const QString& title) = 0;
  // The folder picker; the chosen folder, or the empty text when cancelled.
  virtual QString BrowseFolder(const QString& prompt) = 0;
  // Ends the program at once, waiting for nothing.
  virtual void EndProgram() = 0;
};

// Button indexes of the window.
enum ButtonIndex : int {
  kBtnMinimise = 0,
  kBtnQuit = 1,
  kBtnStart = 2,
  kBtnBrowse = 3,
  kBtnList = 4,
  kBtnFold = 5,
  kBtnSite = 6,
  kBtnClear = 7
};

class CrawlEngine : public QObject {
  Q_OBJECT
 public:
  static constexpr int kTxtCount = 9;
  static QString KeyWordHint();  // the keyword box's placeholder (34 characters)

  CrawlEngine(const QString& programFolder, EngineHost* host, QObject* parent = nullptr);
  ~CrawlEngine() override;

  // ---- settings boxes Txt(0)..Txt(8); Txt(1) is the run log
  QString Txt(int index) const;
  // Sets a box's text; when the text differs, emits TxtChanged and runs Txt_Change.
  void SetTxt(int index, const QString& text);
  void Txt_Change(int index);
  void Txt_Click(int index);  // a mouse click into the box
  void Txt_LostFocus(int index);

  // ---- window operations
  // The engine's steps of the window's load; `windowSteps` runs between the
  // copy of the file types and the copy of the minimum size (list placement,
  // frames, folded height).
  void Form_Load(const std::function<void()>& windowSteps = {});
  // A click on button `index` (1, 2, 3, 4, 6, 7; 0 and 5 belong to the window).
  void Click(int index);
  void StopA();
  void Form_Unload();
  QString Caption(int index) const;  // captions of buttons 2, 4 and 6
  QString Lab(int index) const;      // 4, 6, 7
  bool ListVisible() const;

  // ---- run log
  void Ag(const QString& message);
  QString LogText() const;

  // ---- timers
  void Timer1_Timer();
  void Timer2_Timer();
  bool Timer1Enabled() const;
  int Timer1Interval() const;
  QTimer& Timer2();  // tests may shorten its interval

  // ---- shared state
  AddressList& Lv();
  bool Running() const;
  QString SeedList() const;
  std::int32_t ImgTotal() const;
  CrawlSettings& Settings();  // SiteOnly, SiteBase, KeyWords, FileTypes
  FingerprintSet& SeenLinks();
  DownloadState& Downloads();  // ImgQueue, DoneList, SavePath, MinSizeKb, workers
  // Where the program stands, and qmdown beside it.
  QString ProgramFolder() const;
  // Where imgdown, Log and errLog.txt go: the program folder while it is
  // writable and not the install folder, otherwise the user's data folder
  // (see DataFolderFor).
  QString DataFolder() const;
  std::int32_t MinSizeKb() const;

 signals:
  void TxtChanged(int index, const QString& text);  // a box's text changed (not Txt(1))
  void LogPrepended(const QString& line);           // a line was put on top of Txt(1)
  void LogCleared();                                // Txt(1) was emptied (dumped)
  void CaptionChanged(int index, const QString& caption);
  void LabChanged(int index, const QString& text);
  void ListVisibleChanged(bool visible);

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace qm
