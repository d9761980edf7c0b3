#include "http/http_time.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace ambervox {
namespace {

// 1994-11-06 08:49:37 UTC.
constexpr HttpTime kRfcExample = 784111777;
// 2040-09-01 12:34:56 UTC, beyond a 32-bit time_t.
constexpr HttpTime kAfter2038 = 2230115696;

std::string Format(HttpTime time, const char* pattern) { return FormatHttpTime(time, pattern).CStr(); }

// Dates are read as UTC only in a zone without daylight saving; ctest runs
// every test with TZ=UTC.
class HttpDateTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, platform::StandardBiasMinutes()) << "run with TZ=UTC"; }
};

TEST(FormatHttpTimeTest, WritesTheHeaderPatterns) {
  EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", Format(0, kHttpDatePattern));
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", Format(kRfcExample, kHttpDatePattern));
  EXPECT_EQ("Sun, 06-Nov-1994 08:49:37 GMT", Format(kRfcExample, kCookieExpiryPattern));
  EXPECT_EQ("Sat, 01 Sep 2040 12:34:56 GMT", Format(kAfter2038, kHttpDatePattern));
  EXPECT_EQ("Sunday November 11 94 100%", Format(kRfcExample, "%A %B %m %y 100%%"));
}

TEST(FormatHttpTimeTest, UsesEnglishNamesForEveryDayAndMonth) {
  // The first day of each month of 1970 falls on each weekday at least once.
  const struct {
    HttpTime time;
    const char* text;
  } cases[] = {{0, "Thu, 01 Jan"},        {2678400, "Sun, 01 Feb"},  {5097600, "Sun, 01 Mar"},
               {7776000, "Wed, 01 Apr"},  {10368000, "Fri, 01 May"}, {13046400, "Mon, 01 Jun"},
               {15638400, "Wed, 01 Jul"}, {18316800, "Sat, 01 Aug"}, {20995200, "Tue, 01 Sep"},
               {23587200, "Thu, 01 Oct"}, {26265600, "Sun, 01 Nov"}, {28857600, "Tue, 01 Dec"}};
  for (const auto& c : cases) EXPECT_EQ(c.text, Format(c.time, "%a, %d %b")) << c.time;
}

TEST(FormatHttpTimeTest, GivesEmptyTextWhenTheResultDoesNotFit) {
  const std::string fits(127, 'x');
  EXPECT_EQ(fits, Format(0, fits.c_str()));
  EXPECT_EQ("", Format(0, std::string(128, 'x').c_str()));
  EXPECT_EQ(std::string(123, 'x') + "1970", Format(0, (std::string(123, 'x') + "%Y").c_str()));
  EXPECT_EQ("", Format(0, (std::string(124, 'x') + "%Y").c_str()));
  // Conversions the headers never use, and a lone "%".
  EXPECT_EQ("", Format(0, "%Z"));
  EXPECT_EQ("", Format(0, "abc%"));
  EXPECT_EQ("", Format(0, nullptr));
}

TEST(FormatHttpTimeTest, ThreadsDoNotShareABreakdown) {
  const HttpTime times[] = {0, kRfcExample, kAfter2038, 1204243200};
  const char* expected[] = {"Thu, 01 Jan 1970 00:00:00 GMT", "Sun, 06 Nov 1994 08:49:37 GMT",
                            "Sat, 01 Sep 2040 12:34:56 GMT", "Fri, 29 Feb 2008 00:00:00 GMT"};
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (Format(times[t], kHttpDatePattern) != expected[t]) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), mismatches);
}

TEST(TimeSpanSecondsTest, CombinesTheUnits) {
  EXPECT_EQ(93784, TimeSpanSeconds(1, 2, 3, 4));
  EXPECT_EQ(2592000, TimeSpanSeconds(30, 0, 0, 0));
  EXPECT_EQ(32400, TimeSpanSeconds(0, 0, -(-540), 0));
  EXPECT_EQ(-32400, TimeSpanSeconds(0, 0, -540, 0));
  EXPECT_EQ(INT64_C(2592000000), TimeSpanSeconds(30000, 0, 0, 0));
}

