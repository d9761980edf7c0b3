// PlaylistCache: the in-memory copy of the player's playlist (the file path
// and display title of every position, as of the last rebuild) and the sorted
// list of distinct artist names derived from the titles. Pages and the
// request queue read it instead of asking the player for every entry.
//
// Titles in three forms. The title: the player's answer in the ANSI code
// page (212), where a character the code page lacks is "?". The display
// form: the same bytes, except that each character the code page lacks is
// the HTML numeric reference of its code point ("&#48169;"), read from the
// player's wide title (214); it equals the title, byte for byte, when the
// title holds no "?" (every character fitted, so the player is not asked
// again) or the player does not answer 214. The page text: the display
// form HTML-escaped (HtmlEscape), except that the references it introduced
// stay references; this is what pages show. Searches and leading texts match
// the display form lower-cased (as ByteString::MakeLowerMultibyte does it),
// kept by the rebuild so that a search lower-cases only its word. Artists
// come from the display form: grouped and ordered by it, shown by their page
// text.
//
// One instance belongs to the plug-in; the request queue and, through it,
// every HTTP connection hold a pointer. `lock_` guards the lists:
// Rebuild holds it for its whole run (so a single lookup sees the content
// before or after a rebuild, never a mixture), each lookup for one bounds
// check and one copy, a scan (ScanTitles) for one slice of entries. No other lock is taken while it is held, and the
// player is never asked anything by a lookup while it is held.
//
// Threads: SetPlayer once, before other threads use the cache;
// Rebuild on the user-interface thread (the first one, before any other
// thread exists) or on the refresh thread, one at a time; lookups from any
// thread. Every text handed out is a copy that stays valid after the lock is
// released.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/byte_string.h"
#include "platform/lock.h"
#include "platform/window.h"
#include "player/player_host.h"

namespace ambervox {

// Where a song that was at `hint` stands now in a playlist of `count`
// entries: the first index at or after `hint` for which `isSong` holds, else
// the first before it; -1 when there is none. `isSong` is asked for `hint`
// first, so a song that has not moved costs one question.
int FindSongFrom(int hint, int count, const std::function<bool(int)>& isSong);

// A song's identity: a digest (64-bit FNV-1a) of its file path, as the
// cache holds it. Request links carry it ("%%PLAYLISTPOS%%"), so that a link
// drawn before the DJ edited the playlist still names the song it showed. A
// file listed twice is one song. kNoSong: an entry without a file path (the
// player gave none), which has no identity.
using SongId = std::uint64_t;
constexpr SongId kNoSong = 0;
// The identity of the song in `filePath`; kNoSong for an empty path only.
SongId SongOfFile(const ByteString& filePath);
// Its text in links: 11 characters of the URL-safe base64 alphabet
// ("A"-"Z", "a"-"z", "0"-"9", "-", "_"), most significant first.
ByteString SongIdText(SongId song);
// Reads that text back; false for anything else (kNoSong's text included).
bool ParseSongId(const ByteString& text, SongId* song);

// What the cache holds for one playlist position.
struct PlaylistEntry {
  ByteString filePath;
  ByteString title;
  SongId song = kNoSong;
};

class PlaylistCache {
 public:
  PlaylistCache() = default;
  virtual ~PlaylistCache() = default;
  PlaylistCache(const PlaylistCache&) = delete;
  PlaylistCache& operator=(const PlaylistCache&) = delete;

