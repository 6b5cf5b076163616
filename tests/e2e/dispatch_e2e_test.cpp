// A whole crawl without the downloader program: worker threads save every
// qualifying image of the site exactly once, byte for byte.
#include "dispatch_e2e_site.h"

namespace {

using namespace qmtest;

TEST(DispatchE2e, CrawlInThreadModeSavesEachQualifyingImageOnce) {
  SiteCrawl crawl(/*withDownloader=*/false);
  const auto& expected = crawl.site.qualifying;
  crawl.Run(static_cast<int>(expected.size()));

  QStringList names;
  for (const auto& [name, image] : expected) {
    names << name;
    EXPECT_EQ(ReadWhole(crawl.save.File(name.toStdString())), image.bytes.toStdString())
        << name.toStdString();
  }
  EXPECT_EQ(crawl.Saved(), names);  // nothing small, nothing of another type
  // Images shown on several pages were requested once: the done-list holds.
  auto fetched = crawl.site.Fetched();
  for (const auto& [name, image] : expected)
    EXPECT_EQ(fetched["/img/" + name.toStdString()], 1)
        << name.toStdString() << " mentioned " << image.mentions;
  EXPECT_TRUE(crawl.rig.engine.LogText().contains(QStringLiteral("建立下载线程: ")));
  EXPECT_FALSE(crawl.rig.engine.LogText().contains(QStringLiteral("创建下载进程...")));
}

}  // namespace
