// Code page 932 text services: lead bytes, lower-casing that never touches
// trail bytes, and the artist order, which ignores case, width and kana type.
// Texts are written as code page 932 bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/threads.h"

namespace ambervox {
namespace platform {
namespace {

std::string Lowered(std::string text) {
  LowerCaseMultibyte(&text[0], text.size());
  return text;
}

TEST(CodePage, LeadBytesAreThoseOfCodePage932) {
  for (int b : {0x81, 0x82, 0x88, 0x9F, 0xE0, 0xEA, 0xFC}) EXPECT_TRUE(IsLeadByte(static_cast<unsigned char>(b))) << b;
  for (int b : {0x00, 0x41, 0x5C, 0x7F, 0x80, 0xA0, 0xA1, 0xB1, 0xDF, 0xFD, 0xFE, 0xFF}) {
    EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(b))) << b;
  }
}

TEST(CodePage, LowerCaseChangesLettersButNeverTrailBytes) {
  EXPECT_EQ(Lowered("ABC xyz 123 [Q]"), "abc xyz 123 [q]");
  // Full-width capital A becomes full-width small a.
  EXPECT_EQ(Lowered("\x82\x60"), "\x82\x81");
  EXPECT_EQ(Lowered("\x82\x79"), "\x82\x9A");  // Z
  // Trail bytes that look like 'A' and 'Z' (katakana A, ka) stay.
  EXPECT_EQ(Lowered("\x83\x41\x83\x4A"), "\x83\x41\x83\x4A");
  EXPECT_EQ(Lowered("\x83\x5A"), "\x83\x5A");
  EXPECT_EQ(Lowered("A\x82\x60"
                    "A\x83\x41"
                    "A"),
            "a\x82\x81"
            "a\x83\x41"
            "a");
  // Half-width katakana and kanji have no case.
  EXPECT_EQ(Lowered("\xB1\xB2\xB3\x8A\xBF\x8E\x9A"), "\xB1\xB2\xB3\x8A\xBF\x8E\x9A");
  // A lead byte cut off at the end is left alone; the length never changes.
  EXPECT_EQ(Lowered("AB\x82"), "ab\x82");
  std::string partial = "\x82\x60\x82\x60";
  LowerCaseMultibyte(&partial[0], 3);
  EXPECT_EQ(partial, "\x82\x81\x82\x60");
}

TEST(CodePage, LowerCaseCoversFullWidthGreekAndCyrillicCapitals) {
  for (int i = 0; i < 26; ++i) {
    std::string capital = {'\x82', static_cast<char>(0x60 + i)};
    EXPECT_EQ(Lowered(capital), std::string({'\x82', static_cast<char>(0x81 + i)})) << i;
  }
  // Greek: Alpha..Omega (83 9F-B6) -> alpha..omega (83 BF-D6).
  EXPECT_EQ(Lowered("\x83\x9F"), "\x83\xBF");
  EXPECT_EQ(Lowered("\x83\xB6"), "\x83\xD6");
  // Cyrillic: the small letters skip 84 7F, so A..EN map by 0x30 and O..YA by 0x31.
  EXPECT_EQ(Lowered("\x84\x40"), "\x84\x70");  // A
  EXPECT_EQ(Lowered("\x84\x46"), "\x84\x76");  // IO
  EXPECT_EQ(Lowered("\x84\x4E"), "\x84\x7E");  // EN
  EXPECT_EQ(Lowered("\x84\x4F"), "\x84\x80");  // O
  EXPECT_EQ(Lowered("\x84\x60"), "\x84\x91");  // YA
  // Small letters stay as they are.
  EXPECT_EQ(Lowered("\x82\x81\x83\xBF\x84\x70\x84\x91"), "\x82\x81\x83\xBF\x84\x70\x84\x91");
}

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

void ExpectOrder(const char* a, const char* b, int expected) {
  EXPECT_EQ(Sign(CompareArtistNames(a, b)), expected) << a << " / " << b;
  EXPECT_EQ(Sign(CompareArtistNames(b, a)), -expected) << b << " / " << a;
}

TEST(CodePage, ArtistNamesIgnoreCaseWidthAndKanaType) {
  ExpectOrder("abc", "ABC", 0);
  ExpectOrder("\x82\x60\x82\x61\x82\x62", "ABC", 0);           // full-width ABC
  ExpectOrder("\x82\x81\x82\x82\x82\x83", "ABC", 0);           // full-width abc
  ExpectOrder("\x82\xA0", "\x83\x41", 0);                      // hiragana a, katakana a
  ExpectOrder("\xB1", "\x83\x41", 0);                          // half-width and full-width katakana a
  ExpectOrder("\x82\xA0\x82\xA2\x82\xA4", "\xB1\xB2\xB3", 0);  // aiu in hiragana, half-width katakana
  ExpectOrder("abc", "abd", -1);
  ExpectOrder("\x82\xA9", "\x82\xAA", -1);  // ka before ga: voicing still counts
}

TEST(CodePage, ArtistOrderMatchesTheSystemsOrder) {
  // Each group holds names that compare equal; the groups are in order.
  const std::vector<std::vector<const char*>> groups = {
      {"_x"},
      {"123"},
      {"\x82\x60\x82\x61\x82\x62"},  // ＡＢＣ
      {"abd"},
      {"Apple", "apple", "\x82\x81\x82\x90\x82\x90\x82\x8C\x82\x85"},  // ａｐｐｌｅ
      {"\x82\x79"},                                                    // Ｚ
      {"zebra"},
      {"\x82\xA0\x82\xA2\x82\xA4", "\x83\x41\x83\x43\x83\x45", "\xB1\xB2\xB3"},  // あいう アイウ ｱｲｳ
      {"\x82\xA9\x82\xF1\x82\xB6"},                                              // かんじ
      {"\x8A\xBF\x8E\x9A"},                                                      // 漢字
  };
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (std::size_t h = g; h < groups.size(); ++h) {
      for (const char* a : groups[g]) {
        for (const char* b : groups[h]) ExpectOrder(a, b, g == h ? 0 : -1);
      }
    }
  }
}

