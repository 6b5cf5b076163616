#include "crawl/page_analyse.h"

#include <QStringView>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "crawl/page_browser.h"
#include "crawl/page_normalise.h"
#include "crawl/page_scan.h"
#include "web/browser_address.h"
#include "web/http.h"
#include "web/md5.h"
#include "web/text.h"

// The analysis of a fetched page, in the order its steps run (AnalysePageText
// at the end reads as their list). The character scans live in page_scan.cpp,
// the normalisation in page_normalise.cpp and the link list in link_list.cpp.

namespace qm {

namespace {

using pagetext::Equal;
using pagetext::kDescription;
using pagetext::kKeywords;
using pagetext::Length;
using pagetext::Marker;
using pagetext::MarkerFinder;
using pagetext::Markers;
using pagetext::PageScan;
using pagetext::RawScan;

const QString kCrLf = QStringLiteral("\r\n");

// ---- 1. source rewrites

// The page with every rewrite the scan found applied, left to right.
QString Rewritten(QStringView page, const RawScan& scan) {
  QString out;
  out.reserve(page.size() + static_cast<qsizetype>(scan.rewrites.size()));
  qsizetype from = 0;
  for (const auto& [at, meta] : scan.rewrites) {
    out += page.mid(from, at - from);
    out += pagetext::kSourceRewrite;
    from = at + (meta ? Length(pagetext::kMetaSource) : Length(pagetext::kBareSource));
  }
  out += page.mid(from);
  return out;
}

// A meta tag whose content is an address becomes an image source, and an
// unquoted image source gains its opening apostrophe ("content=\"http" and
// "src=http" both become "src='http"). Returns the scan of the page as
// rewritten.
PageScan RewriteSources(QString& page) {
  PageScan scan = pagetext::ScanPage(page, true);
  if (scan.raw.rewrites.empty()) return scan;
  page = Rewritten(page, scan.raw);
  RawScan fields;
  fields.description = FindText(page, kDescription);
  fields.keywords = FindText(page, kKeywords);
  scan = pagetext::ScanPage(page, false);
  scan.raw = fields;
  return scan;
}

// ---- 2. the short page

// A page shorter than kMinPageLength (after the rewrites) is not analysed.
bool TooShort(const QString& page) { return page.size() < kMinPageLength; }

// ---- 3. the keyword filter

// CutText for a start marker found at `at` (or not found: -1).
QString CutAt(QStringView text, qsizetype at, qsizetype startLength, QStringView end) {
  if (at < 0) return QStringLiteral("Nothing");
  const qsizetype b = at + startLength;
  const qsizetype c = FindText(text, end, b);
  if (c < 0) return QString();
  return text.mid(b, c - b).toString();
}

// The page is analysed only when its title, description and keywords, cut
// from the page as it came (letter case kept), pass the keyword filter.
bool TitleFieldsMatch(QStringView page, const RawScan& fields, const CrawlSettings& settings) {
  static constexpr char16_t kTitle[] = u"<title>";
  const QString title = CutAt(page, FindText(page, kTitle), Length(kTitle), u"<");
  const QString description = CutAt(page, fields.description, Length(kDescription), u"\"");
  const QString keywords = CutAt(page, fields.keywords, Length(kKeywords), u"\"");
  return KeyWordMatch(title + kCrLf + description + kCrLf + keywords, settings);
}

// ---- 4. the site root: SiteRoot (web/filters.h)

// ---- 5. the normalised candidates

// The two texts an analysis writes into: the normalised candidates and the
// links built back to back. The thread keeps them between pages (a big page
// then costs no fresh memory from the system each time), except those of an
// unusually big page; an analysis that finds the thread's in use has its own.
class WorkTexts {
 public:
  WorkTexts() : borrowed_(!kept.inUse) { kept.inUse = true; }
  ~WorkTexts() {
    if (!borrowed_) return;
    kept.inUse = false;
    if (kept.text.capacity() > kKeptCharacters) kept.text = QString();
    if (kept.built.capacity() > kKeptCharacters) kept.built = QString();
  }
  WorkTexts(const WorkTexts&) = delete;
  WorkTexts& operator=(const WorkTexts&) = delete;

  QString& Normalised() { return borrowed_ ? kept.text : text_; }
  QString& Built() { return borrowed_ ? kept.built : built_; }

