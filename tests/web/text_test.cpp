// Text helpers, the crawl's filters and the MD5 fingerprints.
#include "web/text.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <chrono>
#include <random>
#include <vector>

#include "web/filters.h"
#include "web/fingerprint_set.h"
#include "web/md5.h"
#include "web/yield.h"

namespace {

TEST(CutText, TextBetweenTheFirstStartAndTheNextEnd) {
  EXPECT_EQ(qm::CutText("abc", "<t>", "<"), "Nothing");      // no start
  EXPECT_EQ(qm::CutText("x<t>Page", "<t>", "<"), "");        // no end after it
  EXPECT_EQ(qm::CutText("<a<t>T</t>", "<t>", "<"), "T");     // the end after the start
  EXPECT_EQ(qm::CutText("s=one&s=two&", "s=", "&"), "one");  // the first start
}

// Escapes of reserved characters stay as written; malformed text gives "Nothing".
TEST(DecodeUrl, DecodesUtf8KeepsReservedEscapesAndRefusesMalformed) {
  EXPECT_EQ(qm::DecodeUrl("%E4%B8%AD%F0%9F%98%80%41%20%25"), "中😀A %");
  EXPECT_EQ(qm::DecodeUrl("%3b%2f%3F%3a%40%26%3D%2B%24%2C%23"),
            "%3b%2f%3F%3a%40%26%3D%2B%24%2C%23");
  for (const char* bad : {"%zz", "%80", "%C0%AF", "%ED%A0%80", "%", "%4", "%E4%B8", "%E4%B8%41",
                          "%F8%88%80%80%80", "%F4%90%80%80", "%E0%80%80"})
    EXPECT_EQ(qm::DecodeUrl(bad), "Nothing") << bad;
}

TEST(LeadingNumber, ReadsTheLeadingNumberRoundingHalfToEven) {
  const std::pair<const char*, double> cases[] = {
      {"100ms", 100}, {"  2000ms", 2000}, {"ms100", 0}, {"", 0},   {"2.5", 2}, {"3.5", 4},
      {"10.5", 10},   {"11.5", 12},       {"-7x", -7},  {".5", 0}, {".6", 1}};
  for (const auto& [text, number] : cases) EXPECT_EQ(qm::LeadingNumber(text), number) << text;
  EXPECT_EQ(qm::LeadingDecimal("2.5 at once"), 2.5);  // unrounded
  EXPECT_EQ(qm::LeadingInt32("-2147483648"), -2147483647 - 1);
  EXPECT_FALSE(qm::LeadingInt32("2147483648").has_value());
  EXPECT_EQ(qm::ToCrLf("\na\nb\r\nc"), "\r\na\r\nb\r\nc");  // lists are cut at CR LF
}

TEST(WaitMs, WaitsAtLeastTheTimeWhileTheHookRuns) {
  int yields = 0;
  qm::SetYieldHook([&] { ++yields; });
  const auto start = std::chrono::steady_clock::now();
  qm::WaitMs(60);
  qm::SetYieldHook({});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_GT(yields, 1);
}

TEST(FindText, AgreesWithIndexOf) {
  std::mt19937 rng(5);
  auto random = [&](unsigned most) {
    QString t;
    for (unsigned i = rng() % (most + 1); i > 0; --i) t += QChar(u"ab\u4e2d"[rng() % 3]);
    return t;
  };
  for (unsigned round = 0; round < 20000; ++round) {
    const QString text = random(70), needle = random(round % 10 ? 5 : 20);
    const qsizetype from = rng() % (text.size() + 3);
    ASSERT_EQ(qm::FindText(text, needle, from), text.indexOf(needle, from))
        << text.toStdString() << " / " << needle.toStdString() << " from " << from;
  }
}

// The root, then the rewritten address.
TEST(SiteRoot, NormalisesTheAddressAndGivesSchemeHostSlash) {
  const auto root = [](QString address, int flag = 0) {
    const QString root = qm::SiteRoot(address, flag);
    return root + " " + address;
  };
  EXPECT_EQ(root("example.com"), "http://www.example.com/ http://www.example.com/");
  EXPECT_EQ(root("HTTP://E x.com/A%E4%B8%AD"), "http://ex.com/ http://ex.com/a中/");  // decoded
  EXPECT_EQ(root("https://Ex.com/x"), "https://ex.com/ https://ex.com/x/");
  EXPECT_EQ(root("http://ex.com/1%zz"), "http://ex.com/ http://ex.com/1%zz/");  // undecodable
  EXPECT_EQ(root("www.x.com", 1), " http://www.x.com/");  // no root but for flag 0
}

// Each row: the filter, its setting, the text or address held against it, the answer.
TEST(Filters, KeywordsFileTypesAndSite) {
  const auto K = qm::KeyWordMatch, T = qm::FileTypeMatch, S = qm::InSite;
  const char* base = "http://ex.com\r\nnot an address\r\nhttp://other.org/x";
  const struct {
    const char* name;
    bool (*filter)(const QString&, const qm::CrawlSettings&);
    const char *setting, *input;
    bool match;
    bool browser = false;  // browser addressing
  } rows[] = {{"no keywords", K, "", "anything", true},
              {"one keyword, as typed", K, "Cat", "a Cat page", true},
              {"one keyword, case kept", K, "Cat", "a cat page", false},
              {"several, lower-cased", K, "Cat*Dog", "a dog page", true},
              {"several, the text's case kept", K, "Cat*Dog", "a Dog page", false},
              {"trailing star: any text", K, "cat*", "unrelated", true},
              {"no types", T, "", "no-dot", true},
              {"star alone", T, "*", "http://x/a.jpg", false},
              {"extension part of the types", T, "jpg*", "http://x/a.pg", true},
              {"longer extension", T, "jpg*", "http://x/a.jpeg", false},
              {"first line", S, base, "http://ex.com/a", true},
              {"last line", S, base, "http://other.org/x/y", true},
              {"shorter than the line", S, base, "http://other.org/", false},
              {"not anchored", S, base, "http://evil.net/?u=http://ex.com", true},
              {"empty line after a final CR LF", S, "http://a.ex/\r\n", "http://b.ex/x", false},
              {"type case kept", T, "jpg*", "http://x/A.JPG", false},
              {"browser: type case ignored", T, "jpg*", "http://x/A.JPG", true, true},
              {"browser: the name's extension", T, "JPG", "http://x/p.jpg?w=1.5", true, true},
              {"browser: a host is no name", T, "jpg*", "http://x.jpg/p?w", false, true},
              {"site case kept", S, "HTTP://EX.com/", "http://ex.com/A", false},
              {"browser: site case ignored", S, "HTTP://EX.com/", "http://ex.com/A", true, true}};
  for (const auto& r : rows)  // the setting stands in every field; each filter reads its own
    EXPECT_EQ(r.filter(r.input, {true, r.setting, r.setting, r.setting, r.browser}), r.match)
        << r.name;
}

// Hand-written code-page bytes: a double-byte code gives its two bytes, anything else the
// low byte of its UTF-16 unit (Korean, Thai, emoji halves: letters the code page lacks).
const std::pair<const char*, const char*> kCodePage[] = {
    {"中文", "d6d0cec4"}, {"한국", "5c6d"}, {"서울", "1cb8"},
    {"€", "ac"},          {"é", "a8a6"},    {"\u3000", "a1a1"},
    {"ไทย", "441722"},    {"😀", "3d00"},    {"/x😀中.h", "2f783d00d6d02e68"},
    {"丂", "8140"}};  // the lowest lead byte

// The code-page texts, then ASCII texts of every length across the block and stack-buffer
// boundaries: alone and in one batch, against the library's MD5 of the expected bytes.
TEST(Md5Text, AgreesWithTheLibraryOnTheCodePageBytes) {
  EXPECT_EQ(qm::Md5Text("abc", 32), "900150983CD24FB0D6963F7D28E17F72");
  for (int length : {16, 0, -1}) EXPECT_EQ(qm::Md5Text("abc", length), "3CD24FB0D6963F7D");
  std::vector<std::pair<QString, QByteArray>> cases;
  for (const auto& [text, hex] : kCodePage) cases.emplace_back(text, QByteArray::fromHex(hex));
  std::mt19937 rng(11);
  for (QByteArray bytes; bytes.size() <= 600; bytes += char(32 + rng() % 95))
    cases.emplace_back(QString::fromLatin1(bytes), bytes);
  std::vector<QStringView> views;
  for (const auto& c : cases) views.push_back(c.first);
  std::vector<std::uint64_t> keys(cases.size());
  qm::Md5Keys(views.data(), views.size(), keys.data());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const QString hex =
        QCryptographicHash::hash(cases[i].second, QCryptographicHash::Md5).toHex().toUpper();
    ASSERT_EQ(qm::Md5Text(cases[i].first, 32), hex) << cases[i].first.toStdString();
    ASSERT_EQ(qm::Md5Key(cases[i].first), hex.mid(8, 16).toULongLong(nullptr, 16)) << i;
    ASSERT_EQ(keys[i], qm::Md5Key(cases[i].first)) << i;
  }
}

TEST(FingerprintSet, HoldsEveryInsertedKeyOnceUntilCleared) {
  qm::FingerprintSet set;
  int inserted = set.Insert(0), found = 0;  // 0 is a key like any other
  for (int i = 1; i <= 100000; ++i) inserted += set.Insert(qm::Md5Key(QString::number(i)));
  for (int i = 0; i <= 100000; ++i) found += set.Contains(i ? qm::Md5Key(QString::number(i)) : 0);
  EXPECT_EQ(inserted + found, 200002);
  EXPECT_FALSE(set.Contains(42) || set.Insert(0) || set.Insert(qm::Md5Key("1")));
  EXPECT_EQ(set.TextLength(), 17u * 100001);
  set.Clear();
  EXPECT_FALSE(set.Count() || set.Contains(0) || set.Contains(qm::Md5Key("1")));
}

}  // namespace
