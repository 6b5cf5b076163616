#include "crawl/page_normalise.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "crawl/page_analyse.h"

namespace qm {

namespace pagetext {

namespace {

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

}  // namespace

QString NormaliseByLibrary(QString page) {
  page.replace(QLatin1Char('"'), QLatin1Char('\''));
  page = page.toLower();
  page.replace(QStringLiteral("\\/"), QStringLiteral("/"));
  return page;
}

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

}  // namespace pagetext

QString NormalisePageText(const QString& page) {
  QString text;
  if (!pagetext::NormaliseFast(page, text, nullptr)) return pagetext::NormaliseByLibrary(page);
  return text;
}

}  // namespace qm
