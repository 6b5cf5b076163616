#include "web/gbk.h"

#include <iconv.h>

#include <QStringDecoder>
#include <QStringEncoder>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qm {
namespace {

bool IsAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() >= 0x80) return false;
  return true;
}

}  // namespace

std::optional<QByteArray> IconvConvert(const QByteArray& in, const char* to, const char* from,
                                       const QByteArray& replacement) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  QByteArray out;
  out.resize(in.size() * 3 + 16);
  char* src = const_cast<char*>(in.constData());
  size_t srcLeft = static_cast<size_t>(in.size());
  qsizetype used = 0;
  auto grow = [&] { out.resize(out.size() * 2); };
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = static_cast<size_t>(out.size() - used);
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - static_cast<qsizetype>(dstLeft);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      grow();
      continue;
    }
    if (errno != EILSEQ && errno != EINVAL) break;
    // A byte that cannot be converted: the replacement for it, then go on.
    while (out.size() - used < replacement.size()) grow();
    std::memcpy(out.data() + used, replacement.constData(),
                static_cast<size_t>(replacement.size()));
    used += replacement.size();
    ++src;
    --srcLeft;
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

QByteArray ToGbk(const QString& text) {
  if (IsAscii(text)) return text.toLatin1();
  QStringEncoder encoder("GBK", QStringConverter::Flag::Default);
  if (encoder.isValid()) return encoder.encode(text);
  return IconvConvert(text.toUtf8(), "GBK//TRANSLIT", "UTF-8", "?").value_or(QByteArray());
}

namespace {

// The double-byte code of every UTF-16 unit (lead << 8 | trail), 0 for a unit
// the code page writes in one byte or not at all. Made once, on first use.
const std::vector<std::uint16_t>& DoubleByteCodes() {
  static const std::vector<std::uint16_t> codes = [] {
    std::vector<std::uint16_t> table(0x10000, 0);
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    for (char32_t c = 0x80; c < 0x10000; ++c) {
      if (QChar::isSurrogate(c)) continue;
      const QString unit(QChar(static_cast<char16_t>(c)));
      const QByteArray code = encoder.isValid() ? QByteArray(encoder.encode(unit)) : ToGbk(unit);
      const auto lead = code.size() == 2 ? static_cast<unsigned char>(code[0]) : 0;
      if (lead >= 0x81)
        table[c] = static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(code[1]));
    }
    return table;
  }();
  return codes;
}

}  // namespace

QByteArray FingerprintBytes(QStringView text) {
  QByteArray bytes;
  bytes.reserve(text.size() * 2);
  const std::vector<std::uint16_t>* codes = nullptr;
  for (const QChar c : text) {
    const char16_t unit = c.unicode();
    if (unit >= 0x80) {
      if (!codes) codes = &DoubleByteCodes();
      if (const std::uint16_t code = (*codes)[unit]) {
        bytes.append(static_cast<char>(code >> 8));
        bytes.append(static_cast<char>(code & 0xff));
        continue;
      }
    }
    bytes.append(static_cast<char>(unit & 0xff));
  }
  return bytes;
}

QString FromGbk(const QByteArray& bytes) {
  QStringDecoder decoder("GBK", QStringConverter::Flag::Default);
  if (decoder.isValid()) return decoder.decode(bytes);
  return QString::fromUtf8(
      IconvConvert(bytes, "UTF-8", "GBK", "\xEF\xBF\xBD").value_or(QByteArray()));
}

}  // namespace qm
