// Reads of the playlist cache that only tests need, built on its snapshot:
// each takes the current snapshot once, as the cache's own lookups do, and
// answers as they do (false and the output untouched out of range).
#pragma once

#include <cstddef>
#include <memory>

#include "common/byte_string.h"
#include "platform/window.h"
#include "player/player_host.h"
#include "requests/playlist_cache.h"

namespace ambervox {
namespace testing {

inline int EntryCount(const PlaylistCache& cache) { return cache.Snapshot()->EntryCount(); }

// The player's ANSI title, trimmed.
inline bool GetTitle(const PlaylistCache& cache, int index, ByteString& title) {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = cache.Snapshot();
  if (!snapshot->HoldsEntry(index)) return false;
  title = snapshot->titles[static_cast<std::size_t>(index)];
  return true;
}

// The page text and the lower-cased display form, from one snapshot.
inline bool GetShownTitleAndLowerCase(const PlaylistCache& cache, int index, ByteString& shownTitle,
                                      ByteString& lowerCaseTitle) {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = cache.Snapshot();
  if (!snapshot->HoldsEntry(index)) return false;
  const auto at = static_cast<std::size_t>(index);
  shownTitle = snapshot->shownTitles[at];
  lowerCaseTitle = ByteString(snapshot->LowerCaseTitle(at), snapshot->LowerCaseLength(at));
  return true;
}

inline int ArtistCount(const PlaylistCache& cache) { return static_cast<int>(cache.Snapshot()->artists.size()); }

// The artist's name as page text.
inline bool GetShownArtist(const PlaylistCache& cache, int index, ByteString& shownArtist) {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = cache.Snapshot();
  if (index < 0 || static_cast<std::size_t>(index) >= snapshot->shownArtists.size()) return false;
  shownArtist = snapshot->shownArtists[static_cast<std::size_t>(index)];
  return true;
}

// The artist's name in display form.
inline bool GetArtist(const PlaylistCache& cache, int index, ByteString& artist) {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = cache.Snapshot();
  if (index < 0 || static_cast<std::size_t>(index) >= snapshot->artists.size()) return false;
  artist = snapshot->artists[static_cast<std::size_t>(index)];
  return true;
}

// The page text of the cached title at the position the player in `window`
// plays now, as the pages show the current song.
inline bool GetCurrentShownTitle(const PlaylistCache& cache, platform::WindowHandle window, ByteString& shownTitle) {
  return cache.GetShownTitle(PlayerHost(window).GetPlaylistPosition(), shownTitle);
}

}  // namespace testing
}  // namespace ambervox