 private:
  static constexpr qsizetype kKeptCharacters = qsizetype{1} << 22;
  struct Kept {
    QString text;
    QString built;
    bool inUse = false;
  };
  static thread_local Kept kept;

  bool borrowed_;
  QString text_;
  QString built_;
};

thread_local WorkTexts::Kept WorkTexts::kept;

// A candidate address: piece k of the split of the normalised text at a
// marker ("src='" or "href='"; piece 0 is the text before the first) up to
// its first apostrophe, as a place in the normalised text.
struct Span {
  qsizetype start;
  qsizetype length;
  bool closed;  // the piece holds an apostrophe
};

struct Candidates {
  std::vector<Span> images;  // split at "src='"
  std::vector<Span> links;   // split at "href='"
};

// The candidate address of piece `k` of the split at `marks`: the text up to
// the first apostrophe within the piece. `found` tells whether the piece
// holds an apostrophe.
QStringView Candidate(QStringView text, const std::vector<Marker>& marks, qsizetype firstApostrophe,
                      std::size_t k, bool& found) {
  const qsizetype from = k == 0 ? 0 : marks[k - 1].end;
  const qsizetype to = k < marks.size() ? marks[k].start : text.size();
  const qsizetype close = k == 0 ? firstApostrophe : marks[k - 1].close;
  found = close >= 0 && close < to;
  return found ? text.mid(from, close - from) : QStringView();
}

// The candidates of a page without surrogates, each normalised on its own
// into `text` at the markers the page scan found.
Candidates NormalisePieces(QStringView page, const Markers& marks, QString& text) {
  Candidates c{std::vector<Span>(marks.src.size() + 1), std::vector<Span>(marks.href.size() + 1)};
  qsizetype used = 0;
  auto spans = [&](const std::vector<Marker>& at, std::vector<Span>& out) {
    for (std::size_t k = 0; k <= at.size(); ++k) {
      bool closed;
      const QStringView piece = Candidate(page, at, marks.firstApostrophe, k, closed);
      const qsizetype length = closed ? pagetext::NormalisePieceInto(text, used, piece) : 0;
      out[k] = {used, length, closed};
      used += length;
    }
  };
  spans(marks.src, c.images);
  spans(marks.href, c.links);
  return c;
}

// The candidates of a page holding surrogates: the page normalised whole into
// `text`, the markers found in it.
Candidates NormaliseWholePage(const QString& page, QString& text) {
  MarkerFinder finder;
  if (!pagetext::NormaliseFast(page, text, &finder)) {
    text = pagetext::NormaliseByLibrary(page);
    finder = MarkerFinder();
    finder.Scan(text);
  }
  const Markers marks = finder.Take();
  auto spans = [&](const std::vector<Marker>& at) {
    std::vector<Span> out(at.size() + 1);
    for (std::size_t k = 0; k <= at.size(); ++k) {
      bool closed;
      const QStringView c = Candidate(text, at, marks.firstApostrophe, k, closed);
      out[k] = {c.utf16() - reinterpret_cast<const char16_t*>(text.utf16()), c.size(), closed};
    }
    return out;
  };
  return {spans(marks.src), spans(marks.href)};
}

// Every address is read from the normalised text (quotes turned into
// apostrophes, lower-cased, "\/" turned into "/"), of which only the
// candidates are written out.
Candidates NormaliseCandidates(const QString& page, const PageScan& scan, QString& text) {
  if (scan.surrogates) return NormaliseWholePage(page, text);
  return NormalisePieces(page, scan.marks, text);
}

// ---- 6. the image addresses

// The position of the last '.' of `text`, or -1.
qsizetype LastDot(QStringView text) {
  const char16_t* p = text.utf16();
  for (qsizetype i = text.size() - 1; i >= 0; --i)
    if (p[i] == u'.') return i;
  return -1;
}

// FileTypeMatch of an image address: `root` + `rest` for a rooted one,
// otherwise `rest` alone.
bool ImageTypeMatches(const QString& root, bool rooted, QStringView rest, const QString& types) {
  if (types.isEmpty()) return true;
  const qsizetype dot = LastDot(rest);
  const qsizetype rootDot = dot < 0 && rooted ? LastDot(root) : -1;
  if ((dot < 0 && rootDot < 0) || types == QLatin1String("*")) return false;
  // The text behind the last dot, which lies in the root when the rest has
  // none.
  if (dot >= 0) {
    const QStringView extension = rest.mid(dot + 1);
    return extension.isEmpty() || FindText(types, extension) >= 0;
  }
  QString extension = root.mid(rootDot + 1);
  extension += rest;
  return FindText(types, extension) >= 0;
}

// Every image candidate is kept whose file type is wanted, a rooted one
// ("/...") read under the site root; the list of them, each followed by CR
// LF, written in one piece.
QString ImageList(QStringView normalised, const std::vector<Span>& spans, const QString& root,
                  const QString& types, std::int32_t& count) {
  struct Image {
    QStringView rest;  // the candidate, without the leading "/" of a rooted one
    bool rooted;
  };
  std::vector<Image> kept;
  qsizetype length = 0;
  for (const Span& span : spans) {
    const QStringView candidate = normalised.mid(span.start, span.length);
    const bool rooted = candidate.startsWith(u'/');
    const Image image{rooted ? candidate.mid(1) : candidate, rooted};
    if (!ImageTypeMatches(root, image.rooted, image.rest, types)) continue;
    kept.push_back(image);
    length += (rooted ? root.size() : 0) + image.rest.size() + 2;
  }
  QString list(length, Qt::Uninitialized);
  char16_t* write = reinterpret_cast<char16_t*>(list.data());
  for (const Image& image : kept) {
    // An empty candidate may have no storage at all: copied by count, never
    // through memcpy with a null source.
    if (image.rooted) write = std::copy_n(root.utf16(), root.size(), write);
    write = std::copy_n(image.rest.utf16(), image.rest.size(), write);
    *write++ = u'\r';
    *write++ = u'\n';
  }
  count = static_cast<std::int32_t>(kept.size());
  return list;
}

// ---- 7. the links

// The piece of a link candidate that makes one.
struct LinkPiece {
  QStringView text;
  bool relative;
  bool lineBreak;  // the link will hold CR or LF
};

struct LinkPieces {
  std::vector<LinkPiece> pieces;
  qsizetype characters = 0;  // of the links they make
};

// A link candidate loses a leading "/"; one shorter than two characters, or
// holding a blank or "javascript:", is dropped; one not beginning with "http"
// is relative to the site root.
LinkPieces CutLinks(QStringView normalised, const std::vector<Span>& spans, const QString& root) {
  const bool rootLineBreak = pagetext::HasLineBreak(root);
  LinkPieces cut;
  cut.pieces.reserve(spans.size());
  for (const Span& span : spans) {
    if (!span.closed) continue;
    QStringView piece = normalised.mid(span.start, span.length);
    if (piece.startsWith(u'/')) piece = piece.mid(1);
    bool lineBreak;
    if (piece.size() < 2 || pagetext::DroppedLink(piece, lineBreak)) continue;
    const bool relative = !(piece.size() >= 4 && Equal(piece.utf16(), u"http"));
    cut.pieces.push_back({piece, relative, lineBreak || (relative && rootLineBreak)});
    cut.characters += piece.size() + (relative ? root.size() : 0);
  }
  return cut;
}

// A relative link is the site root followed by its piece with every "//"
// turned into "/"; any other is its piece as it stands. The links are built
// back to back into `built`.
std::vector<QStringView> BuildLinks(const LinkPieces& cut, const QString& root, QString& built) {
  built.resize(cut.characters);
  char16_t* out = reinterpret_cast<char16_t*>(built.data());
  std::vector<QStringView> links;
  links.reserve(cut.pieces.size());
  for (const LinkPiece& piece : cut.pieces) {
    char16_t* const start = out;
    if (piece.relative) {
      std::memcpy(out, root.utf16(), static_cast<std::size_t>(root.size()) * 2);
      out += root.size();
      out = pagetext::CopySingleSlashes(out, piece.text);
    } else {
      std::memcpy(out, piece.text.utf16(), static_cast<std::size_t>(piece.text.size()) * 2);
      out += piece.text.size();
    }
    links.emplace_back(start, out - start);
  }
  return links;
}

// ---- 8. the new links

// InSite with the start addresses split once: a line occurs in " " + address
// when it occurs in the address, or when it begins with the blank and the
// rest of it begins the address.
// With browser addressing letter case does not count.
class SiteTest {
 public:
  explicit SiteTest(const CrawlSettings& settings)
      : cs_(settings.BrowserAddresses ? Qt::CaseInsensitive : Qt::CaseSensitive) {
    const QString& base = settings.SiteBase;
    if (!base.contains(QLatin1String("http"), cs_)) return;
    for (QStringView line : QStringView(base).split(QStringLiteral("\r\n")))
      if (line.contains(QLatin1String("http"), cs_)) lines_.push_back(line);
  }
  bool Matches(QStringView address) const {
    for (QStringView line : lines_)
      if (address.contains(line, cs_) ||
          (line.startsWith(u' ') && address.startsWith(line.mid(1), cs_)))
        return true;
    return false;
  }

