#include "requests/playlist_cache.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
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

bool InRange(int index, std::size_t size) { return index >= 0 && static_cast<std::size_t>(index) < size; }

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
void MakeDisplayForms(const std::u16string* wide, const ByteString& title, ByteString& display,
                      ByteString& shown) {
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

void PlaylistCache::SetPlayer(const PlayerHost& player) { player_ = player; }

bool PlaylistCache::Rebuild() {
  // The whole playlist or nothing: a stalled player is waited for.
  const PlayerHost player = player_.WithPatience(PlayerHost::Patience::kWaitForAnswers);
  // Asked before the lock; the positions below are read up to this length
  // even if the playlist changes meanwhile.
  const int length = player.GetPlaylistLength();
  const std::size_t count = length > 0 ? static_cast<std::size_t>(length) : 0;

  LockHolder hold(lock_);
  // The lock is held throughout, so that a lookup made while a rebuild runs
  // waits for it and answers from the new content. The new content is built
  // aside and swapped in at the end: a rebuild that runs out of memory
  // part-way leaves the previous content whole.
  try {
    std::vector<ByteString> filePaths(count);
    std::vector<ByteString> titles(count);
    std::vector<ByteString> shownTitles(count);
    std::vector<char> lowerCaseText;
    std::vector<std::size_t> lowerCaseStarts;
    lowerCaseStarts.reserve(count + 1);
    lowerCaseStarts.push_back(0);
    // Holds each artist once, in display form, with its page text; on a tie
    // the name inserted first (the lowest position) stays.
    std::map<ByteString, ByteString, ArtistOrder> names;
    ByteString display;
    // What follows the questions: the trimmed title's forms and its artist.
    const auto derive = [&](std::size_t i, const std::u16string* wide) {
      MakeDisplayForms(wide, titles[i], display, shownTitles[i]);
      // Called in index order on both paths, as the block of lower-cased
      // forms needs.
      AppendLowerCase(display, lowerCaseText, lowerCaseStarts);
      const auto added = names.try_emplace(ArtistPart(display));
      if (added.second) {
        // The first " - " of the display form is the first of its page
        // text: neither references nor escapes hold one.
        added.first->second = shownTitles[i] == display ? added.first->first : ArtistPart(shownTitles[i]);
      }
    };
    // Entry by entry: two or three cross-thread questions each.
    const auto askOne = [&](std::size_t i) {
      const int index = static_cast<int>(i);
      if (!player.GetPlaylistFile(index, filePaths[i])) return false;
      if (!player.GetPlaylistTitle(index, titles[i])) return false;
      titles[i].TrimRight(kTitleTrim, true);
      std::u16string wide;
      const bool hasWide = HoldsQuestionMark(titles[i]) && player.GetPlaylistTitleWide(index, wide);
      derive(i, hasWide ? &wide : nullptr);
      return true;
    };
    // In batches while the hook on the player's window answers them (one
    // send per batch); entry by entry from the first batch it leaves
    // unanswered, and for an entry too large for a batch's room.
    PlaylistBatch batch;
    bool batches = count > 0;
    if (batches) {
      batch.entries.resize(std::min(count, PlaylistBatch::kMaxEntries));
      batch.text.resize(PlaylistBatch::kTextCapacity);
    }
    std::u16string wide;
    for (std::size_t i = 0; i < count;) {
      if (batches) {
        batch.first = static_cast<int>(i);
        batch.count = static_cast<int>(std::min(count - i, batch.entries.size()));
        batches = player.GetPlaylistBatch(batch);
      }
      if (!batches || batch.answered == 0) {
        if (!askOne(i)) return false;
        ++i;
        continue;
      }
      for (int k = 0; k < batch.answered; ++k, ++i) {
        const PlaylistBatchEntry& entry = batch.entries[static_cast<std::size_t>(k)];
        filePaths[i] = BatchText(batch, entry.fileOffset, entry.fileLength);
        titles[i] = BatchText(batch, entry.titleOffset, entry.titleLength);
        titles[i].TrimRight(kTitleTrim, true);
        const bool hasWide = entry.wideTitleLength != kNoPlayerText;
        if (hasWide) {
          const char* units = batch.text.data() + entry.wideTitleOffset;
          wide.resize(entry.wideTitleLength);
          std::memcpy(&wide[0], units, entry.wideTitleLength * sizeof(char16_t));
        }
        derive(i, hasWide ? &wide : nullptr);
      }
    }
    std::vector<SongId> songs(count);
    for (std::size_t i = 0; i < count; ++i) songs[i] = SongOfFile(filePaths[i]);
    std::vector<std::int32_t> songTable = BuildSongTable(songs);
    // Titles without an artist part gave the empty name (or one equal to it
    // in artist order): that is no artist.
    names.erase(ByteString());
    std::vector<ByteString> artists;
    std::vector<ByteString> shownArtists;
    artists.reserve(names.size());
    shownArtists.reserve(names.size());
    for (const auto& name : names) {
      artists.push_back(name.first);
      shownArtists.push_back(name.second);
    }

    filePaths_.swap(filePaths);
    titles_.swap(titles);
    shownTitles_.swap(shownTitles);
    lowerCaseText_.swap(lowerCaseText);
    lowerCaseStarts_.swap(lowerCaseStarts);
    artists_.swap(artists);
    shownArtists_.swap(shownArtists);
    songs_.swap(songs);
    songTable_.swap(songTable);
    generation_.fetch_add(1);
    return true;
  } catch (const ByteStringError&) {
    return false;
  } catch (const std::exception&) {  // std::bad_alloc, std::length_error
    return false;
  }
}

int PlaylistCache::EntryCount() const {
  LockHolder hold(lock_);
  return static_cast<int>(filePaths_.size());
}

bool PlaylistCache::GetTitle(int index, ByteString& title) const {
  LockHolder hold(lock_);
  if (!InRange(index, titles_.size())) return false;
  title = titles_[static_cast<std::size_t>(index)];
  return true;
}

bool PlaylistCache::GetShownTitle(int index, ByteString& shownTitle) const {
  LockHolder hold(lock_);
  if (!InRange(index, shownTitles_.size())) return false;
  shownTitle = shownTitles_[static_cast<std::size_t>(index)];
  return true;
}

bool PlaylistCache::GetShownTitleAndLowerCase(int index, ByteString& shownTitle, ByteString& lowerCaseTitle) const {
  LockHolder hold(lock_);
  if (!InRange(index, shownTitles_.size())) return false;
  shownTitle = shownTitles_[static_cast<std::size_t>(index)];
  const std::size_t start = lowerCaseStarts_[static_cast<std::size_t>(index)];
  lowerCaseTitle = ByteString(lowerCaseText_.data() + start,
                              static_cast<int>(lowerCaseStarts_[static_cast<std::size_t>(index) + 1] - start - 1));
  return true;
}

bool PlaylistCache::GetEntry(int index, PlaylistEntry& entry) const {
  LockHolder hold(lock_);
  if (!InRange(index, titles_.size())) return false;
  entry.filePath = filePaths_[static_cast<std::size_t>(index)];
  entry.title = titles_[static_cast<std::size_t>(index)];
  entry.song = songs_[static_cast<std::size_t>(index)];
  return true;
}

int PlaylistCache::IndexOfSongLocked(SongId song) const {
  if (song == kNoSong || songTable_.empty()) return -1;
  const std::size_t mask = songTable_.size() - 1;
  for (std::size_t slot = SongSlot(song, mask);; slot = (slot + 1) & mask) {
    const std::int32_t index = songTable_[slot];
    if (index < 0) return -1;
    if (songs_[static_cast<std::size_t>(index)] == song) return index;
  }
}

int PlaylistCache::IndexOfFileLocked(const ByteString& filePath) const {
  const int index = IndexOfSongLocked(SongOfFile(filePath));
  if (index < 0 || filePaths_[static_cast<std::size_t>(index)] == filePath) return index;
  // Two files with one digest (never seen): the file is looked for in full.
  for (std::size_t i = 0; i < filePaths_.size(); ++i) {
    if (filePaths_[i] == filePath) return static_cast<int>(i);
  }
  return -1;
}

int PlaylistCache::FindRequestedEntry(int index, SongId song, PlaylistEntry& entry, std::uint64_t& generation) const {
  LockHolder hold(lock_);
  int found = -1;
  if (InRange(index, filePaths_.size()) && (song == kNoSong || songs_[static_cast<std::size_t>(index)] == song)) {
    found = index;
  } else if (song != kNoSong) {
    found = IndexOfSongLocked(song);
  }
  if (found < 0) return -1;
  const auto at = static_cast<std::size_t>(found);
  entry.filePath = filePaths_[at];
  entry.title = titles_[at];
  entry.song = songs_[at];
  generation = generation_.load();
  return found;
}

int PlaylistCache::IndexOfFile(const ByteString& filePath) const {
  LockHolder hold(lock_);
  return IndexOfFileLocked(filePath);
}

bool PlaylistCache::GetShownTitleOfFile(int hint, const ByteString& filePath, ByteString& shownTitle) const {
  LockHolder hold(lock_);
  int index = hint;
  if (!InRange(hint, filePaths_.size()) || !(filePaths_[static_cast<std::size_t>(hint)] == filePath)) {
    index = IndexOfFileLocked(filePath);
  }
  if (index < 0) return false;
  shownTitle = shownTitles_[static_cast<std::size_t>(index)];
  return true;
}

bool PlaylistCache::GetCurrentShownTitle(ByteString& shownTitle) const {
  // The player's user-interface thread answers this; it must not find the
  // lock taken by a caller waiting for its answer.
  const int position = player_.GetPlaylistPosition();
  return GetShownTitle(position, shownTitle);
}

int PlaylistCache::ArtistCount() const {
  LockHolder hold(lock_);
  return static_cast<int>(artists_.size());
}

bool PlaylistCache::GetArtist(int index, ByteString& artist) const {
  LockHolder hold(lock_);
  if (!InRange(index, artists_.size())) return false;
  artist = artists_[static_cast<std::size_t>(index)];
  return true;
}

bool PlaylistCache::GetShownArtist(int index, ByteString& shownArtist) const {
  LockHolder hold(lock_);
  if (!InRange(index, shownArtists_.size())) return false;
  shownArtist = shownArtists_[static_cast<std::size_t>(index)];
  return true;
}

}  // namespace ambervox
