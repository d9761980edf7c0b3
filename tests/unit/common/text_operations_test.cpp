#include "common/text_operations.h"

#include <gtest/gtest.h>

#include <string>

namespace ambervox {
namespace {

std::string Bytes(const ByteString& s) { return std::string(s.Data(), static_cast<std::size_t>(s.Length())); }

ByteString Decoded(const char* text, int length = -1) {
  ByteString s = length < 0 ? ByteString(text) : ByteString(text, length);
  UrlDecode(&s);
  return s;
}

TEST(UrlEncodeTest, CopiesOnlyLettersDigitsAndFourMarks) {
  EXPECT_EQ("a%20b%2Bc", Bytes(UrlEncode("a b+c")));
  EXPECT_EQ("x-y_z.w*", Bytes(UrlEncode("x-y_z.w*")));
  EXPECT_EQ("AZaz09", Bytes(UrlEncode("AZaz09")));
  EXPECT_EQ("%2F%26%3D%25%3F%7E%21", Bytes(UrlEncode("/&=%?~!")));
  EXPECT_EQ("%00%0A", Bytes(UrlEncode(ByteString("\0\n", 2))));
  EXPECT_EQ("", Bytes(UrlEncode(static_cast<const char*>(nullptr))));
  EXPECT_EQ("", Bytes(UrlEncode("")));
}

TEST(UrlEncodeTest, EncodesBothBytesOfTwoByteCharacters) {
  EXPECT_EQ("%82%A0", Bytes(UrlEncode("\x82\xA0")));
  // The trail byte is encoded even when on its own it would be a letter or
  // a copied mark.
  EXPECT_EQ("%83%41", Bytes(UrlEncode("\x83\x41")));
  EXPECT_EQ("%82%60x%81%5F", Bytes(UrlEncode("\x82\x60x\x81_")));
  // Half-width katakana and other single bytes from 0x80 up.
  EXPECT_EQ("%B1%DF%80%A0", Bytes(UrlEncode("\xB1\xDF\x80\xA0")));
  // A lead byte with nothing after it is written alone.
  EXPECT_EQ("ab%82", Bytes(UrlEncode("ab\x82")));
}

TEST(UrlDecodeTest, DecodesPlusAndEscapes) {
  EXPECT_EQ("a bA", Bytes(Decoded("a+b%41")));
  EXPECT_EQ("%&=", Bytes(Decoded("%25%26%3D")));
  EXPECT_EQ("\x82\xA0", Bytes(Decoded("%82%A0")));
  EXPECT_EQ(std::string("x\0y", 3), Bytes(Decoded("x%00y")));
  EXPECT_EQ("", Bytes(Decoded("")));
  UrlDecode(nullptr);  // nothing to do, no crash
}

TEST(UrlDecodeTest, LowerCaseHexDigitsDecodeLikeUpperCase) {
  EXPECT_EQ("J", Bytes(Decoded("%4a")));
  EXPECT_EQ("J", Bytes(Decoded("%4A")));
  EXPECT_EQ("\x8E\x1B", Bytes(Decoded("%8e%1b")));
  EXPECT_EQ("\xE3\x81\x82", Bytes(Decoded("%e3%81%82")));
  EXPECT_EQ("/", Bytes(Decoded("%2f")));
  EXPECT_EQ("\x93\xfa\x96\x7b", Bytes(Decoded("%93%fa%96%7b")));
}

TEST(UrlDecodeTest, NonHexDigitsKeepTheirArithmetic) {
  // 'G' gives 0x47 - 0x37 = 0x10; as the high digit only its low four bits
  // survive the shift.
  EXPECT_EQ("\x10", Bytes(Decoded("%0G")));
  EXPECT_EQ(std::string("\0", 1), Bytes(Decoded("%G0")));
  // Small letters past f are not hex digits: 'g' gives 0x30, 'z' 0x43.
  EXPECT_EQ("0", Bytes(Decoded("%1g")));
  EXPECT_EQ("s", Bytes(Decoded("%zz")));
  // A byte from 0x80 up counts as negative: 0x80 - 0x30 = 0x50 (eight bits).
  EXPECT_EQ("P", Bytes(Decoded("%0\x80")));
  // The two bytes after "%" are taken whatever they are.
  EXPECT_EQ("T1", Bytes(Decoded("%%41")));
}

TEST(UrlDecodeTest, ShortEscapeEndsTheText) {
  EXPECT_EQ("abc", Bytes(Decoded("abc%4")));
  EXPECT_EQ("abc", Bytes(Decoded("abc%")));
  EXPECT_EQ("", Bytes(Decoded("%")));
  EXPECT_EQ("a b", Bytes(Decoded("a+b%2")));
}

TEST(UrlDecodeTest, LeavesCopiesOfTheTextAlone) {
  ByteString original("a%41+b");
  ByteString copy = original;
  UrlDecode(&copy);
  EXPECT_EQ("aA b", Bytes(copy));
  EXPECT_EQ("a%41+b", Bytes(original));
  EXPECT_EQ(4, copy.Length());
  EXPECT_EQ(0, copy.CStr()[4]);
}

TEST(UrlCodingTest, DecodeUndoesEncode) {
  const ByteString texts[] = {"a b+c&d=e%f", "\x83\x5C\x82\xA0\xB1 x", ByteString("\0\xFF\x7F", 3), "*-._~"};
  for (const ByteString& text : texts) {
    ByteString s = UrlEncode(text);
    UrlDecode(&s);
    EXPECT_EQ(Bytes(text), Bytes(s));
  }
}

TEST(HtmlEscapeTest, EscapesTheFiveCharacters) {
  EXPECT_EQ("Tom &amp; Jerry &lt;live&gt;", Bytes(HtmlEscape("Tom & Jerry <live>")));
  EXPECT_EQ("&amp;lt;", Bytes(HtmlEscape("&lt;")));
  EXPECT_EQ("&#39;&quot;&amp;&amp;", Bytes(HtmlEscape("'\"&&")));
  EXPECT_EQ("\x83\x5C\x82\xA0 &amp; \xB1", Bytes(HtmlEscape("\x83\x5C\x82\xA0 & \xB1")));
  EXPECT_EQ("", Bytes(HtmlEscape(static_cast<const char*>(nullptr))));
  EXPECT_EQ("plain", Bytes(HtmlEscape("plain")));
  // A form's references to characters outside the code page stay, and
  // nothing else does: "&#65;" is A, which the code page holds.
  EXPECT_EQ("&#48388;&#45216; &amp;#65; &amp; &lt;&#127800;&amp;#48388 &amp;#0;",
            Bytes(HtmlEscapeFormText("&#48388;&#45216; &#65; & <&#127800;&#48388 &#0;")));
  EXPECT_EQ("&lt;plain&gt;", Bytes(HtmlEscapeFormText("<plain>")));
  // An embedded NUL does not end the text.
  EXPECT_EQ(std::string("a\0&lt;b\0\0&amp;", 14), Bytes(HtmlEscape(ByteString("a\0<b\0\0&", 7))));
}

TEST(FindNoCaseTest, MatchesAsciiLettersOfEitherCase) {
  EXPECT_EQ(5, FindNoCase("index.HTML", ".html"));
  EXPECT_EQ(1, FindNoCase("ABCabc", "bCa"));
  EXPECT_EQ(0, FindNoCase("abc", ""));
  EXPECT_EQ(0, FindNoCase("", ""));
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("abc", "abcd"));
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("/playlist", "."));
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("", "a"));
}

