#include "requests/playlist_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "player/player_messages.h"
#include "simulated_player.h"
#include "support/expect_finishes.h"
#include "support/test_data.h"

namespace ambervox {
namespace {

using testing::ExpectFinishes;

// What a test that does not finish suggests.
constexpr const char kSuspect[] = "a lock is held while the player is asked";

using Titles = std::vector<std::optional<std::string>>;

class PlaylistCacheTest : public ::testing::Test {
 protected:
  PlaylistCacheTest() : thread_("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure) {
    player_.Attach(thread_.window());
    cache_.SetPlayerWindow(thread_.window());
  }

  // Gives the player these titles (file paths "C:\music\<i>.mp3") and
  // rebuilds the cache from it.
  void Load(const Titles& titles) {
    std::vector<SimulatedEntry> entries;
    for (std::size_t i = 0; i < titles.size(); ++i) {
      entries.push_back({"C:\\music\\" + std::to_string(i) + ".mp3", titles[i], 180});
    }
    player_.SetPlaylist(std::move(entries));
    ASSERT_TRUE(cache_.Rebuild());
  }

  std::string Title(int index) {
    ByteString title("<none>");
    EXPECT_TRUE(cache_.GetTitle(index, title)) << "index " << index;
    return std::string(title.Data(), static_cast<std::size_t>(title.Length()));
  }

  std::vector<std::string> Artists() {
    std::vector<std::string> artists;
    const int count = cache_.ArtistCount();
    for (int i = 0; i < count; ++i) {
      ByteString artist;
      EXPECT_TRUE(cache_.GetArtist(i, artist));
      artists.emplace_back(artist.Data(), static_cast<std::size_t>(artist.Length()));
    }
    return artists;
  }

  SimulatedPlayer player_;
  platform::WindowThread thread_;
  PlaylistCache cache_;
};

TEST_F(PlaylistCacheTest, EmptyPlaylistEmptiesEverything) {
  Load({std::string("Old - Song"), std::string("Older - Song")});
  player_.SetPosition(0);
  Load({});
  EXPECT_EQ(0, cache_.EntryCount());
  EXPECT_EQ(0, cache_.ArtistCount());
  ByteString out("untouched");
  EXPECT_FALSE(cache_.GetTitle(0, out));
  EXPECT_FALSE(cache_.GetArtist(0, out));
  EXPECT_FALSE(cache_.GetCurrentShownTitle(out));
  EXPECT_TRUE(out.Equals("untouched"));
}

TEST_F(PlaylistCacheTest, OutOfRangeLookupsLeaveTheOutputUntouched) {
  Load({std::string("A - 1"), std::string("B - 2"), std::string("C - 3")});
  ByteString out("untouched");
  EXPECT_FALSE(cache_.GetTitle(-1, out));
  EXPECT_FALSE(cache_.GetTitle(cache_.EntryCount(), out));
  EXPECT_FALSE(cache_.GetArtist(-1, out));
  EXPECT_FALSE(cache_.GetArtist(cache_.ArtistCount(), out));
  EXPECT_TRUE(out.Equals("untouched"));
  PlaylistEntry entry{"path", "title"};
  EXPECT_FALSE(cache_.GetEntry(3, entry));
  EXPECT_TRUE(entry.filePath.Equals("path"));
  EXPECT_TRUE(entry.title.Equals("title"));
  EXPECT_EQ("C - 3", Title(2));
}

TEST_F(PlaylistCacheTest, KeepsEachTrimmedTitleLowerCasedForTheSearch) {
  // A full-width capital, a katakana whose trail byte is 'A' (0x83 0x41, ア)
  // and a lead byte at the very end, which is no character.
  Load({std::string("The BEATLES - Help\r\n"), std::string("\x82\x60\x83\x41Z"), std::string("abc"),
        std::string("Tail \x83"), std::nullopt});
  const struct {
    int index;
    const char* title;
    const char* lower;
  } kCases[] = {
      {0, "The BEATLES - Help", "the beatles - help"},
      {1, "\x82\x60\x83\x41Z", "\x82\x81\x83\x41z"},
      {2, "abc", "abc"},
      {3, "Tail \x83", "tail \x83"},
      {4, "", ""},
  };
  for (const auto& c : kCases) {
    ByteString title("<none>");
    ByteString lower("<none>");
    ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(c.index, title, lower)) << c.index;
    EXPECT_EQ(title, ByteString(c.title)) << c.index;
    EXPECT_EQ(lower, ByteString(c.lower)) << c.index;
    // What the search did before the cache kept it: lower-case the title.
    ByteString expected = title;
    expected.MakeLowerMultibyte();
    EXPECT_EQ(lower, expected) << c.index;
  }
  ByteString title("kept");
  ByteString lower("kept too");
  EXPECT_FALSE(cache_.GetShownTitleAndLowerCase(-1, title, lower));
  EXPECT_FALSE(cache_.GetShownTitleAndLowerCase(5, title, lower));
  EXPECT_TRUE(title.Equals("kept"));
  EXPECT_TRUE(lower.Equals("kept too"));

