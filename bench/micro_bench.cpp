// In-process measures of the crawler's hot paths. Besides Google Benchmark's
// own table, prints one line per result: BENCH <name> <value> <unit>.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "crawl/address_list.h"
#include "crawl/page_analyse.h"
#include "web/fingerprint_set.h"
#include "web/md5.h"

namespace {

// A fetched page of about 1 MB: ~5,000 links and ~2,000 image candidates in
// ordinary markup, the links distinct.
const QString& BigPage() {
  static const QString page = [] {
    QString p;
    p.reserve(1 << 20);
    p += QStringLiteral(
        "<html><head><title>Big page</title><meta name=\"description\" content=\"many links\">"
        "</head><body>\n");
    int link = 0, image = 0;
    while (p.size() < 1000000) {
      if (link < 5000) {
        p += QStringLiteral(
                 "<li class=\"item\"><a href=\"/section/%1/article-%2.html\" title=\"Article %2\">"
                 "Article number %2 of this section</a></li>\n")
                 .arg(link % 37)
                 .arg(link);
        ++link;
      }
      if (image < 2000 && (link % 5 == 2 || link % 5 == 4 || link >= 5000)) {
        p += QStringLiteral(
                 "<img src=\"/pictures/%1/photo-%2.jpg\" alt=\"photo %2\" width=\"320\">\n")
                 .arg(image % 23)
                 .arg(image);
        ++image;
      }
      if (link >= 5000 && image >= 2000)
        p += QStringLiteral("<p>filler text of the page body, nothing to cut here.</p>\n");
    }
    p += QStringLiteral("</body></html>\n");
    return p;
  }();
  return page;
}

// The analysis of the big page, with the default reading of addresses or
// with browser addressing.
void PageAnalysis(benchmark::State& state, bool browser) {
  const QString& page = BigPage();
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("jpg*");
  settings.BrowserAddresses = browser;
  std::int32_t links = 0, images = 0;
  for (auto _ : state) {
    qm::FingerprintSet seen;  // every link new: the full cost
    QString address = QStringLiteral("http://bench.example/index.html");
    QString imageList;
    std::int32_t imgCount = 0, linkCount = 0;
    QString result =
        qm::AnalysePageText(page, address, imageList, imgCount, linkCount, settings, seen);
    benchmark::DoNotOptimize(result);
    links = linkCount;
    images = imgCount;
  }
  state.counters["links"] = links;
  state.counters["images"] = images;
}
void BM_PageAnalysis(benchmark::State& state) { PageAnalysis(state, false); }
void BM_PageAnalysisBrowser(benchmark::State& state) { PageAnalysis(state, true); }
BENCHMARK(BM_PageAnalysis)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_PageAnalysisBrowser)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

