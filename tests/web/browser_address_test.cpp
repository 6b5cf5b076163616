// Addresses read as browsers read them: references resolved against a page,
// character references decoded.
#include "web/browser_address.h"

#include <gtest/gtest.h>

namespace {

struct ResolveCase {
  const char16_t* reference;
  const char16_t* expected;  // empty: not an http or https address
};

// The page: mixed case, a default port, a query and a fragment of its own.
TEST(AddressBase, ResolvesReferencesAgainstThePageAsBrowsersDo) {
  const qm::AddressBase base(u" HTTP://Docs.Example.ORG:80/a/b/Page.html?x=1#top");
  const ResolveCase cases[] = {
      {u"Photo.PNG", u"http://docs.example.org/a/b/Photo.PNG"},
      {u"./img/P.png", u"http://docs.example.org/a/b/img/P.png"},
      {u"../img/Photo.PNG", u"http://docs.example.org/a/img/Photo.PNG"},
      {u"../../../../x/..", u"http://docs.example.org/"},
      {u"?Q=A", u"http://docs.example.org/a/b/Page.html?Q=A"},
      {u"#frag", u"http://docs.example.org/a/b/Page.html?x=1"},
      {u"", u"http://docs.example.org/a/b/Page.html?x=1"},
      {u"//CDN.Example.org/I.jpg", u"http://cdn.example.org/I.jpg"},
      {u"/Root.jpg#x", u"http://docs.example.org/Root.jpg"},
      {u"HTTPS://User@Other.ORG:443/P?Q#F", u"https://User@other.org/P?Q"},
      {u"https://h.org:08443", u"https://h.org:8443/"},
      {u" \t/a\nb.jpg \r\n", u"http://docs.example.org/ab.jpg"},
      {u"\\img\\x.jpg?a\\b", u"http://docs.example.org/img/x.jpg?a\\b"},
      {u"/a/%2E%2e/b/./c/.", u"http://docs.example.org/b/c/"},
      {u"say \"hi\".jpg", u"http://docs.example.org/a/b/say %22hi%22.jpg"},
      {u"http:rel.jpg", u"http://docs.example.org/a/b/rel.jpg"},
      {u"https:h.org/p", u"https://h.org/p"},
      {u"javascript:go('x')", u""},
      {u"mailto:a@b.org", u""},
      {u"data:image/png;base64,AA", u""},
      {u"http://", u""},
      {u"http://h.org:65536/", u""},
      {u"http://a b/", u""},
  };
  for (const auto& [reference, expected] : cases) {
    QString out = QStringLiteral("untouched");
    const bool resolved = base.Resolve(QStringView(reference), out);
    EXPECT_EQ(resolved, *expected != 0) << QString::fromUtf16(reference).toStdString();
    EXPECT_EQ(out, resolved ? QString::fromUtf16(expected) : QStringLiteral("untouched"))
        << QString::fromUtf16(reference).toStdString();
  }
}

TEST(AddressBase, OnlyAnHttpAddressIsABase) {
  QString out;
  EXPECT_FALSE(qm::AddressBase(u"ftp://h.org/a/").Resolve(u"b.jpg", out));
  EXPECT_FALSE(qm::AddressBase(u"/a/b.html").Resolve(u"b.jpg", out));
  EXPECT_TRUE(qm::AddressBase().Resolve(u"http://H.org", out));
  EXPECT_EQ(out, "http://h.org/");
  EXPECT_EQ(qm::AddressBase(u"http://H.org:81/A?B").Address(), "http://h.org:81/A?B");
}

TEST(DecodeCharacterReferences, DecodesWhatABrowserDecodesInAnAttribute) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"a.jpg?x=1&amp;y=2&AMP;z", u"a.jpg?x=1&y=2&z"},
      {u"&#38;&#x26;&#X26&#0038;", u"&&&&"},
      {u"&lt;&gt;&quot;&apos;&sol;&quest;&equals;&num;", u"<>\"'/?=#"},
      {u"?a&amp=1&ampb&amp c", u"?a&amp=1&ampb& c"},
      {u"&unknown;&&#;&#x;&", u"&unknown;&&#;&#x;&"},
      {u"&#0;&#x110000;&#xD800;&#128;&#x1F600;", u"\uFFFD\uFFFD\uFFFD\u20AC\U0001F600"},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(qm::DecodeCharacterReferences(value), QString::fromUtf16(expected))
        << QString::fromUtf16(value).toStdString();
}

}  // namespace
