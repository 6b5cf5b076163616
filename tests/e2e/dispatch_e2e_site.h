#pragma once
// A loopback site for whole crawls with downloads: pages long enough to be
// analysed, linked in a chain and across, each showing images of three kinds
// (large enough, too small, of another type), some of them on several pages.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "crawl/engine.h"
#include "download/download_state.h"
#include "support/loopback_server.h"
#include "web/yield.h"

namespace qmtest {

class QuietEngineHost : public qm::EngineHost {
 public:
  void ShowCritical(const QString& text, const QString& title) override {
    criticals << title + QStringLiteral(": ") + text;
  }
  QString BrowseFolder(const QString&) override { return folder; }
  void EndProgram() override {}

  QString folder;
  QStringList criticals;
};

class DownloadSite {
 public:
  static constexpr int kPages = 22;  // "/" and p1.html .. p21.html
  static constexpr int kLarge = 15;
  static constexpr int kSmall = 8;
  static constexpr int kOther = 5;
  static constexpr int kMinKb = 2;  // the size bound of the crawl

  DownloadSite() {
    for (int k = 0; k < kLarge; ++k) {
      std::string body;
      for (int i = 0; i < 2048 + 131 * k; ++i) body += static_cast<char>((i * 31 + k * 7) % 256);
      AddImage("/img/large" + std::to_string(k) + ".jpg", body);
    }
    for (int k = 0; k < kSmall; ++k)
      AddImage("/img/small" + std::to_string(k) + ".jpg", std::string(2047 - k, 's'));
    for (int k = 0; k < kOther; ++k)
      AddImage("/img/other" + std::to_string(k) + ".png", std::string(6000, 'o'));
    for (int page = 0; page < kPages; ++page) AddPage(page);
  }

  LoopbackServer& Server() { return server_; }
  QString StartAddress() const { return QString::fromStdString(server_.Url("/")); }

  // Qualifying images (large jpg) by file name, with their bytes and how many
  // times the crawl queues them (once per mention on a page).
  struct Expected {
    QByteArray bytes;
    int mentions = 0;
  };
  const std::map<QString, Expected>& Qualifying() const { return qualifying_; }

  // Whether any request asked for an image that should never be requested.
  bool OtherTypeRequested() const {
    for (const RecordedRequest& r : server_.Requests()) {
      if (r.target.find(".png") != std::string::npos) return true;
    }
    return false;
  }

 private:
  void AddImage(const std::string& path, const std::string& body) {
    Route route;
    route.headerLines = {"Content-Type: image/jpeg"};
    route.body = body;
    server_.Serve(path, route);
    bodies_[path] = body;
  }

  static std::string PagePath(int page) {
    return page == 0 ? "/" : "/p" + std::to_string(page) + ".html";
  }

  // One mention of an image, in one of the ways pages write them.
  std::string Image(const std::string& path, int style) {
    const std::size_t slash = path.rfind('/');
    const QString name = QString::fromStdString(path.substr(slash + 1));
    if (path.find("/large") != std::string::npos) {
      Expected& e = qualifying_[name];
      e.bytes = QByteArray::fromStdString(bodies_[path]);
      ++e.mentions;
    }
    switch (style % 3) {
      case 0:
        return "<img src=\"" + path + "\">\n";
      case 1:
        return "<IMG SRC='" + server_.Url(path) + "'>\n";
      default:
        return "<img alt=x src=\"" + server_.Url(path) + "\" />\n";
    }
  }

  std::string Link(int page, int style) {
    const std::string path = PagePath(page);
    switch (style % 3) {
      case 0:
        return "<a href=\"" + path + "\">p</a>\n";
      case 1:
        return "<a href='" + path.substr(1) + "'>p</a>\n";  // relative, resolved at the root
      default:
        return "<A HREF=\"" + server_.Url(path) + "\">p</A>\n";
    }
  }

  void AddPage(int page) {
    std::string body;
    // A chain through every page, and some links across and back.
    if (page + 1 < kPages) body += Link(page + 1, page);
    if (page > 0 && 2 * page < kPages) body += Link(2 * page, page + 1);
    if (page > 1) body += Link(page / 2, page + 2);
    body += Image("/img/large" + std::to_string(page % kLarge) + ".jpg", page);
    body += Image("/img/large" + std::to_string((page * 7 + 3) % kLarge) + ".jpg", page + 1);
    if (page % 4 == 0)  // twice on one page
      body += Image("/img/large" + std::to_string((page * 7 + 3) % kLarge) + ".jpg", page + 2);
    body += Image("/img/small" + std::to_string(page % kSmall) + ".jpg", page + 2);
    body += Image("/img/other" + std::to_string(page % kOther) + ".png", page);
    Route route;
    route.headerLines = {"Content-Type: text/html; charset=utf-8"};
    route.body = "<html><head><title>page " + std::to_string(page) + "</title></head><body>\n" +
                 body + "<p>" + std::string(5200, 'x') + "</p></body></html>";
    server_.Serve(PagePath(page), route);
  }

  LoopbackServer server_;
  std::map<std::string, std::string> bodies_;
  std::map<QString, Expected> qualifying_;
};

// Polls `done`, letting events (and so both timers) run, for up to `seconds`.
inline bool RunUntil(const std::function<bool()>& done, int seconds = 180) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline int LiveWorkers(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadCount;
}

// A crawl of the site from its start page, site-only, with short timers; the
// yield hook runs the event loop for the rig's lifetime.
struct CrawlRig {
  QuietEngineHost host;
  qm::CrawlEngine engine;

  CrawlRig(const QString& programFolder, const QString& saveFolder) : engine(programFolder, &host) {
    qm::SetYieldHook([] { QCoreApplication::processEvents(); });
    host.folder = saveFolder;
    engine.Form_Load();
    engine.Click(qm::kBtnBrowse);  // the save folder, as the folder picker gives it
    engine.SetTxt(3, QStringLiteral("1ms"));
    engine.SetTxt(4, QStringLiteral("%1kb").arg(DownloadSite::kMinKb));
    engine.SetTxt(7, QStringLiteral("50ms"));
    engine.Timer2().setInterval(100);
  }
  ~CrawlRig() {
    // Workers reference the engine's state: let them end first.
    RunUntil([this] { return LiveWorkers(engine.Downloads()) == 0; });
    qm::SetYieldHook({});
  }

  void Start(const QString& address) {
    engine.SetTxt(2, address);
    engine.Click(qm::kBtnSite);  // off
    engine.Click(qm::kBtnSite);  // on again: the typed address is the site
    engine.Click(qm::kBtnStart);
  }

  int AnalysedRows() {
    int n = 0;
    for (int row = 0; row < engine.Lv().ItemCount(); ++row) {
      if (engine.Lv().ItemText(row, 2) == QStringLiteral("分析完成")) ++n;
    }
    return n;
  }
};

inline QStringList SavedFiles(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace qmtest
