#include "requests/playlist_cache.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "common/text_operations.h"
#include "platform/codepage.h"
#include "platform/codepage_conversion.h"
#include "player/player_host.h"
#include "player/playlist_batch.h"

namespace ambervox {

namespace {

// Characters removed from the end of a title (with the full-width space).
constexpr char kTitleTrim[] = " \t\r\n";
// Characters removed from both ends of an artist name (with the full-width
// space).
constexpr char kNameTrim[] = " ";

struct ArtistOrder {
  bool operator()(const ByteString& a, const ByteString& b) const {
    return platform::CompareArtistNames(a.CStr(), b.CStr()) < 0;
  }
};

// The part of a title before the first " - ", trimmed; empty when the title
// has no " - ". The search only matches at character boundaries.
ByteString ArtistPart(const ByteString& title) {
  const int separator = title.Find(" - ");
  if (separator == ByteString::kNotFound) return ByteString();
  ByteString name = title.Left(separator);
  name.TrimLeft(kNameTrim, true);
  name.TrimRight(kNameTrim, true);
  return name;
}

// Appends `title` lower-cased and its NUL to `text`, and where the next one
// will begin to `starts`.
void AppendLowerCase(const ByteString& title, std::vector<char>& text, std::vector<std::size_t>& starts) {
  ByteString lower = title;
  lower.MakeLowerMultibyte();
  text.insert(text.end(), lower.Data(), lower.Data() + lower.Length());
  text.push_back('\0');
  starts.push_back(text.size());
}

bool HoldsQuestionMark(const ByteString& title) {
  return std::memchr(title.Data(), '?', static_cast<std::size_t>(title.Length())) != nullptr;
}

// The title's display form and page text (see the header), from the
// player's wide title (`wide`, null when the player gave none) where the
// ANSI one lost characters.
void MakeDisplayForms(const std::u16string* wide, const ByteString& title, ByteString& display, ByteString& shown) {
  // Every character fitted the code page when the player wrote no "?" for
  // one: the common case costs no second question and no conversion. A
  // player without a wide title for the entry leaves the title as it is.
  if (!HoldsQuestionMark(title) || wide == nullptr || wide->empty()) {
    display = title;
    shown = HtmlEscape(title);
    return;
  }
  ByteString displayForm("");
  ByteString page("");
  platform::SplitByAnsiCodePage(
      *wide,
      [&](const char* bytes, std::size_t length) {
        const ByteString run(bytes, static_cast<int>(length));
        displayForm.Append(run);
        page.Append(HtmlEscape(run));
      },
      [&](std::uint32_t codePoint) {
        ByteString reference("&#");
        AppendDecimal(reference, codePoint);
        reference.AppendChar(';');
        displayForm.Append(reference);
        page.Append(reference);
      });
  // Trimmed as the title is; the trimmed characters are never part of a
  // reference or an escape, so both forms lose the same ones.
  displayForm.TrimRight(kTitleTrim, true);
  page.TrimRight(kTitleTrim, true);
  display = displayForm;
  shown = page;
}

// A text of an answered batch entry, as PlayerHost copies it: empty when
// the player answered no address.
ByteString BatchText(const PlaylistBatch& batch, std::uint32_t offset, std::uint32_t length) {
  if (length == kNoPlayerText) return ByteString(static_cast<const char*>(nullptr));
  return ByteString(batch.text.data() + offset, static_cast<int>(length));
}

// The table slot where the search for `song` begins.
std::size_t SongSlot(SongId song, std::size_t mask) {
  return static_cast<std::size_t>((song ^ (song >> 31)) * 0x9E3779B97F4A7C15ULL >> 16) & mask;
}

// The open-addressing table from song to first index (see the header).
std::vector<std::int32_t> BuildSongTable(const std::vector<SongId>& songs) {
  std::size_t size = 16;
  while (size < songs.size() * 2) size *= 2;
  std::vector<std::int32_t> table(size, -1);
  const std::size_t mask = size - 1;
  for (std::size_t i = 0; i < songs.size(); ++i) {
    if (songs[i] == kNoSong) continue;
    std::size_t slot = SongSlot(songs[i], mask);
    // A song listed again keeps its first index.
    while (table[slot] >= 0 && songs[static_cast<std::size_t>(table[slot])] != songs[i]) slot = (slot + 1) & mask;
    if (table[slot] < 0) table[slot] = static_cast<std::int32_t>(i);
  }
  return table;
}

// Gathers one rebuild's content, entry by entry in index order, into a
// snapshot that no other thread sees until it is published.
class SnapshotBuilder {
 public:
  explicit SnapshotBuilder(std::size_t count) : snapshot_(std::make_shared<PlaylistSnapshot>()) {
    snapshot_->filePaths.resize(count);
    snapshot_->titles.resize(count);
    snapshot_->shownTitles.resize(count);
    snapshot_->lowerCaseStarts.reserve(count + 1);
  }

