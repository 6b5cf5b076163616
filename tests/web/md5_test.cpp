#include "web/md5.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include "web/fingerprint_set.h"
#include "web/gbk.h"

using namespace qm;

TEST(Md5Text, KnownDigestsInBothLengths) {
  EXPECT_EQ(Md5Text("abc", 32), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Md5Text("abc", 16), "3CD24FB0D6963F7D");
  EXPECT_EQ(Md5Text("", 32), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Text("", 16), "8F00B204E9800998");
  for (int len : {0, 8, 64, -1}) EXPECT_EQ(Md5Text("abc", len), "3CD24FB0D6963F7D");
  EXPECT_NE(Md5Text("ABC", 16), Md5Text("abc", 16));
}

TEST(Md5Text, EachCharacterGivesItsCodePageBytes) {
  // The digest of bytes written out by hand, not by the project's encoder: a
  // double-byte code gives its two bytes, anything else (a one-byte code, or
  // a letter the code page writes as "?") the low byte of its UTF-16 unit.
  const struct {
    const char* name;
    QString text;
    const char* hex;
  } cases[] = {
      {"chinese", QString::fromUtf8("中文"), "d6d0cec4"},
      {"korean", QString::fromUtf8("한국"), "5c6d"},
      {"other korean", QString::fromUtf8("서울"), "1cb8"},
      {"euro sign, one byte in the code page", QString::fromUtf8("€"), "ac"},
      {"accented letter with a code", QString::fromUtf8("é"), "a8a6"},
      {"thai", QString::fromUtf8("ไทย"), "441722"},
      {"emoji, each half of the pair", QString::fromUtf8("😀"), "3d00"},
      {"mixed", QString::fromUtf8("/p/x😀中.html"), "2f702f783d00d6d02e68746d6c"},
  };
  for (const auto& c : cases) {
    const QByteArray bytes = QByteArray::fromHex(c.hex);
    const QString expected = QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
    EXPECT_EQ(Md5Text(c.text, 32), expected) << c.name;
    EXPECT_EQ(Md5Key(c.text), expected.mid(8, 16).toULongLong(nullptr, 16)) << c.name;
  }
  EXPECT_NE(Md5Text(QString::fromUtf8("/p/한국.html"), 16),
            Md5Text(QString::fromUtf8("/p/서울.html"), 16));
  EXPECT_EQ(ToGbk(QString::fromUtf8("中文")), QByteArray::fromHex("d6d0cec4"));
  EXPECT_EQ(FromGbk(QByteArray::fromHex("d6d0cec4")), QString::fromUtf8("中文"));
}

TEST(Md5Key, IsTheSixteenDigitFormAsANumber) {
  EXPECT_EQ(Md5Key("abc"), 0x3CD24FB0D6963F7Dull);
  EXPECT_EQ(Md5Key(""), 0x8F00B204E9800998ull);
}

TEST(FingerprintSet, InsertContainsClearAndTextLength) {
  FingerprintSet set;
  EXPECT_FALSE(set.Contains(42));
  EXPECT_TRUE(set.Insert(42));
  EXPECT_FALSE(set.Insert(42));
  EXPECT_TRUE(set.Insert(0));  // the key 0 is a key like any other
  EXPECT_TRUE(set.Contains(0));
  EXPECT_EQ(set.Count(), 2u);
  EXPECT_EQ(set.TextLength(), 34u);
  for (std::uint64_t i = 1; i <= 100000; ++i) set.Insert(Md5Key(QString::number(i)));
  EXPECT_EQ(set.Count(), 100002u);
  for (std::uint64_t i = 1; i <= 100000; ++i) ASSERT_TRUE(set.Contains(Md5Key(QString::number(i))));
  EXPECT_FALSE(set.Contains(Md5Key("not inserted")));
  EXPECT_LE(set.MemoryBytes() / set.Count(), 34u);
  set.Clear();
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_FALSE(set.Contains(42));
  EXPECT_FALSE(set.Contains(0));
}