TEST(FindNoCaseTest, OnlyAsciiLettersAreFolded) {
  // Bytes 0x20 apart that are not letters stay different.
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("@[\\]^", "`{|}~"));
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("\xC1", "\xE1"));
  EXPECT_EQ(ByteString::kNotFound, FindNoCase("\x82\x60", "\x82\x81"));
}

TEST(FindNoCaseTest, ScansEveryByteIncludingTrailBytes) {
  EXPECT_EQ(1, FindNoCase("\x83\x5Cx\\", "\\"));
  EXPECT_EQ(1, FindNoCase("\x83\x41", "a"));
}

TEST(StartsWithNoCaseTest, ComparesTheFirstBytesAfterLowerCasing) {
  const ByteString title("The Beatles - Help!");
  EXPECT_TRUE(StartsWithNoCase(title, "the", 3));
  EXPECT_TRUE(StartsWithNoCase(title, "THE BEATLES", 11));
  EXPECT_FALSE(StartsWithNoCase(title, "Beatles", 7));
  EXPECT_FALSE(StartsWithNoCase("Th", "the", 3));
  EXPECT_TRUE(StartsWithNoCase("anything", "", 0));
  EXPECT_TRUE(StartsWithNoCase("abc", "abd", 2));
  // The comparison stops at the end of both texts.
  EXPECT_TRUE(StartsWithNoCase("AB", "ab", 5));
  EXPECT_FALSE(StartsWithNoCase("ABC", "ab", 5));
}