  // Entry `i`'s file path and trimmed title, to be filled in before Derive.
  ByteString& FilePath(std::size_t i) { return snapshot_->filePaths[i]; }
  ByteString& Title(std::size_t i) { return snapshot_->titles[i]; }

  // What follows the questions: the title's forms and its artist, from the
  // player's wide title (`wide`, null when it gave none or was not asked).
  // Called in index order on both paths, as the block of lower-cased forms
  // needs.
  void Derive(std::size_t i, const std::u16string* wide) {
    PlaylistSnapshot& s = *snapshot_;
    MakeDisplayForms(wide, s.titles[i], display_, s.shownTitles[i]);
    AppendLowerCase(display_, s.lowerCaseText, s.lowerCaseStarts);
    // Each artist once, in display form, with its page text; on a tie the
    // name inserted first (the lowest position) stays.
    const auto added = names_.try_emplace(ArtistPart(display_));
    if (added.second) {
      // The first " - " of the display form is the first of its page text:
      // neither references nor escapes hold one.
      added.first->second = s.shownTitles[i] == display_ ? added.first->first : ArtistPart(s.shownTitles[i]);
    }
  }

  // The artist lists, the songs and their table; the snapshot is then
  // whole, ready to be published.
  std::shared_ptr<PlaylistSnapshot> Finish() {
    PlaylistSnapshot& s = *snapshot_;
    s.songs.resize(s.filePaths.size());
    for (std::size_t i = 0; i < s.filePaths.size(); ++i) s.songs[i] = SongOfFile(s.filePaths[i]);
    s.songTable = BuildSongTable(s.songs);
    // Titles without an artist part gave the empty name (or one equal to it
    // in artist order): that is no artist.
    names_.erase(ByteString());
    s.artists.reserve(names_.size());
    s.shownArtists.reserve(names_.size());
    for (const auto& name : names_) {
      s.artists.push_back(name.first);
      s.shownArtists.push_back(name.second);
    }
    return std::move(snapshot_);
  }

