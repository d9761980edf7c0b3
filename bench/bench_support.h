// What the benchmarks share: a generated playlist in the page bed that the
// page tests use too, with a connection whose sends go to a null sink.
// Built once per benchmark; not thread-safe (each benchmark runs on one
// thread).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/user_id.h"
#include "platform/codepage_conversion.h"
#include "support/page_bed.h"

namespace ambervox {
namespace bench {

// Artists in code page 932, some Japanese, as a station's playlist has them.
inline const std::vector<std::string>& Artists() {
  static const std::vector<std::string> artists = {
      "Ivory Tramline", "\x90\xe7\x96\xe9\x88\xea\x96\xe9\x83\x89\x83\x57\x83\x49",
      "Nova Thistle",   "\x82\xdd\x82\xc8\x82\xe0",
      "Lumen Drive",    "\x90\x5b\x8a\x43\x83\x5e\x83\x43\x83\x76\x83\x89\x83\x43\x83\x5e\x81\x5b",
      "Pale Ferris",    "Rock & Roll Unit",
      "Quiet Hours",    "O'Brien Trio"};
  return artists;
}

inline const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = {
      "Secret Signal",    "Little Garden",  "\x90\x85\x96\xca\x82\xcc\x83\x8f\x83\x8b\x83\x63",
      "Afterglow Engine", "Late Afternoon", "Harbour Lights",
      "Restless Radio",   "Night Bus",      "Paper Moon",
      "Slow Tide"};
  return words;
}

// "Artist - Word #index": every tenth title holds each word, and each
// artist starts every tenth title. The player holds each title in UTF-16 as
// well, as the real one does.
inline std::vector<SimulatedEntry> Playlist(int count) {
  std::vector<SimulatedEntry> songs;
  songs.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, " #%06d", i);
    std::string title = Artists()[static_cast<std::size_t>(i) % Artists().size()] + " - " +
                        Words()[static_cast<std::size_t>(i / 10) % Words().size()] + number;
    SimulatedEntry song{"C:\\Music\\" + std::to_string(i) + ".mp3", title, 180 + i % 120};
    std::u16string wideTitle;
    if (platform::AnsiToUtf16(title, &wideTitle)) song.wideTitle = wideTitle;
    songs.push_back(std::move(song));
  }
  return songs;
}

inline int NullSend(platform::Socket, const char*, int length) { return length; }

// The page bed (tests/support/page_bed.h) with a generated playlist, whose
// sends go nowhere.
class BenchBed : public testing::PageBed {
 public:
  explicit BenchBed(int titles) : PageBed(Playlist(titles), "bench", &NullSend, platform::kInvalidSocket, "127.0.0.1") {
    connection.request.userId.CreateNew();
  }

  // A few requests waiting, as on a busy evening.
  void QueueRequests(int count) {
    for (int i = 0; i < count; ++i) {
      UserId user;
      user.CreateNew();
      queue.AddRequest(i * 7, "10.0.0.1", user, false);
    }
  }
};

// The default skin's playlist page in pieces, as the site keeps it.
inline std::vector<SkinPiece> SkinPieces() { return testing::DefaultSkinPieces(AMBERVOX_SOURCE_DIR); }

}  // namespace bench
}  // namespace ambervox