TEST_F(HttpDateTest, LocalFieldsConvertAsUtcWithoutDaylightSaving) {
  HttpTime t = 0;
  ASSERT_TRUE(TimeFromLocalFields(1994, 11, 6, 8, 49, 37, -1, &t));
  EXPECT_EQ(kRfcExample, t);
  ASSERT_TRUE(TimeFromLocalFields(2040, 9, 1, 12, 34, 56, -1, &t));
  EXPECT_EQ(kAfter2038, t);
  t = 42;
  EXPECT_FALSE(TimeFromLocalFields(1969, 12, 31, 23, 59, 59, -1, &t));
  EXPECT_FALSE(TimeFromLocalFields(94, 11, 6, 8, 49, 37, -1, &t));
  EXPECT_EQ(42, t);
}

TEST_F(HttpDateTest, FileTimesDropFractionsAndEarlyYears) {
  // 100-ns units since 1601 of the example time, plus 0.1234567 s.
  const std::uint64_t example = UINT64_C(124285853770000000);
  EXPECT_EQ(kRfcExample, TimeFromFileTime(example));
  EXPECT_EQ(kRfcExample, TimeFromFileTime(example + 1234567));
  EXPECT_EQ(kAfter2038, TimeFromFileTime(example + UINT64_C(10000000) * (kAfter2038 - kRfcExample)));
  // 1601 (before 1900), 1950 (before 1970) and a value no system converts.
  EXPECT_EQ(0, TimeFromFileTime(0));
  EXPECT_EQ(0, TimeFromFileTime(example - UINT64_C(10000000) * (kRfcExample + 618105600)));
  EXPECT_EQ(0, TimeFromFileTime(UINT64_MAX));
}

TEST_F(HttpDateTest, ParsesTheThreeForms) {
  const char* texts[] = {"Sun, 06 Nov 1994 08:49:37 GMT",
                         "Sunday, 06-Nov-1994 08:49:37 GMT",
                         "Sun Nov  6 08:49:37 1994",
                         "Sun, 06 Nov 1994 08:49:37 GMT; length=12345",
                         "sun, 06 NOV 1994 08:49:37 gmt",
                         "Sunday, 6-nOv-1994 8:49:37 UTC",
                         "Sun Nov 6 08:49:37 1994 trailing words"};
  for (const char* text : texts) {
    HttpTime t = 0;
    EXPECT_EQ(kHttpDateOk, ParseHttpDate(text, &t)) << text;
    EXPECT_EQ(kRfcExample, t) << text;
  }
}

TEST_F(HttpDateTest, ReadsBackWhatTheServerWrites) {
  const HttpTime times[] = {kRfcExample, kAfter2038, 951782400, 1078099199, 4102444799};
  for (HttpTime time : times) {
    HttpTime parsed = 0;
    ByteString text = FormatHttpTime(time, kHttpDatePattern);
    EXPECT_EQ(kHttpDateOk, ParseHttpDate(text.CStr(), &parsed)) << text.CStr();
    EXPECT_EQ(time, parsed) << text.CStr();
  }
}

