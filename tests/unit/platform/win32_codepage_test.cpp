// Windows-only checks of the code page services: the test environment really
// runs with ANSI code page 932, and lower-casing changes exactly the case of
// characters, never other bytes of code page 932 text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace ambervox {
namespace platform {
namespace {

std::string Lowered(std::string text) {
  LowerCaseMultibyte(&text[0], text.size());
  return text;
}

TEST(Win32CodePageTest, TestsRunUnderCodePage932) {
  // Every code page expectation in the platform tests assumes this.
  ASSERT_EQ(932u, GetACP());
  EXPECT_TRUE(IsLeadByte(0x82));
  EXPECT_FALSE(IsLeadByte(0xB1));
}

TEST(Win32CodePageTest, LowerCasingMatchesCharLowerBuffAOnLetters) {
  // A-Z, full-width Latin, Greek and Cyrillic capitals, mixed with kana.
  const std::string text = "ABC \x82\x60\x82\x79 \x83\x9F\x83\xB6 \x84\x40\x84\x60 \x82\xA0\xB1xyz";
  std::string expected = text;
  CharLowerBuffA(&expected[0], static_cast<DWORD>(expected.size()));
  EXPECT_EQ("abc \x82\x81\x82\x9A \x83\xBF\x83\xD6 \x84\x70\x84\x91 \x82\xA0\xB1xyz", expected);
  EXPECT_EQ(expected, Lowered(text));
}

TEST(Win32CodePageTest, TrailBytesThatLookLikeCapitalsStay) {
  // ア (83 41) and セ (83 5A): the trail bytes are 'A' and 'Z' and must not
  // be lower-cased.
  EXPECT_EQ("\x83\x41\x83\x5A", Lowered("\x83\x41\x83\x5A"));
  EXPECT_EQ(
      "\x83\x41"
      "a",
      Lowered("\x83\x41"
              "A"));
}

TEST(Win32CodePageTest, DuplicateCodesAreNotRewritten) {
  // ED 40 (NEC-selected IBM extension) and FA 5C (IBM extension) are the
  // same kanji; a round trip through UTF-16 would turn one into the other.
  EXPECT_EQ("\xED\x40\xFA\x5C", Lowered("\xED\x40\xFA\x5C"));
  // 81 E0 and 87 90 are both U+2252.
  EXPECT_EQ("\x87\x90\x81\xE0", Lowered("\x87\x90\x81\xE0"));
}

TEST(Win32CodePageTest, BytesThatAreNoCharacterStay) {
  // A lead byte at the end, and a lead byte followed by a byte that cannot
  // be a trail byte (the pair is skipped as one unit).
  EXPECT_EQ("a\x82", Lowered("A\x82"));
  EXPECT_EQ(std::string("\x81\x7F"
                        "a",
                        3),
            Lowered(std::string("\x81\x7F"
                                "A",
                                3)));
  // An embedded NUL is a character of its own.
  EXPECT_EQ(std::string("a\0b", 3), Lowered(std::string("A\0B", 3)));
}

TEST(Win32CodePageTest, LengthLimitsTheWork) {
  std::string text = "ABCD";
  LowerCaseMultibyte(&text[0], 2);
  EXPECT_EQ("abCD", text);
  // A character cut by the length keeps its lead byte as it is.
  text = "\x82\x60\x82\x60";
  LowerCaseMultibyte(&text[0], 3);
  EXPECT_EQ("\x82\x81\x82\x60", text);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
