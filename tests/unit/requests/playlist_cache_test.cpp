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
#include "player/playlist_batch.h"
#include "simulated_player.h"
#include "support/batch_answering_player.h"
#include "support/expect_finishes.h"
#include "support/playlist_cache_reads.h"
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
    cache_.SetPlayer(PlayerHost(thread_.window()));
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
    EXPECT_TRUE(testing::GetTitle(cache_, index, title)) << "index " << index;
    return std::string(title.Data(), static_cast<std::size_t>(title.Length()));
  }

  std::vector<std::string> Artists() {
    std::vector<std::string> artists;
    const int count = testing::ArtistCount(cache_);
    for (int i = 0; i < count; ++i) {
      ByteString artist;
      EXPECT_TRUE(testing::GetArtist(cache_, i, artist));
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
  EXPECT_EQ(0, testing::EntryCount(cache_));
  EXPECT_EQ(0, testing::ArtistCount(cache_));
  ByteString out("untouched");
  EXPECT_FALSE(testing::GetTitle(cache_, 0, out));
  EXPECT_FALSE(testing::GetArtist(cache_, 0, out));
  EXPECT_FALSE(testing::GetCurrentShownTitle(cache_, thread_.window(), out));
  EXPECT_TRUE(out.Equals("untouched"));
}

TEST_F(PlaylistCacheTest, OutOfRangeLookupsLeaveTheOutputUntouched) {
  Load({std::string("A - 1"), std::string("B - 2"), std::string("C - 3")});
  ByteString out("untouched");
  EXPECT_FALSE(testing::GetTitle(cache_, -1, out));
  EXPECT_FALSE(testing::GetTitle(cache_, testing::EntryCount(cache_), out));
  EXPECT_FALSE(testing::GetArtist(cache_, -1, out));
  EXPECT_FALSE(testing::GetArtist(cache_, testing::ArtistCount(cache_), out));
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
    ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, c.index, title, lower)) << c.index;
    EXPECT_EQ(title, ByteString(c.title)) << c.index;
    EXPECT_EQ(lower, ByteString(c.lower)) << c.index;
    // What the search did before the cache kept it: lower-case the title.
    ByteString expected = title;
    expected.MakeLowerMultibyte();
    EXPECT_EQ(lower, expected) << c.index;
  }
  ByteString title("kept");
  ByteString lower("kept too");
  EXPECT_FALSE(testing::GetShownTitleAndLowerCase(cache_, -1, title, lower));
  EXPECT_FALSE(testing::GetShownTitleAndLowerCase(cache_, 5, title, lower));
  EXPECT_TRUE(title.Equals("kept"));
  EXPECT_TRUE(lower.Equals("kept too"));

  // The next rebuild replaces both forms together.
  Load({std::string("NEW - One")});
  ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, 0, title, lower));
  EXPECT_TRUE(title.Equals("NEW - One"));
  EXPECT_TRUE(lower.Equals("new - one"));
  EXPECT_FALSE(testing::GetShownTitleAndLowerCase(cache_, 1, title, lower));
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
  EXPECT_EQ(9, testing::EntryCount(cache_));
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
  EXPECT_EQ(3, testing::EntryCount(cache_));
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
  EXPECT_EQ(4, testing::EntryCount(cache_));
  EXPECT_EQ("D - 4", Title(3));
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(1, testing::EntryCount(cache_));
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
    ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, static_cast<int>(i), shown, lower));
    EXPECT_EQ(std::string(shown.CStr()), pageTexts[i]) << i;
  }
  // What everything else reads stays the player's ANSI title.
  EXPECT_EQ(Title(0), "????? - ??");
  // Within the code page the display form is the title, byte for byte.
  ByteString shown;
  ByteString lower;
  ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, 5, shown, lower));
  EXPECT_EQ(std::string(shown.CStr()), Title(5));
  // The search form keeps references and two-byte characters whole.
  ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, 2, shown, lower));
  EXPECT_STREQ(lower.CStr(), "bright &#127775; star");
  ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, 4, shown, lower));
  EXPECT_STREQ(lower.CStr(), "tom & jerry &#65; - &#48388;");
  ASSERT_TRUE(testing::GetShownTitleAndLowerCase(cache_, count, shown, lower));
  EXPECT_STREQ(shown.CStr(), "????? - ??");

  // Artists by their display forms: the two Korean artists are two, the old
  // player's "?????" one; each is shown by its page text.
  std::vector<std::string> artists = Artists();
  std::sort(artists.begin(), artists.end());
  EXPECT_EQ(artists,
            (std::vector<std::string>{"&#48169;&#53444;&#49548;&#45380;&#45800;", "&#48660;&#47001;&#54609;&#53356;",
                                      "?????", "Tom & Jerry &#65;", "\x82\xB3\x82\xAD\x82\xE7 &#48388; &#127800;",
                                      "\x8E\xFC\x9E^&#20262;", "\x93\x8C\x8B\x9E\x8E\x96\x95\xCF"}));
  bool sawEscapedArtist = false;
  for (int i = 0; i < testing::ArtistCount(cache_); ++i) {
    ByteString artist;
    ByteString shownArtist;
    ASSERT_TRUE(testing::GetArtist(cache_, i, artist));
    ASSERT_TRUE(testing::GetShownArtist(cache_, i, shownArtist));
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
  ASSERT_TRUE(testing::GetCurrentShownTitle(cache_, thread_.window(), title));
  EXPECT_TRUE(title.Equals("B - 2"));

  // The playlist grew in the player since the rebuild.
  player_.SetPlaylist(
      {{"", std::string("1"), 1}, {"", std::string("2"), 1}, {"", std::string("3"), 1}, {"", std::string("4"), 1}});
  player_.SetPosition(3);
  title = "untouched";
  EXPECT_FALSE(testing::GetCurrentShownTitle(cache_, thread_.window(), title));
  player_.SetPosition(-1);
  EXPECT_FALSE(testing::GetCurrentShownTitle(cache_, thread_.window(), title));
  EXPECT_TRUE(title.Equals("untouched"));
  player_.SetPosition(0);
  ASSERT_TRUE(testing::GetCurrentShownTitle(cache_, thread_.window(), title));
  EXPECT_TRUE(title.Equals("A - 1")) << "the cached title, not the player's";
}

