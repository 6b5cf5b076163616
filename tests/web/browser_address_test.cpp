// Addresses read as browsers read them: references resolved against a page,
// character references decoded.
#include "web/browser_address.h"

#include <gtest/gtest.h>

namespace {

// The page: mixed case, a default port, a query and a fragment of its own.
// An empty expectation: not an http or https address, `out` untouched.
TEST(AddressBase, ResolvesReferencesAgainstThePageAsBrowsersDo) {
  const qm::AddressBase base(u" HTTP://Docs.Example.ORG:80/a/b/Page.html?x=1#top");
  const char16_t* rows[][2] = {
      {u"Photo.PNG", u"http://docs.example.org/a/b/Photo.PNG"},
      {u"./img/P.png", u"http://docs.example.org/a/b/img/P.png"},
      {u"../img/Photo.PNG", u"http://docs.example.org/a/img/Photo.PNG"},
      {u"../../../../x/..", u"http://docs.example.org/"},
      {u"/a/.%2E/b/%2e./c/.hidden/..x", u"http://docs.example.org/c/.hidden/..x"},
      {u"/a/%2E%2e/b/./c/.", u"http://docs.example.org/b/c/"},
      {u"?Q=\"A\"", u"http://docs.example.org/a/b/Page.html?Q=%22A%22"},
      {u"#frag", u"http://docs.example.org/a/b/Page.html?x=1"},
      {u"", u"http://docs.example.org/a/b/Page.html?x=1"},
      {u"//CDN.Example.org/I.jpg", u"http://cdn.example.org/I.jpg"},
      {u"\\\\CDN.org\\I.jpg", u"http://cdn.org/I.jpg"},
      {u"/Root.jpg#x", u"http://docs.example.org/Root.jpg"},
      {u"HTTPS://U\"s\x01r@Other.ORG:443/P?Q#F", u"https://U%22s%01r@other.org/P?Q"},
      {u"https://h.org:08443", u"https://h.org:8443/"},
      {u"http://h.org:443/", u"http://h.org:443/"},
      {u"http://h.org:/", u"http://h.org/"},
      {u"http://[::1]/x", u"http://[::1]/x"},
      {u"http://ÄB.org/", u"http://äb.org/"},
      {u" \t/a\nb.jpg \r\n", u"http://docs.example.org/ab.jpg"},
      {u"\\img\\x.jpg?a\\b", u"http://docs.example.org/img/x.jpg?a\\b"},
      {u"say \"hi\"\x01\x7F.jpg", u"http://docs.example.org/a/b/say %22hi%22%01%7F.jpg"},
      {u"http:rel.jpg", u"http://docs.example.org/a/b/rel.jpg"},
      {u"https:h.org/p", u"https://h.org/p"},
      {u"javascript:go('x')", u""},
      {u"http://:80/", u""},
      {u"http://h.org:65536/", u""},
      {u"http://h.org:8a/", u""},
      {u"http://a[b/", u""},
      {u"http://a b/", u""},
      {u"http://a%41/", u""},
  };
  for (const auto& [reference, expected] : rows) {
    QString out = QStringLiteral("untouched");
    const bool resolved = base.Resolve(QStringView(reference), out);
    const QString name = QString::fromUtf16(reference);
    EXPECT_EQ(resolved, *expected != 0) << name.toStdString();
    EXPECT_EQ(out, *expected ? QString::fromUtf16(expected) : "untouched") << name.toStdString();
  }
}

// Without a base only absolute addresses resolve; an ftp address is no base.
TEST(AddressBase, OnlyAnHttpAddressIsABase) {
  QString out;
  EXPECT_FALSE(qm::AddressBase(u"ftp://h.org/a/").Resolve(u"b.jpg", out));
  EXPECT_TRUE(qm::AddressBase().Resolve(u"http://H.org", out));
  EXPECT_EQ(out, "http://h.org/");
}

TEST(DecodeCharacterReferences, DecodesWhatABrowserDecodesInAnAttribute) {
  const char16_t* rows[][2] = {
      {u"a.jpg?x=1&amp;y=2&AMP;z", u"a.jpg?x=1&y=2&z"},
      {u"&#38;&#x26;&#X26&#0038;", u"&&&&"},
      {u"&lt;&gt;&quot;&apos;&sol;&quest;&equals;&num;&UnderBar;", u"<>\"'/?=#_"},
      {u"?a&amp=1&ampb&amp c&quot", u"?a&amp=1&ampb& c\""},
      {u"&unknown;&Amp;&sol &&#;&#x;&", u"&unknown;&Amp;&sol &&#;&#x;&"},
      {u"&#0;&#x110000;&#xD800;&#99999999999;", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {u"&#128;&#x9F;&#x1F600;", u"\u20AC\u0178\U0001F600"},
  };
  for (const auto& [value, expected] : rows)
    EXPECT_EQ(qm::DecodeCharacterReferences(value), QString::fromUtf16(expected))
        << QString::fromUtf16(value).toStdString();
}

}  // namespace
