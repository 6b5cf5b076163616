#include "web/md5.h"

#include <QCryptographicHash>

#include "web/gbk.h"

namespace qm {
namespace {

QByteArray Digest(const QString& text) {
  return QCryptographicHash::hash(ToGbk(text), QCryptographicHash::Md5);
}

}  // namespace

QString Md5Text(const QString& text, int length) {
  const QByteArray hex = Digest(text).toHex().toUpper();
  if (length == 32) return QString::fromLatin1(hex);
  return QString::fromLatin1(hex.mid(8, 16));
}

std::uint64_t Md5Key(const QString& text) {
  const QByteArray digest = Digest(text);
  std::uint64_t key = 0;
  for (int i = 4; i < 12; ++i) key = (key << 8) | static_cast<unsigned char>(digest[i]);
  return key;
}

}  // namespace qm