  // The next rebuild replaces both forms together.
  Load({std::string("NEW - One")});
  ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(0, title, lower));
  EXPECT_TRUE(title.Equals("NEW - One"));
  EXPECT_TRUE(lower.Equals("new - one"));
  EXPECT_FALSE(cache_.GetShownTitleAndLowerCase(1, title, lower));
}

TEST_F(PlaylistCacheTest, TitlesLoseTrailingBlanksAndLineBreaksOnly) {
  Load({
      std::string("Artist - Song\r\n"),
      std::string("  Lead - Song\x81\x40\t\x81\x40 \n"),
      // The last two bytes look like a full-width space but are the trail of
      // a full-width 'a' and an '@'.
      std::string("Mail \x82\x81@"),
      std::string("Artist - "),
      std::string("\x81\x40Wide - Song"),
  });
  EXPECT_EQ("Artist - Song", Title(0));
  EXPECT_EQ("  Lead - Song", Title(1));
  EXPECT_EQ("Mail \x82\x81@", Title(2));
  EXPECT_EQ("Artist -", Title(3));
  EXPECT_EQ("\x81\x40Wide - Song", Title(4)) << "leading characters stay";
}

TEST_F(PlaylistCacheTest, ArtistIsThePartBeforeTheFirstSeparatorTrimmed) {
  Load({
      std::string("Artist - Song - Live"), std::string("  Second  - Song"), std::string("\x81\x40Third\x81\x40 - Song"),
      std::string("Lonely - "),  // trimmed to "Lonely -": no separator left
      std::string("Song"), std::string(" - Song"), std::string("   - Song"), std::string("\x81\x40 \x81\x40 - Song"),
      std::string("Ends\x82\x81@ - Song"),  // a trail byte is not a full-width space
  });
  EXPECT_EQ((std::vector<std::string>{"Artist", "Ends\x82\x81@", "Second", "Third"}), Artists());
  EXPECT_EQ(9, cache_.EntryCount());
}

TEST_F(PlaylistCacheTest, NamesEqualInArtistOrderAreOneArtistWrittenAsAtTheLowestPosition) {
  Load({std::string("abc - x"), std::string("Other - 1"), std::string("Other - 2"), std::string("Third - 3"),
        std::string("x"), std::string("ABC - y")});
  EXPECT_EQ((std::vector<std::string>{"abc", "Other", "Third"}), Artists());

  Load({std::string("ABC - y"), std::string("abc - x")});
  EXPECT_EQ((std::vector<std::string>{"ABC"}), Artists());

  // Full-width and half-width letters.
  Load({std::string("\x82\x60\x82\x61\x82\x62 - x"), std::string("abc - y"),
        std::string("\x82\x81\x82\x82\x82\x83 - z")});
  EXPECT_EQ((std::vector<std::string>{"\x82\x60\x82\x61\x82\x62"}), Artists());

  // Hiragana, katakana and half-width katakana.
  Load({std::string("\x82\xa0\x82\xa2\x82\xa4 - x"), std::string("\x83\x41\x83\x43\x83\x45 - y"),
        std::string("\xb1\xb2\xb3 - z")});
  EXPECT_EQ((std::vector<std::string>{"\x82\xa0\x82\xa2\x82\xa4"}), Artists());
}

TEST_F(PlaylistCacheTest, ArtistsAreInCollationOrderNotByteOrder) {
  const std::string zenkakuZ = "\x82\x79";
  const std::string fullAbc = "\x82\x60\x82\x61\x82\x62";
  const std::string hiragana = "\x82\xa0\x82\xa2\x82\xa4";
  const std::string kanjiReading = "\x82\xa9\x82\xf1\x82\xb6";
  const std::string kanji = "\x8a\xbf\x8e\x9a";
  Load({kanji + " - 1", std::string("zebra - 2"), hiragana + " - 3", std::string("Apple - 4"), std::string("_x - 5"),
        zenkakuZ + " - 6", std::string("abd - 7"), kanjiReading + " - 8", std::string("123 - 9"), fullAbc + " - 10"});
  EXPECT_EQ((std::vector<std::string>{"_x", "123", fullAbc, "abd", "Apple", zenkakuZ, "zebra", hiragana, kanjiReading,
                                      kanji}),
            Artists());
}

