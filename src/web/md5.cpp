#include "web/md5.h"

#include <array>
#include <cstring>

#include "web/gbk.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {
namespace {

// MD5 as published in RFC 1321, over a byte run held in memory. Fingerprints
// are taken of one address at a time, usually a single 64-byte block: a
// compact implementation on a stack buffer, without any allocation, is far
// cheaper here than a general hashing object.
using State = std::array<std::uint32_t, 4>;

// The four rounds of the compression function, unrolled, for one word type:
// a 32-bit word, or a vector of words holding one message per lane.
#define QM_MD5_INLINE [[gnu::always_inline]] inline

// Words go by reference: a vector word passed by value would depend on the
// processor's vector width in the calling convention.
template <typename W>
QM_MD5_INLINE void Finish(W& a, const W& b, const W& t, int r) {
  a = b + ((t << r) | (t >> (32 - r)));
}
template <typename W>
QM_MD5_INLINE void StepF(W& a, const W& b, const W& c, const W& d, const W& m, std::uint32_t k,
                         int r) {
  const W t = a + (d ^ (b & (c ^ d))) + m + k;
  Finish(a, b, t, r);
}
template <typename W>
QM_MD5_INLINE void StepG(W& a, const W& b, const W& c, const W& d, const W& m, std::uint32_t k,
                         int r) {
  const W t = a + (c ^ (d & (b ^ c))) + m + k;
  Finish(a, b, t, r);
}
template <typename W>
QM_MD5_INLINE void StepH(W& a, const W& b, const W& c, const W& d, const W& m, std::uint32_t k,
                         int r) {
  const W t = a + (b ^ c ^ d) + m + k;
  Finish(a, b, t, r);
}
template <typename W>
QM_MD5_INLINE void StepI(W& a, const W& b, const W& c, const W& d, const W& m, std::uint32_t k,
                         int r) {
  const W t = a + (c ^ (b | ~d)) + m + k;
  Finish(a, b, t, r);
}

template <typename W>
QM_MD5_INLINE void Rounds(W* s, const W* m) {
  W a = s[0], b = s[1], c = s[2], d = s[3];
  StepF(a, b, c, d, m[0], 0xd76aa478u, 7);
  StepF(d, a, b, c, m[1], 0xe8c7b756u, 12);
  StepF(c, d, a, b, m[2], 0x242070dbu, 17);
  StepF(b, c, d, a, m[3], 0xc1bdceeeu, 22);
  StepF(a, b, c, d, m[4], 0xf57c0fafu, 7);
  StepF(d, a, b, c, m[5], 0x4787c62au, 12);
  StepF(c, d, a, b, m[6], 0xa8304613u, 17);
  StepF(b, c, d, a, m[7], 0xfd469501u, 22);
  StepF(a, b, c, d, m[8], 0x698098d8u, 7);
  StepF(d, a, b, c, m[9], 0x8b44f7afu, 12);
  StepF(c, d, a, b, m[10], 0xffff5bb1u, 17);
  StepF(b, c, d, a, m[11], 0x895cd7beu, 22);
  StepF(a, b, c, d, m[12], 0x6b901122u, 7);
  StepF(d, a, b, c, m[13], 0xfd987193u, 12);
  StepF(c, d, a, b, m[14], 0xa679438eu, 17);
  StepF(b, c, d, a, m[15], 0x49b40821u, 22);
  StepG(a, b, c, d, m[1], 0xf61e2562u, 5);
  StepG(d, a, b, c, m[6], 0xc040b340u, 9);
  StepG(c, d, a, b, m[11], 0x265e5a51u, 14);
  StepG(b, c, d, a, m[0], 0xe9b6c7aau, 20);
  StepG(a, b, c, d, m[5], 0xd62f105du, 5);
  StepG(d, a, b, c, m[10], 0x02441453u, 9);
  StepG(c, d, a, b, m[15], 0xd8a1e681u, 14);
  StepG(b, c, d, a, m[4], 0xe7d3fbc8u, 20);
  StepG(a, b, c, d, m[9], 0x21e1cde6u, 5);
  StepG(d, a, b, c, m[14], 0xc33707d6u, 9);
  StepG(c, d, a, b, m[3], 0xf4d50d87u, 14);
  StepG(b, c, d, a, m[8], 0x455a14edu, 20);
  StepG(a, b, c, d, m[13], 0xa9e3e905u, 5);
  StepG(d, a, b, c, m[2], 0xfcefa3f8u, 9);
  StepG(c, d, a, b, m[7], 0x676f02d9u, 14);
  StepG(b, c, d, a, m[12], 0x8d2a4c8au, 20);
  StepH(a, b, c, d, m[5], 0xfffa3942u, 4);
  StepH(d, a, b, c, m[8], 0x8771f681u, 11);
  StepH(c, d, a, b, m[11], 0x6d9d6122u, 16);
  StepH(b, c, d, a, m[14], 0xfde5380cu, 23);
  StepH(a, b, c, d, m[1], 0xa4beea44u, 4);
  StepH(d, a, b, c, m[4], 0x4bdecfa9u, 11);
  StepH(c, d, a, b, m[7], 0xf6bb4b60u, 16);
  StepH(b, c, d, a, m[10], 0xbebfbc70u, 23);
  StepH(a, b, c, d, m[13], 0x289b7ec6u, 4);
  StepH(d, a, b, c, m[0], 0xeaa127fau, 11);
  StepH(c, d, a, b, m[3], 0xd4ef3085u, 16);
  StepH(b, c, d, a, m[6], 0x04881d05u, 23);
  StepH(a, b, c, d, m[9], 0xd9d4d039u, 4);
  StepH(d, a, b, c, m[12], 0xe6db99e5u, 11);
  StepH(c, d, a, b, m[15], 0x1fa27cf8u, 16);
  StepH(b, c, d, a, m[2], 0xc4ac5665u, 23);
  StepI(a, b, c, d, m[0], 0xf4292244u, 6);
  StepI(d, a, b, c, m[7], 0x432aff97u, 10);
  StepI(c, d, a, b, m[14], 0xab9423a7u, 15);
  StepI(b, c, d, a, m[5], 0xfc93a039u, 21);
  StepI(a, b, c, d, m[12], 0x655b59c3u, 6);
  StepI(d, a, b, c, m[3], 0x8f0ccc92u, 10);
  StepI(c, d, a, b, m[10], 0xffeff47du, 15);
  StepI(b, c, d, a, m[1], 0x85845dd1u, 21);
  StepI(a, b, c, d, m[8], 0x6fa87e4fu, 6);
  StepI(d, a, b, c, m[15], 0xfe2ce6e0u, 10);
  StepI(c, d, a, b, m[6], 0xa3014314u, 15);
  StepI(b, c, d, a, m[13], 0x4e0811a1u, 21);
  StepI(a, b, c, d, m[4], 0xf7537e82u, 6);
  StepI(d, a, b, c, m[11], 0xbd3af235u, 10);
  StepI(c, d, a, b, m[2], 0x2ad7d2bbu, 15);
  StepI(b, c, d, a, m[9], 0xeb86d391u, 21);
  s[0] += a;
  s[1] += b;
  s[2] += c;
  s[3] += d;
}

void Block(State& s, const unsigned char* p) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = static_cast<std::uint32_t>(p[4 * i]) | static_cast<std::uint32_t>(p[4 * i + 1]) << 8 |
           static_cast<std::uint32_t>(p[4 * i + 2]) << 16 |
           static_cast<std::uint32_t>(p[4 * i + 3]) << 24;
  Rounds<std::uint32_t>(s.data(), m);
}

