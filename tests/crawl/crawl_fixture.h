#pragma once
// Helpers for the crawl engine's tests: a recording host, pages long enough
// to be analysed, and an engine set up in a temporary program folder.
#include <QCoreApplication>
#include <QStringList>
#include <functional>

#include "crawl/engine.h"
#include "support/loopback_server.h"
#include "web/yield.h"

namespace qmtest {

// Records what the engine would show a person; never blocks.
class RecordingHost : public qm::EngineHost {
 public:
  void ShowCritical(const QString& text, const QString& title) override {
    criticals << title + ": " + text;
  }
  QString BrowseFolder(const QString&) override { return QString(); }
  void EndProgram() override {}

  QStringList criticals;
};

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// A page that passes the length gate: `body` followed by filler without any
// quote, apostrophe or marker.
inline std::string LongPage(const std::string& body,
                            const std::string& head = "<title>page</title>") {
  return "<html><head>" + head + "</head><body>" + body + "<p>" + std::string(5200, 'x') +
         "</p></body></html>";
}

inline Route Html(const std::string& body) {
  return {200, {}, {"Content-Type: text/html; charset=utf-8"}, body};
}

// Lets pending events run wherever the engine yields, for the test's scope.
class YieldScope {
 public:
  explicit YieldScope(std::function<void()> extra = {}) {
    qm::SetYieldHook([extra] {
      QCoreApplication::processEvents();
      if (extra) extra();
    });
  }
  ~YieldScope() { qm::SetYieldHook({}); }
};

// An engine after its load, in a fresh program folder, with short delays and
// no downloads dispatched (a concurrent-download limit of 0).
struct EngineRig {
  TempDir dir;
  RecordingHost host;
  qm::CrawlEngine engine{Q(dir.Path()), &host};

  EngineRig() {
    engine.Form_Load();
    engine.SetTxt(3, "1ms");
    engine.SetTxt(8, "0");
  }

  // Types the start addresses and operates the site-only switch so that it
  // takes them (off, then on again), or leaves it off.
  void Seed(const QString& addresses, bool siteOnly = true) {
    engine.SetTxt(2, addresses);
    engine.Click(qm::kBtnSite);                // off
    if (siteOnly) engine.Click(qm::kBtnSite);  // on, with the typed addresses
  }

  void Start() {
    if (engine.Caption(qm::kBtnStart) == "开 始") engine.Click(qm::kBtnStart);
  }

  int Rows() { return engine.Lv().ItemCount(); }
  QString Link(int row) { return engine.Lv().ItemText(row, 1); }
  QString State(int row) { return engine.Lv().ItemText(row, 2); }
  QStringList Links() {
    QStringList out;
    for (int i = 0; i < Rows(); ++i) out << Link(i);
    return out;
  }
};

}  // namespace qmtest
