#pragma once
// A whole crawl of a loopback site with downloads: pages long enough to be
// analysed, linked in a chain and across, each showing images of three kinds
// (large enough, too small, of another type), some of them on several pages.
// The crawl runs on the engine's own timers until every page is analysed and
// every download has ended.
#include <gtest/gtest.h>

#include <QByteArray>
#include <map>

#include "support/test_util.h"

namespace qmtest {

class DownloadSite {
 public:
  static constexpr int kPages = 22;  // "/" and p1.html .. p21.html
  static constexpr int kLarge = 15, kSmall = 8, kOther = 5;

  // Qualifying images (large jpg) by file name, with their bytes and how many
  // times the crawl queues them (once per mention on a page).
  struct Expected {
    QByteArray bytes;
    int mentions = 0;
  };
  std::map<QString, Expected> qualifying;
  int jpgMentions = 0;  // every jpg mention, small ones too: what the crawl queues
  LoopbackServer server;

  DownloadSite() {
    for (int k = 0; k < kLarge; ++k)
      AddImage("/img/large" + std::to_string(k) + ".jpg", 2048 + 131 * k, k);
    for (int k = 0; k < kSmall; ++k)
      AddImage("/img/small" + std::to_string(k) + ".jpg", 2047 - k, 50 + k);
    for (int k = 0; k < kOther; ++k)
      AddImage("/img/other" + std::to_string(k) + ".png", 6000, 80 + k);
    for (int page = 0; page < kPages; ++page) AddPage(page);
  }

  static std::string PagePath(int page) {
    return page == 0 ? "/" : "/p" + std::to_string(page) + ".html";
  }
  // How often each target was requested.
  std::map<std::string, int> Fetched() const {
    std::map<std::string, int> fetched;
    for (const auto& r : server.Requests()) ++fetched[r.target];
    return fetched;
  }

 private:
  void AddImage(const std::string& path, std::size_t size, unsigned seed) {
    Route route = Reply(Garbage(size, seed));
    route.headerLines = {"Content-Type: image/jpeg"};
    server.Serve(path, route);
    bodies_[path] = route.body;
  }

  // One mention of an image, in one of the ways pages write them.
  std::string Image(const std::string& kind, int k, int style) {
    const std::string path =
        "/img/" + kind + std::to_string(k) + (kind == "other" ? ".png" : ".jpg");
    if (kind == "large") {
      Expected& e = qualifying[Q(path.substr(5))];
      e.bytes = QByteArray::fromStdString(bodies_[path]);
      ++e.mentions;
    }
    jpgMentions += kind != "other";
    const char* const forms[] = {"<img src=\"%1\">\n", "<IMG SRC='%2'>\n",
                                 "<img alt=x src=\"%2\" />\n"};
    return QString::fromLatin1(forms[style % 3]).arg(Q(path), Q(server.Url(path))).toStdString();
  }

  std::string Link(int page, int style) {
    const std::string path = PagePath(page);
    switch (style % 3) {
      case 0:
        return "<a href=\"" + path + "\">p</a>\n";
      case 1:
        return "<a href='" + path.substr(1) + "'>p</a>\n";  // relative, resolved at the root
      default:
        return "<A HREF=\"" + server.Url(path) + "\">p</A>\n";
    }
  }

  void AddPage(int page) {
    // A chain through every page, and some links across and back; a style
    // sheet on the pages that are walked, which the crawl never fetches.
    std::string body;
    if (page + 1 < kPages) body += Link(page + 1, page);
    if (page > 0 && 2 * page < kPages) body += Link(2 * page, page + 1);
    if (page > 1) body += Link(page / 2, page + 2);
    if (page > 0) body += "<a href='/style.css'>css</a>\n";
    body += Image("large", page % kLarge, page);
    body += Image("large", (page * 7 + 3) % kLarge, page + 1);
    if (page % 4 == 0) body += Image("large", (page * 7 + 3) % kLarge, page + 2);  // twice
    body += Image("small", page % kSmall, page + 2);
    body += Image("other", page % kOther, page);
    server.Serve(PagePath(page), Html(LongPage(body, "<title>page</title>")));
  }

  std::map<std::string, std::string> bodies_;
};

// The site crawled from its start page, site-only, with a size bound of 2 kb
// and short timers, with or without the downloader program beside the crawler.
struct SiteCrawl {
  DownloadSite site;
  TempDir save;
  EngineRig rig;
  WorkerGuard workers{rig.engine.Downloads()};
  YieldScope yields;

  explicit SiteCrawl(bool withDownloader) {
    EXPECT_TRUE(!withDownloader || InstallQmdown(Q(rig.dir.File("qmdown"))));
    rig.host.browseResult = Q(save.Path());
    rig.engine.Click(qm::kBtnBrowse);
    rig.engine.SetTxt(4, QStringLiteral("2kb"));
    rig.engine.SetTxt(7, QStringLiteral("50ms"));
    rig.engine.SetTxt(8, QStringLiteral("5"));
    rig.engine.Timer2().setInterval(100);  // the download timer, shortened for the test
  }

  QStringList Saved() const {
    QStringList names;
    for (const std::string& name : ListFolder(save.Path())) names << Q(name);
    return names;
  }

  // Crawls until every page is listed and analysed, nothing is queued or
  // downloading and `files` files are saved; then stops.
  void Run(int files) {
    rig.Seed(Q(site.server.Url("/")), /*siteOnly=*/true);
    rig.Start();
    auto analysed = [&] {
      for (int row = 0; row < rig.Rows(); ++row)
        if (rig.State(row) != QStringLiteral("分析完成")) return false;
      return true;
    };
    const bool settled = WaitUntil(
        [&] {
          return rig.Rows() == DownloadSite::kPages - 1 && analysed() &&
                 rig.engine.Downloads().Queue().isEmpty() &&
                 LiveWorkers(rig.engine.Downloads()) == 0 && Downloaders() == 0 &&
                 Saved().size() >= files;
        },
        180);
    rig.engine.Click(qm::kBtnStart);  // stop
    ASSERT_TRUE(settled) << rig.Rows() << " rows, " << Saved().size() << " files of " << files;
    ASSERT_TRUE(WaitUntil([&] { return LiveWorkers(rig.engine.Downloads()) == 0; }));

    // Every page listed and fetched once, every jpg mention queued and counted.
    std::set<QString> links, pages;
    for (const QString& link : rig.Links()) links.insert(link);
    for (int page = 1; page < DownloadSite::kPages; ++page)
      pages.insert(Q(site.server.Url(DownloadSite::PagePath(page))));
    EXPECT_EQ(links, pages);
    auto fetched = site.Fetched();
    for (int page = 0; page < DownloadSite::kPages; ++page)
      EXPECT_EQ(fetched[DownloadSite::PagePath(page)], 1) << page;
    EXPECT_EQ(rig.engine.ImgTotal(), site.jpgMentions);
    EXPECT_EQ(rig.engine.Lab(4), QString::number(site.jpgMentions));
    EXPECT_EQ(rig.engine.Lab(6), QString::number(DownloadSite::kPages - 1));
    // Nothing of another type, no style sheet was requested.
    for (const auto& [target, count] : fetched) {
      EXPECT_EQ(target.find(".png"), std::string::npos) << target;
      EXPECT_EQ(target.find(".css"), std::string::npos) << target;
    }
    EXPECT_TRUE(rig.host.criticals.isEmpty());
  }
};

}  // namespace qmtest
