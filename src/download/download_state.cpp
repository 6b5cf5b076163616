#include "download/download_state.h"

#include <thread>
#include <utility>

namespace qm {

void StartDetachedThread(std::function<void()> body) { std::thread(std::move(body)).detach(); }

void DownloadState::AppendToQueue(const QString& text) {
  std::lock_guard<std::mutex> guard(lock);
  ImgQueue += text;
}

QString DownloadState::TakeQueue() {
  std::lock_guard<std::mutex> guard(lock);
  return std::exchange(ImgQueue, QString());
}

QString DownloadState::Queue() {
  std::lock_guard<std::mutex> guard(lock);
  return ImgQueue;
}

QString DownloadState::GetSavePath() {
  std::lock_guard<std::mutex> guard(lock);
  return SavePath;
}

void DownloadState::SetSavePath(const QString& path) {
  std::lock_guard<std::mutex> guard(lock);
  SavePath = path;
}

bool DownloadState::MarkDone(std::uint64_t key) {
  std::lock_guard<std::mutex> guard(lock);
  return DoneList.Insert(key);
}

}  // namespace qm
