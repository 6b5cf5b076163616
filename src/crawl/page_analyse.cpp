#include "crawl/page_analyse.h"

#include <QStringView>
#include <QVariant>
#include <cstring>
#include <vector>

#include "web/http.h"
#include "web/md5.h"
#include "web/text.h"

namespace qm {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Calls `fn` with every piece of `text` split at `marker`, the piece before
// the first marker included, as the split of a whole text would give them.
// The markers end with an apostrophe and hold no other: the search goes from
// apostrophe to apostrophe and looks back for the rest of the marker (two
// markers cannot overlap, so this finds exactly the occurrences a left to
// right search finds).
template <typename Fn>
void ForEachPiece(QStringView text, QStringView marker, Fn&& fn) {
  const QStringView head = marker.chopped(1);
  qsizetype from = 0;
  qsizetype scan = 0;
  for (;;) {
    const qsizetype q = text.indexOf(QLatin1Char('\''), scan);
    if (q < 0) {
      fn(text.mid(from));
      return;
    }
    const qsizetype start = q - head.size();
    if (start >= from && text.mid(start, head.size()) == head) {
      fn(text.mid(from, start - from));
      from = q + 1;
    }
    scan = q + 1;
  }
}

// The text of a piece before its first apostrophe; `found` tells whether the
// piece holds one.
QString BeforeApostrophe(QStringView piece, bool& found) {
  const qsizetype q = piece.indexOf(QLatin1Char('\''));
  found = q >= 0;
  return found ? piece.left(q).toString() : QString();
}

}  // namespace

// ---- the link list of one page

// Every listed link is cut at CR and LF into pieces ("segments"); a link
// without CR or LF can only occur inside one segment. The 8-character windows
// that start at every fourth position of a segment are entered into a hash
// table whose slots chain the segments holding that window. Where a link
// occurs inside a segment, for one of the four offsets 0 to 3 every window of
// the link at that offset plus a multiple of four lies at such a position of
// the segment. So a link can only occur when, for some offset, all those
// windows are in the table; the candidates are then the segments chained
// under the rarest of them, each confirmed by a plain search. Links shorter
// than 11 characters and links with CR or LF are searched in the whole text.
struct LinkList::Index {
  static constexpr qsizetype kWindow = 8;
  static constexpr qsizetype kStride = 4;
  static constexpr qsizetype kMinLength = kWindow + kStride - 1;

  struct Slot {
    std::uint64_t key = 0;  // 0: free
    std::int32_t head = -1;
    std::int32_t count = 0;
  };
  struct Entry {
    std::int32_t segment;
    std::int32_t next;
  };
  struct Segment {
    qsizetype start;
    qsizetype length;
  };

  std::vector<Slot> table = std::vector<Slot>(1024);
  std::size_t used = 0;
  std::vector<Entry> entries;
  std::vector<Segment> segments;

  static std::uint64_t Key(const char16_t* p) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + 4, sizeof b);
    std::uint64_t h = a * 0x9E3779B97F4A7C15ULL ^ (b + 0x632BE59BD9B4E019ULL);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return h == 0 ? 1 : h;
  }

  const Slot* Find(std::uint64_t key) const {
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
      if (table[i].key == key) return &table[i];
      if (table[i].key == 0) return nullptr;
    }
  }

  Slot& FindOrInsert(std::uint64_t key) {
    if ((used + 1) * 2 > table.size()) Grow();
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
      if (table[i].key == key) return table[i];
      if (table[i].key == 0) {
        table[i].key = key;
        ++used;
        return table[i];
      }
    }
  }

  void Grow() {
    std::vector<Slot> old(table.size() * 2);
    old.swap(table);
    const std::size_t mask = table.size() - 1;
    for (const Slot& s : old) {
      if (s.key == 0) continue;
      std::size_t i = s.key & mask;
      while (table[i].key != 0) i = (i + 1) & mask;
      table[i] = s;
    }
  }

  void AddSegment(const QString& text, qsizetype start, qsizetype length) {
    const auto id = static_cast<std::int32_t>(segments.size());
    segments.push_back({start, length});
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16()) + start;
    for (qsizetype k = 0; k + kWindow <= length; k += kStride) {
      Slot& slot = FindOrInsert(Key(p + k));
      if (slot.head >= 0 && entries[static_cast<std::size_t>(slot.head)].segment == id) continue;
      entries.push_back({id, slot.head});
      slot.head = static_cast<std::int32_t>(entries.size() - 1);
      ++slot.count;
    }
  }
};

LinkList::LinkList() : index_(new Index) {}

LinkList::~LinkList() { delete index_; }

