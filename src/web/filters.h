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
  // Addresses read as a browser reads them (chosen when the program starts):
  // they keep their letter case, so the file types and the site are then
  // compared without regard to it.
  bool BrowserAddresses = false;
};

// Rewrites `address` to its normalised form (decoded, lower-cased, no spaces,
// scheme and "/" added) and, for rootFlag 0, returns scheme + host + "/".
// An address beginning "https://" keeps its scheme; an address that cannot be
// decoded is used undecoded.
QString SiteRoot(QString& address, int rootFlag);

bool KeyWordMatch(const QString& fieldText, const CrawlSettings& settings);
// With browser addressing, letter case does not count, and the extension of
// the file name (before any query) matches as well as the text behind the
// address's last dot.
bool FileTypeMatch(const QString& address, const CrawlSettings& settings);
// With browser addressing, letter case does not count.
bool InSite(const QString& address, const CrawlSettings& settings);

}  // namespace qm
