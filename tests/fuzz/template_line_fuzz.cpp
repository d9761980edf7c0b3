// Fuzzes the template engine: RenderTemplateLine over arbitrary template
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
//   family; an unhandled line adds nothing, a handled one only appends.
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
#include "platform/window.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "simulated_player.h"

namespace ambervox {
namespace {

// The families in the order the engine tries them, by their first marker.
enum Family {
  kArtistSelect,
  kAdminControl,
  kAdminHiddenField,
  kAdminPassword,
  kError,
  kReferrer,
  kPlaylistEntry,
  kQueueEntry,
  kNavNext,
  kNavPrev,
  kCurrentSong,
  kDisplayMode,
  kContentRefresh,
  kSearchWord,
  kPercentLeft,
  kSongLength,
  kNoFamily,
};
const char* const kFirstMarkers[] = {
    "%%ARTISTSELECT%%", "%%ADMINWINAMPCONTROL%%", "%%ADMINHIDDENFIELD%%", "%%ADMINPASSWORD%%",
    "%%ERROR%%",        "%%HTTP_REFERRER%%",      "%%PLAYLISTENTRY%%",    "%%QUEUELISTENTRY%%",
    "%%NAV_NEXT%%",     "%%NAV_PREV%%",           "%%CURRENTSONG%%",      "%%DISPLAYMODE%%",
    "%%CONTENT_REFRESH%%", "%%SEARCH_WORD%%",     "%%PCT_LEFT%%",         "%%SONG_LENGTH%%",
};

Family FamilyOf(const ByteString& line) {
  for (int f = kArtistSelect; f < kNoFamily; ++f) {
    if (line.Contains(kFirstMarkers[f])) return static_cast<Family>(f);
  }
  return kNoFamily;
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
  TestBed()
      : window("AmbervoxFuzzPlayer", "Template fuzz player", &SimulatedPlayer::WindowProcedure), queue(&cache) {
    player.Attach(window.window());
    cache.SetPlayerWindow(window.window());
    queue.SetHostWindow(window.window());
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

void CheckRows(const HttpConnection& connection, bool hasSearchWord, bool hasStartsWith, int maxEntries) {
  std::vector<int> matches;
  ByteString title;
  for (int i = 0; connection.playlistCache->GetTitle(i, title); ++i) {
    bool match = true;
    if (hasSearchWord) match = ContainsNoCase(title, connection.searchWord);
    if (hasStartsWith) match = StartsWithNoCase(title, connection.startsWith, connection.startsWith.Length());
    if (match) matches.push_back(i);
  }
  const long long first = connection.current < 0 ? 0 : connection.current;
  std::vector<int> expected;
  for (long long k = first; k < static_cast<long long>(matches.size()) && static_cast<int>(expected.size()) < maxEntries;
       ++k) {
    expected.push_back(matches[static_cast<std::size_t>(k)]);
  }
  FUZZ_CHECK(connection.pageRows.size() == expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) {
    FUZZ_CHECK(connection.pageRows[r].playlistIndex == expected[r]);
    FUZZ_CHECK(connection.playlistCache->GetTitle(expected[r], title));
    FUZZ_CHECK(connection.pageRows[r].title == title);
  }
  // A match after the last row announces a next page.
  // With g_MaxEntries 0 every match is one more than the page shows.
  const long long matchCount = static_cast<long long>(matches.size());
  const bool more = maxEntries <= 0 ? matchCount > 0
                                    : static_cast<int>(expected.size()) == maxEntries && matchCount > first + maxEntries;
  FUZZ_CHECK((connection.hasMorePages != 0) == more);
}

void CheckLine(HttpConnection& connection, const ByteString& line, bool hasSearchWord, bool hasStartsWith,
               int errorCode, bool isAdmin, ByteString& page) {
  const ByteString before = page;
  const bool handled = connection.RenderTemplateLine(line, page, hasSearchWord, hasStartsWith, errorCode, isAdmin);
  const Family family = FamilyOf(line);
  FUZZ_CHECK(handled == (family != kNoFamily));
  FUZZ_CHECK(page.Length() >= before.Length());
  FUZZ_CHECK(std::memcmp(page.Data(), before.Data(), static_cast<std::size_t>(before.Length())) == 0);
  const char* added = page.Data() + before.Length();
  const int addedLength = page.Length() - before.Length();
  if (!handled) {
    FUZZ_CHECK(addedLength == 0);
    page.Append(line);
    return;
  }

  const int lineMarkup = MarkupBytes(line.Data(), line.Length());
  const int addedMarkup = MarkupBytes(added, addedLength);
  switch (family) {
    case kPlaylistEntry: {
      const int rows = static_cast<int>(connection.pageRows.size());
      if (rows == 0) FUZZ_CHECK(addedLength == 0);
      FUZZ_CHECK(addedMarkup == rows * lineMarkup);
      break;
    }
    case kQueueEntry:
      if (connection.requestQueue->RequestCount() == 0) FUZZ_CHECK(addedLength == 0);
      break;
    case kArtistSelect:
      if (connection.playlistCache->ArtistCount() == 0) FUZZ_CHECK(addedLength == 0);
      break;  // the artist text is escaped; the copies repeat the line's markup
    case kCurrentSong:
      // The line is left out when there is no current title.
      FUZZ_CHECK(addedLength == 0 || addedMarkup == lineMarkup);
      break;
    case kAdminControl:
    case kAdminHiddenField:
      if (!isAdmin) FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
    case kReferrer:
      // The referer goes in escaped, so only the line's own markup remains.
      FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
    case kNavNext:
    case kNavPrev:
      break;  // links
    case kAdminPassword:
    case kError:
    case kDisplayMode:
    case kContentRefresh:
    case kSearchWord:
    case kPercentLeft:
    case kSongLength:
      FUZZ_CHECK(addedMarkup == lineMarkup);
      break;
    case kNoFamily:
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

  HttpConnection connection(&bed.settings, ServerLimits());
  connection.Attach(platform::kInvalidSocket, &bed.queue, nullptr, 0, "192.168.0.7");
  connection.userId = Listener(1);
  connection.hasUserIdCookie = 1;
  connection.referer = referer;

  int errorCode = 0;
  int isAdmin = 0;
  connection.ParsePlaylistParams(target, &errorCode, &isAdmin);
  const bool hasSearchWord = !connection.searchWord.IsEmpty();
  const bool hasStartsWith = !connection.startsWith.IsEmpty();
  connection.BuildPlaylistPage(hasSearchWord, hasStartsWith);
  CheckRows(connection, hasSearchWord, hasStartsWith, maxEntries);

  // The lines as the router reads a skin: up to and including each line
  // feed, at most 8191 bytes.
  ByteString page;
  int start = 0;
  while (start < skin.Length()) {
    int end = start;
    while (end < skin.Length() && end - start < HttpConnection::kLineBufferSize - 1 && skin.At(end) != '\n') ++end;
    if (end < skin.Length() && skin.At(end) == '\n' && end - start < HttpConnection::kLineBufferSize - 1) ++end;
    CheckLine(connection, skin.Mid(start, end - start), hasSearchWord, hasStartsWith, errorCode, isAdmin != 0, page);
    start = end;
  }
  return 0;
}
