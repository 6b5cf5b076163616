#include "crawl/page_analyse.h"

#include <QStringView>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "web/http.h"
#include "web/md5.h"
#include "web/text.h"

namespace qm {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// ---- small scanning helpers

// Whether p begins with `literal` (a string literal: its length is known to
// the compiler, which compares it inline).
template <std::size_t N>
bool Equal(const char16_t* p, const char16_t (&literal)[N]) {
  return std::memcmp(p, literal, (N - 1) * sizeof(char16_t)) == 0;
}

// Calls fn(position) for every `c` in p[0, n), in order.
template <typename Fn>
void ForEachChar(const char16_t* p, qsizetype n, char16_t c, Fn&& fn) {
  qsizetype i = 0;
#if defined(__SSE2__)
  const __m128i v = _mm_set1_epi16(static_cast<short>(c));
  for (; i + 8 <= n; i += 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, v)));
    while (bits) {
      fn(i + std::countr_zero(bits) / 2);
      bits &= bits - 1;
      bits &= bits - 1;  // two mask bits per character
    }
  }
#endif
  for (; i < n; ++i)
    if (p[i] == c) fn(i);
}

// The position of the first character of p[0, n) that is `a` or `b`, or n.
qsizetype FirstOfTwo(const char16_t* p, qsizetype n, char16_t a, char16_t b) {
  qsizetype i = 0;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi16(static_cast<short>(a));
  const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
  for (; i + 8 <= n; i += 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto bits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(block, va), _mm_cmpeq_epi16(block, vb))));
    if (bits) return i + std::countr_zero(bits) / 2;
  }
#endif
  for (; i < n; ++i)
    if (p[i] == a || p[i] == b) return i;
  return n;
}

bool HasLineBreak(QStringView text) {
  return FirstOfTwo(text.utf16(), text.size(), u'\r', u'\n') < text.size();
}

// ---- the raw page: the two source rewrites and the title fields

// What one pass over the '=' characters of the raw page finds: every place a
// source rewrite applies, and the first description and keywords markers.
// The rewrite patterns cannot overlap each other or themselves, and neither
// replacement forms a new occurrence of the other, so rewriting all places
// found in one left to right pass equals the two whole-text replacements in
// turn.
constexpr char16_t kMetaSource[] = u"content=\"http";  // '=' at 7
constexpr char16_t kBareSource[] = u"src=http";        // '=' at 3
constexpr char16_t kSourceRewrite[] = u"src='http";
constexpr char16_t kDescription[] = u"description\" content=\"";  // '=' at 20
constexpr char16_t kKeywords[] = u"keywords\" content=\"";        // '=' at 17

template <std::size_t N>
constexpr qsizetype Length(const char16_t (&)[N]) {
  return N - 1;
}

struct RawScan {
  std::vector<std::pair<qsizetype, bool>> rewrites;  // position; true for the meta pattern
  qsizetype description = -1;
  qsizetype keywords = -1;
};

// Told every '=' of the raw page in order.
void SourceEquals(const char16_t* p, qsizetype n, qsizetype e, RawScan& scan) {
  // The characters either side of the '=' rule out nearly every place.
  if (e == 0 || e + 1 >= n) return;
  const char16_t before = p[e - 1];
  const char16_t after = p[e + 1];
  if (before == u'c' && after == u'h') {
    if (e >= 3 && e + 4 < n && Equal(p + e - 3, kBareSource))
      scan.rewrites.emplace_back(e - 3, false);
    return;
  }
  if (before != u't' || after != u'"' || e < 7 || !Equal(p + e - 7, u"content")) return;
  if (e + 5 < n && Equal(p + e + 1, u"\"http")) scan.rewrites.emplace_back(e - 7, true);
  if (scan.description < 0 && e >= 20 && Equal(p + e - 20, kDescription)) scan.description = e - 20;
  if (scan.keywords < 0 && e >= 17 && Equal(p + e - 17, kKeywords)) scan.keywords = e - 17;
}

