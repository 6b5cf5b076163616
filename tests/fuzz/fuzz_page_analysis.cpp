#include <QStringList>

#include "crawl/page_analyse.h"
#include "support/reference_analyse.h"

// The analysis of an arbitrary page text, padded past the minimum length so
// that every path runs; the results keep their documented shape.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QString page =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (page.size() < qm::kMinPageLength)
    page += QString(qm::kMinPageLength - page.size(), QLatin1Char(' '));
  qm::CrawlSettings settings;
  settings.FileTypes = QStringLiteral("jpg*");
  settings.SiteOnly = (size % 2) == 1;
  settings.SiteBase = QStringLiteral("http://fuzz.example/");
  qm::FingerprintSet seen;
  const QString at = QStringLiteral("http://fuzz.example/dir/page.html");
  QString address = at;
  QString images;
  std::int32_t imgCount = -1, linkCount = -1;
  const QString links =
      qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen);
  if (links != links.toLower()) __builtin_trap();  // every address comes out lower-case
  // The fast analysis gives exactly what the plain one gives.
  QString refAddress = at;
  QString refImages, refSeen;
  std::int32_t refImgCount = -1, refLinkCount = -1;
  const QString refLinks = qmtest::ReferenceAnalyse(page, refAddress, refImages, refImgCount,
                                                    refLinkCount, settings, refSeen);
  if (refLinks != links || refImages != images || refImgCount != imgCount ||
      refLinkCount != linkCount || refAddress != address)
    __builtin_trap();
  // A second analysis lists again only links the first one passed over as
  // part of a longer listed link (links may hold line breaks of their own).
  address = at;
  const QString second =
      qm::AnalysePageText(page, address, images, imgCount, linkCount, settings, seen);
  for (const QString& link : second.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
    if (!links.contains(link)) __builtin_trap();
  return 0;
}