 private:
  Qt::CaseSensitivity cs_;
  std::vector<QStringView> lines_;
};

// In page order, a link whose fingerprint is in `seen` (met before) or that
// occurs inside this page's list so far is passed over; any other is listed,
// unless the site-only switch is on and it lies outside the site, and is
// remembered in `seen` either way. `lineBreak(i)` tells whether link i holds
// CR or LF; `characters` is the length of all links. Returns the list, each
// link followed by CR LF.
template <typename LineBreak>
QString ListNewLinks(const std::vector<QStringView>& links, LineBreak&& lineBreakAt,
                     qsizetype characters, const CrawlSettings& settings, FingerprintSet& seen,
                     std::int32_t& count) {
  std::vector<std::uint64_t> keys(links.size());
  Md5Keys(links.data(), links.size(), keys.data());
  const SiteTest site(settings);
  LinkList list;
  list.Reserve(characters + 2 * static_cast<qsizetype>(links.size()));
  std::int32_t listed = 0;
  constexpr std::size_t kAhead = 8;  // keys whose place in `seen` is fetched ahead
  for (std::size_t i = 0; i < std::min(kAhead, keys.size()); ++i) seen.Prefetch(keys[i]);
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (i + kAhead < keys.size()) seen.Prefetch(keys[i + kAhead]);
    const QStringView link = links[i];
    const std::uint64_t key = keys[i];
    const bool lineBreak = lineBreakAt(i);
    if (seen.Contains(key) || list.Occurs(link, lineBreak)) continue;
    if (!settings.SiteOnly || site.Matches(link)) {
      list.Append(link, lineBreak);
      ++listed;
    }
    // Remembered even when outside the site: never examined again.
    seen.Insert(key);
  }
  count = listed;
  return list.Take();
}

// ---- browser addressing

// A value as an address: its character references decoded (unless
// `decoded`), "\/" read as "/", resolved against `base`.
bool ResolveValue(const AddressBase& base, QStringView value, bool decoded, QString& address) {
  const qsizetype special = pagetext::FirstOfTwo(value.utf16(), value.size(), u'&', u'\\');
  if (special == value.size()) return base.Resolve(value, address);
  QString text;
  if (!decoded && value.contains(u'&')) {
    text = DecodeCharacterReferences(value);
    value = text;
  }
  if (value.contains(u'\\')) {
    if (text.isNull()) text = value.toString();
    text.replace(QStringLiteral("\\/"), QStringLiteral("/"));
    value = text;
  }
  return base.Resolve(value, address);
}

// The page read as a browser reads it: the address values of its tags (and
// of its scripts), their references decoded, resolved against the page's base
// (its <base href>, else the address it came from); images of the wanted file
// types listed, links passed through the same rules as those of the default
// reading.
QString AnalyseAsBrowser(QStringView page, const QString& requested, const QString& pageAddress,
                         QString& images, std::int32_t& imgCount, std::int32_t& linkCount,
                         const CrawlSettings& settings, FingerprintSet& seen) {
  using pagetext::ValueKind;
  const std::vector<pagetext::FoundValue> values = pagetext::ScanTags(page);
  AddressBase base(pageAddress);
  QString address;
  // The page itself, as asked for and as it came, is met: a link back to it
  // (its own "#section", most often) names no new page.
  for (const QString& own : {requested, pageAddress})
    if (AddressBase().Resolve(own, address)) seen.Insert(Md5Key(address));
  for (const pagetext::FoundValue& v : values) {
    if (v.kind != ValueKind::kBase) continue;
    if (ResolveValue(base, page.mid(v.start, v.length), false, address))
      base = AddressBase(address);
    break;
  }
  QString imageList;
  std::int32_t imageCount = 0;
  const auto image = [&](QStringView value, bool decoded) {
    if (!ResolveValue(base, value, decoded, address) || !FileTypeMatch(address, settings)) return;
    imageList += address;
    imageList += kCrLf;
    ++imageCount;
  };
  std::vector<QString> resolved;
  qsizetype characters = 0;
  for (const pagetext::FoundValue& v : values) {
    const QStringView value = page.mid(v.start, v.length);
    if (v.kind == ValueKind::kImage) {
      image(value, false);
    } else if (v.kind == ValueKind::kImageSet) {
      const QString decoded = DecodeCharacterReferences(value);
      for (QStringView one : pagetext::SrcsetAddresses(decoded)) image(one, true);
    } else if (v.kind == ValueKind::kLink && ResolveValue(base, value, false, address)) {
      characters += address.size();
      resolved.push_back(std::move(address));
    }
  }
  images = imageList;
  imgCount = imageCount;
  const std::vector<QStringView> links(resolved.begin(), resolved.end());
  // A resolved address holds no line break.
  return ListNewLinks(
      links, [](std::size_t) { return false; }, characters, settings, seen, linkCount);
}

}  // namespace

