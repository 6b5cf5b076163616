#include "crawl/page_scan.h"

#include <atomic>
#include <bit>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "crawl/page_analyse.h"

namespace qm {

namespace pagetext {

namespace {

std::atomic<bool> wideVectors{true};

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

}  // namespace

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

// Eight characters at a time while no slash follows a slash.
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

}  // namespace pagetext

void AllowWideVectors(bool allowed) {
  pagetext::wideVectors.store(allowed, std::memory_order_relaxed);
}

}  // namespace qm
