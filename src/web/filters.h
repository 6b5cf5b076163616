#pragma once
// The crawl's filters and the site-root rule. They read the shared settings,
// given here explicitly.
#include <QString>

namespace qm {

struct CrawlSettings {
  bool SiteOnly = false;
  QString SiteBase;   // start addresses at the moment the site-only switch was turned on
  QString KeyWords;   // keywords joined by "*"
  QString FileTypes;  // file types as typed, e.g. "jpg*"
};

// Rewrites `address` to its normalised form (decoded, lower-cased, no spaces,
// scheme and "/" added) and, for rootFlag 0, returns scheme + host + "/".
// An address beginning "https://" keeps its scheme; an address that cannot be
// decoded is used undecoded.
QString SiteRoot(QString& address, int rootFlag);

bool KeyWordMatch(const QString& fieldText, const CrawlSettings& settings);
bool FileTypeMatch(const QString& address, const CrawlSettings& settings);
bool InSite(const QString& address, const CrawlSettings& settings);

}  // namespace qm
