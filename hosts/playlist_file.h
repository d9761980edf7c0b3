// Playlist files for the stand-in player: .m3u (bytes in the ANSI code page,
// taken as they are) and .m3u8 (UTF-8, converted to the ANSI code page), with
// each entry's texts also in UTF-16 (from the original text: an .m3u8 keeps
// every character there), with
// "#EXTINF:<seconds>,<title>" lines before the entries. An entry without an
// #EXTINF line gets its file name without folder and extension as title and
// length 0 (unknown). Stateless; any thread.
#pragma once

#include <string>
#include <vector>

#include "simulated_player.h"

namespace ambervox {

// Parses the text of a playlist file; `utf8` for .m3u8 content. False when
// UTF-8 content is not valid UTF-8.
bool ParsePlaylist(const std::string& content, bool utf8, std::vector<SimulatedEntry>* entries);
// Reads the file at `path`, UTF-8 when its name ends in ".m3u8" (any case).
// False when it cannot be read or parsed.
bool ReadPlaylistFile(const std::string& path, std::vector<SimulatedEntry>* entries);

}  // namespace ambervox
