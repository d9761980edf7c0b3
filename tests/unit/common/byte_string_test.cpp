#include "common/byte_string.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>
#include <vector>

namespace ambervox {
namespace {

TEST(ByteStringTest, HoldsBytesWithLengthAndTerminator) {
  ByteString empty;
  EXPECT_EQ(0, empty.Length());
  EXPECT_STREQ("", empty.CStr());
  ByteString nul("a\0b", 3);
  EXPECT_EQ(3, nul.Length());
  EXPECT_EQ('b', nul.At(2));
  EXPECT_EQ(0, nul.CStr()[3]);
  EXPECT_EQ(0, nul.At(3));
  EXPECT_EQ(0, nul.At(-1));
  ByteString fromNull(static_cast<const char*>(nullptr));
  EXPECT_TRUE(fromNull.IsEmpty());
}

TEST(ByteStringTest, CopiesShareStorageUntilWritten) {
  ByteString a("shared text");
  ByteString b = a;
  // One storage: the same bytes at the same address.
  EXPECT_EQ(a.Data(), b.Data());
  b.Append("!");
  EXPECT_NE(a.Data(), b.Data());
  EXPECT_TRUE(a.Equals("shared text"));
  EXPECT_TRUE(b.Equals("shared text!"));
  ByteString c = a;
  c.MutableData()[0] = 'S';
  EXPECT_TRUE(a.Equals("shared text"));
  EXPECT_TRUE(c.Equals("Shared text"));
  ByteString d = a;
  d.Truncate(3);
  EXPECT_TRUE(a.Equals("shared text"));
  EXPECT_TRUE(d.Equals("sha"));
}

TEST(ByteStringTest, MisuseRaisesItsCodeAndOverflowRunsOutOfMemory) {
  try {
    ByteString bad("abc", -1);
    FAIL() << "negative length accepted";
  } catch (const ByteStringError& e) {
    EXPECT_EQ(0x80070057u, e.code());
  }
  try {
    ByteString bad(nullptr, 2);
    FAIL() << "null source accepted";
  } catch (const ByteStringError& e) {
    EXPECT_EQ(0x80070057u, e.code());
  }
  ByteString s("x");
  EXPECT_THROW(s.Append(nullptr, 1), ByteStringError);
  ByteString nothing;
  EXPECT_NO_THROW(nothing.Append(nullptr, 0));
  // A length past the 32-bit range is refused before anything is copied.
  EXPECT_THROW(s.Append("y", 0x7FFFFFFF), std::bad_alloc);
  EXPECT_TRUE(s.Equals("x"));
}

TEST(ByteStringTest, PartsAreClampedByteCounts) {
  ByteString s("abcdef");
  EXPECT_TRUE(s.Left(2).Equals("ab"));
  EXPECT_TRUE(s.Left(99).Equals("abcdef"));
  EXPECT_TRUE(s.Left(-1).IsEmpty());
  EXPECT_TRUE(s.Mid(4).Equals("ef"));
  EXPECT_TRUE(s.Mid(-3, 2).Equals("ab"));
  EXPECT_TRUE(s.Mid(2, 99).Equals("cdef"));
  EXPECT_TRUE(s.Mid(6).IsEmpty());
  EXPECT_TRUE(s.Right(3).Equals("def"));
  EXPECT_TRUE(s.Right(10).Equals("abcdef"));
}

TEST(ByteStringTest, FindNeverStartsOnATrailByte) {
  // 0x82 0x60 is full-width A; its trail byte 0x60 is also a backquote, and
  // 0x83 0x5C (ソ) carries a backslash as its trail byte.
  ByteString s("\x82\x60`\x83\x5C\\");
  EXPECT_EQ(2, s.Find("`"));
  EXPECT_EQ(5, s.Find("\\"));
  EXPECT_EQ(0, s.Find("\x82\x60"));
  EXPECT_EQ(ByteString::kNotFound, s.Find("\x60\x60"));
  EXPECT_EQ(3, s.Find("", 3));
  EXPECT_EQ(ByteString::kNotFound, s.Find("x"));
  // A start inside a character moves on to the next character.
  ByteString t("\x82\x60\x60");
  EXPECT_EQ(2, t.Find("\x60", 1));
}

TEST(ByteStringTest, ReplaceAllIsLeftToRightAndNeverRescans) {
  ByteString s("aaa");
  EXPECT_EQ(1, s.ReplaceAll("aa", "b"));
  EXPECT_TRUE(s.Equals("ba"));
  ByteString grow("%%X%% and %%X%%");
  EXPECT_EQ(2, grow.ReplaceAll("%%X%%", "%%X%%%%X%%"));
  EXPECT_TRUE(grow.Equals("%%X%%%%X%% and %%X%%%%X%%"));
  ByteString none("abc");
  EXPECT_EQ(0, none.ReplaceAll("", "zzz"));
  EXPECT_TRUE(none.Equals("abc"));
  // The trail byte of ソ is not a backslash to be replaced.
  ByteString mb("\x83\x5C\\");
  EXPECT_EQ(1, mb.ReplaceAll("\\", "/"));
  EXPECT_TRUE(mb.Equals("\x83\x5C/"));
  // Replacing with a part of itself.
  ByteString self("ab");
  self.ReplaceAll(self.Left(1), self);
  EXPECT_TRUE(self.Equals("abb"));
  ByteString own("x%y");
  EXPECT_EQ(1, own.AppendReplaced(own, "%", own));
  EXPECT_TRUE(own.Equals("x%yxx%yy"));
}

// AppendReplaced walks the text once; it must find exactly what a search
// from the start finds before every replacement, lead and trail bytes
// included. Random texts over bytes that form, split and imitate two-byte
// characters, against that reference built from FindBytes.
TEST(ByteStringTest, AppendReplacedFindsWhatRepeatedSearchesFind) {
  const char alphabet[] = {'\x82', '\x5C', '%', 'a', '\x81', '\x40'};
  unsigned seed = 12345;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  auto randomText = [&](unsigned maxLength) {
    ByteString text;
    for (unsigned n = next(maxLength + 1); n > 0; --n) text.AppendChar(alphabet[next(sizeof alphabet)]);
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    const ByteString text = randomText(24);
    const ByteString pattern = randomText(3);
    const ByteString replacement = randomText(3);
    ByteString expected("head");
    int expectedCount = 0;
    if (!pattern.IsEmpty()) {
      int copied = 0;
      for (int at = text.Find(pattern, 0); at != ByteString::kNotFound; at = text.Find(pattern, copied)) {
        expected.Append(text.Data() + copied, at - copied);
        expected.Append(replacement);
        copied = at + pattern.Length();
        ++expectedCount;
      }
      expected.Append(text.Data() + copied, text.Length() - copied);
    } else {
      expected.Append(text);
    }
    ByteString appended("head");
    ASSERT_EQ(expectedCount, appended.AppendReplaced(text.Data(), text.Length(), pattern.Data(), pattern.Length(),
                                                     replacement.Data(), replacement.Length()));
    ASSERT_TRUE(appended == expected) << "round " << round;
  }
}

TEST(ByteStringTest, TrimsWholeCharacters) {
  ByteString t("  Artist \x81\x40\t\r\n");
  t.TrimRight(" \t\r\n", true);
  EXPECT_TRUE(t.Equals("  Artist"));
  t.TrimLeft(" ", true);
  EXPECT_TRUE(t.Equals("Artist"));
  // 0x82 0x40 ends in 0x40 but is not a full-width space; 0x81 0x20 cannot be
  // cut at its space "trail".
  ByteString u("x\x82\x40");
  u.TrimRight(" ", true);
  EXPECT_TRUE(u.Equals("x\x82\x40"));
  ByteString only("\x81\x40 \x81\x40");
  only.TrimRight(" ", true);
  EXPECT_TRUE(only.IsEmpty());
}

TEST(ByteStringTest, FormatAndAppendGrow) {
  ByteString s = ByteString::Format("%d-%s", 42, "x");
  EXPECT_TRUE(s.Equals("42-x"));
  std::string big(1000, 'q');
  s.AppendFormat("[%s]", big.c_str());
  EXPECT_EQ(4 + 1002, s.Length());
  ByteString built;
  for (int i = 0; i < 10000; ++i) built.AppendChar(static_cast<char>('a' + i % 26));
  EXPECT_EQ(10000, built.Length());
  EXPECT_EQ('a', built.At(26));
  ByteString self("ab");
  self.Append(self);
  EXPECT_TRUE(self.Equals("abab"));
}

TEST(ByteStringTest, ComparesAsBytes) {
  EXPECT_LT(ByteString("abc").Compare(ByteString("abd")), 0);
  EXPECT_LT(ByteString("ab").Compare(ByteString("abc")), 0);
  EXPECT_GT(ByteString("\x82\x60").Compare(ByteString("z")), 0);
  EXPECT_EQ(ByteString("a\0b", 3), ByteString("a\0b", 3));
  EXPECT_NE(ByteString("a\0b", 3), ByteString("a\0c", 3));
}

TEST(ByteStringTest, CopiesStayValidOnOtherThreads) {
  ByteString source("text read under a lock by many threads");
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      int good = 0;
      for (int i = 0; i < 2000; ++i) {
        ByteString copy = source;  // shares the storage
        copy.AppendChar('!');      // private copy now
        good += copy.Length() == source.Length() + 1;
      }
      ok[t] = good;
    });
  }
  for (auto& t : threads) t.join();
  for (int v : ok) EXPECT_EQ(2000, v);
  EXPECT_TRUE(source.Equals("text read under a lock by many threads"));
}

}  // namespace
}  // namespace ambervox