State Digest(const unsigned char* data, std::size_t length) {
  State s = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::size_t done = 0;
  for (; length - done >= 64; done += 64) Block(s, data + done);
  // The tail, the 0x80 marker, zeros and the bit length: one or two blocks.
  unsigned char tail[128] = {};
  const std::size_t rest = length - done;
  if (rest > 0) std::memcpy(tail, data + done, rest);
  tail[rest] = 0x80;
  const std::size_t blocks = rest < 56 ? 1 : 2;
  const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
  for (int i = 0; i < 8; ++i)
    tail[blocks * 64 - 8 + static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(bits >> (8 * i));
  Block(s, tail);
  if (blocks == 2) Block(s, tail + 64);
  return s;
}

// The digest of a text's code-page bytes. ASCII text is its own bytes and is
// narrowed on the stack; anything else goes through the code page, a unit at
// a time.
State DigestOf(QStringView text) {
  constexpr qsizetype kStack = 512;
  const qsizetype n = text.size();
  if (n <= kStack) {
    unsigned char bytes[kStack];
    const char16_t* p = text.utf16();
    char16_t any = 0;
    for (qsizetype i = 0; i < n; ++i) {
      any |= p[i];
      bytes[i] = static_cast<unsigned char>(p[i]);
    }
    if (any < 0x80) return Digest(bytes, static_cast<std::size_t>(n));
  }
  const QByteArray bytes = FingerprintBytes(text);
  return Digest(reinterpret_cast<const unsigned char*>(bytes.constData()),
                static_cast<std::size_t>(bytes.size()));
}

inline std::uint32_t ByteSwap(std::uint32_t x) {
  return (x >> 24) | ((x >> 8) & 0xff00) | ((x << 8) & 0xff0000) | (x << 24);
}

// Many single-block messages at once, one per lane of a vector: MD5 is a
// chain of dependent steps, so independent messages side by side use the
// processor's width (and its overlap of several chains) that one message
// leaves idle.
constexpr int kLanes = 32;
constexpr qsizetype kLaneBytes = 55;  // the longest message that fits one block
using Lanes = std::uint32_t __attribute__((vector_size(4 * kLanes)));

// The resolver of a cloned function runs while the program is being loaded,
// before a ThreadSanitizer runtime is ready: no clones in such a build.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void LaneRounds(Lanes* s, const Lanes* m) {
  Rounds<Lanes>(s, m);
}

