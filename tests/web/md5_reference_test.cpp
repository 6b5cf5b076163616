// The fingerprint digest held against the library's MD5 on many lengths,
// block boundaries included, and on text that is not ASCII.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <random>
#include <vector>

#include "web/gbk.h"
#include "web/md5.h"

namespace {

// The bytes of the few letters beyond ASCII used below, written out by hand.
QByteArray ReferenceBytes(const QString& text) {
  QByteArray bytes;
  for (const QChar c : text) {
    switch (c.unicode()) {
      case u'中':
        bytes += QByteArray::fromHex("d6d0");
        break;
      case u'文':
        bytes += QByteArray::fromHex("cec4");
        break;
      case u'é':
        bytes += QByteArray::fromHex("a8a6");
        break;
      case u'\u3000':
        bytes += QByteArray::fromHex("a1a1");
        break;
      default:
        bytes += static_cast<char>(c.unicode() & 0xff);  // one-byte code, or none
    }
  }
  return bytes;
}

QString LibraryHex(const QString& text) {
  return QString::fromLatin1(
      QCryptographicHash::hash(ReferenceBytes(text), QCryptographicHash::Md5).toHex().toUpper());
}

std::uint64_t LibraryKey(const QString& text) {
  return LibraryHex(text).mid(8, 16).toULongLong(nullptr, 16);
}

TEST(Md5Reference, EveryLengthAcrossTheBlockBoundaries) {
  std::mt19937 rng(11);
  for (int length = 0; length <= 600; ++length) {
    QString text;
    for (int i = 0; i < length; ++i) text += QChar(static_cast<char16_t>(32 + rng() % 95));
    const QString hex = LibraryHex(text);
    ASSERT_EQ(qm::Md5Text(text, 32), hex) << length;
    ASSERT_EQ(qm::Md5Text(text, 16), hex.mid(8, 16)) << length;
    ASSERT_EQ(qm::Md5Key(text), LibraryKey(text)) << length;
    ASSERT_EQ(qm::Md5Key(QStringView(text)), qm::Md5Key(text));
  }
}

TEST(Md5Reference, TextBeyondAsciiGoesThroughTheCodePage) {
  std::mt19937 rng(12);
  const char16_t extra[] = {u'中', u'文', u'é', u'\u00a0', u'\u20ac', u'\u3000', u'\uac00', u'/'};
  for (int round = 0; round < 300; ++round) {
    QString text;
    const int length = static_cast<int>(rng() % 200);
    for (int i = 0; i < length; ++i)
      text +=
          rng() % 4 == 0 ? QChar(extra[rng() % 8]) : QChar(static_cast<char16_t>('a' + rng() % 26));
    ASSERT_EQ(qm::Md5Text(text, 32), LibraryHex(text)) << round;
    ASSERT_EQ(qm::Md5Key(text), LibraryKey(text)) << round;
  }
  // A long text beyond the stack buffer, plain ASCII.
  const QString longText(5000, QLatin1Char('q'));
  EXPECT_EQ(qm::Md5Text(longText, 32), LibraryHex(longText));
}

TEST(Md5Reference, KeysOfABatchEqualKeysOneByOne) {
  // Lengths around the one-block limit, text beyond ASCII among them, and
  // batches that do not fill the last group.
  std::mt19937 rng(13);
  for (int round = 0; round < 200; ++round) {
    const std::size_t count = rng() % 80;
    std::vector<QString> texts;
    for (std::size_t i = 0; i < count; ++i) {
      QString t;
      const int length = static_cast<int>(rng() % 70);
      for (int k = 0; k < length; ++k) t += QChar(static_cast<char16_t>(32 + rng() % 95));
      if (rng() % 6 == 0) t += QChar(u'中');
      texts.push_back(t);
    }
    std::vector<QStringView> views(texts.begin(), texts.end());
    std::vector<std::uint64_t> keys(count, 0);
    qm::Md5Keys(views.data(), count, keys.data());
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_EQ(keys[i], LibraryKey(texts[i])) << texts[i].size();
  }
}

}  // namespace
