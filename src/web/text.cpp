#include "web/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

#include "web/yield.h"

namespace qm {

qsizetype FindText(QStringView haystack, QStringView needle, qsizetype from) {
  const qsizetype n = haystack.size();
  const qsizetype m = needle.size();
  if (from < 0) from = 0;
  if (m == 0) return from <= n ? from : -1;
  if (m > n - from) return -1;
  const char16_t* h = haystack.utf16();
  const char16_t* w = needle.utf16();
  const char16_t first = w[0];
  const char16_t last = w[m - 1];
  // Where the first and the last character both fit, the middle decides.
  auto matches = [&](qsizetype at) {
    return std::memcmp(h + at + 1, w + 1, static_cast<std::size_t>(m > 2 ? m - 2 : 0) * 2) == 0;
  };
  const qsizetype lastStart = n - m;  // the last position a match can begin
  qsizetype i = from;
#if defined(__SSE2__)
  const __m128i vFirst = _mm_set1_epi16(static_cast<short>(first));
  const __m128i vLast = _mm_set1_epi16(static_cast<short>(last));
  for (; i + 7 <= lastStart; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
    auto bits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, vFirst), _mm_cmpeq_epi16(b, vLast))));
    while (bits) {
      const qsizetype at = i + std::countr_zero(bits) / 2;
      if (matches(at)) return at;
      bits &= bits - 1;
      bits &= bits - 1;  // two mask bits per character
    }
  }
#endif
  for (; i <= lastStart; ++i)
    if (h[i] == first && h[i + m - 1] == last && matches(i)) return i;
  return -1;
}

QString CutText(const QString& text, const QString& start, const QString& end) {
  const qsizetype a = FindText(text, start);
  if (a < 0) return QStringLiteral("Nothing");
  const qsizetype b = a + start.size();
  const qsizetype c = FindText(text, end, b);
  if (c < 0) return QString();
  return text.mid(b, c - b);
}

namespace {

int HexValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// The byte of a "%XX" escape at `pos`, or -1.
int EscapedByte(const QString& s, qsizetype pos) {
  if (pos + 2 >= s.size()) return -1;
  if (s[pos] != u'%') return -1;
  const int hi = HexValue(s[pos + 1]);
  const int lo = HexValue(s[pos + 2]);
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

bool IsReservedForDecodeUri(char16_t c) {
  switch (c) {
    case ';':
    case '/':
    case '?':
    case ':':
    case '@':
    case '&':
    case '=':
    case '+':
    case '$':
    case ',':
    case '#':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<QString> DecodeUri(const QString& address) {
  QString out;
  out.reserve(address.size());
  const qsizetype n = address.size();
  for (qsizetype k = 0; k < n; ++k) {
    const QChar c = address[k];
    if (c != u'%') {
      out.append(c);
      continue;
    }
    const int b = EscapedByte(address, k);
    if (b < 0) return std::nullopt;
    if (b < 0x80) {
      if (IsReservedForDecodeUri(static_cast<char16_t>(b)))
        out.append(QStringView(address).mid(k, 3));  // kept as written, hex case too
      else
        out.append(QChar(static_cast<char16_t>(b)));
      k += 2;
      continue;
    }
    // A UTF-8 sequence: the lead byte tells its length.
    int len;
    char32_t cp;
    if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    } else {
      return std::nullopt;
    }
    qsizetype pos = k + 3;
    for (int i = 1; i < len; ++i, pos += 3) {
      if (pos >= n) return std::nullopt;
      const int cont = EscapedByte(address, pos);
      if (cont < 0 || (cont & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | static_cast<char32_t>(cont & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp >= 0x10000) {
      const char16_t pair[2] = {QChar::highSurrogate(cp), QChar::lowSurrogate(cp)};
      out.append(QStringView(pair, 2));
    } else {
      out.append(QChar(static_cast<char16_t>(cp)));
    }
    k = pos - 1;
  }
  return out;
}

QString DecodeUrl(const QString& address) {
  auto decoded = DecodeUri(address);
  return decoded ? *decoded : QStringLiteral("Nothing");
}

namespace {

// The text of the leading number: blanks skipped, an optional sign, digits,
// an optional fraction. Empty when no digit comes.
std::string LeadingNumberText(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
  std::string s;
  if (i < n && (text[i] == u'-' || text[i] == u'+'))
    s.push_back(static_cast<char>(text[i++].unicode()));
  bool digits = false;
  while (i < n && text[i] >= u'0' && text[i] <= u'9') {
    s.push_back(static_cast<char>(text[i++].unicode()));
    digits = true;
  }
  if (i < n && text[i] == u'.') {
    s.push_back('.');
    ++i;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
      s.push_back(static_cast<char>(text[i++].unicode()));
      digits = true;
    }
  }
  if (!digits) return {};
  return s;
}

}  // namespace

double LeadingDecimal(const QString& text) {
  const std::string s = LeadingNumberText(text);
  if (s.empty()) return 0.0;
  return std::strtod(s.c_str(), nullptr);
}

double LeadingNumber(const QString& text) {
  // nearbyint in the default rounding mode takes a half to the even neighbour.
  const double v = std::nearbyint(LeadingDecimal(text));
  return v == 0.0 ? 0.0 : v;  // no negative zero
}

std::optional<std::int32_t> LeadingInt32(const QString& text) {
  const double v = LeadingNumber(text);
  if (v < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      v > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return static_cast<std::int32_t>(v);
}

QString ToCrLf(const QString& text) {
  QString out;
  out.reserve(text.size() + 8);
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
    out += text[i];
  }
  return out;
}

void WaitMs(std::int32_t ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  const bool pump = HasYieldHook();
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) return;
    if (!pump) {
      std::this_thread::sleep_until(deadline);
      continue;
    }
    YieldNow();
    // Short sleeps between pumps keep the window responsive without
    // spinning a core.
    const auto left = deadline - Clock::now();
    if (left > std::chrono::milliseconds(0))
      std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(2)));
  }
}

}  // namespace qm