// Keys of up to kLanes ASCII texts of at most kLaneBytes characters.
void LaneKeys(const QStringView* texts, int count, std::uint64_t* keys) {
  Lanes m[16];
  for (Lanes& word : m) word = Lanes{};
  for (int lane = 0; lane < count; ++lane) {
    const qsizetype n = texts[lane].size();
    const char16_t* p = texts[lane].utf16();
    // Every four characters make one little-endian word of their low bytes.
    qsizetype k = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    for (; k + 8 <= n; k += 8) {
      const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      const auto bytes =
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(chars, chars)));
      m[k >> 2][lane] = static_cast<std::uint32_t>(bytes);
      m[(k >> 2) + 1][lane] = static_cast<std::uint32_t>(bytes >> 32);
    }
#endif
    for (; k + 4 <= n; k += 4)
      m[k >> 2][lane] =
          static_cast<std::uint32_t>(p[k]) | static_cast<std::uint32_t>(p[k + 1]) << 8 |
          static_cast<std::uint32_t>(p[k + 2]) << 16 | static_cast<std::uint32_t>(p[k + 3]) << 24;
    std::uint32_t last = 0x80u << (8 * (n - k));
    for (qsizetype j = k; j < n; ++j) last |= static_cast<std::uint32_t>(p[j]) << (8 * (j - k));
    m[k >> 2][lane] = last;
    m[14][lane] = static_cast<std::uint32_t>(n * 8);
  }
  Lanes s[4];
  const std::uint32_t init[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (int w = 0; w < 4; ++w)
    for (int lane = 0; lane < kLanes; ++lane) s[w][lane] = init[w];
  LaneRounds(s, m);
  for (int lane = 0; lane < count; ++lane)
    keys[lane] = static_cast<std::uint64_t>(ByteSwap(s[1][lane])) << 32 | ByteSwap(s[2][lane]);
}

bool FitsLane(QStringView text) {
  const qsizetype n = text.size();
  if (n > kLaneBytes) return false;
  const char16_t* p = text.utf16();
  char16_t any = 0;
  for (qsizetype i = 0; i < n; ++i) any |= p[i];
  return any < 0x80;
}

}  // namespace

QString Md5Text(const QString& text, int length) {
  const State s = DigestOf(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Each word least significant byte first, two upper-case digits a byte.
  char hex[32];
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b) {
      const unsigned byte = (s[static_cast<std::size_t>(w)] >> (8 * b)) & 0xff;
      hex[w * 8 + b * 2] = kHex[byte >> 4];
      hex[w * 8 + b * 2 + 1] = kHex[byte & 15];
    }
  if (length == 32) return QString::fromLatin1(hex, 32);
  return QString::fromLatin1(hex + 8, 16);
}

std::uint64_t Md5Key(QStringView text) {
  const State s = DigestOf(text);
  return static_cast<std::uint64_t>(ByteSwap(s[1])) << 32 | ByteSwap(s[2]);
}

std::uint64_t Md5Key(const QString& text) { return Md5Key(QStringView(text)); }

}  // namespace qm

namespace qm {

void Md5Keys(const QStringView* texts, std::size_t count, std::uint64_t* keys) {
  QStringView batch[kLanes];
  std::size_t at[kLanes];
  int filled = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!FitsLane(texts[i])) {
      keys[i] = Md5Key(texts[i]);
      continue;
    }
    batch[filled] = texts[i];
    at[filled] = i;
    if (++filled == kLanes || i + 1 == count) {
      std::uint64_t out[kLanes];
      LaneKeys(batch, filled, out);
      for (int k = 0; k < filled; ++k) keys[at[k]] = out[k];
      filled = 0;
    }
  }
  if (filled > 0) {
    std::uint64_t out[kLanes];
    LaneKeys(batch, filled, out);
    for (int k = 0; k < filled; ++k) keys[at[k]] = out[k];
  }
}

}  // namespace qm