TEST_F(PlaylistCacheTest, MissingTitlesAndPathsKeepTheirPositions) {
  std::vector<SimulatedEntry> entries = {
      {std::string("a.mp3"), std::string("A - 1"), 1},
      {std::string("b.mp3"), std::nullopt, 1},
      {std::nullopt, std::string("C - 3"), 1},
  };
  player_.SetPlaylist(entries);
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(3, cache_.EntryCount());
  EXPECT_EQ("", Title(1));
  EXPECT_EQ("C - 3", Title(2));
  PlaylistEntry entry;
  ASSERT_TRUE(cache_.GetEntry(1, entry));
  EXPECT_TRUE(entry.filePath.Equals("b.mp3"));
  ASSERT_TRUE(cache_.GetEntry(2, entry));
  EXPECT_TRUE(entry.filePath.IsEmpty());
  EXPECT_TRUE(entry.title.Equals("C - 3"));
  EXPECT_EQ((std::vector<std::string>{"A", "C"}), Artists());
}

TEST_F(PlaylistCacheTest, KeepsTheContentOfTheLastRebuild) {
  Load({std::string("A - 1"), std::string("B - 2"), std::string("C - 3"), std::string("D - 4")});
  // The player's playlist changes; the cache answers from its copy.
  player_.SetPlaylist({{std::string("x.mp3"), std::string("X - 9"), 1}});
  EXPECT_EQ(4, cache_.EntryCount());
  EXPECT_EQ("D - 4", Title(3));
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(1, cache_.EntryCount());
  EXPECT_EQ("X - 9", Title(0));
  EXPECT_EQ((std::vector<std::string>{"X"}), Artists());
}

// The player keeps titles in Unicode and answers 212 with "?" for what code
// page 932 lacks; the cache reads those characters from 214 and keeps them
// as references, escaping only what the title itself holds.
TEST_F(PlaylistCacheTest, TitlesOutsideTheCodePageKeepTheirCharactersAsReferences) {
  std::vector<SimulatedEntry> songs = testing::UnicodeSongs(testing::ScriptTitles());
  // A player that does not answer 214 (an old one): "?" stays "?", and
  // its Korean artists collapse as they always did.
  songs.push_back({"old1.mp3", std::string("????? - ??"), 100});
  songs.push_back({"old2.mp3", std::string("????? - ???"), 100});
  player_.SetPlaylist(std::move(songs));
  ASSERT_TRUE(cache_.Rebuild());

  const std::vector<std::string>& pageTexts = testing::ScriptPageTexts();
  const std::size_t count = pageTexts.size();
  for (std::size_t i = 0; i < count; ++i) {
    ByteString shown;
    ByteString lower;
    ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(static_cast<int>(i), shown, lower));
    EXPECT_EQ(std::string(shown.CStr()), pageTexts[i]) << i;
  }
  // What everything else reads stays the player's ANSI title.
  EXPECT_EQ(Title(0), "????? - ??");
  // Within the code page the display form is the title, byte for byte.
  ByteString shown;
  ByteString lower;
  ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(5, shown, lower));
  EXPECT_EQ(std::string(shown.CStr()), Title(5));
  // The search form keeps references and two-byte characters whole.
  ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(2, shown, lower));
  EXPECT_STREQ(lower.CStr(), "bright &#127775; star");
  ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(4, shown, lower));
  EXPECT_STREQ(lower.CStr(), "tom & jerry &#65; - &#48388;");
  ASSERT_TRUE(cache_.GetShownTitleAndLowerCase(count, shown, lower));
  EXPECT_STREQ(shown.CStr(), "????? - ??");

  // Artists by their display forms: the two Korean artists are two, the old
  // player's "?????" one; each is shown by its page text.
  std::vector<std::string> artists = Artists();
  std::sort(artists.begin(), artists.end());
  EXPECT_EQ(artists, (std::vector<std::string>{"&#48169;&#53444;&#49548;&#45380;&#45800;",
                                               "&#48660;&#47001;&#54609;&#53356;", "?????",
                                               "Tom & Jerry &#65;", "\x82\xB3\x82\xAD\x82\xE7 &#48388; &#127800;",
                                               "\x8E\xFC\x9E^&#20262;", "\x93\x8C\x8B\x9E\x8E\x96\x95\xCF"}));
  bool sawEscapedArtist = false;
  for (int i = 0; i < cache_.ArtistCount(); ++i) {
    ByteString artist;
    ByteString shownArtist;
    ASSERT_TRUE(cache_.GetArtist(i, artist));
    ASSERT_TRUE(cache_.GetShownArtist(i, shownArtist));
    if (artist.Equals("Tom & Jerry &#65;")) {
      sawEscapedArtist = true;
      EXPECT_STREQ(shownArtist.CStr(), "Tom &amp; Jerry &amp;#65;");
    } else {
      EXPECT_EQ(shownArtist, artist) << artist.CStr();
    }
  }
  EXPECT_TRUE(sawEscapedArtist);
}

