#include "crawl/link_list.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "crawl/page_scan.h"
#include "web/text.h"

namespace qm {

using pagetext::FirstOfTwo;
using pagetext::HasLineBreak;

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
//
// The links of one page mostly share a long beginning (the site root, a
// folder): a window equal to the one at the same position of the segment
// before reuses that one's slot without hashing or probing.
struct LinkList::Index {
  static constexpr qsizetype kWindow = 8;
  static constexpr qsizetype kStride = 4;
  static constexpr qsizetype kMinLength = kWindow + kStride - 1;
  static constexpr std::size_t kFirstTable = 1024;

  // The index of the thread's last finished list, kept with its memory for
  // the next: a page with thousands of links then costs no fresh memory
  // from the system each time.
  static thread_local std::unique_ptr<Index> spare;

  void Reset() {
    table.assign(kFirstTable, Slot{});
    used = 0;
    entries.clear();
    segments.clear();
    ++generation;
  }

  // Eight bytes a slot, so that the table of a big page stays in cache: the
  // window's key (24 bits of its hash, never 0) and the length of its chain
  // (counted up to 255) in one word, 0 for a free slot. Windows with equal
  // keys share a chain; every candidate is confirmed by a plain search, so a
  // shared key costs time, never a wrong answer.
  // A table for a list text of about `characters`: one slot for every two
  // window positions, enough while a quarter of the windows or fewer are
  // distinct (the links of a page share most of theirs), growing beyond.
  void Presize(qsizetype characters) {
    if (used != 0) return;
    std::size_t size = kFirstTable;
    while (size < static_cast<std::size_t>(characters / (2 * kStride))) size *= 2;
    if (size > table.size()) {
      table.assign(size, Slot{});
      ++generation;
    }
  }

  struct Slot {
    std::uint32_t keyCount = 0;
    std::int32_t head = -1;
    std::uint32_t Key() const { return keyCount >> 8; }
    std::uint32_t Count() const { return keyCount & 0xFF; }
  };
  struct Entry {
    std::int32_t segment;
    std::int32_t next;
  };
  struct Segment {
    qsizetype start;
    qsizetype length;
  };

  std::vector<Slot> table = std::vector<Slot>(kFirstTable);
  std::vector<Slot> spareTable;  // the next table, kept with its memory
  std::size_t used = 0;
  std::vector<Entry> entries;
  std::vector<Segment> segments;
  // The slots of the windows of the segment entered last, by position / 4,
  // valid while the table has not grown or been reset since.
  std::vector<std::uint32_t> lastSlots;
  std::vector<std::uint32_t> keys;  // of the segment being entered; 0: reused
  std::uint32_t generation = 0;
  std::uint32_t lastGeneration = ~0u;

  static std::uint32_t Key(const char16_t* p) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + 4, sizeof b);
    std::uint64_t h = a * 0x9E3779B97F4A7C15ULL ^ (b + 0x632BE59BD9B4E019ULL);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    const auto key = static_cast<std::uint32_t>(h >> 40);
    return key == 0 ? 1 : key;
  }

  static bool SameWindow(const char16_t* x, const char16_t* y) {
    return std::memcmp(x, y, kWindow * sizeof(char16_t)) == 0;
  }

  void Prefetch(std::uint32_t key) const { __builtin_prefetch(&table[key & (table.size() - 1)]); }

  const Slot* Find(std::uint32_t key) const {
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
      if (table[i].Key() == key) return &table[i];
      if (table[i].keyCount == 0) return nullptr;
    }
  }

  // The slot of `key`, entered when new; its position in the table. The
  // caller has made room.
  std::uint32_t Insert(std::uint32_t key) {
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = key & mask;; i = (i + 1) & mask) {
      if (table[i].Key() == key) return static_cast<std::uint32_t>(i);
      if (table[i].keyCount == 0) {
        table[i].keyCount = key << 8;
        ++used;
        return static_cast<std::uint32_t>(i);
      }
    }
  }

  void Grow() {
    spareTable.assign(table.size() * 2, Slot{});
    const std::size_t mask = spareTable.size() - 1;
    for (const Slot& s : table) {
      if (s.keyCount == 0) continue;
      std::size_t i = s.Key() & mask;
      while (spareTable[i].keyCount != 0) i = (i + 1) & mask;
      spareTable[i] = s;
    }
    table.swap(spareTable);
    ++generation;  // slot positions moved: nothing recorded is reusable
  }

  void AddSegment(const char16_t* text, qsizetype start, qsizetype length) {
    const Segment previous = segments.empty() ? Segment{0, 0} : segments.back();
    const auto id = static_cast<std::int32_t>(segments.size());
    segments.push_back({start, length});
    if (length < kWindow) return;
    const auto windows = static_cast<std::size_t>((length - kWindow) / kStride + 1);
    // Room first, so that slot positions hold for the whole segment.
    while ((used + windows) * 2 > table.size()) Grow();
    const bool reusable = lastGeneration == generation;
    if (lastSlots.size() < windows) lastSlots.resize(windows);
    if (keys.size() < windows) keys.resize(windows);
    const char16_t* p = text + start;
    const char16_t* q = text + previous.start;
    const std::size_t mask = table.size() - 1;
    // The new windows' slots are fetched from memory all together, ahead of
    // their use, rather than one after the other.
    for (std::size_t w = 0; w < windows; ++w) {
      const qsizetype k = static_cast<qsizetype>(w) * kStride;
      if (reusable && k + kWindow <= previous.length && SameWindow(p + k, q + k)) {
        keys[w] = 0;  // the slot of the segment before
        continue;
      }
      keys[w] = Key(p + k);
      __builtin_prefetch(&table[keys[w] & mask], 1);
    }
    for (std::size_t w = 0; w < windows; ++w) {
      const std::uint32_t at = keys[w] == 0 ? lastSlots[w] : Insert(keys[w]);
      lastSlots[w] = at;
      // A window twice in one segment chains it twice: harmless, as every
      // candidate is confirmed.
      Slot& slot = table[at];
      entries.push_back({id, slot.head});
      slot.head = static_cast<std::int32_t>(entries.size() - 1);
      if (slot.Count() != 0xFF) ++slot.keyCount;
    }
    lastGeneration = generation;
  }
};

