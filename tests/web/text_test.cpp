#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "web/text.h"
#include "web/yield.h"

using namespace qm;

TEST(CutText, MarkersAbsentPresentAndAdjacent) {
  EXPECT_EQ(CutText("abc", "<title>", "<"), "Nothing");
  EXPECT_EQ(CutText("x<title>Page", "<title>", "<"), "");  // no end marker after the start
  EXPECT_EQ(CutText("<title>Page</title>", "<title>", "<"), "Page");
  EXPECT_EQ(CutText("<title></title>", "<title>", "<"), "");
  // The end marker is searched only after the start marker.
  EXPECT_EQ(CutText("<a<title>T<", "<title>", "<"), "T");
  // First start marker wins.
  EXPECT_EQ(CutText("s=one&s=two&", "s=", "&"), "one");
  EXPECT_EQ(CutText("Content-Length: 123\r\nX: y\r\n", "Content-Length: ", "\r\n"), "123");
}

TEST(DecodeUrl, DecodesUtf8AndKeepsReservedEscapes) {
  EXPECT_EQ(DecodeUrl("%E4%B8%AD%E6%96%87"), QString::fromUtf8("中文"));
  EXPECT_EQ(DecodeUrl("a%3B%2Fb"), "a%3B%2Fb");
  EXPECT_EQ(DecodeUrl("%3b%2f%3F%3a%40%26%3D%2B%24%2C%23"), "%3b%2f%3F%3a%40%26%3D%2B%24%2C%23");
  EXPECT_EQ(DecodeUrl("%25E4"), "%E4");
  EXPECT_EQ(DecodeUrl("%41%20b"), "A b");
  EXPECT_EQ(DecodeUrl("%F0%9F%98%80"), QString::fromUtf8("😀"));
  EXPECT_EQ(DecodeUrl("http://x/it's\\here"), "http://x/it's\\here");
  EXPECT_EQ(DecodeUrl(""), "");
}

TEST(DecodeUrl, MalformedGivesNothing) {
  for (const char* bad : {"%zz", "%80", "%C0%AF", "%ED%A0%80", "%", "%4", "abc%E4%B8", "%E4%B8%41",
                          "%F8%88%80%80%80", "%F4%90%80%80", "%E0%80%80"})
    EXPECT_EQ(DecodeUrl(bad), "Nothing") << bad;
}

TEST(LeadingNumber, UnitsBlanksFractionsAndHalfToEven) {
  EXPECT_EQ(LeadingNumber("100ms"), 100);
  EXPECT_EQ(LeadingNumber("100kb"), 100);
  EXPECT_EQ(LeadingNumber("  2000ms"), 2000);
  EXPECT_EQ(LeadingNumber("ms100"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("2.5"), 2);
  EXPECT_EQ(LeadingNumber("3.5"), 4);
  EXPECT_EQ(LeadingNumber("10.5"), 10);
  EXPECT_EQ(LeadingNumber("11.5"), 12);
  EXPECT_EQ(LeadingNumber("-7x"), -7);
  EXPECT_EQ(LeadingNumber(".5"), 0);
  EXPECT_EQ(LeadingNumber(".6"), 1);
  EXPECT_DOUBLE_EQ(LeadingDecimal("2.5"), 2.5);
  EXPECT_DOUBLE_EQ(LeadingDecimal("abc"), 0.0);
}

TEST(LeadingNumber, Int32RangeIsChecked) {
  EXPECT_EQ(LeadingInt32("2147483647"), 2147483647);
  EXPECT_EQ(LeadingInt32("-2147483648"), -2147483647 - 1);
  EXPECT_FALSE(LeadingInt32("2147483648").has_value());
  EXPECT_FALSE(LeadingInt32("99999999999999999999999").has_value());
  EXPECT_EQ(LeadingInt32("letters"), 0);
}

TEST(WaitMs, WaitsAndPumpsEvents) {
  int yields = 0;
  SetYieldHook([&] {
    ++yields;
    QCoreApplication::processEvents();
  });
  bool timerFired = false;
  QTimer::singleShot(10, [&] { timerFired = true; });
  QElapsedTimer clock;
  clock.start();
  WaitMs(60);
  SetYieldHook({});
  EXPECT_GE(clock.elapsed(), 60);
  EXPECT_GT(yields, 1);
  EXPECT_TRUE(timerFired);  // events ran during the wait

  clock.restart();
  WaitMs(30);  // no hook: a plain sleep
  EXPECT_GE(clock.elapsed(), 30);
  WaitMs(0);
  WaitMs(-5);
}