  void SetPlayer(const PlayerHost& player);
  // Re-reads the whole playlist from the player: its length first, then
  // the entries in batches of the playlist batch message
  // (player/playlist_batch.h), which the plug-in's hook answers on the
  // player's thread, one send per batch; from the first batch that comes
  // back unanswered (no hook), entry by entry, two or three sends each. The
  // content is the same either way; entries past the end of a playlist that
  // shrank meanwhile are empty. False when memory ran out part-way; the
  // previous content is then kept.
  bool Rebuild() EXCLUDES(lock_);
  int EntryCount() const EXCLUDES(lock_);
  // Lookups: false and the output untouched when the index is out of range.
  bool GetTitle(int index, ByteString& title) const EXCLUDES(lock_);
  // The title's page text.
  bool GetShownTitle(int index, ByteString& shownTitle) const EXCLUDES(lock_);
  // The title's page text and its display form lower-cased, from one lookup.
  bool GetShownTitleAndLowerCase(int index, ByteString& shownTitle, ByteString& lowerCaseTitle) const
      EXCLUDES(lock_);
  // Walks the entries in order from the first, calling `visit` with each
  // one's index, page text and lower-cased display form, until `visit`
  // returns false or the entries end. The texts are the cache's own: a
  // visitor copies what it keeps. The lock is held for kScanSlice entries
  // at a time, so a search reads 200,000 titles without a lock and two
  // copies per title, yet never holds off a rebuild or a lookup for long;
  // a rebuild between two slices only shortens or lengthens the walk, as it
  // would between single lookups. `visit` must not call into the cache.
  // The lower-cased form comes as `length` bytes followed by a NUL, and the
  // entry's song identity last:
  //   bool visit(int index, const ByteString& shownTitle, const char* lowerCaseTitle, int length, SongId song)
  // A template, so that the visitor's call is inlined in the walk.
  static constexpr std::size_t kScanSlice = 4096;
  template <typename Visitor>
  void ScanTitles(Visitor&& visit) const EXCLUDES(lock_) {
    for (std::size_t first = 0;; first += kScanSlice) {
      LockHolder hold(lock_);
      const std::size_t end = shownTitles_.size() < first + kScanSlice ? shownTitles_.size() : first + kScanSlice;
      if (first >= end) return;
      const char* const text = lowerCaseText_.data();
      const std::size_t* const starts = lowerCaseStarts_.data();
      for (std::size_t i = first; i < end; ++i) {
        if (!visit(static_cast<int>(i), shownTitles_[i], text + starts[i],
                   static_cast<int>(starts[i + 1] - starts[i] - 1), songs_[i])) {
          return;
        }
      }
    }
  }
  bool GetEntry(int index, PlaylistEntry& entry) const EXCLUDES(lock_);
  // The entry a request link names: the one at `index` when `song` is
  // kNoSong (a link without an identity) or is the song at `index`; else
  // the first entry holding `song`, wherever the playlist now holds it.
  // Returns its index and fills `entry` and `generation` (see Generation),
  // from one hold of the lock; -1, with both untouched, when there is none
  // (the song left the playlist, or `index` is out of range).
  int FindRequestedEntry(int index, SongId song, PlaylistEntry& entry, std::uint64_t& generation) const EXCLUDES(lock_);
  // The index of the first entry holding `filePath`; -1 when none does or
  // the path is empty. Constant time: each rebuild builds a table from
  // song to first index.
  int IndexOfFile(const ByteString& filePath) const EXCLUDES(lock_);
  // The page text of the title of the entry holding `filePath`: the one at
  // `hint` when it holds it, else the first that does (in constant time);
  // false and `shownTitle` untouched when no entry holds it.
  bool GetShownTitleOfFile(int hint, const ByteString& filePath, ByteString& shownTitle) const EXCLUDES(lock_);
  // Counts the rebuilds that changed the content; any thread, no lock.
  std::uint64_t Generation() const { return generation_.load(); }
  // The page text of the cached title at the player's current position
  // (asked without the lock); false when that position lies outside the
  // cached entries.
  bool GetCurrentShownTitle(ByteString& shownTitle) const EXCLUDES(lock_);
  int ArtistCount() const EXCLUDES(lock_);
  // The artist's name in display form / as page text.
  bool GetArtist(int index, ByteString& artist) const EXCLUDES(lock_);
  bool GetShownArtist(int index, ByteString& shownArtist) const EXCLUDES(lock_);

 private:
  PlayerHost player_;
  mutable Lock lock_;
  std::vector<ByteString> filePaths_ GUARDED_BY(lock_);
  // The title lists are always as long as filePaths_. A form that equals
  // another shares its storage.
  std::vector<ByteString> titles_ GUARDED_BY(lock_);
  std::vector<ByteString> shownTitles_ GUARDED_BY(lock_);
  // The display forms lower-cased, one after another in one block, each
  // followed by a NUL; entry i begins at lowerCaseStarts_[i] and its NUL
  // sits at lowerCaseStarts_[i + 1] - 1. One block rather than a heap block
  // per title, so that a search reads memory in order.
  std::vector<char> lowerCaseText_ GUARDED_BY(lock_);
  std::vector<std::size_t> lowerCaseStarts_ GUARDED_BY(lock_);  // entries + 1
  std::vector<ByteString> artists_ GUARDED_BY(lock_);  // display forms, ascending in artist order
  std::vector<ByteString> shownArtists_ GUARDED_BY(lock_);  // their page texts
  // The song of every entry (as long as filePaths_), and an open-addressing
  // table (a power of two, at least twice the entries, -1 for an empty
  // slot) of the first index of each song, probed linearly from the song's
  // low bits.
  std::vector<SongId> songs_ GUARDED_BY(lock_);
  std::vector<std::int32_t> songTable_ GUARDED_BY(lock_);
  std::atomic<std::uint64_t> generation_{0};

  int IndexOfSongLocked(SongId song) const REQUIRES(lock_);
  int IndexOfFileLocked(const ByteString& filePath) const REQUIRES(lock_);
};

}  // namespace ambervox