QString Rewritten(QStringView page, const RawScan& scan) {
  QString out;
  out.reserve(page.size() + static_cast<qsizetype>(scan.rewrites.size()));
  qsizetype from = 0;
  for (const auto& [at, meta] : scan.rewrites) {
    out += page.mid(from, at - from);
    out += kSourceRewrite;
    from = at + (meta ? Length(kMetaSource) : Length(kBareSource));
  }
  out += page.mid(from);
  return out;
}

// CutText for a start marker found at `at` (or not found: -1).
QString CutAt(QStringView text, qsizetype at, qsizetype startLength, QStringView end) {
  if (at < 0) return QStringLiteral("Nothing");
  const qsizetype b = at + startLength;
  const qsizetype c = FindText(text, end, b);
  if (c < 0) return QString();
  return text.mid(b, c - b).toString();
}

// ---- the normalised page text: quotes become apostrophes, everything is
// lower-cased and "\/" becomes "/", in one pass that also finds the markers.

// The lower case of every BMP character as QString::toLower gives it, for the
// characters it maps to exactly one character; kNoSingleLower marks the rest
// (a lone surrogate half, a character that lowers to several).
constexpr char16_t kNoSingleLower = 0xD800;

const char16_t* LowerTable() {
  static const std::vector<char16_t> table = [] {
    std::vector<char16_t> t(0x10000, kNoSingleLower);
    for (char16_t c = 0; c < 0x80; ++c) t[c] = c >= u'A' && c <= u'Z' ? c + 32 : c;
    // Every other character but the surrogate halves, each followed by
    // U+0001, lowered by the library in one call; a character whose piece
    // is not exactly one character long keeps the mark.
    QString all;
    all.reserve(2 * 0x10000);
    for (char32_t c = 0x80; c < 0x10000; ++c) {
      if (QChar::isSurrogate(c)) continue;
      all += QChar(static_cast<char16_t>(c));
      all += QChar(u'\x01');
    }
    const QString lower = all.toLower();
    const char16_t* p = reinterpret_cast<const char16_t*>(lower.utf16());
    const qsizetype n = lower.size();
    qsizetype pos = 0;
    for (char32_t c = 0x80; c < 0x10000 && pos < n; ++c) {
      if (QChar::isSurrogate(c)) continue;
      qsizetype sep = pos;
      while (sep < n && p[sep] != u'\x01') ++sep;
      if (sep - pos == 1 && p[pos] != u'\'') t[c] = p[pos];
      pos = sep + 1;
    }
    return t;
  }();
  return table.data();
}

// The normalisation the plain way, through the library; for texts the fast
// pass declines.
QString NormaliseByLibrary(QString page) {
  page.replace(QLatin1Char('"'), QLatin1Char('\''));
  page = page.toLower();
  page.replace(QStringLiteral("\\/"), QStringLiteral("/"));
  return page;
}

// Where the markers "src='" and "href='" occur in the normalised text, and
// for each the first apostrophe after it. Both markers end with their only
// apostrophe and cannot overlap themselves, so every apostrophe preceded by
// "src=" ends one occurrence, exactly the occurrences a left to right split
// finds.
struct Marker {
  qsizetype start;  // first character of the marker
  qsizetype end;    // first character after it
  qsizetype close;  // the next apostrophe, or -1
};

struct Markers {
  std::vector<Marker> src;
  std::vector<Marker> href;
  qsizetype firstApostrophe = -1;
};

// The marker ending at the quote character at `q`, if any: 1 for "src=",
// 2 for "href=" (in any letter case), 0 for none.
int MarkerAt(const char16_t* p, qsizetype q) {
  if (q < 4 || p[q - 1] != u'=') return 0;
  // c | 0x20 is the lower case of an ASCII letter and of nothing else.
  if ((p[q - 2] | 0x20) == u'c' && (p[q - 3] | 0x20) == u'r' && (p[q - 4] | 0x20) == u's') return 1;
  if (q >= 5 && (p[q - 2] | 0x20) == u'f' && (p[q - 3] | 0x20) == u'e' &&
      (p[q - 4] | 0x20) == u'r' && (p[q - 5] | 0x20) == u'h')
    return 2;
  return 0;
}