TEST_F(PlaylistCacheTest, WithoutAPlayerWindowTheCacheIsEmpty) {
  PlaylistCache cache;
  EXPECT_TRUE(cache.Rebuild());
  EXPECT_EQ(0, testing::EntryCount(cache));
  ByteString title("untouched");
  EXPECT_FALSE(testing::GetCurrentShownTitle(cache, nullptr, title));
}

// The same playlist in two players: the window of one answers playlist
// batches as the plug-in's hook does, the window of the other does not, so
// its cache asks entry by entry.
class PlaylistCacheBatchTest : public ::testing::Test {
 protected:
  static constexpr int kBoundary = static_cast<int>(PlaylistBatch::kMaxEntries);

  PlaylistCacheBatchTest()
      : plainWindow_("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure),
        batchWindow_("AmbervoxBatchPlayer", "Batch player", &testing::BatchAnsweringPlayerProcedure) {
    plain_.Attach(plainWindow_.window());
    batched_.Attach(batchWindow_.window());
    plainCache_.SetPlayer(PlayerHost(plainWindow_.window()));
    batchCache_.SetPlayer(batchChannel_.Host());
    testing::BatchesAnswered() = 0;
    testing::BatchAnswerLimit() = -1;
    testing::BatchRoomAtMost() = -1;
  }
  ~PlaylistCacheBatchTest() override {
    testing::BatchAnswerLimit() = -1;
    testing::BatchRoomAtMost() = -1;
  }

  // Numbered songs, with what differs in the answers around the first batch
  // boundary: titles outside the code page (the player writes "?", the cache
  // asks 214), one such title from a player without 214, code page 932
  // text with a full-width space to trim, an empty title, an entry without
  // file or title.
  static std::vector<SimulatedEntry> MixedPlaylist() {
    std::vector<SimulatedEntry> songs = testing::Songs(kBoundary + 20, testing::NumberedTitle);
    const std::vector<SimulatedEntry> unicode = testing::UnicodeSongs(testing::ScriptTitles());
    for (std::size_t i = 0; i < unicode.size(); ++i) songs[kBoundary - 3 + i] = unicode[i];
    songs[3] = unicode[4];
    songs[kBoundary - 5] = {"empty.mp3", std::string(""), 100};
    songs[kBoundary - 4] = {std::nullopt, std::nullopt, 100};
    songs[kBoundary + 4] = {"old.mp3", std::string("????? - ??\r\n"), 100};
    songs[kBoundary + 5] = {"jp.mp3", std::string("\x93\x8C\x8B\x9E - \x8C\x51\x90\xC2\x81\x40"), 100};
    return songs;
  }

  void SetPlaylist(const std::vector<SimulatedEntry>& songs) {
    plain_.SetPlaylist(songs);
    batched_.SetPlaylist(songs);
  }

  // Everything the cache hands out, one line per entry and per artist.
  static std::vector<std::string> Content(const PlaylistCache& cache) {
    const auto text = [](const ByteString& b) { return std::string(b.Data(), static_cast<std::size_t>(b.Length())); };
    std::vector<std::string> lines;
    for (int i = 0; i < testing::EntryCount(cache); ++i) {
      PlaylistEntry entry;
      ByteString shown;
      ByteString lower;
      EXPECT_TRUE(cache.GetEntry(i, entry));
      EXPECT_TRUE(testing::GetShownTitleAndLowerCase(cache, i, shown, lower));
      lines.push_back(text(entry.filePath) + "|" + text(entry.title) + "|" + text(shown) + "|" + text(lower));
    }
    for (int i = 0; i < testing::ArtistCount(cache); ++i) {
      ByteString artist;
      ByteString shown;
      EXPECT_TRUE(testing::GetArtist(cache, i, artist));
      EXPECT_TRUE(testing::GetShownArtist(cache, i, shown));
      lines.push_back("artist " + text(artist) + "|" + text(shown));
    }
    return lines;
  }

  static std::string Shown(const PlaylistCache& cache, int index) {
    ByteString shown("<none>");
    EXPECT_TRUE(cache.GetShownTitle(index, shown)) << index;
    return shown.CStr();
  }

  SimulatedPlayer plain_;
  SimulatedPlayer batched_;
  platform::WindowThread plainWindow_;
  platform::WindowThread batchWindow_;
  testing::AnsweringChannel batchChannel_{batchWindow_.window()};
  PlaylistCache plainCache_;
  PlaylistCache batchCache_;
};

TEST_F(PlaylistCacheBatchTest, BatchesGiveWhatEntryByEntryQuestionsGive) {
  SetPlaylist(MixedPlaylist());
  ASSERT_TRUE(plainCache_.Rebuild());
  EXPECT_EQ(testing::BatchesAnswered(), 0);
  ASSERT_TRUE(batchCache_.Rebuild());
  EXPECT_EQ(testing::BatchesAnswered(), 2) << "one send per batch";
  EXPECT_EQ(Content(batchCache_), Content(plainCache_));

  // Where the two ways could part, the content is the right one.
  const std::vector<std::string>& pageTexts = testing::ScriptPageTexts();
  EXPECT_EQ(Shown(batchCache_, kBoundary - 3), pageTexts[0]) << "read from 214 in the first batch";
  EXPECT_EQ(Shown(batchCache_, kBoundary), pageTexts[3]) << "read from 214 in the second batch";
  EXPECT_EQ(Shown(batchCache_, 3), pageTexts[4]);
  EXPECT_EQ(Shown(batchCache_, kBoundary + 4), "????? - ??") << "no 214: the title as it is, trimmed";
  EXPECT_EQ(Shown(batchCache_, kBoundary + 5), "\x93\x8C\x8B\x9E - \x8C\x51\x90\xC2");
  PlaylistEntry entry{"x", "x"};
  ASSERT_TRUE(batchCache_.GetEntry(kBoundary - 4, entry));
  EXPECT_TRUE(entry.filePath.IsEmpty());
  EXPECT_TRUE(entry.title.IsEmpty());
  ASSERT_TRUE(batchCache_.GetEntry(kBoundary + 19, entry));
  EXPECT_STREQ(entry.filePath.CStr(), ("song" + std::to_string(kBoundary + 19) + ".mp3").c_str());
  EXPECT_STREQ(entry.title.CStr(), testing::NumberedTitle(kBoundary + 19).c_str());
}

// A rebuild waits for the player without holding anything that a lookup
// needs. The player's own thread reads the cache while it answers the
// length and again in the middle of the entries (inside its answer to the
// batch, on the batch path), then holds that answer until another thread
// has read the cache too: every read answers at once, from the previous
// content whole. Once the player answers, the new content is there.
TEST_F(PlaylistCacheBatchTest, LookupsDuringARebuildAnswerAtOnceFromThePreviousContent) {
  const std::vector<SimulatedEntry> before = testing::Titled({"Old - 0", "Old - 1", "Old - 2"});
  const std::vector<SimulatedEntry> after = testing::Titled({"New - 0", "New - 1", "New - 2", "New - 3"});
  const SongId oldSong = SongOfFile(ByteString("Old - 2.mp3"));
  for (const bool batches : {false, true}) {
    SimulatedPlayer& player = batches ? batched_ : plain_;
    PlaylistCache& cache = batches ? batchCache_ : plainCache_;
    player.SetPlaylist(before);
    ASSERT_TRUE(cache.Rebuild());
    const std::vector<std::string> oldContent = Content(cache);
    const std::uint64_t oldGeneration = cache.Generation();
    const auto expectOld = [&](const char* reader) {
      EXPECT_EQ(Content(cache), oldContent) << reader << (batches ? ", batches" : "");
      EXPECT_EQ(cache.Generation(), oldGeneration) << reader;
      PlaylistEntry entry;
      std::uint64_t generation = 0;
      EXPECT_EQ(cache.FindRequestedEntry(0, oldSong, entry, generation), 2) << reader;
      EXPECT_EQ(generation, oldGeneration) << reader;
      int walked = 0;
      cache.ScanTitles([&walked](int, const ByteString&, const char*, int, SongId) { return ++walked > 0; });
      EXPECT_EQ(walked, 3) << reader;
    };

    player.SetPlaylist(after);
    std::promise<void> held;
    std::promise<void> release;
    std::future<void> released = release.get_future();
    std::atomic<bool> readAtLength{false};
    std::atomic<bool> holding{false};
    player.SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
      if (message != platform::kMsgUser) return;
      if (lParam == kIpcGetPlaylistLength && !readAtLength.exchange(true)) expectOld("the player, asked the length");
      if (lParam != kIpcGetPlaylistTitle || wParam != 1 || holding.exchange(true)) return;
      expectOld("the player, amid the entries");
      held.set_value();
      // Until the other reader is done; not for ever, should it never be.
      released.wait_for(std::chrono::seconds(60));
    });
    bool rebuilt = false;
    std::thread rebuilder([&] { rebuilt = cache.Rebuild(); });
    ExpectFinishes("the player's reads during a rebuild", kSuspect, [&] { held.get_future().wait(); });
    ExpectFinishes("a read while the player holds its answer", kSuspect, [&] { expectOld("another thread"); });
    release.set_value();
    rebuilder.join();
    player.SetObserver(nullptr);
    EXPECT_TRUE(readAtLength.load());
    EXPECT_TRUE(rebuilt);
    EXPECT_EQ(testing::EntryCount(cache), 4);
    EXPECT_EQ(Shown(cache, 0), "New - 0");
    EXPECT_EQ(cache.Generation(), oldGeneration + 1);
    PlaylistEntry entry;
    std::uint64_t generation = 0;
    EXPECT_EQ(cache.FindRequestedEntry(0, oldSong, entry, generation), -1) << "the old song left";
  }
}

