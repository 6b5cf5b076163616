#pragma once
// The page analysis with browser addressing (internal to src/crawl): the
// addresses of a page read from its tags as a browser reads them, instead of
// cut out of the lower-cased text.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

#include "web/filters.h"
#include "web/fingerprint_set.h"

namespace qm::pagetext {

// What an attribute value found on a page names.
enum class ValueKind : std::uint8_t {
  kImage,     // "src" and every name ending in it ("data-src"), or a meta content address
  kImageSet,  // "srcset" and every name ending in it ("data-srcset"): a list of images
  kLink,      // "href" and every name ending in it
  kBase,      // the "href" of the first <base> that has one
};

// One attribute value as it stands in the page (before its character
// references are decoded).
struct FoundValue {
  ValueKind kind;
  qsizetype start;
  qsizetype length;
};

// The address values of a page in page order, read from its tags: values in
// double or single quotes or unquoted, attribute names in any letter case,
// blanks around "=". Comments are passed over; the text of a script is read
// for quoted values (an address written into the page by the script), that of
// a style sheet, a title or a text area not at all. A tag the page ends inside
// of gives nothing. A meta tag's content="http... counts as an image.
std::vector<FoundValue> ScanTags(QStringView page);

// The addresses of one "srcset" value (character references decoded): each
// candidate's address, without its width or density.
std::vector<QStringView> SrcsetAddresses(QStringView value);

}  // namespace qm::pagetext