// Told every apostrophe of the normalised text in order, with the text
// before it final (the way for a page that is normalised whole).
class MarkerFinder {
 public:
  void Apostrophe(const char16_t* text, qsizetype q) {
    if (open_) {
      open_->close = q;
      open_ = nullptr;
    }
    if (m_.firstApostrophe < 0) m_.firstApostrophe = q;
    const int marker = MarkerAt(text, q);
    if (marker == 1) {
      m_.src.push_back({q - 4, q + 1, -1});
      open_ = &m_.src.back();
    } else if (marker == 2) {
      m_.href.push_back({q - 5, q + 1, -1});
      open_ = &m_.href.back();
    }
  }
  void Scan(QStringView text) {
    ForEachChar(text.utf16(), text.size(), u'\'',
                [&](qsizetype q) { Apostrophe(text.utf16(), q); });
  }
  Markers Take() { return std::move(m_); }

 private:
  Markers m_;
  Marker* open_ = nullptr;  // the marker waiting for its closing apostrophe
};

// What one pass over a page finds: with `sources`, the places of the source
// rewrites and the title fields (SourceEquals); the markers, each with its
// closing apostrophe; the first apostrophe; and whether the page holds any
// surrogate half.
//
// The markers of the normalised text are found on the page before
// normalising, at the same places: the normalised text has an apostrophe
// where the page has either quote character, lowers every other character
// to one (a page holding surrogates is not read this way; the letters that
// lower to two, or from beyond ASCII to ASCII, are none of the markers'
// letters), and drops only backslashes before a slash, which cannot stand
// inside a marker.
struct PageScan {
  RawScan raw;
  Markers marks;
  bool surrogates = false;
};

std::atomic<bool> wideVectors{true};

// The state of one ScanPage. Every character of interest follows a '=':
// a marker's quote ("src='", "href='"), a source rewrite ("content=\"http",
// "src=http") and a title field ('description" content="', 'keywords"
// content="'). So the block loops find the '='s (and any surrogate half),
// and `Equals` looks around each.
struct PageScanner {
  const char16_t* p;
  qsizetype n;
  bool sources;
  PageScan& scan;
  std::vector<qsizetype> srcQuotes;
  std::vector<qsizetype> hrefQuotes;

  void Equals(qsizetype e) {
    if (sources) SourceEquals(p, n, e, scan.raw);
    const qsizetype q = e + 1;
    if (q >= n || (p[q] != u'"' && p[q] != u'\'')) return;
    const int marker = MarkerAt(p, q);
    if (marker == 1) srcQuotes.push_back(q);
    if (marker == 2) hrefQuotes.push_back(q);
  }

  void Char(qsizetype i) {
    if (p[i] == u'=') Equals(i);
    if (QChar::isSurrogate(p[i])) scan.surrogates = true;
  }

  // Calls Char for every character position in a movemask (two bits each).
  void Chars(qsizetype at, std::uint32_t bits) {
    for (; bits; bits &= bits - 1, bits &= bits - 1) Char(at + std::countr_zero(bits) / 2);
  }
};

#if defined(__SSE2__)
// The '='s and surrogate halves, eight characters at a time from `i`;
// returns where it stopped.
qsizetype ScanBlocks(PageScanner& s, qsizetype i) {
  const __m128i equals = _mm_set1_epi16('=');
  const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  for (; i + 8 <= s.n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.p + i));
    const __m128i events = _mm_or_si128(
        _mm_cmpeq_epi16(v, equals), _mm_cmpeq_epi16(_mm_and_si128(v, surrogateBits), surrogate));
    const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(events));
    if (bits) s.Chars(i, bits);
  }
  return i;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QM_SCAN_AVX2 1