// The hook may be gone (quit) or never there: a batch answered 0 sends the
// rebuild back to entry-by-entry questions from that entry on. A batch
// whose room filled up before all its entries were answered is continued
// from the first one missing; one that held none is asked entry by entry.
TEST_F(PlaylistCacheBatchTest, UnansweredAndPartlyAnsweredBatchesLoseNoEntry) {
  SetPlaylist(MixedPlaylist());
  ASSERT_TRUE(plainCache_.Rebuild());
  const struct {
    int answerLimit;
    int roomAtMost;
    int batches;  // -1: many
  } kCases[] = {{0, -1, 0}, {1, -1, 1}, {-1, 200, -1}, {3, 0, 3}};
  for (const auto& c : kCases) {
    testing::BatchesAnswered() = 0;
    testing::BatchAnswerLimit() = c.answerLimit;
    testing::BatchRoomAtMost() = c.roomAtMost;
    PlaylistCache cache;
    cache.SetPlayer(batchChannel_.Host());
    ASSERT_TRUE(cache.Rebuild());
    if (c.batches >= 0) {
      EXPECT_EQ(testing::BatchesAnswered(), c.batches) << c.answerLimit << " " << c.roomAtMost;
    } else {
      EXPECT_GT(testing::BatchesAnswered(), 100) << "a few entries per batch";
    }
    EXPECT_EQ(Content(cache), Content(plainCache_)) << c.answerLimit << " " << c.roomAtMost;
  }
}

