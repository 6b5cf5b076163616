// A whole crawl with the downloader program beside the crawler: downloader
// processes save every qualifying image of the site; an image queued twice is
// saved again under a prefixed name, since a downloader keeps no done-list.
#include "dispatch_e2e_site.h"

namespace {

using namespace qmtest;

TEST(DispatchE2eProc, CrawlInProcessModeSavesEveryQueuedQualifyingImage) {
  ASSERT_TRUE(WaitUntil([] { return Downloaders() == 0; }));
  SiteCrawl crawl(/*withDownloader=*/true);
  int mentions = 0;
  for (const auto& entry : crawl.site.qualifying) mentions += entry.second.mentions;
  crawl.Run(mentions);

  const QStringList files = crawl.Saved();
  EXPECT_EQ(files.size(), mentions);  // nothing small, nothing of another type
  for (const auto& [name, image] : crawl.site.qualifying) {
    int copies = 0;
    for (const QString& file : files) {
      if (file != name && !IsPrefixed(file.toStdString(), name.toStdString())) continue;
      ++copies;
      EXPECT_EQ(ReadWhole(crawl.save.File(file.toStdString())), image.bytes.toStdString())
          << file.toStdString();
    }
    EXPECT_EQ(copies, image.mentions) << name.toStdString();
    EXPECT_TRUE(files.contains(name)) << name.toStdString();
  }
  EXPECT_TRUE(crawl.rig.engine.LogText().contains(QStringLiteral("创建下载进程...")));
  EXPECT_FALSE(crawl.rig.engine.LogText().contains(QStringLiteral("建立下载线程: ")));
}

}  // namespace
