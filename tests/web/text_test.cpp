// Text helpers, the crawl's filters and the MD5 fingerprints.
#include "web/text.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include "web/filters.h"
#include "web/fingerprint_set.h"
#include "web/md5.h"
#include "web/yield.h"

namespace {

using namespace std::chrono_literals;

// The rest of the rule (the first start, the next end) the crawl's and the
// downloader's tests meet at every step.
TEST(CutText, NothingWithoutTheStartAndEmptyWithoutTheEnd) {
  EXPECT_EQ(qm::CutText("abc", "<t>", "<"), "Nothing");
  EXPECT_EQ(qm::CutText("x<t>Page", "<t>", "<"), "");
}

// Escapes of reserved characters stay as written, at the start, inside and at
// the end; malformed text gives "Nothing", wherever it stands.
// Escapes of reserved characters stay as written, at the start, inside and at
// the end; malformed text gives "Nothing", wherever it stands.
TEST(DecodeUrl, DecodesUtf8KeepsReservedEscapesAndRefusesMalformed) {
  EXPECT_EQ(qm::DecodeUrl("%E4%B8%ADa%F0%9F%98%80%41b%20%25"), "中a😀Ab %");
  EXPECT_EQ(qm::DecodeUrl("%3b%2f%3F%3a%40%26%3D%2B%24%2C%23"),
            "%3b%2f%3F%3a%40%26%3D%2B%24%2C%23");
  for (const char* bad : {"%zz", "a%80", "%C0%AF", "%ED%A0%80", "a%41%", "%41%E4%B8", "%E4%B8%41",
                          "%F8%88%80%80%80", "%F4%90%80%80", "%E0%80%80x"})
    EXPECT_EQ(qm::DecodeUrl(bad), "Nothing") << bad;
}

TEST(LeadingNumber, ReadsTheLeadingNumberRoundingHalfToEven) {
  const std::pair<const char*, double> rows[] = {
      {" \t2000ms", 2000}, {"ms100", 0}, {"2.5", 2}, {"3.5", 4}, {"-7x", -7}, {".5", 0}, {".6", 1}};
  for (const auto& [text, number] : rows) EXPECT_EQ(qm::LeadingNumber(text), number) << text;
  EXPECT_EQ(qm::LeadingInt32("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(qm::LeadingInt32("2147483647.4"), 2147483647);
  EXPECT_FALSE(qm::LeadingInt32("2147483648").has_value());
  EXPECT_EQ(qm::ToCrLf("\na\nb\r\nc\n"), "\r\na\r\nb\r\nc\r\n");
}

// With a hook that runs the thread's events and without one (a worker).
TEST(WaitMs, WaitsItsTimeWithAndWithoutAHook) {
  for (const bool hook : {false, true}) {
    if (hook) qm::SetYieldHook([] {});
    const auto start = std::chrono::steady_clock::now();
    qm::WaitMs(200);
    const auto took = std::chrono::steady_clock::now() - start;
    qm::SetYieldHook({});
    EXPECT_GE(took, 200ms) << hook;
    EXPECT_LT(took, 10s) << hook;
  }
}

// The root, then the rewritten address.
TEST(SiteRoot, NormalisesTheAddressAndGivesSchemeHostSlash) {
  const char* rows[][2] = {{"example.com", "http://www.example.com/ http://www.example.com/"},
                           {"www.x.com", "http://www.x.com/ http://www.x.com/"},
                           {" HTTP://E x.com/A %E4%B8%AD ", "http://ex.com/ http://ex.com/a中/"},
                           {"https://Ex.com/x", "https://ex.com/ https://ex.com/x/"},
                           {"http://ex.com/1%zz", "http://ex.com/ http://ex.com/1%zz/"}};
  for (const auto& [typed, expected] : rows) {
    QString address = typed;
    const QString root = qm::SiteRoot(address, 0);
    EXPECT_EQ(root + " " + address, expected) << typed;
  }
}

// Each row: the filter, its setting, the text or address held against it, the
// answer, and whether browser addressing is on.
TEST(Filters, KeywordsFileTypesAndSite) {
  const auto K = qm::KeyWordMatch, T = qm::FileTypeMatch, S = qm::InSite;
  const char* sites = "http://ex.com\r\nex.org\r\nhttp://mid.net/\r\nhttp://other.org/x";
  const struct {
    bool (*filter)(const QString&, const qm::CrawlSettings&);
    const char *setting, *input;
    bool match;
    bool browser = false;
  } rows[] = {{K, "Cat", "Title\r\nDesc\r\na Cat", true},  // one keyword: as typed
              {K, "Cat", "a cat page", false},             // one keyword: case kept
              {K, "Cat*Dog", "a dog page", true},          // several: lower-cased, a later one
              {K, "Cat*Dog", "cat\r\n\r\n", true},         // the first one
              {K, "Cat*Dog", "a Dog page", false},         // the text's case kept
              {K, "cat*", "unrelated", true},              // an empty keyword: any text
              {K, "cat*", "", false},                      // but not an empty one
              {T, "", "no-dot", true},
              {T, "*", "http://x/a.jpg", false},
              {T, "jpg*", "http://x/a.pg", true},              // the extension part of the types
              {T, "jpg*", "http://x/a.png.jpg", true},         // the last dot
              {T, "jpg*", "http://x/A.JPG", false},            // case kept
              {T, "jpg", "http://x/p?f=a.JPG", true, true},    // browser: the last dot, any case
              {T, "JPG", "http://x/p.jpg?w=1.5", true, true},  // the name's extension, any case
              {T, "jpg", "http://x/p.jpg#a.b", true, true},    // before a fragment
              {S, sites, "http://ex.com/a", true},             // the first line
              {S, sites, "http://mid.net/a", true},            // a middle one
              {S, sites, "http://other.org/x/y", true},        // the last one
              {S, sites, "http://ex.org/", false},             // a line without http
              {S, sites, "http://evil.net/?u=http://ex.com", true},   // not anchored
              {S, " http://ex.com", "http://ex.com/", true},          // a leading blank: the start
              {S, "HTTP://EX.com/", "http://ex.com/A", false},        // case kept
              {S, "HTTP://EX.com/", "http://ex.com/A", true, true}};  // browser: case ignored
  for (const auto& r : rows)  // the setting stands in every field; each filter reads its own
    EXPECT_EQ(r.filter(r.input, {true, r.setting, r.setting, r.setting, r.browser}), r.match)
        << r.setting << " / " << r.input << " / " << r.browser;
}

// Code-page bytes written by hand: a double-byte code gives its two bytes,
// anything else the low byte of its UTF-16 unit (Korean, Thai, emoji halves:
// letters the code page lacks). Then ASCII texts of every length across the
// block, lane and stack-buffer boundaries; each key also in a batch of one.
TEST(Md5, AgreesWithTheLibraryOnTheCodePageBytes) {
  EXPECT_EQ(qm::Md5Text("abc", 32), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(qm::Md5Text("abc", 0), "3CD24FB0D6963F7D");
  std::vector<std::pair<QString, QByteArray>> rows = {
      {"中文", "d6d0cec4"}, {"한국", "5c6d"}, {"서울", "1cb8"},
      {"€", "ac"},          {"é", "a8a6"},    {"\u3000", "a1a1"},
      {"ไทย", "441722"},    {"😀", "3d00"},    {"/x😀中.h", "2f783d00d6d02e68"},
      {"丂", "8140"}};  // the lowest lead byte
  for (auto& row : rows) row.second = QByteArray::fromHex(row.second);
  for (QByteArray bytes; bytes.size() <= 600; bytes += char(32 + bytes.size() * 7 % 95))
    rows.emplace_back(QString::fromLatin1(bytes), bytes);
  for (const auto& [text, bytes] : rows) {
    const QString hex = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper();
    const QStringView view = text;
    std::uint64_t key = 0;
    qm::Md5Keys(&view, 1, &key);
    ASSERT_EQ(qm::Md5Text(text, 32), hex) << text.toStdString();
    ASSERT_EQ(key, qm::Md5Text(text, 16).toULongLong(nullptr, 16)) << text.toStdString();
  }
}

// 0 is a key like any other; the set grows past its first table many times.
// Each key goes in twice: once new, once found.
TEST(FingerprintSet, HoldsEveryInsertedKeyOnceUntilCleared) {
  qm::FingerprintSet set;
  int inserted = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (std::uint64_t key = 0; key <= 100000; ++key) inserted += set.Insert(key);
  EXPECT_EQ(inserted, 100001);
  EXPECT_EQ(set.TextLength(), 1700017u);
  set.Clear();
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_FALSE(set.Contains(1));
  EXPECT_TRUE(set.Insert(0));
}

}  // namespace
