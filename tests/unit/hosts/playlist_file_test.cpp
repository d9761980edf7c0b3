// The stand-in player's playlist files: UTF-8 .m3u8 converted to code page
// 932, .m3u bytes kept as they are, #EXTINF lengths and titles, and titles
// made from file names.
#include "playlist_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace ambervox {
namespace {

using testing::TempFolder;

TEST(PlaylistFile, M3u8IsConvertedToCodePage932WithLengthsAndTitles) {
  // BOM, CRLF, a header, Japanese text, an unknown length, an entry without
  // #EXTINF and a blank line.
  const std::string content =
      "\xEF\xBB\xBF#EXTM3U\r\n"
      "#EXTINF:258,\xE5\x8D\x83\xE5\xA4\x9C - \xE8\xA1\xA8\r\n"  // 千夜 - 表
      "C:\\Music\\\xE8\xA1\xA8.mp3\r\n"                          // C:\Music\表.mp3
      "\r\n"
      "#EXTINF:-1,Live Stream\r\n"
      "http://radio.invalid/stream\r\n"
      "D:\\Other\\plain name.ogg\r\n"
      "C:\\Music\\\xEB\xB4\x84 - \xE8\xA1\xA8.mp3\r\n";  // 봄 - 表.mp3
  std::vector<SimulatedEntry> entries;
  ASSERT_TRUE(ParsePlaylist(content, true, &entries));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(*entries[0].title, "\x90\xE7\x96\xE9 - \x95\x5C");
  EXPECT_EQ(*entries[0].filePath, "C:\\Music\\\x95\x5C.mp3");
  EXPECT_EQ(entries[0].lengthSeconds, 258);
  EXPECT_EQ(*entries[1].title, "Live Stream");
  EXPECT_EQ(entries[1].lengthSeconds, 0);
  EXPECT_EQ(*entries[2].title, "plain name");
  EXPECT_EQ(entries[2].lengthSeconds, 0);
  // The player keeps every character in its UTF-16 texts; the code page
  // has "?" for what it lacks.
  EXPECT_EQ(*entries[3].title, "? - \x95\x5C");
  EXPECT_EQ(*entries[3].wideTitle, u"\uBD04 - \u8868");
  EXPECT_EQ(*entries[3].wideFilePath, u"C:\\Music\\\uBD04 - \u8868.mp3");
  EXPECT_EQ(*entries[0].wideTitle, u"\u5343\u591C - \u8868");
}

TEST(PlaylistFile, M3uBytesAreKeptAndATrailByte5CIsNoFolderSeparator) {
  // "表示.mp3" in code page 932: 95 5C 8E A6; its first trail byte is "\".
  const std::string content = "C:\\Music\\\x95\x5C\x8E\xA6.mp3\n#EXTINF:12,\x95\x5C - x\nC:\\a.mp3\n";
  std::vector<SimulatedEntry> entries;
  ASSERT_TRUE(ParsePlaylist(content, false, &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(*entries[0].title, "\x95\x5C\x8E\xA6");
  EXPECT_EQ(*entries[1].title, "\x95\x5C - x");
  EXPECT_EQ(*entries[1].wideTitle, u"\u8868 - x");
  EXPECT_EQ(entries[1].lengthSeconds, 12);
}

TEST(PlaylistFile, InvalidUtf8IsRefusedAndTheEntriesStayUntouched) {
  std::vector<SimulatedEntry> entries(2);
  EXPECT_FALSE(ParsePlaylist("#EXTINF:1,\xC3(\nx.mp3\n", true, &entries));
  EXPECT_EQ(entries.size(), 2u);
}

TEST(PlaylistFile, TheFileNameDecidesTheEncoding) {
  TempFolder folder;
  const std::string bytes = "#EXTINF:5,\xE8\xA1\xA8\nx.mp3\n";
  TempFolder::WriteBytes(folder.File("list.M3U8"), bytes);
  TempFolder::WriteBytes(folder.File("list.m3u"), bytes);
  std::vector<SimulatedEntry> utf8;
  std::vector<SimulatedEntry> ansi;
  ASSERT_TRUE(ReadPlaylistFile(folder.File("list.M3U8"), &utf8));
  ASSERT_TRUE(ReadPlaylistFile(folder.File("list.m3u"), &ansi));
  ASSERT_EQ(utf8.size(), 1u);
  ASSERT_EQ(ansi.size(), 1u);
  EXPECT_EQ(*utf8[0].title, "\x95\x5C");
  EXPECT_EQ(*ansi[0].title, "\xE8\xA1\xA8");
  EXPECT_FALSE(ReadPlaylistFile(folder.File("missing.m3u"), &ansi));
}

}  // namespace
}  // namespace ambervox
