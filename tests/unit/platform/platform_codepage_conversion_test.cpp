// UTF-8 into the ANSI code page (932 on both builds' test machines).
#include "platform/codepage_conversion.h"

#include <gtest/gtest.h>

#include <string>

namespace ambervox {
namespace platform {
namespace {

TEST(Utf8ToAnsi, GivesCodePage932Bytes) {
  std::string out;
  ASSERT_TRUE(Utf8ToAnsi("abc \xE8\xA1\xA8\xE7\xA4\xBA \xEF\xBD\xB1 \xEF\xBC\xA1", &out));
  // 表示 (95 5C 8E A6), half-width ｱ (B1), full-width Ａ (82 60).
  EXPECT_EQ(out, "abc \x95\x5C\x8E\xA6 \xB1 \x82\x60");
  ASSERT_TRUE(Utf8ToAnsi("", &out));
  EXPECT_EQ(out, "");
}

TEST(Utf8ToAnsi, ACharacterTheCodePageLacksBecomesAQuestionMark) {
  std::string out;
  ASSERT_TRUE(Utf8ToAnsi("caf\xC3\xA9!", &out));  // é has no code in 932, and no best-fit "e"
  EXPECT_EQ(out, "caf?!");
}

TEST(Utf8ToAnsi, RefusesInvalidUtf8AndLeavesTheOutputAlone) {
  std::string out = "kept";
  EXPECT_FALSE(Utf8ToAnsi("a\xC3(", &out));
  EXPECT_FALSE(Utf8ToAnsi("\xFF", &out));
  EXPECT_EQ(out, "kept");
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
