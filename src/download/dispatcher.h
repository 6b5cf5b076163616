#pragma once
// The download dispatcher (the download timer's tick) and the worker threads
// that replace downloader processes when the downloader program is absent.
#include <QString>

namespace qm {

struct DownloadState;

// What the dispatcher needs of the window that owns it.
class DispatchHost {
 public:
  virtual ~DispatchHost() = default;
  virtual bool Running() const = 0;
  virtual void StopA() = 0;
  virtual void Ag(const QString& message) = 0;
  virtual QString LimitText() const = 0;      // text of the concurrent-download box
  virtual QString ProgramFolder() const = 0;  // where qmdown lives
  // Where errLog.txt goes. The window's answer tries to make the folder when
  // it is missing; one that cannot be made is returned all the same, and the
  // failure then goes on without an error file.
  virtual QString DataFolder() const { return ProgramFolder(); }
  virtual void DisableTimer2() = 0;
  // Critical message box: `text` the failure's description, `title` its number.
  virtual void ShowCritical(const QString& text, const QString& title) = 0;
  virtual void ProcessEvents() = 0;  // let pending window events run
};

// File name of the downloader program beside the crawler.
inline constexpr const char* kDownloaderName = "qmdown";

// One tick of the download timer.
void Timer2_Timer(DownloadState& state, DispatchHost& host);

// Raises ThreadCount, starts a detached worker thread running WorkerMain (with
// state.StartThread) and stores its native id in ThreadHandle. A thread that
// cannot be created, or memory that runs out on the way, lowers ThreadCount
// again; returns false then. A worker given a `list` downloads that list
// instead of taking the queue.
bool StartWorker(DownloadState& state, QString list = QString());
// The body of one worker: takes one snapshot of the queue (or downloads its own
// `list`), downloads it with the crawler's DownloadFiles, lowers ThreadCount.
void WorkerMain(DownloadState& state, QString list = QString());

}  // namespace qm
