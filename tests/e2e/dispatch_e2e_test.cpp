// A whole crawl without the downloader program: worker threads save every
// qualifying image of the site exactly once, byte for byte.
#include <gtest/gtest.h>

#include <QFile>
#include <string>

#include "dispatch_e2e_site.h"

using namespace qmtest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

TEST(DispatchE2e, CrawlInThreadModeSavesEachQualifyingImageOnce) {
  TempDir program;
  TempDir save;
  DownloadSite site;
  CrawlRig rig(Q(program.Path()), Q(save.Path()));
  ASSERT_FALSE(QFile::exists(Q(program.File("qmdown"))));
  const auto& expected = site.Qualifying();

  rig.Start(site.StartAddress());
  qm::DownloadState& downloads = rig.engine.Downloads();
  const bool settled = RunUntil([&] {
    return rig.engine.Lv().ItemCount() == DownloadSite::kPages - 1 &&
           rig.AnalysedRows() == DownloadSite::kPages - 1 && downloads.Queue().isEmpty() &&
           LiveWorkers(downloads) == 0 &&
           SavedFiles(Q(save.Path())).size() >= static_cast<qsizetype>(expected.size());
  });
  rig.engine.Click(qm::kBtnStart);  // stop
  ASSERT_TRUE(settled) << rig.AnalysedRows() << " rows analysed, "
                       << SavedFiles(Q(save.Path())).size() << " files";
  ASSERT_TRUE(RunUntil([&] { return LiveWorkers(downloads) == 0; }));

  QStringList names;
  for (const auto& [name, image] : expected) {
    names << name;
    EXPECT_EQ(FileBytes(Q(save.Path()) + "/" + name), image.bytes) << name.toStdString();
  }
  EXPECT_EQ(SavedFiles(Q(save.Path())), names);  // nothing small, nothing of another type
  EXPECT_FALSE(site.OtherTypeRequested());
  // Images shown on several pages were requested once: the done-list holds.
  for (const auto& [name, image] : expected) {
    std::size_t requests = 0;
    for (const RecordedRequest& r : site.Server().Requests()) {
      if (Q(r.target).endsWith("/" + name)) ++requests;
    }
    EXPECT_EQ(requests, 1u) << name.toStdString() << " mentioned " << image.mentions;
  }
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  EXPECT_TRUE(rig.engine.LogText().contains(QStringLiteral("建立下载线程: ")));
  EXPECT_FALSE(rig.engine.LogText().contains(QStringLiteral("创建下载进程...")));
}

}  // namespace