bool LinkList::Occurs(const QString& link) const {
  const qsizetype n = link.size();
  if (n < Index::kMinLength || link.contains(QLatin1Char('\r')) || link.contains(QLatin1Char('\n')))
    return text_.contains(link);
  const char16_t* p = reinterpret_cast<const char16_t*>(link.utf16());
  const QStringView text(text_);
  for (qsizetype offset = 0; offset < Index::kStride; ++offset) {
    // The windows nearest the end differ most between links: tried first.
    const Index::Slot* rarest = nullptr;
    qsizetype k = offset + (n - Index::kWindow - offset) / Index::kStride * Index::kStride;
    for (; k >= offset; k -= Index::kStride) {
      const Index::Slot* slot = index_->Find(Index::Key(p + k));
      if (!slot) break;
      if (!rarest || slot->count < rarest->count) rarest = slot;
    }
    if (k >= offset) continue;  // a window is missing at this offset
    for (std::int32_t e = rarest->head; e >= 0;) {
      const Index::Entry& entry = index_->entries[static_cast<std::size_t>(e)];
      const Index::Segment& seg = index_->segments[static_cast<std::size_t>(entry.segment)];
      if (seg.length >= n && text.mid(seg.start, seg.length).contains(link)) return true;
      e = entry.next;
    }
  }
  return false;
}

void LinkList::Append(const QString& link) {
  const qsizetype start = text_.size();
  text_ += link;
  text_ += kCrLf;
  qsizetype pieceStart = 0;
  for (qsizetype k = 0; k <= link.size(); ++k) {
    if (k == link.size() || link[k] == u'\r' || link[k] == u'\n') {
      if (k > pieceStart) index_->AddSegment(text_, start + pieceStart, k - pieceStart);
      pieceStart = k + 1;
    }
  }
}

// ---- analysis

QString AnalysePageText(QString page, QString& address, QString& images, std::int32_t& imgCount,
                        std::int32_t& linkCount, const CrawlSettings& settings,
                        FingerprintSet& seen) {
  // A meta tag whose content is an address becomes an image source; an
  // unquoted image source gains its opening apostrophe.
  page.replace(QStringLiteral("content=\"http"), QStringLiteral("src='http"));
  page.replace(QStringLiteral("src=http"), QStringLiteral("src='http"));
  if (page.size() < kMinPageLength) return QString();

  // The title fields are cut from the page as it came, letter case kept.
  const QString title = CutText(page, QStringLiteral("<title>"), QStringLiteral("<"));
  const QString description =
      CutText(page, QStringLiteral("description\" content=\""), QStringLiteral("\""));
  const QString keywords =
      CutText(page, QStringLiteral("keywords\" content=\""), QStringLiteral("\""));
  if (!KeyWordMatch(title + kCrLf + description + kCrLf + keywords, settings)) return QString();

  const QString root = SiteRoot(address, 0);

  page.replace(QLatin1Char('"'), QLatin1Char('\''));
  page = std::move(page).toLower();
  page.replace(QStringLiteral("\\/"), QStringLiteral("/"));

  QString foundImages;
  std::int32_t imageTotal = 0;
  ForEachPiece(page, QStringLiteral("src='"), [&](QStringView piece) {
    bool closed;
    QString candidate = BeforeApostrophe(piece, closed);
    if (candidate.startsWith(QLatin1Char('/'))) candidate = root + candidate.mid(1);
    if (FileTypeMatch(candidate, settings)) {
      foundImages += candidate;
      foundImages += kCrLf;
      ++imageTotal;
    }
  });
  images = foundImages;
  imgCount = imageTotal;

  LinkList list;
  std::int32_t linkTotal = 0;
  ForEachPiece(page, QStringLiteral("href='"), [&](QStringView piece) {
    bool closed;
    QString link = BeforeApostrophe(piece, closed);
    if (!closed) return;
    if (link.startsWith(QLatin1Char('/'))) link.remove(0, 1);
    if (link.contains(QLatin1Char(' ')) || link.size() < 2 ||
        link.contains(QLatin1String("javascript:")))
      return;
    if (!link.startsWith(QLatin1String("http"))) {
      // Every relative link resolves against the site root.
      link.replace(QStringLiteral("//"), QStringLiteral("/"));
      link.prepend(root);
    }
    const std::uint64_t key = Md5Key(link);
    if (seen.Contains(key) || list.Occurs(link)) return;
    if (!settings.SiteOnly || InSite(link, settings)) {
      list.Append(link);
      ++linkTotal;
    }
    // Remembered even when outside the site: never examined again.
    seen.Insert(key);
  });
  linkCount = linkTotal;
  return list.Take();
}

QString PageAnalyse(QString& address, QString& images, std::int32_t& imgCount,
                    std::int32_t& linkCount, const CrawlSettings& settings, FingerprintSet& seen) {
  if (settings.SiteOnly && !InSite(address, settings)) return QString();
  QString responseHeaders;
  const QVariant page = HttpRequest(address, kHttpText, QString(), QVariant(),
                                    QStringLiteral("get"), responseHeaders, QString());
  return AnalysePageText(page.toString(), address, images, imgCount, linkCount, settings, seen);
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
