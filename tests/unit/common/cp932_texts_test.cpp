// The Japanese texts of the product: each code page 932 text is exactly its
// UTF-8 source converted by the system (Windows, code page 932) or by ICU's
// table (POSIX), so that an edited source and stale bytes cannot drift
// apart.
#include "common/cp932_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/codepage_conversion.h"

namespace ambervox {
namespace {

TEST(Cp932TextsTest, EveryTextIsItsUtf8SourceInCodePage932) {
  std::set<std::string> seen;
  for (int id = 0; id < kCp932TextCount; ++id) {
    const Cp932Text& text = kCp932Texts[id];
    ASSERT_NE(text.utf8, nullptr) << id;
    ASSERT_NE(text.bytes, nullptr) << id;
    std::string converted;
    ASSERT_TRUE(platform::Utf8ToAnsi(text.utf8, &converted)) << id;
    EXPECT_EQ(converted, text.bytes) << "text " << id << ": " << text.utf8;
    // Every text holds Japanese (no "?" of a character the code page lacks)
    // and appears once.
    EXPECT_EQ(converted.find('?'), std::string::npos) << text.utf8;
    EXPECT_TRUE(seen.insert(text.bytes).second) << text.utf8;
  }
}

}  // namespace
}  // namespace ambervox