 private:
  std::shared_ptr<PlaylistSnapshot> snapshot_;
  std::map<ByteString, ByteString, ArtistOrder> names_;
  ByteString display_;  // reused from entry to entry
};

// Entry `i` asked entry by entry: two or three cross-thread questions.
// False when memory ran out.
bool AskEntry(const PlayerHost& player, std::size_t i, SnapshotBuilder& builder) {
  const int index = static_cast<int>(i);
  ByteString& title = builder.Title(i);
  if (!player.GetPlaylistFile(index, builder.FilePath(i))) return false;
  if (!player.GetPlaylistTitle(index, title)) return false;
  title.TrimRight(kTitleTrim, true);
  std::u16string wide;
  const bool hasWide = HoldsQuestionMark(title) && player.GetPlaylistTitleWide(index, wide);
  builder.Derive(i, hasWide ? &wide : nullptr);
  return true;
}

// Takes the entries an answered batch holds, from index `first` on.
void TakeBatch(const PlaylistBatch& batch, std::size_t first, SnapshotBuilder& builder) {
  std::u16string wide;
  for (int k = 0; k < batch.answered; ++k) {
    const std::size_t i = first + static_cast<std::size_t>(k);
    const PlaylistBatchEntry& entry = batch.entries[static_cast<std::size_t>(k)];
    builder.FilePath(i) = BatchText(batch, entry.fileOffset, entry.fileLength);
    ByteString& title = builder.Title(i);
    title = BatchText(batch, entry.titleOffset, entry.titleLength);
    title.TrimRight(kTitleTrim, true);
    const bool hasWide = entry.wideTitleLength != kNoPlayerText;
    if (hasWide) {
      wide.resize(entry.wideTitleLength);
      std::memcpy(&wide[0], batch.text.data() + entry.wideTitleOffset, entry.wideTitleLength * sizeof(char16_t));
    }
    builder.Derive(i, hasWide ? &wide : nullptr);
  }
}

// Reads entries 0 to `count` - 1 into `builder`: in batches while the hook
// on the player's window answers them (one send per batch); entry by entry
// from the first batch it leaves unanswered, and for an entry too large for
// a batch's room. False when memory ran out.
bool ReadEntries(const PlayerHost& player, std::size_t count, SnapshotBuilder& builder) {
  PlaylistBatch batch;
  bool batches = count > 0;
  if (batches) {
    batch.entries.resize(std::min(count, PlaylistBatch::kMaxEntries));
    batch.text.resize(PlaylistBatch::kTextCapacity);
  }
  for (std::size_t i = 0; i < count;) {
    if (batches) {
      batch.first = static_cast<int>(i);
      batch.count = static_cast<int>(std::min(count - i, batch.entries.size()));
      batches = player.GetPlaylistBatch(batch);
    }
    if (!batches || batch.answered == 0) {
      if (!AskEntry(player, i, builder)) return false;
      ++i;
      continue;
    }
    TakeBatch(batch, i, builder);
    i += static_cast<std::size_t>(batch.answered);
  }
  return true;
}

constexpr char kSongAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr int kSongIdLength = 11;  // 66 bits: the first character holds 4

}  // namespace

SongId SongOfFile(const ByteString& filePath) {
  if (filePath.IsEmpty()) return kNoSong;
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  const auto* bytes = reinterpret_cast<const unsigned char*>(filePath.Data());
  for (int i = 0; i < filePath.Length(); ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001B3ULL;
  }
  return hash == kNoSong ? 1 : hash;
}

ByteString SongIdText(SongId song) {
  char text[kSongIdLength];
  for (int i = kSongIdLength - 1; i >= 0; --i) {
    text[i] = kSongAlphabet[song & 63];
    song >>= 6;
  }
  return ByteString(text, kSongIdLength);
}

bool ParseSongId(const ByteString& text, SongId* song) {
  if (text.Length() != kSongIdLength) return false;
  SongId value = 0;
  for (int i = 0; i < kSongIdLength; ++i) {
    const char* at = std::strchr(kSongAlphabet, text.At(i));
    if (at == nullptr || *at == '\0') return false;
    const auto digit = static_cast<SongId>(at - kSongAlphabet);
    if (i == 0 && digit >= 16) return false;
    value = value << 6 | digit;
  }
  if (value == kNoSong) return false;
  *song = value;
  return true;
}

int FindSongFrom(int hint, int count, const std::function<bool(int)>& isSong) {
  if (count <= 0) return -1;
  const int start = hint < 0 ? 0 : hint;
  for (int i = start; i < count; ++i) {
    if (isSong(i)) return i;
  }
  for (int i = 0; i < start && i < count; ++i) {
    if (isSong(i)) return i;
  }
  return -1;
}

PlaylistCache::PlaylistCache() : snapshot_(std::make_shared<const PlaylistSnapshot>()) {}

void PlaylistCache::SetPlayer(const PlayerHost& player) { player_ = player; }

int PlaylistSnapshot::IndexOfSong(SongId song) const {
  if (song == kNoSong || songTable.empty()) return -1;
  const std::size_t mask = songTable.size() - 1;
  for (std::size_t slot = SongSlot(song, mask);; slot = (slot + 1) & mask) {
    const std::int32_t index = songTable[slot];
    if (index < 0) return -1;
    if (songs[static_cast<std::size_t>(index)] == song) return index;
  }
}

int PlaylistSnapshot::IndexOfFile(const ByteString& filePath) const {
  const int index = IndexOfSong(SongOfFile(filePath));
  if (index < 0 || filePaths[static_cast<std::size_t>(index)] == filePath) return index;
  // Two files with one digest (never seen): the file is looked for in full.
  for (std::size_t i = 0; i < filePaths.size(); ++i) {
    if (filePaths[i] == filePath) return static_cast<int>(i);
  }
  return -1;
}

bool PlaylistCache::Rebuild() {
  // The whole playlist or nothing: a stalled player is waited for.
  const PlayerHost player = player_.WithPatience(PlayerHost::Patience::kWaitForAnswers);
  // The positions below are read up to this length even if the playlist
  // changes meanwhile.
  const int length = player.GetPlaylistLength();
  const std::size_t count = length > 0 ? static_cast<std::size_t>(length) : 0;
  // Built aside, where no other thread sees it, and published whole: a
  // rebuild that runs out of memory part-way leaves the current content as
  // it is.
  try {
    SnapshotBuilder builder(count);
    if (!ReadEntries(player, count, builder)) return false;
    Publish(builder.Finish());
    return true;
  } catch (const std::exception&) {  // std::bad_alloc, std::length_error
    return false;
  }
}

void PlaylistCache::Publish(std::shared_ptr<PlaylistSnapshot> snapshot) {
  std::shared_ptr<const PlaylistSnapshot> previous;
  {
    LockHolder hold(snapshotLock_);
    snapshot->generation = generation_.load() + 1;
    previous = std::move(snapshot_);
    snapshot_ = std::move(snapshot);
    generation_.store(snapshot_->generation);
  }
  // The previous content is freed here, outside the lock, unless a reader
  // still holds it; then the last reader frees it.
}

std::shared_ptr<const PlaylistSnapshot> PlaylistCache::Snapshot() const {
  LockHolder hold(snapshotLock_);
  return snapshot_;
}

bool PlaylistCache::GetShownTitle(int index, ByteString& shownTitle) const {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = Snapshot();
  if (!snapshot->HoldsEntry(index)) return false;
  shownTitle = snapshot->shownTitles[static_cast<std::size_t>(index)];
  return true;
}

bool PlaylistCache::GetEntry(int index, PlaylistEntry& entry) const {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = Snapshot();
  if (!snapshot->HoldsEntry(index)) return false;
  const auto at = static_cast<std::size_t>(index);
  entry.filePath = snapshot->filePaths[at];
  entry.title = snapshot->titles[at];
  entry.song = snapshot->songs[at];
  return true;
}

int PlaylistCache::FindRequestedEntry(int index, SongId song, PlaylistEntry& entry, std::uint64_t& generation) const {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = Snapshot();
  int found = -1;
  if (snapshot->HoldsEntry(index) && (song == kNoSong || snapshot->songs[static_cast<std::size_t>(index)] == song)) {
    found = index;
  } else if (song != kNoSong) {
    found = snapshot->IndexOfSong(song);
  }
  if (found < 0) return -1;
  const auto at = static_cast<std::size_t>(found);
  entry.filePath = snapshot->filePaths[at];
  entry.title = snapshot->titles[at];
  entry.song = snapshot->songs[at];
  generation = snapshot->generation;
  return found;
}

int PlaylistCache::IndexOfFile(const ByteString& filePath) const { return Snapshot()->IndexOfFile(filePath); }

bool PlaylistCache::GetShownTitleOfFile(int hint, const ByteString& filePath, ByteString& shownTitle) const {
  const std::shared_ptr<const PlaylistSnapshot> snapshot = Snapshot();
  int index = hint;
  if (!snapshot->HoldsEntry(hint) || !(snapshot->filePaths[static_cast<std::size_t>(hint)] == filePath)) {
    index = snapshot->IndexOfFile(filePath);
  }
  if (index < 0) return false;
  shownTitle = snapshot->shownTitles[static_cast<std::size_t>(index)];
  return true;
}

}  // namespace ambervox
