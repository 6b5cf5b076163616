#include "web/gbk.h"

#include <iconv.h>

#include <QStringDecoder>
#include <QStringEncoder>

namespace qm {
namespace {

bool IsAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() >= 0x80) return false;
  return true;
}

// iconv, for a Qt built without a GBK converter.
QByteArray Iconv(const char* to, const char* from, const QByteArray& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  QByteArray out;
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.constData());
  size_t srcLeft = static_cast<size_t>(in.size());
  char* dst = out.data();
  size_t dstLeft = static_cast<size_t>(out.size());
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const auto used = out.size() - static_cast<qsizetype>(dstLeft);
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = static_cast<size_t>(out.size() - used);
      continue;
    }
    // An unconvertible or broken sequence: one "?" for it, then go on.
    if (dstLeft == 0) continue;
    *dst++ = '?';
    --dstLeft;
    ++src;
    --srcLeft;
  }
  iconv_close(cd);
  out.resize(out.size() - static_cast<qsizetype>(dstLeft));
  return out;
}

}  // namespace

QByteArray ToGbk(const QString& text) {
  if (IsAscii(text)) return text.toLatin1();
  QStringEncoder encoder("GBK", QStringConverter::Flag::Default);
  if (encoder.isValid()) return encoder.encode(text);
  return Iconv("GBK//TRANSLIT", "UTF-8", text.toUtf8());
}

QString FromGbk(const QByteArray& bytes) {
  QStringDecoder decoder("GBK", QStringConverter::Flag::Default);
  if (decoder.isValid()) return decoder.decode(bytes);
  return QString::fromUtf8(Iconv("UTF-8", "GBK", bytes));
}

}  // namespace qm
