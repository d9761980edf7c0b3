// SkinCache: skin files read once and kept split into the pieces a page is
// rendered from, for as long as the file on disk keeps its size and last
// write time. Every page asks for its skin afresh, so an edit of the file
// shows on the next request.
//
// One cache serves every connection (SharedSkinCache). A kept skin is
// immutable and shared through a shared_ptr; the lock guards only the table
// of kept skins and is never held while a file is read. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_string.h"
#include "platform/files.h"
#include "platform/lock.h"

namespace ambervox {

// A run of the skin's bytes. A literal piece holds no "%%" and is sent as
// it is (consecutive such lines are joined into one piece); any other piece
// is one line, cut as the renderer has always been given lines: through its
// line feed, or when it fills the connection's line buffer.
struct SkinPiece {
  ByteString text;
  bool literal = false;
};

struct ParsedSkin {
  platform::FileInfo info;
  std::vector<SkinPiece> pieces;
};

// True when "%%", with which every marker begins, occurs in [at, end).
bool HasDoublePercent(const char* at, const char* end);

// Splits a skin's bytes into pieces.
std::vector<SkinPiece> SplitSkin(const char* data, std::size_t length);

class SkinCache {
 public:
  // The skin at `path`, whose size and last write time are `info` (just
  // looked up by the caller): the kept one when they match, otherwise read
  // now. Null when the file cannot be opened.
  std::shared_ptr<const ParsedSkin> Get(const ByteString& path, const platform::FileInfo& info) EXCLUDES(lock_);

  // Kept skins, and the largest skin kept: larger ones are read every time.
  static constexpr std::size_t kMaxSkins = 16;
  static constexpr std::uint64_t kMaxSkinBytes = 1 << 20;

 private:
  Lock lock_;
  std::map<std::string, std::shared_ptr<const ParsedSkin>> skins_ GUARDED_BY(lock_);
};

// The cache the site's pages use.
SkinCache& SharedSkinCache();

}  // namespace ambervox
