#include "pages/skin_cache.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "http/http_connection.h"

namespace ambervox {
namespace {

// The longest line handed to the renderer: the connection's line buffer,
// less the byte fgets keeps for its terminating zero.
constexpr std::size_t kSkinLineLimit = HttpConnection::kLineBufferSize - 1;

// A file's last write time is only trusted to tell edits apart once it is
// older than this: a file clock may tick in whole seconds (or two, on FAT),
// and a second edit within the same tick that keeps the size would
// otherwise go unseen. A skin written more recently is read every time.
constexpr std::int64_t kSettledSeconds = 2;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

bool HasSettled(const platform::FileInfo& info) {
  const std::int64_t written =
      static_cast<std::int64_t>(info.lastWriteTime / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
  return platform::CurrentTime() - written >= kSettledSeconds;
}

// Reads the whole file into `bytes`: false when it cannot be opened;
// `complete` false after a read error (with the bytes read until then).
bool ReadFile(const ByteString& path, std::string& bytes, bool* complete) {
  platform::ScopedFile file(platform::OpenFileForReading(path.CStr()));
  if (file == nullptr) return false;
  char chunk[16384];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    bytes.append(chunk, got);
    if (got < sizeof chunk) {
      *complete = std::ferror(file.get()) == 0;
      return true;
    }
  }
}

// Whether a file read whole may be kept: its bytes are the size looked up
// (it was not being written meanwhile), it is not too large, and its time
// can tell the next edit apart.
bool IsKeepable(const std::string& bytes, const platform::FileInfo& info, std::uint64_t maxBytes) {
  return bytes.size() == info.size && info.size <= maxBytes && HasSettled(info);
}

}  // namespace

bool HasDoublePercent(const char* at, const char* end) {
  while (at < end) {
    at = static_cast<const char*>(std::memchr(at, '%', static_cast<std::size_t>(end - at)));
    if (at == nullptr) return false;
    if (at + 1 < end && at[1] == '%') return true;
    ++at;
  }
  return false;
}

std::vector<SkinPiece> SplitSkin(const char* data, std::size_t length) {
  std::vector<SkinPiece> pieces;
  const char* at = data;
  const char* const end = data + length;
  while (at < end) {
    const std::size_t left = static_cast<std::size_t>(end - at);
    const std::size_t room = left < kSkinLineLimit ? left : kSkinLineLimit;
    const char* feed = static_cast<const char*>(std::memchr(at, '\n', room));
    const char* const lineEnd = feed != nullptr ? feed + 1 : at + room;
    const bool literal = !HasDoublePercent(at, lineEnd);
    const int lineLength = static_cast<int>(lineEnd - at);
    if (literal && !pieces.empty() && pieces.back().literal) {
      pieces.back().text.Append(at, lineLength);
    } else {
      SkinPiece piece{ByteString(at, lineLength), literal};
      if (!literal) piece.marker = LineMarker(piece.text);
      pieces.push_back(std::move(piece));
    }
    at = lineEnd;
  }
  return pieces;
}

template <typename Kept>
std::shared_ptr<const Kept> SkinCache::FindKept(const std::map<std::string, std::shared_ptr<const Kept>>& table,
                                                const std::string& key, const platform::FileInfo& info) {
  auto found = table.find(key);
  if (found == table.end() || found->second->info.size != info.size ||
      found->second->info.lastWriteTime != info.lastWriteTime) {
    return nullptr;
  }
  return found->second;
}

template <typename Kept>
void SkinCache::Keep(std::map<std::string, std::shared_ptr<const Kept>>& table, std::size_t maxEntries,
                     const std::string& key, std::shared_ptr<const Kept> kept) {
  if (table.size() >= maxEntries && table.find(key) == table.end()) table.erase(table.begin());
  table[key] = std::move(kept);
}

std::shared_ptr<const ParsedSkin> SkinCache::Get(const ByteString& path, const platform::FileInfo& info) {
  const std::string key(path.CStr());
  {
    LockHolder hold(lock_);
    if (auto kept = FindKept(skins_, key, info)) return kept;
  }
  std::string bytes;
  bool complete = false;
  if (!ReadFile(path, bytes, &complete)) return nullptr;
  auto skin = std::make_shared<ParsedSkin>();
  skin->info = info;
  skin->pieces = SplitSkin(bytes.data(), bytes.size());
  if (complete && IsKeepable(bytes, info, kMaxSkinBytes)) {
    LockHolder hold(lock_);
    Keep<ParsedSkin>(skins_, kMaxSkins, key, skin);
  }
  return skin;
}

std::shared_ptr<const KeptFile> SkinCache::GetFile(const ByteString& path, const platform::FileInfo& info) {
  const std::string key(path.CStr());
  {
    LockHolder hold(lock_);
    if (auto kept = FindKept(files_, key, info)) return kept;
  }
  auto file = std::make_shared<KeptFile>();
  file->info = info;
  bool complete = false;
  if (!ReadFile(path, file->bytes, &complete)) return nullptr;
  if (complete && IsKeepable(file->bytes, info, kMaxFileBytes)) {
    LockHolder hold(lock_);
    Keep<KeptFile>(files_, kMaxFiles, key, file);
  }
  return file;
}

SkinCache& SharedSkinCache() {
  // Never destroyed: a process that ends without the player's quit runs the
  // destructors of statics while connection threads may still serve files.
  static SkinCache* const cache = new SkinCache;
  return *cache;
}

}  // namespace ambervox