// The same sixteen characters at a time, for processors that have AVX2.
__attribute__((target("avx2"))) qsizetype ScanBlocksAvx2(PageScanner& s, qsizetype i) {
  const __m256i equals = _mm256_set1_epi16('=');
  const __m256i surrogateBits = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i surrogate = _mm256_set1_epi16(static_cast<short>(0xD800));
  for (; i + 16 <= s.n; i += 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.p + i));
    const __m256i events =
        _mm256_or_si256(_mm256_cmpeq_epi16(v, equals),
                        _mm256_cmpeq_epi16(_mm256_and_si256(v, surrogateBits), surrogate));
    const auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(events));
    if (bits) s.Chars(i, bits);
  }
  return i;
}
#endif

PageScan ScanPage(QStringView page, bool sources) {
  PageScan scan;
  PageScanner s{page.utf16(), page.size(), sources, scan, {}, {}};
  const char16_t* p = s.p;
  const qsizetype n = s.n;
  qsizetype i = 0;
#if defined(QM_SCAN_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && wideVectors.load(std::memory_order_relaxed)) i = ScanBlocksAvx2(s, i);
#endif
#if defined(__SSE2__)
  i = ScanBlocks(s, i);
#endif
  for (; i < n; ++i) s.Char(i);
  // The first apostrophe, and each marker's closing apostrophe: the next
  // quote character after it.
  auto next = [&](qsizetype from) {
    const qsizetype at = from + FirstOfTwo(p + from, n - from, u'"', u'\'');
    return at < n ? at : -1;
  };
  scan.marks.firstApostrophe = next(0);
  scan.marks.src.reserve(s.srcQuotes.size());
  for (qsizetype q : s.srcQuotes) scan.marks.src.push_back({q - 4, q + 1, next(q + 1)});
  scan.marks.href.reserve(s.hrefQuotes.size());
  for (qsizetype q : s.hrefQuotes) scan.marks.href.push_back({q - 5, q + 1, next(q + 1)});
  return scan;
}

// Appends the normalised form of `piece` (a part of a page without
// surrogates and without quote characters) to `buffer` from `used` on;
// returns its length.
qsizetype NormalisePieceInto(QString& buffer, qsizetype used, QStringView piece) {
  const qsizetype n = piece.size();
  if (buffer.size() < used + n) buffer.resize(std::max(used + n, buffer.size() * 2));
  const char16_t* in = piece.utf16();
  char16_t* out = reinterpret_cast<char16_t*>(buffer.data()) + used;
  const char16_t* table = LowerTable();
  qsizetype i = 0;
  qsizetype o = 0;
#if defined(__SSE2__)
  const __m128i asciiBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const __m128i backslash = _mm_set1_epi16('\\');
  const __m128i beforeA = _mm_set1_epi16('A' - 1);
  const __m128i afterZ = _mm_set1_epi16('Z' + 1);
  const __m128i caseBit = _mm_set1_epi16(0x20);
  while (i + 8 <= n) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, asciiBits), zero);
    const __m128i slash = _mm_cmpeq_epi16(v, backslash);
    if (_mm_movemask_epi8(_mm_andnot_si128(slash, ascii)) != 0xFFFF) break;
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(v, beforeA), _mm_cmplt_epi16(v, afterZ));
    v = _mm_add_epi16(v, _mm_and_si128(upper, caseBit));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
    i += 8;
    o += 8;
  }
#endif
  for (; i < n; ++i) {
    const char16_t c = in[i];
    if (c < 0x80) {
      if (c == u'\\' && i + 1 < n && in[i + 1] == u'/') continue;
      out[o++] = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
      continue;
    }
    const char16_t lower = table[c];
    if (lower == kNoSingleLower) {
      // A letter that lowers to several: this piece the library's way.
      const QString whole = NormaliseByLibrary(piece.toString());
      if (buffer.size() < used + whole.size()) buffer.resize(used + whole.size());
      std::memcpy(reinterpret_cast<char16_t*>(buffer.data()) + used, whole.utf16(),
                  static_cast<std::size_t>(whole.size()) * 2);
      return whole.size();
    }
    out[o++] = lower;
  }
  return o;
}

