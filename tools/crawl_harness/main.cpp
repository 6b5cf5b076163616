// crawl_harness: runs the crawl engine without a window over one site until
// every listed page is analysed, then prints pages per second and totals.
//
//   crawl_harness START_ADDRESS [DELAY_MS] [INTERVAL_MS]
//
// The site-only switch is on, for the start address's host. Downloads
// are not dispatched (a concurrent-download limit of 0); the run log and the
// default image folder go to a temporary folder.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "crawl/engine.h"
#include "web/http.h"
#include "web/yield.h"

namespace {

class HarnessHost : public qm::EngineHost {
 public:
  void ShowCritical(const QString& text, const QString& title) override {
    std::fprintf(stderr, "critical %s: %s\n", qPrintable(title), qPrintable(text));
  }
  QString BrowseFolder(const QString&) override { return QString(); }
  void EndProgram() override { QCoreApplication::exit(0); }
};

int Usage() {
  std::fprintf(stderr, "usage: crawl_harness START_ADDRESS [DELAY_MS] [INTERVAL_MS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2 || args.size() > 4) return Usage();
  const QString start = args.at(1);
  const QString delay = args.size() > 2 ? args.at(2) : QStringLiteral("0");
  const QString interval = args.size() > 3 ? args.at(3) : QStringLiteral("1");

  qm::HttpGlobalInit();
  qm::SetYieldHook([] { QCoreApplication::processEvents(); });
  QTemporaryDir folder;
  if (!folder.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }

  HarnessHost host;
  qm::CrawlEngine engine(folder.path(), &host);
  engine.Form_Load();
  engine.SetTxt(3, delay + QStringLiteral("ms"));
  engine.SetTxt(7, interval + QStringLiteral("ms"));
  engine.SetTxt(8, QStringLiteral("0"));
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

  // Finished when the seed stage is done and every row reads analysed: no
  // row is left that could list anything new.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!seeded) return;
    qm::AddressList& lv = engine.Lv();
    const int rows = lv.ItemCount();
    for (int i = rows - 1; i >= 0; --i)
      if (lv.ItemText(i, 2) != QStringLiteral("分析完成")) return;
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
  std::printf("seconds:        %.3f\n", seconds);
  std::printf("pages/second:   %.1f\n", seconds > 0 ? pages / seconds : 0.0);
  return 0;
}