TEST_F(HttpDateTest, ChecksLengthAndFormFirst) {
  HttpTime t = 7;
  EXPECT_EQ(kHttpDateTooLong, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT            ", &t));  // 41
  EXPECT_EQ(7, t);
  EXPECT_EQ(kHttpDateOk, ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT           ", &t));  // 40
  t = 7;
  EXPECT_EQ(kHttpDateTooLong, ParseHttpDate(std::string(2000, 'x').c_str(), &t));
  EXPECT_EQ(kHttpDateTooShort, ParseHttpDate("Sun,", &t));
  EXPECT_EQ(kHttpDateTooShort, ParseHttpDate("Sun;, 06 Nov 1994 08:49:37 GMT", &t));
  EXPECT_EQ(kHttpDateTooShort, ParseHttpDate("", &t));
  EXPECT_EQ(kHttpDateTooShort, ParseHttpDate(nullptr, &t));
  EXPECT_EQ(kHttpDateNotAscii, ParseHttpDate("\x93\xfa\x93\xfa, 06 Nov 1994", &t));
  EXPECT_EQ(kHttpDateNotAscii, ParseHttpDate("Sun\x81\x40 06 Nov 1994 08:49:37 GMT", &t));
  EXPECT_EQ(7, t);
}

TEST_F(HttpDateTest, ChecksTheFieldRangesInOrder) {
  const struct {
    const char* text;
    int result;
  } cases[] = {
      {"Thu, 01 Jan 70 00:00:00 GMT", kHttpDateBadYear},
      {"Thu, 32 Jan 0070 24:60:60 GMT", kHttpDateBadYear},
      {"Sun, 00 Nov 1994 08:49:37 GMT", kHttpDateBadDay},
      {"Sun, 32 Nov 1994 24:60:60 GMT", kHttpDateBadDay},
      {"Sun, 06 Nov 1994 24:60:60 GMT", kHttpDateBadHour},
      {"Sun, 06 Nov 1994 -1:49:37 GMT", kHttpDateBadHour},
      {"Sun, 06 Nov 1994 08:60:60 GMT", kHttpDateBadMinute},
      {"Sun, 06 Nov 1994 08:49:60 GMT", kHttpDateBadSecond},
      {"Sun, 06 Xyz 1994 08:49:60 GMT", kHttpDateBadSecond},
      {"Sun, 06 November 1994 08:49:37 GMT", kHttpDateBadMonth},
      {"Sun, 06 No 1994 08:49:37 GMT", kHttpDateBadMonth},
      {"Sun, 31 Nov 1994 08:49:37 GMT", kHttpDateDayNotInMonth},
      {"Sun, 99999999999 Nov 1994 08:49:37 GMT", kHttpDateBadDay},
  };
  for (const auto& c : cases) {
    HttpTime t = 7;
    EXPECT_EQ(c.result, ParseHttpDate(c.text, &t)) << c.text;
    EXPECT_EQ(7, t) << c.text;
  }
}

TEST_F(HttpDateTest, KnowsLeapYears) {
  HttpTime t = 0;
  EXPECT_EQ(kHttpDateOk, ParseHttpDate("Tue, 29 Feb 2000 00:00:00 GMT", &t));
  EXPECT_EQ(951782400, t);
  EXPECT_EQ(kHttpDateOk, ParseHttpDate("Sun, 29 Feb 2004 23:59:59 GMT", &t));
  EXPECT_EQ(1078099199, t);
  EXPECT_EQ(kHttpDateDayNotInMonth, ParseHttpDate("Thu, 29 Feb 1900 00:00:00 GMT", &t));
  EXPECT_EQ(kHttpDateDayNotInMonth, ParseHttpDate("Sat, 29 Feb 2003 00:00:00 GMT", &t));
  EXPECT_EQ(kHttpDateDayNotInMonth, ParseHttpDate("Wed, 30 Feb 2000 00:00:00 GMT", &t));
  EXPECT_EQ(kHttpDateOk, ParseHttpDate("Sun, 30 Apr 1995 00:00:00 GMT", &t));
  EXPECT_EQ(kHttpDateDayNotInMonth, ParseHttpDate("Mon, 31 Apr 1995 00:00:00 GMT", &t));
  EXPECT_EQ(kHttpDateOk, ParseHttpDate("Sun, 31 Dec 1995 00:00:00 GMT", &t));
}

TEST_F(HttpDateTest, RefusesIncompleteAndUnrepresentableDates) {
  const struct {
    const char* text;
    int result;
  } cases[] = {
      {"Sun, 06 Nov", kHttpDateIncomplete},
      {"Sun, 06 Nov 1994 08:49", kHttpDateIncomplete},
      {"Sun, 06 Nov 1994 08:49:37", kHttpDateIncomplete},
      {"Sun, 06 Nov 1994 08.49.37 GMT", kHttpDateIncomplete},
      {"Sunday, 06-November-1994 08:49:37 GMT", kHttpDateIncomplete},
      {"Sun Nov  6 08:49:37", kHttpDateIncomplete},
      {"garbage text", kHttpDateIncomplete},
      // Two-digit years pass the year check but lie before 1970.
      {"Sunday, 06-Nov-94 08:49:37 GMT", kHttpDateNotRepresentable},
      {"Sun, 06 Nov 94 08:49:37 GMT", kHttpDateNotRepresentable},
      {"Sun, 06 Nov 99999 08:49:37 GMT", kHttpDateNotRepresentable},
  };
  for (const auto& c : cases) {
    HttpTime t = 7;
    EXPECT_EQ(c.result, ParseHttpDate(c.text, &t)) << c.text;
    EXPECT_EQ(7, t) << c.text;
  }
}

}  // namespace
}  // namespace ambervox
