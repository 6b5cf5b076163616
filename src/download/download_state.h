#pragma once
// The state the crawler's window thread shares with its download worker
// threads, and the one download-state lock that guards it. The lock is never
// held during a request or a file write.
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "web/fingerprint_set.h"

namespace qm {

// Runs `body` on a new detached thread.
void StartDetachedThread(std::function<void()> body);

struct DownloadState {
  std::mutex lock;  // the download-state lock

  // Guarded by `lock`:
  QString ImgQueue;         // image addresses, each followed by one '"'
  FingerprintSet DoneList;  // fingerprints of addresses handed to DownloadFiles
  std::int16_t ThreadCount = 0;
  std::uint64_t ThreadHandle = 0;  // native id of the newest worker
  QString ThreadJob;
  QString SavePath;  // written by the window thread, read by workers

  // One 32-bit value, written whole.
  std::atomic<std::int32_t> MinSizeKb{0};

  // Runs its argument on a detached thread of its own; throws std::system_error
  // when no thread can be created. Set before the first worker starts (tests
  // put in one that fails).
  std::function<void(std::function<void()>)> StartThread = StartDetachedThread;

  // Convenience operations, each one step under the lock.
  void AppendToQueue(const QString& text);
  // Moves the whole queue out (the queue becomes empty).
  QString TakeQueue();
  QString Queue();
  QString GetSavePath();
  void SetSavePath(const QString& path);
  // Test-and-append of a fingerprint: true when it was not yet in DoneList.
  bool MarkDone(std::uint64_t key);
};

}  // namespace qm