void BM_LinearScan(benchmark::State& state) {
  const QString& page = BigPage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(page.indexOf(QChar(0x0001)));  // absent: one pass over the text
  }
}
BENCHMARK(BM_LinearScan)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// Remembering links: the fingerprint of each link, the membership test and
// the insert, as page analysis does for every link it meets.
void BM_SeenLinks(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<QString> links;
  links.reserve(n);
  for (int i = 0; i < n; ++i)
    links.push_back(QStringLiteral("http://site%1.example/path/page-%2.html").arg(i % 97).arg(i));
  std::size_t bytes = 0;
  for (auto _ : state) {
    qm::FingerprintSet seen;
    for (const QString& l : links) {
      const std::uint64_t key = qm::Md5Key(l);
      if (!seen.Contains(key)) seen.Insert(key);
    }
    bytes = seen.MemoryBytes();
    benchmark::DoNotOptimize(seen);
  }
  state.counters["bytes_per_link"] = static_cast<double>(bytes) / n;
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SeenLinks)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// 100,000 rows appended to the address list in batches of 100, as the crawl
// step adds the links of a page; the heap it takes beyond the link texts.
void BM_ListAdd(benchmark::State& state) {
  std::vector<QString> links;
  std::size_t linkBytes = 0;
  for (int i = 0; i < 100000; ++i) {
    links.push_back(
        QStringLiteral("http://bench.example/section/%1/article-%2.html").arg(i % 37).arg(i));
    linkBytes += static_cast<std::size_t>(links.back().size()) * sizeof(char16_t);
  }
  double perRow = 0;
  for (auto _ : state) {
    const auto before = mallinfo2().uordblks;
    auto* list = new qm::AddressList;
    list->AddColumn(QStringLiteral("序号"), 0, 60);
    list->AddColumn(QStringLiteral("连接"), 0, 430);
    list->AddColumn(QStringLiteral("状态"), 0, 90);
    for (int b = 0; b < 100000; b += 100) {
      list->SetRedraw(false);
      for (int i = b; i < b + 100; ++i) {
        const int n = list->ItemCount();
        list->AddItem(QString::number(n + 1));
        list->SetItemText(n, 1, links[static_cast<std::size_t>(i)]);
      }
      list->SetRedraw(true);
    }
    const auto after = mallinfo2().uordblks;
    perRow = (static_cast<double>(after) - static_cast<double>(before) -
              static_cast<double>(linkBytes)) /
             100000.0;
    state.PauseTiming();
    delete list;
    state.ResumeTiming();
  }
  state.counters["bytes_per_row"] = perRow;
}
BENCHMARK(BM_ListAdd)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps every run's figures so that main() can print the ratios. The
// figures are processor time of the measuring thread: the machines these run
// on are shared, and the wall clock also counts the time other programs hold
// the core.
class Recorder : public benchmark::ConsoleReporter {
 public:
  // Plain columns: colour codes would run into the BENCH lines printed after
  // the table, which scripts pick out by their start.
  Recorder() : ConsoleReporter(OO_Tabular) {}

  struct Figure {
    double cpuNs = 0;
    std::map<std::string, double> counters;
  };
  std::map<std::string, Figure> figures;
  std::set<std::string> medians;

  // With repetitions, the median of each measure is its figure; without, the
  // one run's.
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !median) continue;
      const std::string name = r.run_name.str();
      if (!median && medians.count(name)) continue;
      if (median) medians.insert(name);
      Figure f;
      f.cpuNs = r.GetAdjustedCPUTime() * Multiplier(r.time_unit);
      for (const auto& [k, c] : r.counters) f.counters[k] = c.value;
      figures[name] = f;
    }
  }

 private:
  static double Multiplier(benchmark::TimeUnit u) {
    switch (u) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  Recorder rec;
  benchmark::RunSpecifiedBenchmarks(&rec);
  auto get = [&](const char* name) -> const Recorder::Figure* {
    auto it = rec.figures.find(name);
    return it == rec.figures.end() ? nullptr : &it->second;
  };
  if (auto* a = get("BM_PageAnalysis/min_time:1.000"), *s = get("BM_LinearScan/min_time:1.000");
      a && s) {
    std::printf("BENCH page_analysis_vs_scan %.2f ratio\n", a->cpuNs / s->cpuNs);
    std::printf("BENCH page_analysis_ms %.3f ms\n", a->cpuNs / 1e6);
    if (auto* b = get("BM_PageAnalysisBrowser/min_time:1.000")) {
      std::printf("BENCH page_analysis_browser_ms %.3f ms\n", b->cpuNs / 1e6);
      std::printf("BENCH page_analysis_browser_vs_default %.2f ratio\n", b->cpuNs / a->cpuNs);
    }
  }
  auto* small = get("BM_SeenLinks/10000/min_time:0.000");
  auto* large = get("BM_SeenLinks/1000000/min_time:0.000");
  if (!small) small = get("BM_SeenLinks/10000");
  if (!large) large = get("BM_SeenLinks/1000000");
  if (small && large) {
    std::printf("BENCH seen_links_bytes_per_link %.1f bytes\n",
                large->counters.at("bytes_per_link"));
    std::printf("BENCH seen_links_time_growth %.2f ratio\n",
                (large->cpuNs / 1e6) / (small->cpuNs / 1e4));
  }
  if (auto* l = get("BM_ListAdd/min_time:1.000")) {
    std::printf("BENCH list_add_100k_ms %.1f ms\n", l->cpuNs / 1e6);
    std::printf("BENCH list_bytes_per_row %.1f bytes\n", l->counters.at("bytes_per_row"));
  }
  return 0;
}
