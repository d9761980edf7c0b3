// Fuzzes the template engine: RenderSkin over arbitrary template
// lines, with the page state that ParsePlaylistParams and BuildPlaylistPage
// derive from an arbitrary request target, against a small simulated
// player (on a window thread of its own), a real playlist cache and a real
// request queue.
//
// Input: byte 0 the number of songs (0-15), byte 1 the player's position,
// byte 2 the elapsed seconds, byte 3 the songs' length in seconds (minus
// 8, so that 0 and negative lengths come up), byte 4 g_MaxEntries (0-7),
// byte 5 the queued requests (bits 0-2: how many; the rest pick their
// requesters), then, each ended by a line feed, the request target, the
// referer and one title per song; the rest is the template, rendered line
// by line as the router reads a skin file (lines of at most 8191 bytes).
//
// Invariants:
// - A line is handled exactly when it holds the first marker of some
//   family of the engine's marker table; an unhandled line adds nothing, a
//   handled one only appends.
// - Titles, search words and player data never bring markup into a page:
//   where the engine inserts only escaped or generated plain text, the
//   appended text holds exactly the < > " ' of the line, once per copy.
// - Row lines are dropped when there are no rows (playlist rows, queue,
//   artists).
// - The rows are the matches number `current` (at least 0) onwards, at most
//   g_MaxEntries of them, in playlist order, with the cached titles; more
//   pages are announced exactly when another match follows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/plugin_settings.h"
#include "common/text_operations.h"
#include "common/user_id.h"
#include "fuzz/fuzz_check.h"
#include "http/http_connection.h"
#include "pages/markers.h"
#include "pages/page_handlers.h"
#include "pages/site.h"
#include "pages/skin_cache.h"
#include "platform/window.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "simulated_player.h"
#include "support/playlist_cache_reads.h"

namespace ambervox {
namespace {

// The family whose first marker the line holds first in the engine's order
// of precedence, read from the engine's own marker table; none: the line
// holds no marker.
bool FamilyOf(const ByteString& line, MarkerFamily* family) {
  for (const Marker& marker : Markers()) {
    if (marker.expand != nullptr && line.Contains(marker.text)) {
      *family = marker.family;
      return true;
    }
  }
  return false;
}

int MarkupBytes(const char* data, int length) {
  int n = 0;
  for (int i = 0; i < length; ++i) {
    const char c = data[i];
    if (c == '<' || c == '>' || c == '"' || c == '\'') ++n;
  }
  return n;
}

UserId Listener(std::uint32_t n) {
  UserId id;
  id.data1 = 0xA0000000u + n;
  id.data4[7] = static_cast<std::uint8_t>(n);
  return id;
}

// The player, its window, the cache and the queue, made once per process.
struct TestBed {
  TestBed() : window("AmbervoxFuzzPlayer", "Template fuzz player", &SimulatedPlayer::WindowProcedure), queue(&cache) {
    player.Attach(window.window());
    cache.SetPlayer(PlayerHost(window.window()));
    queue.SetPlayer(PlayerHost(window.window()));
    QueueLimits open;
    open.maxRequestsPerIP = 0;
    open.maxQueueSize = 100;
    queue.SetLimits(open);
    // A password that needs encoding; the skin texts keep their defaults.
    settings.SetAdminPassword("s3 cr&t");
  }
  ~TestBed() { player.Detach(); }