TEST(CodePage, HyphensAndApostrophesOnlyBreakTies) {
  ExpectOrder("Jay-Z", "Jayhawks", 1);  // compared as "JayZ"
  ExpectOrder("co-op", "coop", 1);
  ExpectOrder("a-b", "ab", 1);
  ExpectOrder("a-b", "A-B", 0);
  ExpectOrder("ab-c", "a-bc", -1);  // the earlier mark weighs more
  ExpectOrder("a--b", "a-b", 1);
  ExpectOrder("a-b", "a'b", 1);
  ExpectOrder("B'z", "Bz", 1);
  ExpectOrder("Guns N' Roses", "Guns Nroses", -1);
  ExpectOrder(
      "a\x81\x7C"
      "b",
      "ab", 1);  // full-width hyphen-minus
}

TEST(CodePage, ComparesSafelyFromManyThreadsAtOnce) {
  struct Work {
    std::atomic<int> wrong{0};
  };
  auto run = [](void* argument) -> unsigned {
    Work* work = static_cast<Work*>(argument);
    for (int i = 0; i < 500; ++i) {
      if (CompareArtistNames("\x82\xA0\x82\xA2\x82\xA4", "\xB1\xB2\xB3") != 0) ++work->wrong;
      if (CompareArtistNames("Apple", "zebra") >= 0) ++work->wrong;
      if (CompareArtistNames("\x8A\xBF\x8E\x9A", "abc") <= 0) ++work->wrong;
    }
    return 0;
  };
  Work work[4];
  ThreadHandle threads[4];
  for (int i = 0; i < 4; ++i) {
    threads[i] = StartThread(run, &work[i], false, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  for (int i = 0; i < 4; ++i) {
    JoinThread(threads[i]);
    CloseThreadHandle(threads[i]);
    EXPECT_EQ(work[i].wrong.load(), 0);
  }
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