TEST(StartsWithNoCaseTest, FoldsTwoByteLettersButNotTrailBytes) {
  // Full-width A (82 60) against full-width a (82 81), both ways round.
  EXPECT_TRUE(StartsWithNoCase("\x82\x60\x82\x61 Band", "\x82\x81\x82\x82", 4));
  EXPECT_TRUE(StartsWithNoCase("\x82\x81x", "\x82\x60X", 3));
  // Katakana A (83 41) has an ASCII "A" as trail byte; lowering it would
  // turn it into a different character (83 61).
  EXPECT_FALSE(StartsWithNoCase("\x83\x41", "\x83\x61", 2));
  EXPECT_TRUE(StartsWithNoCase("\x83\x41 Song", "\x83\x41 s", 4));
}

TEST(ContainsNoCaseTest, FindsTheWordAfterLowerCasing) {
  EXPECT_TRUE(ContainsNoCase("The Beatles - Help!", "BEAT"));
  EXPECT_TRUE(ContainsNoCase("The Beatles - Help!", "help!"));
  EXPECT_FALSE(ContainsNoCase("The Best", "beat"));
  EXPECT_TRUE(ContainsNoCase("", ""));
  EXPECT_TRUE(ContainsNoCase("abc", ""));
  EXPECT_FALSE(ContainsNoCase("", "a"));
  EXPECT_TRUE(ContainsNoCase("Song \x82\x60\x82\x61\x82\x62", "\x82\x82\x82\x83"));
}

TEST(ContainsNoCaseTest, NeverMatchesOnATrailByte) {
  EXPECT_FALSE(ContainsNoCase("\x83\x5C", "\\"));
  EXPECT_TRUE(ContainsNoCase("\x83\x5C\\", "\\"));
  EXPECT_FALSE(ContainsNoCase("\x83\x41", "A"));
  EXPECT_FALSE(ContainsNoCase("\x83\x41", "a"));
}

// The forms for texts lowered beforehand give what the NoCase forms give on
// the original texts, once both sides are lowered, and fold nothing
// themselves.
TEST(LowerCaseFormsTest, AgreeWithTheNoCaseFormsOnLoweredTexts) {
  const struct {
    const char* text;
    const char* word;
  } kCases[] = {
      {"The Beatles - Help!", "BEAT"},
      {"The Best", "beat"},
      {"", ""},
      {"abc", ""},
      {"", "a"},
      {"Song \x82\x60\x82\x61\x82\x62", "\x82\x82\x82\x83"},
      {"\x83\x5C", "\\"},
      {"\x83\x5C\\", "\\"},
      {"\x83\x41", "A"},
      {"\x83\x41 Song", "\x83\x41 S"},
      {"\x82\x60\x82\x61 Band", "\x82\x81"},
      {"AB", "abc"},
      {"Tail \x83", "TAIL \x83"},
  };
  for (const auto& c : kCases) {
    const ByteString text(c.text);
    const ByteString word(c.word);
    ByteString lowerText = text;
    ByteString lowerWord = word;
    lowerText.MakeLowerMultibyte();
    lowerWord.MakeLowerMultibyte();
    EXPECT_EQ(ContainsLowerCase(lowerText, lowerWord), ContainsNoCase(text, word)) << c.text << " / " << c.word;
    for (int count : {0, 1, 2, 4, word.Length(), word.Length() + 3}) {
      EXPECT_EQ(StartsWithLowerCase(lowerText, lowerWord, count), StartsWithNoCase(text, word, count))
          << c.text << " / " << c.word << " / " << count;
    }
  }
  EXPECT_FALSE(ContainsLowerCase("The Beatles", "BEAT"));
  EXPECT_FALSE(StartsWithLowerCase("The Beatles", "the", 3));
}

}  // namespace
}  // namespace ambervox