// One character of the fast pass, at `in[i]`: writes to `out[o]` and
// advances both. Returns false for a character it cannot lower alone.
inline bool NormaliseOne(const char16_t* in, qsizetype n, qsizetype& i, char16_t* out, qsizetype& o,
                         const char16_t* table, MarkerFinder* finder) {
  const char16_t c = in[i];
  if (c < 0x80) {
    if (c == u'"' || c == u'\'') {
      out[o] = u'\'';
      if (finder) finder->Apostrophe(out, o);
      ++o;
    } else if (c == u'\\' && i + 1 < n && in[i + 1] == u'/') {
      // "\/" loses its backslash; the slash is written next.
    } else {
      out[o++] = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    }
    ++i;
    return true;
  }
  if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(in[i + 1])) {
    const char32_t lower = QChar::toLower(QChar::surrogateToUcs4(c, in[i + 1]));
    if (QChar::requiresSurrogates(lower)) {
      out[o++] = QChar::highSurrogate(lower);
      out[o++] = QChar::lowSurrogate(lower);
    } else {
      out[o++] = static_cast<char16_t>(lower);
    }
    i += 2;
    return true;
  }
  const char16_t lower = table[c];
  if (lower == kNoSingleLower || lower == u'\'') return false;
  out[o++] = lower;
  ++i;
  return true;
}

// The fast pass: false when the text holds a character that does not lower
// to exactly one (or a lone surrogate half); `out` is then unspecified.
// Plain ASCII goes eight characters at a time.
bool NormaliseFast(const QString& page, QString& result, MarkerFinder* finder) {
  const qsizetype n = page.size();
  result.resize(n);
  const char16_t* in = reinterpret_cast<const char16_t*>(page.utf16());
  char16_t* out = reinterpret_cast<char16_t*>(result.data());
  const char16_t* table = LowerTable();
  qsizetype i = 0;
  qsizetype o = 0;
#if defined(__SSE2__)
  const __m128i asciiBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const __m128i backslash = _mm_set1_epi16('\\');
  const __m128i quote = _mm_set1_epi16('"');
  const __m128i apostrophe = _mm_set1_epi16('\'');
  const __m128i quoteToApostrophe = _mm_set1_epi16('"' ^ '\'');
  const __m128i beforeA = _mm_set1_epi16('A' - 1);
  const __m128i afterZ = _mm_set1_epi16('Z' + 1);
  const __m128i caseBit = _mm_set1_epi16(0x20);
  while (i + 8 <= n) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, asciiBits), zero);
    const __m128i slash = _mm_cmpeq_epi16(v, backslash);
    if (_mm_movemask_epi8(_mm_andnot_si128(slash, ascii)) != 0xFFFF) {
      // A backslash or a character beyond ASCII: these eight one by one.
      const qsizetype stop = i + 8;
      while (i < stop)
        if (!NormaliseOne(in, n, i, out, o, table, finder)) return false;
      continue;
    }
    v = _mm_xor_si128(v, _mm_and_si128(_mm_cmpeq_epi16(v, quote), quoteToApostrophe));
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(v, beforeA), _mm_cmplt_epi16(v, afterZ));
    v = _mm_add_epi16(v, _mm_and_si128(upper, caseBit));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
    if (finder) {
      auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, apostrophe)));
      while (bits) {
        finder->Apostrophe(out, o + std::countr_zero(bits) / 2);
        bits &= bits - 1;
        bits &= bits - 1;  // two mask bits per character
      }
    }
    i += 8;
    o += 8;
  }
#endif
  while (i < n)
    if (!NormaliseOne(in, n, i, out, o, table, finder)) return false;
  result.truncate(o);
  return true;
}