TEST_F(PlaylistCacheTest, CurrentTitleIsTheCachedOneAtThePlayersPosition) {
  Load({std::string("A - 1"), std::string("B - 2"), std::string("C - 3")});
  ByteString title;
  player_.SetPosition(1);
  ASSERT_TRUE(cache_.GetCurrentShownTitle(title));
  EXPECT_TRUE(title.Equals("B - 2"));

  // The playlist grew in the player since the rebuild.
  player_.SetPlaylist(
      {{"", std::string("1"), 1}, {"", std::string("2"), 1}, {"", std::string("3"), 1}, {"", std::string("4"), 1}});
  player_.SetPosition(3);
  title = "untouched";
  EXPECT_FALSE(cache_.GetCurrentShownTitle(title));
  player_.SetPosition(-1);
  EXPECT_FALSE(cache_.GetCurrentShownTitle(title));
  EXPECT_TRUE(title.Equals("untouched"));
  player_.SetPosition(0);
  ASSERT_TRUE(cache_.GetCurrentShownTitle(title));
  EXPECT_TRUE(title.Equals("A - 1")) << "the cached title, not the player's";
}

TEST_F(PlaylistCacheTest, WithoutAPlayerWindowTheCacheIsEmpty) {
  PlaylistCache cache;
  EXPECT_TRUE(cache.Rebuild());
  EXPECT_EQ(0, cache.EntryCount());
  ByteString title("untouched");
  EXPECT_FALSE(cache.GetCurrentShownTitle(title));
}

// The player's user-interface thread must be able to use the cache while it
// answers: the length (rebuild) and the position (current title) are asked
// without the lock.
TEST_F(PlaylistCacheTest, ThePlayerIsAskedLengthAndPositionWithoutTheLock) {
  Load({std::string("A - 1"), std::string("B - 2")});
  std::atomic<int> seenByPlayer{-1};
  player_.SetObserver([this, &seenByPlayer](std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
    if (message == platform::kMsgUser && (lParam == kIpcGetPlaylistLength || lParam == kIpcGetPlaylistPosition)) {
      seenByPlayer = cache_.EntryCount();
    }
  });
  ExpectFinishes("Rebuild", kSuspect, [this] { cache_.Rebuild(); });
  EXPECT_EQ(2, seenByPlayer.load());
  seenByPlayer = -1;
  ExpectFinishes("GetCurrentShownTitle", kSuspect, [this] {
    ByteString title;
    cache_.GetCurrentShownTitle(title);
  });
  EXPECT_EQ(2, seenByPlayer.load());
  player_.SetObserver(nullptr);
}

// A lookup made while a rebuild runs waits for it and answers from the new
// content: it never sees the old title at a position the rebuild has
// already replaced.
TEST_F(PlaylistCacheTest, ALookupDuringARebuildSeesTheNewContent) {
  Load({std::string("Old - 0"), std::string("Old - 1"), std::string("Old - 2")});
  player_.SetPlaylist(
      {{"", std::string("New - 0"), 1}, {"", std::string("New - 1"), 1}, {"", std::string("New - 2"), 1}});
  std::promise<std::string> seen;
  std::future<std::string> seenFuture = seen.get_future();
  std::thread reader;
  player_.SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::kMsgUser || lParam != kIpcGetPlaylistTitle || wParam != 2 || reader.joinable()) return;
    // Entries 0 and 1 are read; the reader starts in the middle of the rebuild
    // and is given a moment to finish early, which it must not.
    reader = std::thread([&] {
      ByteString title;
      cache_.GetTitle(0, title);
      seen.set_value(std::string(title.CStr()));
    });
    seenFuture.wait_for(std::chrono::milliseconds(200));
  });
  ASSERT_TRUE(cache_.Rebuild());
  player_.SetObserver(nullptr);
  ASSERT_TRUE(reader.joinable());
  reader.join();
  EXPECT_EQ("New - 0", seenFuture.get());
}

}  // namespace
}  // namespace ambervox
