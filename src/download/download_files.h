#pragma once
#include <QString>
#include <cstdint>

namespace qm {

struct DownloadState;

// How DownloadFiles runs for its two users.
struct DownloadOptions {
  // The folder files are saved into (the downloader: its s= field). Ignored
  // when `crawler` is set: the folder is then the crawler's SavePath.
  QString folder;
  // The crawler's use: DoneList test-and-append under the download-state lock,
  // a yield and a 50 ms WaitMs after each saved file, the folder from SavePath.
  DownloadState* crawler = nullptr;
};

// Saves every address of `list` (pieces separated by '"', a piece counts when it
// contains "http") whose declared Content-Length reaches `minBytes`, named
// after the text behind its last "/" (six random characters and "-" in front
// when that name is taken). Files are complete or absent, created exclusively.
void DownloadFiles(const QString& list, std::int32_t minBytes, const DownloadOptions& options);

// `length` characters drawn uniformly from a-z, A-Z, 1-9 (61 characters).
QString RandomText(int length);

}  // namespace qm
