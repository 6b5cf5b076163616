#include <gtest/gtest.h>

#include "web/filters.h"

using namespace qm;

TEST(SiteRoot, BareHostWwwAndPath) {
  QString a = "example.com";
  EXPECT_EQ(SiteRoot(a, 0), "http://www.example.com/");
  EXPECT_EQ(a, "http://www.example.com/");

  a = "www.example.com";
  EXPECT_EQ(SiteRoot(a, 0), "http://www.example.com/");
  EXPECT_EQ(a, "http://www.example.com/");

  a = "http://Example.com/News/List.html";
  EXPECT_EQ(SiteRoot(a, 0), "http://example.com/");
  EXPECT_EQ(a, "http://example.com/news/list.html/");

  a = "http://example.com/";
  SiteRoot(a, 0);
  EXPECT_EQ(a, "http://example.com//");  // a "/" is always added

  a = "http://127.0.0.1:8080/a";
  EXPECT_EQ(SiteRoot(a, 1), "");
  EXPECT_EQ(a, "http://127.0.0.1:8080/a/");
}

TEST(SiteRoot, DecodesLowerCasesAndRemovesSpaces) {
  QString a = "HTTP://ex ample.com/%E4%B8%AD";
  EXPECT_EQ(SiteRoot(a, 0), "http://example.com/");
  EXPECT_EQ(a, QString::fromUtf8("http://example.com/中/"));
}

TEST(SiteRoot, HttpsKeepsItsSchemeAndUndecodableStaysAsWritten) {
  QString a = "https://Secure.example.com/x";
  EXPECT_EQ(SiteRoot(a, 0), "https://secure.example.com/");
  EXPECT_EQ(a, "https://secure.example.com/x/");

  a = "http://example.com/100%zz";
  EXPECT_EQ(SiteRoot(a, 0), "http://example.com/");
  EXPECT_EQ(a, "http://example.com/100%zz/");
}

TEST(KeyWordMatch, EmptySingleAndSeveral) {
  CrawlSettings s;
  EXPECT_TRUE(KeyWordMatch("anything", s));
  s.KeyWords = "Cat";
  EXPECT_TRUE(KeyWordMatch("a Cat page", s));   // one keyword matches as typed
  EXPECT_FALSE(KeyWordMatch("a cat page", s));
  s.KeyWords = "Cat*Dog";
  EXPECT_TRUE(KeyWordMatch("a dog page", s));  // several: lower-cased pieces
  EXPECT_FALSE(KeyWordMatch("a Dog page", s));
  EXPECT_FALSE(KeyWordMatch("nothing here", s));
  s.KeyWords = "cat*";
  EXPECT_TRUE(KeyWordMatch("unrelated", s));  // a trailing "*" matches every page
  s.KeyWords = QString::fromUtf8("猫*狗");
  EXPECT_TRUE(KeyWordMatch(QString::fromUtf8("小狗图片\r\nNothing\r\nNothing"), s));
}

TEST(FileTypeMatch, EmptyStarSubstringAndTrailingDot) {
  CrawlSettings s;
  EXPECT_TRUE(FileTypeMatch("http://x/a.png", s));
  EXPECT_TRUE(FileTypeMatch("no-dot", s));
  s.FileTypes = "*";
  EXPECT_FALSE(FileTypeMatch("http://x/a.jpg", s));
  s.FileTypes = "jpg*";
  EXPECT_TRUE(FileTypeMatch("http://x/a.jpg", s));
  EXPECT_TRUE(FileTypeMatch("http://x/a.pg", s));
  EXPECT_FALSE(FileTypeMatch("http://x/a.jpeg", s));
  EXPECT_FALSE(FileTypeMatch("http://x/a.png", s));
  EXPECT_FALSE(FileTypeMatch("http://x/a", s));
  EXPECT_TRUE(FileTypeMatch("http://x/a.", s));  // empty extension
  EXPECT_FALSE(FileTypeMatch("", s));
  EXPECT_FALSE(FileTypeMatch("http://x/a.jpg?w=1", s));  // the query is part of the extension
}

TEST(InSite, NeedsHttpInBaseAndTestsSubstrings) {
  CrawlSettings s;
  EXPECT_FALSE(InSite("http://example.com/a", s));
  s.SiteBase = "example.com";
  EXPECT_FALSE(InSite("http://example.com/a", s));
  s.SiteBase = "http://example.com\r\nnot an address\r\nhttp://other.org/x";
  EXPECT_TRUE(InSite("http://example.com/a", s));
  EXPECT_TRUE(InSite("http://other.org/x/y", s));
  EXPECT_FALSE(InSite("http://other.org/", s));
  // Not anchored: an address that carries the start address anywhere counts.
  EXPECT_TRUE(InSite("http://evil.net/?u=http://example.com", s));
}
