// The skin markers: one table (template_renderer.cpp) of every "%%NAME%%"
// the template engine knows, with its family and the function that expands
// a line holding it, in order of precedence. LineMarker picks from it;
// the template fuzzer and the guides' check read it. A new marker is one row
// of the table, its expander and its test. Constant data; any thread.
#pragma once

#include <cstddef>

#include "common/byte_string.h"

namespace ambervox {

struct Page;

// The families: the markers expanded together, from one line.
enum class MarkerFamily {
  kArtistSelect,
  kAdminControl,
  kAdminHiddenField,
  kAdminPassword,
  kError,
  kReferrer,
  kPlaylistRows,
  kQueueRows,
  kNavNext,
  kNavPrev,
  kCurrentSong,
  kDisplayMode,
  kContentRefresh,
  kSearchWord,
  kPercentLeft,
  kSongLength,
};

struct Marker {
  const char* text;  // as it stands in a skin
  MarkerFamily family;
  // Appends the expansion of a line that holds the marker. Set for the
  // family's first marker, which decides whether a line belongs to the
  // family; null for the markers that are replaced only on their family's
  // lines (the row markers after %%PLAYLISTENTRY%% and %%QUEUELISTENTRY%%).
  void (*expand)(const Page& page, const ByteString& line, ByteString& out);
};

// The table, in order of precedence: a line is expanded by the first row
// with an expander whose marker it holds.
struct MarkerList {
  const Marker* begin() const;
  const Marker* end() const;
};
MarkerList Markers();

// The marker whose expander renders `line`: the first row of the table with
// an expander whose marker the line holds. Null when the line holds none and
// is sent as it stands.
const Marker* LineMarker(const ByteString& line);

}  // namespace ambervox
