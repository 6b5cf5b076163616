#include "web/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include <QStringDecoder>
#include <QStringEncoder>

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
    std::memcpy(out.data() + used, replacement.constData(), static_cast<size_t>(replacement.size()));
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

QString FromGbk(const QByteArray& bytes) {
  QStringDecoder decoder("GBK", QStringConverter::Flag::Default);
  if (decoder.isValid()) return decoder.decode(bytes);
  return QString::fromUtf8(IconvConvert(bytes, "UTF-8", "GBK", "\xEF\xBF\xBD").value_or(QByteArray()));
}

}  // namespace qm