// The DJ empties most of the playlist while a rebuild reads it: the entries
// past the new end read empty, whichever way they are asked.
TEST_F(PlaylistCacheBatchTest, APlaylistShrinkingMidRebuildReadsEmptyPastItsEnd) {
  const std::vector<SimulatedEntry> songs = MixedPlaylist();
  const std::vector<SimulatedEntry> shorter(songs.begin(), songs.begin() + 100);
  SetPlaylist(songs);
  const auto shrinkAt = [&](SimulatedPlayer& player, bool* shrunk) {
    player.SetObserver([&player, &shorter, shrunk](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
      if (message != platform::kMsgUser || lParam != kIpcGetPlaylistFile || wParam != 500 || *shrunk) return;
      *shrunk = true;
      player.SetPlaylist(shorter);
    });
  };
  bool plainShrunk = false;
  bool batchShrunk = false;
  shrinkAt(plain_, &plainShrunk);
  shrinkAt(batched_, &batchShrunk);
  ASSERT_TRUE(plainCache_.Rebuild());
  ASSERT_TRUE(batchCache_.Rebuild());
  plain_.SetObserver(nullptr);
  batched_.SetObserver(nullptr);
  ASSERT_TRUE(plainShrunk && batchShrunk);
  EXPECT_GE(testing::BatchesAnswered(), 2);

  EXPECT_EQ(testing::EntryCount(batchCache_), static_cast<int>(songs.size()));
  EXPECT_EQ(Content(batchCache_), Content(plainCache_));
  PlaylistEntry entry;
  ASSERT_TRUE(batchCache_.GetEntry(499, entry));
  EXPECT_STREQ(entry.title.CStr(), testing::NumberedTitle(499).c_str()) << "read before the change";
  for (int index : {500, kBoundary - 3, kBoundary + 19}) {
    ASSERT_TRUE(batchCache_.GetEntry(index, entry));
    EXPECT_TRUE(entry.filePath.IsEmpty() && entry.title.IsEmpty()) << index;
  }
}

