// crawl_harness: runs the crawl engine without a window over one site until
// every listed page is analysed, then prints pages per second and totals.
//
//   crawl_harness [--browser-addresses] [--save FOLDER] START_ADDRESS [DELAY_MS] [INTERVAL_MS]
//
// The site-only switch is on, for the start address's host. The run log and
// the default image folder go to a temporary folder, which is also the
// program folder: there is no downloader beside it.
//
// --browser-addresses  reads the pages with browser addressing.
// --save FOLDER        downloads the pictures into FOLDER (chosen as with the
//                      Browse button), in worker threads, five at most; file
//                      types png*jpg*jpeg*gif*svg, no minimum size. The run
//                      then also waits until the image queue is empty and no
//                      worker is alive, and prints the files saved.
// Without --save, downloads are not dispatched (a concurrent-download limit
// of 0).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <mutex>

#include "crawl/engine.h"
#include "web/http.h"
#include "web/yield.h"

namespace {

class HarnessHost : public qm::EngineHost {
 public:
  explicit HarnessHost(QString folder) : folder_(std::move(folder)) {}
  void ShowCritical(const QString& text, const QString& title) override {
    std::fprintf(stderr, "critical %s: %s\n", qPrintable(title), qPrintable(text));
  }
  // The Browse button's answer: the --save folder.
  QString BrowseFolder(const QString&) override { return folder_; }
  void EndProgram() override { QCoreApplication::exit(0); }

 private:
  QString folder_;
};

int Usage() {
  std::fprintf(stderr,
               "usage: crawl_harness [--browser-addresses] [--save FOLDER] START_ADDRESS "
               "[DELAY_MS] [INTERVAL_MS]\n");
  return 2;
}

// Whether the downloads are over: nothing queued and no worker alive.
bool DownloadsDone(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return !state.ImgQueue.contains(QLatin1String("http")) && state.ThreadCount == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  bool browser = false;
  QString save;
  while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
    const QString option = args.takeFirst();
    if (option == QLatin1String("--browser-addresses")) {
      browser = true;
    } else if (option == QLatin1String("--save") && !args.isEmpty()) {
      save = QDir(args.takeFirst()).absolutePath();
    } else {
      return Usage();
    }
  }
  if (args.isEmpty() || args.size() > 3) return Usage();
  const QString start = args.at(0);
  const QString delay = args.size() > 1 ? args.at(1) : QStringLiteral("0");
  const QString interval = args.size() > 2 ? args.at(2) : QStringLiteral("1");

  qm::HttpGlobalInit();
  qm::SetYieldHook([] { QCoreApplication::processEvents(); });
  QTemporaryDir folder;
  if (!folder.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  if (!save.isEmpty() && !QDir().mkpath(save)) {
    std::fprintf(stderr, "cannot make %s\n", qPrintable(save));
    return 1;
  }

  HarnessHost host(save);
  qm::CrawlEngine engine(folder.path(), &host);
  engine.Form_Load();
  engine.Settings().BrowserAddresses = browser;
  engine.SetTxt(3, delay + QStringLiteral("ms"));
  engine.SetTxt(7, interval + QStringLiteral("ms"));
  if (save.isEmpty()) {
    engine.SetTxt(8, QStringLiteral("0"));
  } else {
    engine.SetTxt(8, QStringLiteral("5"));
    engine.SetTxt(6, QStringLiteral("png*jpg*jpeg*gif*svg"));
    engine.Txt_LostFocus(6);
    engine.SetTxt(4, QStringLiteral("0kb"));
    engine.Txt_LostFocus(4);
    engine.Click(qm::kBtnBrowse);  // Txt(0) and the save path become the folder
    engine.Timer2().setInterval(200);
  }
  // The switch is operated while the box holds the start address's site
  // root, so every page of that host is on the site; then the start address
  // itself is typed.
  const QUrl url(start);
  engine.SetTxt(2, url.scheme() + QStringLiteral("://") + url.authority() + QStringLiteral("/"));
  engine.Click(qm::kBtnSite);  // off
  engine.Click(qm::kBtnSite);  // on, with the site root
  engine.SetTxt(2, start);

  bool seeded = false;
  QObject::connect(&engine, &qm::CrawlEngine::LogPrepended, [&](const QString& line) {
    if (line.endsWith(QStringLiteral("开始执行爬虫...."))) seeded = true;
  });

  QElapsedTimer clock;
  clock.start();
  engine.Click(qm::kBtnStart);
  if (!engine.Running()) {
    std::fprintf(stderr, "the crawl did not start:\n%s", qPrintable(engine.LogText()));
    return 1;
  }

  // Finished when the seed stage is done and every row reads analysed (no
  // row is left that could list anything new) and, when saving, every queued
  // picture has been taken and every worker has ended.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!seeded) return;
    qm::AddressList& lv = engine.Lv();
    const int rows = lv.ItemCount();
    for (int i = rows - 1; i >= 0; --i)
      if (lv.ItemText(i, 2) != QStringLiteral("分析完成")) return;
    if (!save.isEmpty() && !DownloadsDone(engine.Downloads())) return;
    QCoreApplication::exit(0);
  });
  poll.start(20);
  app.exec();
  const double seconds = clock.elapsed() / 1000.0;
  if (engine.Running()) engine.Click(qm::kBtnStart);

  const int pages = engine.Lv().ItemCount();
  std::printf("pages analysed: %d\n", pages);
  std::printf("images found:   %d\n", engine.ImgTotal());
  std::printf("links met:      %zu\n", engine.SeenLinks().Count());
  if (!save.isEmpty()) {
    const QStringList saved = QDir(save).entryList(QDir::Files | QDir::Hidden);
    qsizetype files = 0;
    for (const QString& name : saved)
      if (!name.startsWith(QLatin1String(".qmpart-"))) ++files;
    std::printf("pictures saved: %lld\n", static_cast<long long>(files));
  }
  std::printf("seconds:        %.3f\n", seconds);
  std::printf("pages/second:   %.1f\n", seconds > 0 ? pages / seconds : 0.0);
  return 0;
}