// ---- pieces, filters and links

// The candidate address of piece `k` of the split at `marks` (piece 0 is the
// text before the first marker): the text up to the first apostrophe within
// the piece. `found` tells whether the piece holds an apostrophe.
QStringView Candidate(QStringView text, const std::vector<Marker>& marks, qsizetype firstApostrophe,
                      std::size_t k, bool& found) {
  const qsizetype from = k == 0 ? 0 : marks[k - 1].end;
  const qsizetype to = k < marks.size() ? marks[k].start : text.size();
  const qsizetype close = k == 0 ? firstApostrophe : marks[k - 1].close;
  found = close >= 0 && close < to;
  return found ? text.mid(from, close - from) : QStringView();
}

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

// InSite with the start addresses split once: a line occurs in " " + address
// when it occurs in the address, or when it begins with the blank and the
// rest of it begins the address.
class SiteTest {
 public:
  explicit SiteTest(const QString& base) {
    if (!base.contains(QLatin1String("http"))) return;
    for (QStringView line : QStringView(base).split(QStringLiteral("\r\n")))
      if (line.contains(QLatin1String("http"))) lines_.push_back(line);
  }
  bool Matches(QStringView address) const {
    for (QStringView line : lines_)
      if (address.contains(line) || (line.startsWith(u' ') && address.startsWith(line.mid(1))))
        return true;
    return false;
  }

 private:
  std::vector<QStringView> lines_;
};

// A link is dropped when it holds a blank or "javascript:"; `lineBreak`
// tells whether a kept one holds CR or LF.
bool DroppedLink(QStringView link, bool& lineBreak) {
  static constexpr char16_t kScript[] = u"javascript:";
  const char16_t* p = link.utf16();
  const qsizetype n = link.size();
  lineBreak = false;
  qsizetype i = 0;
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi16(' ');
  const __m128i j = _mm_set1_epi16('j');
  const __m128i cr = _mm_set1_epi16('\r');
  const __m128i lf = _mm_set1_epi16('\n');
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, blank), _mm_cmpeq_epi16(v, j)),
                         _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)))))
      break;  // the rest one by one
  }
#endif
  for (; i < n; ++i) {
    const char16_t c = p[i];
    if (c == u' ') return true;
    if (c == u'j' && n - i >= Length(kScript) && Equal(p + i, kScript)) return true;
    if (c == u'\r' || c == u'\n') lineBreak = true;
  }
  return false;
}

// Copies `rest` to `out` with every "//" turned into "/", left to right;
// returns the end of the copy. Eight characters at a time while no slash
// follows a slash.
char16_t* CopySingleSlashes(char16_t* out, QStringView rest) {
  const char16_t* p = rest.utf16();
  const qsizetype n = rest.size();
  qsizetype i = 0;
#if defined(__SSE2__)
  const __m128i slash = _mm_set1_epi16('/');
  for (; i + 9 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
    if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(v, slash), _mm_cmpeq_epi16(next, slash))))
      break;  // a pair: the rest one by one
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    out += 8;
  }
#endif
  while (i < n) {
    *out++ = p[i];
    i += p[i] == u'/' && i + 1 < n && p[i + 1] == u'/' ? 2 : 1;
  }
  return out;
}

}  // namespace

void AllowWideVectors(bool allowed) { wideVectors.store(allowed, std::memory_order_relaxed); }

QString NormalisePageText(const QString& page) {
  QString text;
  if (!NormaliseFast(page, text, nullptr)) return NormaliseByLibrary(page);
  return text;
}

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

// ---- analysis

