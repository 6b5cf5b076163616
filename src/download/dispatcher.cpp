#include "download/dispatcher.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "download/download_files.h"
#include "download/download_state.h"
#include "download/process.h"
#include "web/gbk.h"
#include "web/text.h"
#include "web/yield.h"

namespace qm {
namespace {

// The done-list is emptied once its text form grows past this many characters.
constexpr std::size_t kDoneListLimit = 3145728;

const QString kJobDownload = QStringLiteral("downimg");
const QString kErrorFile = QStringLiteral("errLog.txt");

// A failure of one tick: its description and its number (the classic error
// codes: 5 invalid argument, 6 overflow, 7 out of memory, which a thread that
// cannot be created counts as, 53 file not found).
struct Failure {
  QString description;
  int number = 0;
};

Failure OverflowFailure() { return {QStringLiteral("溢出"), 6}; }
Failure LaunchFailure() { return {QStringLiteral("无法启动下载程序"), 53}; }
Failure ThreadFailure() { return {QStringLiteral("无法建立下载线程"), 7}; }

QString DownloaderPath(const QString& folder) {
  return folder + QLatin1Char('/') + QLatin1String(kDownloaderName);
}

// Whether the downloader's command line can carry `folder`: "&" ends its
// folder field, and a "min=" or "url=" inside the folder would be read as the
// later fields. Such a folder is served by a worker thread, which takes the
// folder as it is; a downloader would save somewhere else.
bool LineCarriesFolder(const QString& folder) {
  return !folder.contains(QLatin1Char('&')) && !folder.contains(QLatin1String("min=")) &&
         !folder.contains(QLatin1String("url="));
}

// The downloader's list ends at the first "||". An address holding one is
// handed over with its bars written %7C, as browsers send them, so that it
// does not cut off itself and every address after it.
void EscapeDoubleBars(QString& queue) {
  if (!queue.contains(QLatin1String("||"))) return;
  QStringList pieces = queue.split(QLatin1Char('"'));
  for (QString& piece : pieces) {
    if (piece.contains(QLatin1String("||"))) piece.replace(QLatin1Char('|'), QLatin1String("%7C"));
  }
  queue = pieces.join(QLatin1Char('"'));
}

// MinSizeKb x 1024, computed wide so that no setting overflows.
std::int64_t MinBytes(const DownloadState& state) {
  return static_cast<std::int64_t>(state.MinSizeKb.load()) * 1024;
}

bool FitsInt32(std::int64_t value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

// Bytes the UTF-8 form of one UTF-16 unit takes; a surrogate pair counts 4 on
// its high half, a lone surrogate (written as U+FFFD) 3.
int Utf8Bytes(QStringView text, qsizetype i) {
  const char16_t c = text.at(i).unicode();
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (QChar::isHighSurrogate(c)) {
    return i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode()) ? 4 : 3;
  }
  if (QChar::isLowSurrogate(c)) {
    return i > 0 && QChar::isHighSurrogate(text.at(i - 1).unicode()) ? 0 : 3;
  }
  return 3;
}

// The addresses that one downloader takes from the front of the queue.
struct Batch {
  QString line;         // for the downloader's command line, each address followed by '"'
  QString alone;        // too long for any command line: served by a worker thread
  qsizetype taken = 0;  // characters taken from the queue
};

// Takes addresses from the front of `queue` while their UTF-8 form fits
// `budget` bytes; an address is never cut in two. What no command line can
// carry never makes a launch fail: an address holding a NUL cannot be fetched
// at all and is dropped; one longer than a whole argument goes to `alone`.
Batch TakeBatch(const QString& queue, std::int64_t budget) {
  Batch batch;
  std::int64_t bytes = 0;
  qsizetype start = 0;
  while (start < queue.size()) {
    qsizetype end = queue.indexOf(QLatin1Char('"'), start);
    end = end < 0 ? queue.size() : end + 1;
    const QStringView piece = QStringView(queue).sliced(start, end - start);
    std::int64_t size = 0;
    for (qsizetype i = 0; i < piece.size(); ++i) size += Utf8Bytes(piece, i);
    if (piece.contains(QChar(u'\0'))) {
      // dropped: no request can carry it either
    } else if (size > budget) {
      batch.alone += piece;
    } else if (bytes + size <= budget) {
      batch.line += piece;
      bytes += size;
    } else {
      break;
    }
    start = end;
  }
  batch.taken = start;
  return batch;
}

std::uint64_t WorkerHandle(DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadHandle;
}

// The failure path: the error file (the latest failure only), the timer
// stopped, the crawl stopped, then the message. `taken` is what this tick took
// from the queue; the error file is the only place it is kept.
void Fail(DownloadState& state, DispatchHost& host, const Failure& failure, const QString& taken) {
  const QString folder = host.ProgramFolder();
  const QString crlf = QStringLiteral("\r\n");
  QString text;
  text += QStringLiteral("DI==0 LenK=") + QString::number(taken.size()) + crlf;
  text += DownloaderPath(folder) + QStringLiteral(" s=") + state.GetSavePath() +
          QStringLiteral("&min=") + QString::number(MinBytes(state)) + QStringLiteral("&url=") +
          crlf;
  text += QStringLiteral("错误:") + failure.description + QStringLiteral("  -  代码:") +
          QString::number(failure.number) + crlf;
  text += QStringLiteral(" ") + crlf;
  text += taken + crlf;
  QFile file(host.DataFolder() + QLatin1Char('/') + kErrorFile);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    file.write(ToGbk(text));
    file.close();
  }
  host.DisableTimer2();
  host.StopA();
  host.ShowCritical(failure.description, QString::number(failure.number));
}

// Process mode: one downloader for everything queued that fits its command
// line. Returns the failure, if any; `taken` receives what was taken.
std::optional<Failure> LaunchDownloader(DownloadState& state, DispatchHost& host, double limit,
                                        QString& taken) {
  if (!(limit > ProcessCount(QLatin1String(kDownloaderName)))) return std::nullopt;
  const std::int64_t minBytes = MinBytes(state);
  const QString savePath = state.GetSavePath();
  const QString head = QStringLiteral("s=") + savePath + QStringLiteral("&min=") +
                       QString::number(minBytes) + QStringLiteral("&url=");
  const QString tail = QStringLiteral("||");
  Batch batch;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.ImgQueue.contains(QLatin1String("http"))) return std::nullopt;
    // Checked before anything is taken, so that the queue stays whole.
    if (!FitsInt32(minBytes)) return OverflowFailure();
    EscapeDoubleBars(state.ImgQueue);
    const std::int64_t budget = static_cast<std::int64_t>(MaxParameterBytes()) -
                                head.toUtf8().size() - tail.toUtf8().size();
    batch = TakeBatch(state.ImgQueue, budget);
    // Copied before the queue lets go of them: the tick's until handed over.
    taken = batch.alone + batch.line;
    state.ImgQueue.remove(0, batch.taken);
  }
  const bool toWorker = batch.alone.contains(QLatin1String("http"));
  if (toWorker && !StartWorker(state, batch.alone)) return ThreadFailure();
  taken = batch.line;
  if (toWorker) host.Ag(QStringLiteral("建立下载线程: ") + QString::number(WorkerHandle(state)));
  if (!batch.line.contains(QLatin1String("http"))) return std::nullopt;
  if (!ShellOpen(DownloaderPath(host.ProgramFolder()), head + taken + tail)) {
    return LaunchFailure();
  }
  host.Ag(QStringLiteral("创建下载进程..."));
  host.ProcessEvents();
  return std::nullopt;
}