// A song's identity: a digest of its file, written in 11 URL-safe
// characters and read back; the cache finds the song it names wherever the
// playlist now holds it, in constant time, and a file listed twice is one
// song.
TEST_F(PlaylistCacheTest, ASongIsKnownByItsFileWhereverThePlaylistHoldsIt) {
  const SongId song = SongOfFile(ByteString("C:\\music\\3.mp3"));
  EXPECT_EQ(kNoSong, SongOfFile(ByteString("")));
  EXPECT_NE(song, SongOfFile(ByteString("C:\\music\\4.mp3")));
  // FNV-1a, 64 bits: the value of the empty text would be 0xCBF29CE484222325.
  EXPECT_EQ(0xAF63DC4C8601EC8CULL, SongOfFile(ByteString("a")));
  const ByteString text = SongIdText(song);
  EXPECT_EQ(11, text.Length());
  EXPECT_EQ(
      std::string::npos,
      std::string(text.CStr()).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
  SongId read = kNoSong;
  ASSERT_TRUE(ParseSongId(text, &read));
  EXPECT_EQ(song, read);
  EXPECT_EQ("P__________", std::string(SongIdText(~0ULL).CStr()));
  for (const char* bad :
       {"", "AAAAAAAAAAA", "Q__________", "AAAAAAAAAA", "AAAAAAAAAAAB", "AAAAAAAAAA.", "AAAAAAAAAA="}) {
    read = 7;
    EXPECT_FALSE(ParseSongId(ByteString(bad), &read)) << bad;
    EXPECT_EQ(7u, read) << bad;
  }

  Load({"s0", "s1", "s2", "s3", "s4", "s5"});
  PlaylistEntry entry;
  std::uint64_t generation = 0;
  EXPECT_EQ(3, cache_.FindRequestedEntry(3, song, entry, generation));
  EXPECT_EQ(song, entry.song);
  EXPECT_EQ(generation, cache_.Generation());
  EXPECT_EQ(2, cache_.FindRequestedEntry(2, kNoSong, entry, generation)) << "no identity: the index";
  EXPECT_EQ(-1, cache_.FindRequestedEntry(6, kNoSong, entry, generation));
  ASSERT_TRUE(player_.RemoveEntry(0));
  ASSERT_TRUE(player_.MoveEntry(2, 4));  // song 3, now at 2, to the end
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(4, cache_.FindRequestedEntry(3, song, entry, generation)) << "the song where it is now";
  EXPECT_EQ(4, cache_.FindRequestedEntry(-1, song, entry, generation));
  EXPECT_TRUE(entry.title.Equals("s3"));
  EXPECT_EQ(4, cache_.IndexOfFile(ByteString("C:\\music\\3.mp3")));
  ByteString title;
  ASSERT_TRUE(cache_.GetShownTitleOfFile(0, ByteString("C:\\music\\3.mp3"), title));
  EXPECT_TRUE(title.Equals("s3"));
  ASSERT_TRUE(player_.RemoveEntry(4));
  ASSERT_TRUE(cache_.Rebuild());
  entry = PlaylistEntry();
  EXPECT_EQ(-1, cache_.FindRequestedEntry(3, song, entry, generation)) << "the song left";
  EXPECT_TRUE(entry.filePath.IsEmpty());
  EXPECT_EQ(-1, cache_.IndexOfFile(ByteString("C:\\music\\3.mp3")));
  EXPECT_FALSE(cache_.GetShownTitleOfFile(0, ByteString("C:\\music\\3.mp3"), title));

  // The same file twice: one song, found at its first place.
  player_.SetPlaylist({{"a.mp3", "A", 1}, {"b.mp3", "B", 1}, {"a.mp3", "A again", 1}, {std::nullopt, "no file", 1}});
  ASSERT_TRUE(cache_.Rebuild());
  const SongId a = SongOfFile(ByteString("a.mp3"));
  EXPECT_EQ(2, cache_.FindRequestedEntry(2, a, entry, generation));
  EXPECT_EQ(0, cache_.FindRequestedEntry(1, a, entry, generation));
  EXPECT_EQ(0, cache_.IndexOfFile(ByteString("a.mp3")));
  EXPECT_EQ(kNoSong, (cache_.GetEntry(3, entry), entry.song)) << "no file, no identity";
  EXPECT_EQ(-1, cache_.IndexOfFile(ByteString("")));
}

}  // namespace
}  // namespace ambervox