thread_local std::unique_ptr<LinkList::Index> LinkList::Index::spare;

LinkList::LinkList() {
  if (Index::spare) {
    index_ = Index::spare.release();
    index_->Reset();
  } else {
    index_ = new Index;
  }
}

LinkList::~LinkList() {
  // The index of an unusually big list is not kept.
  constexpr std::size_t kKeptEntries = std::size_t{1} << 20;
  if (!Index::spare && index_->entries.capacity() <= kKeptEntries)
    Index::spare.reset(index_);
  else
    delete index_;
}

bool LinkList::Occurs(QStringView link, bool lineBreaks) const {
  const qsizetype n = link.size();
  const char16_t* p = link.utf16();
  if (n < Index::kMinLength || (lineBreaks && HasLineBreak(link)))
    return FindText(text_, link) >= 0;
  const QStringView text(text_);
  // The last window of each offset is tried first (the windows nearest the
  // end differ most between links): the four are fetched together.
  std::uint32_t lastKeys[Index::kStride];
  for (qsizetype j = 0; j < Index::kStride; ++j) {
    lastKeys[j] = Index::Key(p + n - Index::kWindow - j);
    index_->Prefetch(lastKeys[j]);
  }
  for (qsizetype offset = 0; offset < Index::kStride; ++offset) {
    const Index::Slot* rarest = nullptr;
    const qsizetype last = offset + (n - Index::kWindow - offset) / Index::kStride * Index::kStride;
    qsizetype k = last;
    for (; k >= offset; k -= Index::kStride) {
      const std::uint32_t key = k == last ? lastKeys[n - Index::kWindow - k] : Index::Key(p + k);
      const Index::Slot* slot = index_->Find(key);
      if (!slot) break;
      if (!rarest || slot->Count() < rarest->Count()) rarest = slot;
    }
    if (k >= offset) continue;  // a window is missing at this offset
    for (std::int32_t e = rarest->head; e >= 0;) {
      const Index::Entry& entry = index_->entries[static_cast<std::size_t>(e)];
      const Index::Segment& seg = index_->segments[static_cast<std::size_t>(entry.segment)];
      if (seg.length >= n && FindText(text.mid(seg.start, seg.length), link) >= 0) return true;
      e = entry.next;
    }
  }
  return false;
}

void LinkList::Append(QStringView link, bool lineBreaks) {
  const qsizetype start = text_.size();
  const qsizetype end = start + link.size();
  text_.resize(end + 2);
  char16_t* p = reinterpret_cast<char16_t*>(text_.data());
  std::memcpy(p + start, link.utf16(), static_cast<std::size_t>(link.size()) * 2);
  p[end] = u'\r';
  p[end + 1] = u'\n';
  if (!lineBreaks) {
    index_->AddSegment(p, start, end - start);
    return;
  }
  for (qsizetype from = start; from < end;) {
    const qsizetype k = from + FirstOfTwo(p + from, end - from, u'\r', u'\n');
    if (k > from) index_->AddSegment(p, from, k - from);
    from = k + 1;
  }
}

void LinkList::Reserve(qsizetype characters) {
  text_.reserve(characters);
  index_->Presize(characters);
}

}  // namespace qm
