// A whole crawl with the downloader program beside the crawler: downloader
// processes save every qualifying image of the site; an image queued twice is
// saved again under a prefixed name, since a downloader keeps no done-list.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <string>

#include "dispatch_e2e_site.h"
#include "download/process.h"

using namespace qmtest;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

int Downloaders() { return qm::ProcessCount(QStringLiteral("qmdown")); }

TEST(DispatchE2eProc, CrawlInProcessModeSavesEveryQueuedQualifyingImage) {
  TempDir program;
  TempDir save;
  const QString downloader = Q(program.File("qmdown"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QM_BIN_DIR "/qmdown"), downloader));
  ASSERT_TRUE(QFile::setPermissions(downloader, QFile::ReadOwner | QFile::ExeOwner));
  ASSERT_TRUE(RunUntil([] { return Downloaders() == 0; }));
  DownloadSite site;
  CrawlRig rig(Q(program.Path()), Q(save.Path()));
  const auto& expected = site.Qualifying();
  int mentions = 0;
  for (const auto& entry : expected) mentions += entry.second.mentions;

  rig.Start(site.StartAddress());
  qm::DownloadState& downloads = rig.engine.Downloads();
  const bool settled = RunUntil([&] {
    return rig.engine.Lv().ItemCount() == DownloadSite::kPages - 1 &&
           rig.AnalysedRows() == DownloadSite::kPages - 1 && downloads.Queue().isEmpty() &&
           Downloaders() == 0 && SavedFiles(Q(save.Path())).size() >= mentions;
  });
  rig.engine.Click(qm::kBtnStart);  // stop
  ASSERT_TRUE(settled) << rig.AnalysedRows() << " rows analysed, "
                       << SavedFiles(Q(save.Path())).size() << " files of " << mentions;
  ASSERT_TRUE(RunUntil([] { return Downloaders() == 0; }));

  const QStringList files = SavedFiles(Q(save.Path()));
  EXPECT_EQ(files.size(), mentions);  // nothing small, nothing of another type
  for (const auto& [name, image] : expected) {
    const QRegularExpression saved(QStringLiteral("^([a-zA-Z1-9]{6}-)?") +
                                   QRegularExpression::escape(name) + QStringLiteral("$"));
    int copies = 0;
    for (const QString& file : files) {
      if (!saved.match(file).hasMatch()) continue;
      ++copies;
      EXPECT_EQ(FileBytes(Q(save.Path()) + "/" + file), image.bytes) << file.toStdString();
    }
    EXPECT_EQ(copies, image.mentions) << name.toStdString();
    EXPECT_TRUE(files.contains(name)) << name.toStdString();
  }
  EXPECT_FALSE(site.OtherTypeRequested());
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  EXPECT_TRUE(rig.engine.LogText().contains(QStringLiteral("创建下载进程...")));
  EXPECT_FALSE(rig.engine.LogText().contains(QStringLiteral("建立下载线程: ")));
}

}  // namespace
