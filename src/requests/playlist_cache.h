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
// Each rebuild reads the player into a new PlaylistSnapshot, without any
// lock, and publishes it by swapping one pointer; a snapshot never changes
// once published. A lookup takes the current snapshot once (a lock held only
// to copy the pointer) and answers from it, so it never waits for a rebuild:
// during one it answers from the previous content, and a single lookup, a
// FindRequestedEntry or a whole ScanTitles walk sees one rebuild's content,
// never a mixture. Nothing holds a lock while the player is asked, so the
// player's user-interface thread may read the cache as well, even while a
// rebuild on another thread waits for its answers.
//
// Threads: SetPlayer once, before other threads use the cache.
// Rebuild one at a time: on the user-interface thread before the refresh
// thread exists, then on the refresh thread (two at once would each publish
// whole content, but the later publication wins even if it read the player
// first). Lookups and Snapshot from any thread, the player's
// user-interface thread included. Every text handed out is a copy, or
// belongs to a snapshot its holder keeps alive.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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

// One rebuild's content. Published as std::shared_ptr<const
// PlaylistSnapshot>: whoever holds one reads it without a lock, and it stays
// as it is (and alive) while held, whatever rebuilds follow.
struct PlaylistSnapshot {
  // The lists of titles are as long as filePaths. A form that equals
  // another shares its storage.
  std::vector<ByteString> filePaths;
  std::vector<ByteString> titles;
  std::vector<ByteString> shownTitles;
  // The display forms lower-cased, one after another in one block, each
  // followed by a NUL; entry i begins at lowerCaseStarts[i] and its NUL
  // sits at lowerCaseStarts[i + 1] - 1. One block rather than a heap block
  // per title, so that a search reads memory in order.
  std::vector<char> lowerCaseText;
  std::vector<std::size_t> lowerCaseStarts{0};  // entries + 1
  std::vector<ByteString> artists;              // display forms, ascending in artist order
  std::vector<ByteString> shownArtists;         // their page texts
  // The song of every entry (as long as filePaths), and an open-addressing
  // table (a power of two, at least twice the entries, -1 for an empty
  // slot; empty before the first rebuild) of the first index of each song,
  // probed linearly from the song's low bits.
  std::vector<SongId> songs;
  std::vector<std::int32_t> songTable;
  // The cache's Generation when this content was published.
  std::uint64_t generation = 0;

  int EntryCount() const { return static_cast<int>(filePaths.size()); }
  bool HoldsEntry(int index) const { return index >= 0 && static_cast<std::size_t>(index) < filePaths.size(); }
  // Entry i's lower-cased display form: LowerCaseLength(i) bytes, then a NUL.
  const char* LowerCaseTitle(std::size_t i) const { return lowerCaseText.data() + lowerCaseStarts[i]; }
  int LowerCaseLength(std::size_t i) const { return static_cast<int>(lowerCaseStarts[i + 1] - lowerCaseStarts[i] - 1); }
  // The first index holding `song` / `filePath`; -1 when none does (or for
  // kNoSong and the empty path). Constant time, through the song table.
  int IndexOfSong(SongId song) const;
  int IndexOfFile(const ByteString& filePath) const;
};

class PlaylistCache {
 public:
  PlaylistCache();
  PlaylistCache(const PlaylistCache&) = delete;
  PlaylistCache& operator=(const PlaylistCache&) = delete;

  void SetPlayer(const PlayerHost& player);
  // Re-reads the whole playlist from the player: its length first, then
  // the entries in batches of the playlist batch message
  // (player/playlist_batch.h), which the plug-in's hook answers on the
  // player's thread, one send per batch; from the first batch that comes
  // back unanswered (no hook), entry by entry, two or three sends each. The
  // content is the same either way; entries past the end of a playlist that
  // shrank meanwhile are empty. The new content is published when it is
  // whole. False when memory ran out part-way; the previous content is then
  // kept.
  bool Rebuild() EXCLUDES(snapshotLock_);
  // The content of the last rebuild (empty before the first), for a reader
  // that needs several answers from one rebuild.
  std::shared_ptr<const PlaylistSnapshot> Snapshot() const EXCLUDES(snapshotLock_);