// Thread mode: one worker, which takes the queue itself.
std::optional<Failure> LaunchWorker(DownloadState& state, DispatchHost& host, double limit) {
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (!(limit > state.ThreadCount) ||
        state.ThreadCount == std::numeric_limits<std::int16_t>::max() ||
        !state.ImgQueue.contains(QLatin1String("http"))) {
      return std::nullopt;
    }
    if (!FitsInt32(MinBytes(state))) return OverflowFailure();
    state.ThreadJob = kJobDownload;
  }
  StartWorker(state);
  host.Ag(QStringLiteral("建立下载线程: ") + QString::number(WorkerHandle(state)));
  return std::nullopt;
}

}  // namespace

void Timer2_Timer(DownloadState& state, DispatchHost& host) {
  if (!host.Running()) {
    host.StopA();
    return;
  }
  QString taken;
  try {
    const QFileInfo downloader(DownloaderPath(host.ProgramFolder()));
    const double limit = LeadingDecimal(host.LimitText());
    const bool processMode = downloader.isFile() && LineCarriesFolder(state.GetSavePath());
    std::optional<Failure> failure = processMode ? LaunchDownloader(state, host, limit, taken)
                                                 : LaunchWorker(state, host, limit);
    if (failure) {
      Fail(state, host, *failure, taken);
      return;
    }
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.DoneList.TextLength() > kDoneListLimit) state.DoneList.Clear();
  } catch (const std::bad_alloc&) {
    Fail(state, host, {QStringLiteral("内存不足"), 7}, taken);
  } catch (const std::exception& e) {
    Fail(state, host, {QString::fromLocal8Bit(e.what()), 5}, taken);
  }
}

bool StartWorker(DownloadState& state, QString list) {
  {
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.ThreadCount;
  }
  std::future<std::uint64_t> id;
  try {
    // The new thread publishes its own id; it shares the promise, so the
    // promise outlasts the wait here.
    auto publish = std::make_shared<std::promise<std::uint64_t>>();
    id = publish->get_future();
    state.StartThread([&state, publish, own = std::move(list)]() mutable {
      publish->set_value(static_cast<std::uint64_t>(::gettid()));
      WorkerMain(state, std::move(own));
    });
  } catch (const std::exception&) {  // no thread, or no memory to make one
    std::lock_guard<std::mutex> guard(state.lock);
    --state.ThreadCount;
    state.ThreadHandle = 0;  // no thread, no handle
    return false;
  }
  const std::uint64_t handle = id.get();
  std::lock_guard<std::mutex> guard(state.lock);
  state.ThreadHandle = handle;
  return true;
}

void WorkerMain(DownloadState& state, QString list) {
  try {
    QString taken = std::move(list);
    if (taken.isEmpty()) {
      std::lock_guard<std::mutex> guard(state.lock);
      if (state.ThreadJob == kJobDownload && state.ImgQueue.contains(QLatin1String("http"))) {
        taken = std::exchange(state.ImgQueue, QString());
      }
    }
    if (!taken.isEmpty()) {
      // The dispatcher refuses a size bound beyond 32 bits before a worker
      // starts; should one change meanwhile, it is clamped, not wrapped.
      std::int64_t minBytes = MinBytes(state);
      if (minBytes > std::numeric_limits<std::int32_t>::max()) {
        minBytes = std::numeric_limits<std::int32_t>::max();
      } else if (minBytes < std::numeric_limits<std::int32_t>::min()) {
        minBytes = std::numeric_limits<std::int32_t>::min();
      }
      DownloadOptions options;
      options.crawler = &state;
      DownloadFiles(taken, static_cast<std::int32_t>(minBytes), options);
      YieldNow();
    }
  } catch (...) {
    // A worker never takes the program down: what it took is abandoned like
    // any failing address, and the count below still goes down.
  }
  std::lock_guard<std::mutex> guard(state.lock);
  --state.ThreadCount;
}

}  // namespace qm
