#pragma once
// The normalisation of page text for the page analysis (internal to
// src/crawl): every double quote turned into an apostrophe, then lower-cased
// as QString::toLower does, then every "\/" turned into "/". Plain ASCII goes
// eight characters at a time (SSE2), every other character one by one through
// a table of the library's lower cases; a text the table cannot lower goes
// the library's way.
#include <QString>
#include <QStringView>

#include "crawl/page_scan.h"

namespace qm::pagetext {

// The normalisation the plain way, through the library; for texts the fast
// pass declines.
QString NormaliseByLibrary(QString page);

// The fast pass over a whole page, telling `finder` (when given) every
// apostrophe of the result: false when the text holds a character that does
// not lower to exactly one (or a lone surrogate half); `result` is then
// unspecified.
bool NormaliseFast(const QString& page, QString& result, MarkerFinder* finder);

// Appends the normalised form of `piece` (a part of a page without
// surrogates and without quote characters) to `buffer` from `used` on,
// growing it as needed; returns its length.
qsizetype NormalisePieceInto(QString& buffer, qsizetype used, QStringView piece);

}  // namespace qm::pagetext
