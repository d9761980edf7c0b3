#include <gtest/gtest.h>

#include <climits>

#include "common/number.h"
#include "common/user_id.h"

namespace ambervox {
namespace {

TEST(NumberRuleTest, BlanksSignDigitsThenStop) {
  EXPECT_EQ(25, ParseNumber("25x"));
  EXPECT_EQ(0, ParseNumber("abc"));
  EXPECT_EQ(0, ParseNumber(""));
  EXPECT_EQ(0, ParseNumber(nullptr));
  EXPECT_EQ(-5, ParseNumber("  -5"));
  EXPECT_EQ(7, ParseNumber("\t+7 8"));
  EXPECT_EQ(0, ParseNumber("+-3"));
  EXPECT_EQ(0, ParseNumber("- 3"));
  EXPECT_EQ(12, ParseNumber("1234", 2));
}

TEST(NumberRuleTest, OverflowSaturates) {
  EXPECT_EQ(INT_MAX, ParseNumber("2147483647"));
  EXPECT_EQ(INT_MAX, ParseNumber("2147483648"));
  EXPECT_EQ(INT_MAX, ParseNumber("99999999999999999999999"));
  EXPECT_EQ(INT_MIN, ParseNumber("-2147483648"));
  EXPECT_EQ(INT_MIN, ParseNumber("-99999999999999999999999"));
}

TEST(UserIdTest, TextFormRoundTripsInEitherCase) {
  UserId id;
  id.data1 = 0x0123ABCD;
  id.data2 = 0x00EF;
  id.data3 = 0xBEEF;
  const std::uint8_t bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  for (int i = 0; i < 8; ++i) id.data4[i] = bytes[i];
  ByteString text = id.ToText();
  EXPECT_TRUE(text.Equals("0123ABCD-00EF-BEEF-0123-456789ABCDEF")) << text.CStr();
  UserId upper, lower;
  EXPECT_EQ(11, upper.ScanText(text.CStr()));
  EXPECT_EQ(11, lower.ScanText("0123abcd-00ef-beef-0123-456789abcdef"));
  EXPECT_EQ(id, upper);
  EXPECT_EQ(id, lower);
}

TEST(UserIdTest, MalformedTextLeavesMissingFieldsAlone) {
  UserId id;
  EXPECT_EQ(2, id.ScanText("0000000A-000B"));
  EXPECT_EQ(0x0Au, id.data1);
  EXPECT_EQ(0x0B, id.data2);
  EXPECT_EQ(0, id.data3);
  UserId none;
  EXPECT_EQ(0, none.ScanText("zz"));
  EXPECT_EQ(UserId(), none);
}

TEST(UserIdTest, NewIdsDiffer) {
  UserId a, b;
  ASSERT_TRUE(a.CreateNew());
  ASSERT_TRUE(b.CreateNew());
  EXPECT_NE(a, b);
  EXPECT_EQ(36, a.ToText().Length());
}

}  // namespace
}  // namespace ambervox