  SimulatedPlayer player;
  platform::WindowThread window;
  PlaylistCache cache;
  RequestQueue queue;
  PluginSettings settings;
};

TestBed& Bed() {
  static TestBed* bed = new TestBed;  // lives until the process ends
  return *bed;
}

void CheckRows(const Page& page, int maxEntries) {
  const PageState& state = page.state;
  PlaylistCache* const cache = page.site.Cache();
  std::vector<int> matches;
  ByteString title;
  for (int i = 0; testing::GetTitle(*cache, i, title); ++i) {
    bool match = true;
    if (state.HasSearchWord()) match = ContainsNoCase(title, state.searchWord);
    if (state.HasStartsWith()) match = StartsWithNoCase(title, state.startsWith, state.startsWith.Length());
    if (match) matches.push_back(i);
  }
  const long long first = state.current < 0 ? 0 : state.current;
  std::vector<int> expected;
  for (long long k = first;
       k < static_cast<long long>(matches.size()) && static_cast<int>(expected.size()) < maxEntries; ++k) {
    expected.push_back(matches[static_cast<std::size_t>(k)]);
  }
  FUZZ_CHECK(state.rows.size() == expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) {
    FUZZ_CHECK(state.rows[r].playlistIndex == expected[r]);
    FUZZ_CHECK(cache->GetShownTitle(expected[r], title));
    FUZZ_CHECK(state.rows[r].shownTitle == title);
  }
  // A match after the last row announces a next page.
  // With g_MaxEntries 0 every match is one more than the page shows.
  const long long matchCount = static_cast<long long>(matches.size());
  const bool more = maxEntries <= 0
                        ? matchCount > 0
                        : static_cast<int>(expected.size()) == maxEntries && matchCount > first + maxEntries;
  FUZZ_CHECK(state.hasMorePages == more);
}

void CheckLine(const Page& page, const SkinPiece& piece, ByteString& text) {
  const ByteString& line = piece.text;
  const ByteString before = text;
  const bool handled = piece.marker != nullptr;
  RenderSkin(page, std::vector<SkinPiece>{piece}, text);
  MarkerFamily family = MarkerFamily::kArtistSelect;
  const bool hasFamily = FamilyOf(line, &family);
  FUZZ_CHECK(handled == hasFamily);
  FUZZ_CHECK(text.Length() >= before.Length());
  FUZZ_CHECK(std::memcmp(text.Data(), before.Data(), static_cast<std::size_t>(before.Length())) == 0);
  const char* added = text.Data() + before.Length();
  const int addedLength = text.Length() - before.Length();
  if (!handled) {
    FUZZ_CHECK(addedLength == line.Length());
    FUZZ_CHECK(std::memcmp(added, line.Data(), static_cast<std::size_t>(addedLength)) == 0);
    return;
  }
  const bool isAdmin = page.state.isAdmin;

  const int lineMarkup = MarkupBytes(line.Data(), line.Length());
  const int addedMarkup = MarkupBytes(added, addedLength);
  switch (family) {
    case MarkerFamily::kPlaylistRows: {
      const int rows = static_cast<int>(page.state.rows.size());
      if (rows == 0) FUZZ_CHECK(addedLength == 0);
      FUZZ_CHECK(addedMarkup == rows * lineMarkup);
      break;
    }
    case MarkerFamily::kQueueRows:
      if (page.site.queue->RequestCount() == 0) FUZZ_CHECK(addedLength == 0);
      break;
    case MarkerFamily::kArtistSelect:
      if (testing::ArtistCount(*page.site.Cache()) == 0) FUZZ_CHECK(addedLength == 0);
      break;  // the artist text is escaped; the copies repeat the line's markup
    case MarkerFamily::kCurrentSong:
      // The line is left out when there is no current title.
      FUZZ_CHECK(addedLength == 0 || addedMarkup == lineMarkup);
      break;
    case MarkerFamily::kAdminControl:
    case MarkerFamily::kAdminHiddenField:
      if (!isAdmin) FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
    case MarkerFamily::kReferrer:
      // The referer goes in escaped, so only the line's own markup remains.
      FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
    case MarkerFamily::kNavNext:
    case MarkerFamily::kNavPrev:
      break;  // links
    case MarkerFamily::kAdminPassword:
    case MarkerFamily::kError:
    case MarkerFamily::kDisplayMode:
    case MarkerFamily::kContentRefresh:
    case MarkerFamily::kSearchWord:
    case MarkerFamily::kPercentLeft:
    case MarkerFamily::kSongLength:
      FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
  }
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  TestBed& bed = Bed();
  fuzz::InputReader in(data, size);
  const int songCount = in.Byte() % 16;
  const int position = in.Byte() % 20 - 2;
  const int elapsedMs = in.Byte() * 1000 + 499;
  const int lengthSeconds = static_cast<int>(in.Byte()) - 8;
  const int maxEntries = in.Byte() % 8;
  const unsigned char queueByte = in.Byte();
  const ByteString target = in.Piece('\n');
  const ByteString referer = in.Piece('\n');
  std::vector<SimulatedEntry> songs;
  for (int i = 0; i < songCount; ++i) {
    SimulatedEntry song;
    song.filePath = "song" + std::to_string(i) + ".mp3";
    song.title = fuzz::Std(in.Piece('\n'));
    song.lengthSeconds = lengthSeconds;
    songs.push_back(std::move(song));
  }
  const ByteString skin = in.Rest();

  bed.player.SetPlaylist(songs);
  bed.player.SetPosition(position);
  bed.player.SetElapsedMs(elapsedMs);
  bed.cache.Rebuild();
  bed.settings.SetMaxEntries(maxEntries);
  bed.queue.ClearAll();
  for (int i = 0; i < (queueByte & 7); ++i) {
    const int index = songCount == 0 ? 0 : (i * 7 + queueByte) % songCount;
    // Requester 1 is the browser of this request.
    const std::uint32_t requester = 1 + ((queueByte >> (3 + i % 5)) & 1);
    bed.queue.AddRequest(index, ByteString::Format("10.0.0.%u", requester), Listener(requester), false);
  }

  HttpConnection connection{ServerLimits()};
  connection.Attach(platform::ScopedSocket(), "192.168.0.7");
  connection.request.userId = Listener(1);
  connection.request.hasUserIdCookie = true;
  connection.request.referer = referer;
  Site site;
  site.settings = &bed.settings;
  site.queue = &bed.queue;
  Page page(connection, site);

  ParsePlaylistParams(page, target);
  BuildPlaylistPage(page);
  CheckRows(page, maxEntries);

  // The skin in the pieces the site keeps: each line up to and including
  // its line feed, at most 8191 bytes, lines without "%%" joined.
  ByteString text;
  for (const SkinPiece& piece : SplitSkin(skin.Data(), static_cast<std::size_t>(skin.Length()))) {
    CheckLine(page, piece, text);
  }
  return 0;
}