QString AnalysePageText(QString page, QString& address, QString& images, std::int32_t& imgCount,
                        std::int32_t& linkCount, const CrawlSettings& settings,
                        FingerprintSet& seen) {
  // A meta tag whose content is an address becomes an image source; an
  // unquoted image source gains its opening apostrophe.
  PageScan scan = ScanPage(page, true);
  if (!scan.raw.rewrites.empty()) {
    page = Rewritten(page, scan.raw);
    RawScan fields;
    fields.description = FindText(page, kDescription);
    fields.keywords = FindText(page, kKeywords);
    scan = ScanPage(page, false);
    scan.raw = fields;
  }
  if (page.size() < kMinPageLength) return QString();

  // The title fields are cut from the page as it came, letter case kept.
  static constexpr char16_t kTitle[] = u"<title>";
  const QString title = CutAt(page, FindText(page, kTitle), Length(kTitle), u"<");
  const QString description = CutAt(page, scan.raw.description, Length(kDescription), u"\"");
  const QString keywords = CutAt(page, scan.raw.keywords, Length(kKeywords), u"\"");
  if (!KeyWordMatch(title + kCrLf + description + kCrLf + keywords, settings)) return QString();

  const QString root = SiteRoot(address, 0);

  // From here on every address is read from the normalised text: quotes
  // turned into apostrophes, lower-cased, "\/" turned into "/". Only the
  // candidate addresses are normalised, each on its own, into a buffer the
  // thread keeps between pages (a big page then costs no fresh memory from
  // the system each time); a page holding surrogates is normalised whole.
  // The buffers of an unusually big page are not kept.
  constexpr qsizetype kKeptCharacters = qsizetype{1} << 22;
  thread_local QString buffer;
  thread_local QString builtBuffer;  // the links, built back to back
  thread_local bool bufferInUse = false;
  QString local;
  QString localBuilt;
  const bool borrowed = !bufferInUse;
  QString& text = borrowed ? buffer : local;
  QString& built = borrowed ? builtBuffer : localBuilt;
  bufferInUse = true;
  struct Release {
    bool borrowed;
    ~Release() {
      if (!borrowed) return;
      bufferInUse = false;
      if (buffer.capacity() > kKeptCharacters) buffer = QString();
      if (builtBuffer.capacity() > kKeptCharacters) builtBuffer = QString();
    }
  } release{borrowed};

  struct Span {
    qsizetype start;
    qsizetype length;
    bool closed;  // the piece holds an apostrophe
  };
  std::vector<Span> srcSpans(scan.marks.src.size() + 1);
  std::vector<Span> hrefSpans(scan.marks.href.size() + 1);
  if (scan.surrogates) {
    MarkerFinder finder;
    if (!NormaliseFast(page, text, &finder)) {
      text = NormaliseByLibrary(page);
      finder = MarkerFinder();
      finder.Scan(text);
    }
    scan.marks = finder.Take();
    srcSpans.resize(scan.marks.src.size() + 1);
    hrefSpans.resize(scan.marks.href.size() + 1);
    auto spans = [&](const std::vector<Marker>& marks, std::vector<Span>& out) {
      for (std::size_t k = 0; k <= marks.size(); ++k) {
        bool closed;
        const QStringView c = Candidate(text, marks, scan.marks.firstApostrophe, k, closed);
        out[k] = {c.utf16() - reinterpret_cast<const char16_t*>(text.utf16()), c.size(), closed};
      }
    };
    spans(scan.marks.src, srcSpans);
    spans(scan.marks.href, hrefSpans);
  } else {
    qsizetype used = 0;
    auto spans = [&](const std::vector<Marker>& marks, std::vector<Span>& out) {
      for (std::size_t k = 0; k <= marks.size(); ++k) {
        bool closed;
        const QStringView c = Candidate(page, marks, scan.marks.firstApostrophe, k, closed);
        const qsizetype length = closed ? NormalisePieceInto(text, used, c) : 0;
        out[k] = {used, length, closed};
        used += length;
      }
    };
    spans(scan.marks.src, srcSpans);
    spans(scan.marks.href, hrefSpans);
  }
  page = QString();
  const QStringView normalised(text);

  // The image addresses that pass the file-type filter, then the list of
  // them written in one piece.
  struct Image {
    QStringView rest;  // the candidate, without the leading "/" of a rooted one
    bool rooted;
  };
  std::vector<Image> kept;
  qsizetype imageLength = 0;
  for (const Span& span : srcSpans) {
    const QStringView candidate = normalised.mid(span.start, span.length);
    const bool rooted = candidate.startsWith(u'/');
    const Image image{rooted ? candidate.mid(1) : candidate, rooted};
    if (!ImageTypeMatches(root, image.rooted, image.rest, settings.FileTypes)) continue;
    kept.push_back(image);
    imageLength += (rooted ? root.size() : 0) + image.rest.size() + 2;
  }
  QString foundImages(imageLength, Qt::Uninitialized);
  char16_t* write = reinterpret_cast<char16_t*>(foundImages.data());
  for (const Image& image : kept) {
    if (image.rooted) {
      std::memcpy(write, root.utf16(), static_cast<std::size_t>(root.size()) * 2);
      write += root.size();
    }
    std::memcpy(write, image.rest.utf16(), static_cast<std::size_t>(image.rest.size()) * 2);
    write += image.rest.size();
    *write++ = u'\r';
    *write++ = u'\n';
  }
  images = foundImages;
  imgCount = static_cast<std::int32_t>(kept.size());

  // The links of the page: the pieces that make one, then the links built
  // back to back into one text, their fingerprints all at once, and the
  // tests in page order.
  struct Piece {
    QStringView text;
    bool relative;
    bool lineBreak;  // the link will hold CR or LF
  };
  const bool rootLineBreak = HasLineBreak(root);
  std::vector<Piece> pieces;
  pieces.reserve(hrefSpans.size());
  qsizetype total = 0;
  for (const Span& span : hrefSpans) {
    if (!span.closed) continue;
    QStringView piece = normalised.mid(span.start, span.length);
    if (piece.startsWith(u'/')) piece = piece.mid(1);
    bool lineBreak;
    if (piece.size() < 2 || DroppedLink(piece, lineBreak)) continue;
    const bool relative = !(piece.size() >= 4 && Equal(piece.utf16(), u"http"));
    pieces.push_back({piece, relative, lineBreak || (relative && rootLineBreak)});
    total += piece.size() + (relative ? root.size() : 0);
  }
  built.resize(total);
  char16_t* out = reinterpret_cast<char16_t*>(built.data());
  std::vector<QStringView> links;
  links.reserve(pieces.size());
  for (const Piece& piece : pieces) {
    char16_t* const start = out;
    if (piece.relative) {
      // Every relative link resolves against the site root.
      std::memcpy(out, root.utf16(), static_cast<std::size_t>(root.size()) * 2);
      out += root.size();
      out = CopySingleSlashes(out, piece.text);
    } else {
      std::memcpy(out, piece.text.utf16(), static_cast<std::size_t>(piece.text.size()) * 2);
      out += piece.text.size();
    }
    links.emplace_back(start, out - start);
  }
  std::vector<std::uint64_t> keys(links.size());
  Md5Keys(links.data(), links.size(), keys.data());

  const SiteTest site(settings.SiteBase);
  LinkList list;
  list.Reserve(built.size() + 2 * static_cast<qsizetype>(links.size()));
  std::int32_t linkTotal = 0;
  constexpr std::size_t kAhead = 8;  // keys whose place in `seen` is fetched ahead
  for (std::size_t i = 0; i < std::min(kAhead, keys.size()); ++i) seen.Prefetch(keys[i]);
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (i + kAhead < keys.size()) seen.Prefetch(keys[i + kAhead]);
    const QStringView link = links[i];
    const std::uint64_t key = keys[i];
    const bool lineBreak = pieces[i].lineBreak;
    if (seen.Contains(key) || list.Occurs(link, lineBreak)) continue;
    if (!settings.SiteOnly || site.Matches(link)) {
      list.Append(link, lineBreak);
      ++linkTotal;
    }
    // Remembered even when outside the site: never examined again.
    seen.Insert(key);
  }
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
