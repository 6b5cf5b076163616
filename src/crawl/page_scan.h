#pragma once
// The character scans of the page analysis (internal to src/crawl): the
// searches for one or two characters, the one pass over a fetched page that
// finds its source rewrites, title fields and address markers, and the test
// and the copy of a link. Each runs on blocks of eight characters (SSE2), the
// page pass on blocks of sixteen (AVX2) where the processor has them and they
// are allowed, and ends with the plain loop, which alone serves a processor
// without them; the answers are the same either way.
#include <QString>
#include <QStringView>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm::pagetext {

// ---- small scanning helpers

// Whether p begins with `literal` (a string literal: its length is known to
// the compiler, which compares it inline).
template <std::size_t N>
bool Equal(const char16_t* p, const char16_t (&literal)[N]) {
  return std::memcmp(p, literal, (N - 1) * sizeof(char16_t)) == 0;
}

template <std::size_t N>
constexpr qsizetype Length(const char16_t (&)[N]) {
  return N - 1;
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
inline qsizetype FirstOfTwo(const char16_t* p, qsizetype n, char16_t a, char16_t b) {
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

inline bool HasLineBreak(QStringView text) {
  return FirstOfTwo(text.utf16(), text.size(), u'\r', u'\n') < text.size();
}

// ---- the raw page: the two source rewrites and the title fields

// A meta tag whose content is an address, and an unquoted image source, both
// become a quoted image source.
inline constexpr char16_t kMetaSource[] = u"content=\"http";  // '=' at 7
inline constexpr char16_t kBareSource[] = u"src=http";        // '=' at 3
inline constexpr char16_t kSourceRewrite[] = u"src='http";
// The starts of the description and keywords fields.
inline constexpr char16_t kDescription[] = u"description\" content=\"";  // '=' at 20
inline constexpr char16_t kKeywords[] = u"keywords\" content=\"";        // '=' at 17

// What one pass over the '=' characters of the raw page finds: every place a
// source rewrite applies, and the first description and keywords markers.
// The rewrite patterns cannot overlap each other or themselves, and neither
// replacement forms a new occurrence of the other, so rewriting all places
// found in one left to right pass equals the two whole-text replacements in
// turn.
struct RawScan {
  std::vector<std::pair<qsizetype, bool>> rewrites;  // position; true for the meta pattern
  qsizetype description = -1;
  qsizetype keywords = -1;
};

// ---- the address markers

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
inline int MarkerAt(const char16_t* p, qsizetype q) {
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

// ---- the one pass over a page

// What one pass over a page finds: with `sources`, the places of the source
// rewrites and the title fields; the markers, each with its closing
// apostrophe; the first apostrophe; and whether the page holds any surrogate
// half.
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

PageScan ScanPage(QStringView page, bool sources);

// ---- links

// A link is dropped when it holds a blank or "javascript:"; `lineBreak`
// tells whether a kept one holds CR or LF.
bool DroppedLink(QStringView link, bool& lineBreak);

// Copies `rest` to `out` with every "//" turned into "/", left to right;
// returns the end of the copy.
char16_t* CopySingleSlashes(char16_t* out, QStringView rest);

}  // namespace qm::pagetext