// ---- the analysis

QString AnalysePageText(QString page, QString& address, QString& images, std::int32_t& imgCount,
                        std::int32_t& linkCount, const CrawlSettings& settings,
                        FingerprintSet& seen, const QString& pageAddress) {
  // Browser addressing reads the page as it came, the default the page as rewritten.
  const QString asCame = settings.BrowserAddresses ? page : QString();
  // 1. A meta content address or an unquoted source becomes a quoted image source.
  const PageScan scan = RewriteSources(page);
  // 2. A page shorter than kMinPageLength is not analysed,
  if (TooShort(page)) return QString();
  // 3. nor one whose title, description and keywords fail the keyword filter.
  if (!TitleFieldsMatch(page, scan.raw, settings)) return QString();
  // 4. The address is normalised; its site root resolves rooted and relative addresses.
  const QString requested = address;
  const QString root = SiteRoot(address, 0);
  if (settings.BrowserAddresses) {
    page = QString();
    return AnalyseAsBrowser(asCame, requested, pageAddress.isEmpty() ? requested : pageAddress,
                            images, imgCount, linkCount, settings, seen);
  }
  // 5. Only the candidate addresses are normalised; the page itself is done with.
  WorkTexts work;
  const Candidates candidates = NormaliseCandidates(page, scan, work.Normalised());
  page = QString();
  const QStringView normalised(work.Normalised());
  // 6. The image addresses of the wanted file types are listed.
  images = ImageList(normalised, candidates.images, root, settings.FileTypes, imgCount);
  // 7. The link candidates become links, the relative ones under the site root.
  const LinkPieces cut = CutLinks(normalised, candidates.links, root);
  const std::vector<QStringView> links = BuildLinks(cut, root, work.Built());
  // 8. Links met before or already in the list are passed over; in-site new ones are listed.
  return ListNewLinks(
      links, [&cut](std::size_t i) { return cut.pieces[i].lineBreak; }, cut.characters, settings,
      seen, linkCount);
}

QString PageAnalyse(QString& address, QString& images, std::int32_t& imgCount,
                    std::int32_t& linkCount, const CrawlSettings& settings, FingerprintSet& seen) {
  if (settings.SiteOnly && !InSite(address, settings)) return QString();
  QString responseHeaders;
  QString finalAddress;
  const QVariant page =
      HttpRequest(address, kHttpText, QString(), QVariant(), QStringLiteral("get"), responseHeaders,
                  QString(), nullptr, &finalAddress);
  return AnalysePageText(page.toString(), address, images, imgCount, linkCount, settings, seen,
                         finalAddress);
}

void IsokHtml(QString& address, QString& extension) {
  address = address.toLower();
  const qsizetype dot = address.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return;
  extension = address.mid(dot + 1);
}

bool SkippedExtension(const QString& extension) {
  return extension == QLatin1String("ico") || extension == QLatin1String("css") ||
         extension == QLatin1String("js") || extension == QLatin1String("xml") ||
         extension.contains(QLatin1String("javascript"));
}

}  // namespace qm