  // Lookups, each answered from one snapshot: false and the output
  // untouched when the index is out of range. GetShownTitle gives the
  // title's page text.
  bool GetShownTitle(int index, ByteString& shownTitle) const EXCLUDES(snapshotLock_);
  bool GetEntry(int index, PlaylistEntry& entry) const EXCLUDES(snapshotLock_);
  // Walks the entries of one snapshot in order from the first, calling
  // `visit` with each one's index, page text and lower-cased display form,
  // until `visit` returns false or the entries end: a search reads 200,000
  // titles without a lock and without a copy per title, and a rebuild
  // meanwhile neither waits for the walk nor changes what it reads. The
  // texts belong to the snapshot: a visitor copies what it keeps. The
  // lower-cased form comes as `length` bytes followed by a NUL, and the
  // entry's song identity last:
  //   bool visit(int index, const ByteString& shownTitle, const char* lowerCaseTitle, int length, SongId song)
  // A template, so that the visitor's call is inlined in the walk.
  template <typename Visitor>
  void ScanTitles(Visitor&& visit) const EXCLUDES(snapshotLock_) {
    const std::shared_ptr<const PlaylistSnapshot> snapshot = Snapshot();
    const std::size_t count = snapshot->shownTitles.size();
    const char* const text = snapshot->lowerCaseText.data();
    const std::size_t* const starts = snapshot->lowerCaseStarts.data();
    for (std::size_t i = 0; i < count; ++i) {
      if (!visit(static_cast<int>(i), snapshot->shownTitles[i], text + starts[i],
                 static_cast<int>(starts[i + 1] - starts[i] - 1), snapshot->songs[i])) {
        return;
      }
    }
  }
  // The entry a request link names: the one at `index` when `song` is
  // kNoSong (a link without an identity) or is the song at `index`; else
  // the first entry holding `song`, wherever the playlist now holds it.
  // Returns its index and fills `entry` and `generation` (see Generation),
  // all from one snapshot; -1, with both untouched, when there is none
  // (the song left the playlist, or `index` is out of range).
  int FindRequestedEntry(int index, SongId song, PlaylistEntry& entry, std::uint64_t& generation) const
      EXCLUDES(snapshotLock_);
  // The index of the first entry holding `filePath`; -1 when none does or
  // the path is empty. Constant time: each rebuild builds a table from
  // song to first index.
  int IndexOfFile(const ByteString& filePath) const EXCLUDES(snapshotLock_);
  // The page text of the title of the entry holding `filePath`: the one at
  // `hint` when it holds it, else the first that does (in constant time);
  // false and `shownTitle` untouched when no entry holds it.
  bool GetShownTitleOfFile(int hint, const ByteString& filePath, ByteString& shownTitle) const EXCLUDES(snapshotLock_);
  // Counts the rebuilds that changed the content (each published one);
  // any thread, no lock. A snapshot with this generation is the current
  // one.
  std::uint64_t Generation() const { return generation_.load(); }

 private:
  // Makes `snapshot` the current content and counts it.
  void Publish(std::shared_ptr<PlaylistSnapshot> snapshot) EXCLUDES(snapshotLock_);

  PlayerHost player_;
  // Held only to copy or swap the pointer: never while a snapshot is built
  // or read, nor while the player is asked.
  mutable Lock snapshotLock_;
  std::shared_ptr<const PlaylistSnapshot> snapshot_ GUARDED_BY(snapshotLock_);
  // Written with snapshot_, under the lock; read without it.
  std::atomic<std::uint64_t> generation_{0};
};

}  // namespace ambervox
