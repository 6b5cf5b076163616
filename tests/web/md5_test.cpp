#include <gtest/gtest.h>

#include <QCryptographicHash>

#include "web/fingerprint_set.h"
#include "web/gbk.h"
#include "web/md5.h"

using namespace qm;

TEST(Md5Text, KnownDigestsInBothLengths) {
  EXPECT_EQ(Md5Text("abc", 32), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Md5Text("abc", 16), "3CD24FB0D6963F7D");
  EXPECT_EQ(Md5Text("", 32), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Text("", 16), "8F00B204E9800998");
  for (int len : {0, 8, 64, -1}) EXPECT_EQ(Md5Text("abc", len), "3CD24FB0D6963F7D");
  EXPECT_NE(Md5Text("ABC", 16), Md5Text("abc", 16));
}

TEST(Md5Text, ChineseTextIsHashedAsGbkBytes) {
  // 中文 in GBK is D6 D0 CE C4.
  EXPECT_EQ(ToGbk(QString::fromUtf8("中文")), QByteArray::fromHex("d6d0cec4"));
  EXPECT_EQ(FromGbk(QByteArray::fromHex("d6d0cec4")), QString::fromUtf8("中文"));
  EXPECT_EQ(Md5Text(QString::fromUtf8("中文"), 32),
            QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromHex("d6d0cec4"),
                                                          QCryptographicHash::Md5)
                                    .toHex()
                                    .toUpper()));
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
