// Test data shared by the unit tests, the fuzzers and the benchmarks: a
// playlist for the simulated player and the browser identities of
// listeners.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/user_id.h"
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
