// Test data shared by the unit tests, the fuzzers and the benchmarks: a
// playlist for the simulated player and the browser identities of
// listeners.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/user_id.h"
#include "platform/codepage_conversion.h"
#include "simulated_player.h"

namespace ambervox {
namespace testing {

// "Artist i - Song": one song per artist.
inline std::string ArtistAndSong(int i) { return "Artist " + std::to_string(i) + " - Song"; }
// "Artist i - Song i": every title and every artist differs.
inline std::string NumberedTitle(int i) { return "Artist " + std::to_string(i) + " - Song " + std::to_string(i); }

// `count` songs, file "<folder>song<i>.mp3", titled `title(i)`, 200 s long
// unless `length(i)` says otherwise.
inline std::vector<SimulatedEntry> Songs(int count, const std::function<std::string(int)>& title = ArtistAndSong,
                                         const std::string& folder = "",
                                         const std::function<int(int)>& length = nullptr) {
  std::vector<SimulatedEntry> songs;
  for (int i = 0; i < count; ++i) {
    songs.push_back({folder + "song" + std::to_string(i) + ".mp3", title(i), length ? length(i) : 200});
  }
  return songs;
}

// "Artist i - Song i", 200 s each.
inline std::vector<SimulatedEntry> NumberedSongs(int count) { return Songs(count, NumberedTitle); }

// One song per title, "<title>.mp3", 100 s each.
inline std::vector<SimulatedEntry> Titled(const std::vector<std::string>& titles) {
  std::vector<SimulatedEntry> songs;
  for (const std::string& t : titles) songs.push_back({t + ".mp3", t, 100});
  return songs;
}

// One song per UTF-8 title, "<i>.mp3", 100 s each, as a player that keeps
// titles in Unicode holds it (as the stand-in does from an .m3u8): the title
// in the ANSI code page, "?" for each character the code page lacks, and in
// UTF-16.
inline std::vector<SimulatedEntry> UnicodeSongs(const std::vector<std::string>& utf8Titles) {
  std::vector<SimulatedEntry> songs;
  for (std::size_t i = 0; i < utf8Titles.size(); ++i) {
    SimulatedEntry song{std::to_string(i) + ".mp3", std::string(), 100};
    std::u16string wide;
    platform::Utf8ToAnsi(utf8Titles[i], &*song.title);
    platform::Utf8ToUtf16(utf8Titles[i], &wide);
    song.wideTitle = wide;
    songs.push_back(std::move(song));
  }
  return songs;
}

// Titles in several scripts, UTF-8, and what pages show for each: Hangul,
// simplified Chinese (伦 only outside the code page), an emoji outside the
// BMP, kana mixed with both, a title holding "&" and "&#65;" literally, one
// within the code page (東京事変 - 群青日和), and a second Hangul artist.
inline const std::vector<std::string>& ScriptTitles() {
  static const std::vector<std::string> titles = {
      "\xEB\xB0\xA9\xED\x83\x84\xEC\x86\x8C\xEB\x85\x84\xEB\x8B\xA8 - \xEB\xB4\x84\xEB\x82\xA0",
      "\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6 - \xE6\x99\xB4\xE5\xA4\xA9",
      "Bright \xF0\x9F\x8C\x9F Star",
      "\xE3\x81\x95\xE3\x81\x8F\xE3\x82\x89 \xEB\xB4\x84 \xF0\x9F\x8C\xB8 - \xE6\x98\xA5",
      "Tom & Jerry &#65; - \xEB\xB4\x84",
      "\xE6\x9D\xB1\xE4\xBA\xAC\xE4\xBA\x8B\xE5\xA4\x89 - \xE7\xBE\xA4\xE9\x9D\x92\xE6\x97\xA5\xE5\x92\x8C",
      "\xEB\xB8\x94\xEB\x9E\x99\xED\x95\x91\xED\x81\xAC - \xEB\x9A\x9C\xEB\x91\x90",
  };
  return titles;
}
inline const std::vector<std::string>& ScriptPageTexts() {
  static const std::vector<std::string> texts = {
      "&#48169;&#53444;&#49548;&#45380;&#45800; - &#48388;&#45216;",
      "\x8E\xFC\x9E^&#20262; - \x90\xB0\x93V",
      "Bright &#127775; Star",
      "\x82\xB3\x82\xAD\x82\xE7 &#48388; &#127800; - \x8Ft",
      "Tom &amp; Jerry &amp;#65; - &#48388;",
      "\x93\x8C\x8B\x9E\x8E\x96\x95\xCF - \x8C\x51\x90\xC2\x93\xFA\x98\x61",
      "&#48660;&#47001;&#54609;&#53356; - &#46748;&#46160;",
  };
  return texts;
}

// The browser of listener `n`: "A000000n-0B0C-0000-0000-00000000000n" for
// n below 16.
inline UserId User(std::uint32_t n) {
  UserId id;
  id.data1 = 0xA0000000u + n;
  id.data2 = 0x0B0C;
  id.data4[7] = static_cast<std::uint8_t>(n);
  return id;
}

}  // namespace testing
}  // namespace ambervox
