// SkinCache: skin files read once and kept split into the pieces a page is
// rendered from, and the web root's small files (style sheets, images) kept
// as they are, each for as long as the file on disk keeps its size and last
// write time. Every request looks its file up afresh, so an edit of the file
// shows on the next request.
//
// One cache serves every connection (SharedSkinCache). A kept file is
// immutable and shared through a shared_ptr; the lock guards only the tables
// of kept files and is never held while a file is read. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_string.h"
#include "pages/markers.h"
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
  // The marker that renders this line (LineMarker), found once when the
  // skin is read; null for a piece sent as it stands.
  const Marker* marker = nullptr;
};

struct ParsedSkin {
  platform::FileInfo info;
  std::vector<SkinPiece> pieces;
};

// A file's bytes, read when its size and last write time were `info`.
struct KeptFile {
  platform::FileInfo info;
  std::string bytes;
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

  // The bytes of the file at `path`, whose size and last write time are
  // `info`: the kept copy when they match, otherwise read now. Null when the
  // file cannot be opened. For files up to kMaxFileBytes; the caller
  // streams larger ones.
  std::shared_ptr<const KeptFile> GetFile(const ByteString& path, const platform::FileInfo& info) EXCLUDES(lock_);

  // Kept skins, and the largest skin kept: larger ones are read every time.
  static constexpr std::size_t kMaxSkins = 16;
  static constexpr std::uint64_t kMaxSkinBytes = 1 << 20;
  // The same for other files: at most 4 MiB kept in all.
  static constexpr std::size_t kMaxFiles = 64;
  static constexpr std::uint64_t kMaxFileBytes = 64 * 1024;

 private:
  // The kept entry for `key` when it was read at `info`, else null.
  template <typename Kept>
  static std::shared_ptr<const Kept> FindKept(const std::map<std::string, std::shared_ptr<const Kept>>& table,
                                              const std::string& key, const platform::FileInfo& info);
  // Keeps `kept` under `key`, making room by dropping another entry.
  template <typename Kept>
  static void Keep(std::map<std::string, std::shared_ptr<const Kept>>& table, std::size_t maxEntries,
                   const std::string& key, std::shared_ptr<const Kept> kept);

  Lock lock_;
  std::map<std::string, std::shared_ptr<const ParsedSkin>> skins_ GUARDED_BY(lock_);
  std::map<std::string, std::shared_ptr<const KeptFile>> files_ GUARDED_BY(lock_);
};

// The cache the site's pages use.
SkinCache& SharedSkinCache();

}  // namespace ambervox
