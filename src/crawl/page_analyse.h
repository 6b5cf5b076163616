#pragma once
// Page analysis: fetches a page and cuts its image and link addresses out of
// the text by plain string operations, keeping only pages that are long
// enough and carry a keyword, and only links never met before.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <utility>

#include "crawl/link_list.h"
#include "web/filters.h"
#include "web/fingerprint_set.h"

namespace qm {

// Pages shorter than this (in UTF-16 code units) are not analysed.
inline constexpr qsizetype kMinPageLength = 5120;

// The analysis of an already fetched page text. Returns the new links, each
// followed by CR LF. A page that is rejected (too short, no keyword) gives the
// empty text and leaves `address`, `images`, `imgCount` and `linkCount` as
// they were; otherwise `address` is rewritten to its normalised form, `images`
// and `imgCount` receive the image addresses (each followed by CR LF) and
// their number, `linkCount` the number of links returned, and every link met
// is remembered in `seen`.
//
// With browser addressing (settings.BrowserAddresses) the addresses are read
// from the page's tags as a browser reads them and resolved against the
// page's <base href> or else `pageAddress`, the address the page came from
// after redirects (empty: `address` as given); they keep the letter case of
// their path and query, and the page's own address counts as a link met.
// Everything else is the same.
QString AnalysePageText(QString pageText, QString& address, QString& images, std::int32_t& imgCount,
                        std::int32_t& linkCount, const CrawlSettings& settings,
                        FingerprintSet& seen, const QString& pageAddress = QString());

// The same-site gate, the fetch of `address` as text, and AnalysePageText.
// With the site-only switch on, an address outside the site is not fetched.
QString PageAnalyse(QString& address, QString& images, std::int32_t& imgCount,
                    std::int32_t& linkCount, const CrawlSettings& settings, FingerprintSet& seen);

// The page text as the analysis reads it: every double quote turned into an
// apostrophe, then lower-cased as QString::toLower does, then every "\/"
// turned into "/".
QString NormalisePageText(const QString& page);

// Whether the page scan may use 256-bit vector instructions where the
// processor has them (the default); off, it keeps to the 128-bit ones that
// every processor of the platform has. The answers are the same either way.
void AllowWideVectors(bool allowed);

// Lower-cases `address`; when it holds a ".", `extension` becomes the text
// behind its last "." (otherwise `extension` keeps the value it had).
void IsokHtml(QString& address, QString& extension);

// Links whose extension names an icon, a style sheet, a script or a feed are
// passed over by the crawl step.
bool SkippedExtension(const QString& extension);

}  // namespace qm
