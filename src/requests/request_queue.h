// RequestQueue: the songs that listeners asked for, oldest first, with the
// fairness limits that decide whether a new request is admitted, and the
// history of requests started by PlayNext (most recent first) that the two
// recently-played rules look at.
//
// One instance belongs to the plug-in; it is given the playlist cache (not
// owned) to validate playlist indexes and to look up titles. `lock_` guards
// both lists; each operation takes it for its own duration, and a request's
// check and append are one locked step. The cache is read outside it (save
// its lock-free Generation), and the player is never sent a message while
// it is held.
//
// Threads: HTTP connection threads add, delete, count and walk; the
// user-interface thread runs PlayNext (from the window hook), ClearAll,
// GetLimits and SetLimits. The limits are atomics: written by the
// user-interface thread, read by the others without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "common/byte_string.h"
#include "common/result_code.h"
#include "common/settings_table.h"
#include "common/user_id.h"
#include "platform/lock.h"
#include "platform/window.h"
#include "player/player_host.h"
#include "requests/playlist_cache.h"

namespace ambervox {

// One request, copied in and out of the queue.
struct RequestEntry {
  // As cached by the playlist cache when the request was made; together
  // with the queue's other entries it names the request in delete and
  // cancel links, and it is where PlayNext looks for the song first.
  int playlistIndex = 0;
  // The song asked for: the file the cache held for playlistIndex then
  // (empty when the cache knew none). The queue rules compare songs by it:
  // two requests are for the same song when their files are equal (by
  // index only when either has none), wherever the playlist holds it now.
  ByteString filePath;
  // The title's page text when the request was made: what the queue shows
  // while the cache does not hold the song (the moment between the player's
  // edit and FollowPlaylist).
  ByteString shownTitle;
  ByteString requesterAddress;  // dotted IPv4 text of the requesting connection
  UserId userId;                // the requesting browser
  std::uint64_t serial = 0;     // given by the queue, one per request
};

// The four limits, always in this order (the settings store and the settings
// dialog rely on it); each named after its settings key.
// The defaults come from the settings table.
struct QueueLimits {
  // g_MaxQueueSize: most waiting requests; 0 or less admits nothing.
  int maxQueueSize = DefaultNumber(SettingField::kMaxQueueSize);
  // g_MaxRequestsPerIP: most waiting requests of one requester; 0: no limit.
  int maxRequestsPerIP = DefaultNumber(SettingField::kMaxRequestsPerIP);
  // g_MaxConsecutivePerIP: recent plays searched for the same song from the
  // same requester; 0 or less: off.
  int maxConsecutivePerIP = DefaultNumber(SettingField::kMaxConsecutivePerIP);
  // g_RecentlyPlayedQueueSize: recent plays searched for the same song from
  // anybody; 0 or less: off.
  int recentlyPlayedQueueSize = DefaultNumber(SettingField::kRecentlyPlayedQueueSize);

  // The limit that `field` of the settings table sets; null for a field
  // that is no queue limit.
  int* Field(SettingField field);
  const int* Field(SettingField field) const { return const_cast<QueueLimits*>(this)->Field(field); }
};

class RequestQueue {
 public:
  explicit RequestQueue(PlaylistCache* cache);
  RequestQueue(const RequestQueue&) = delete;
  RequestQueue& operator=(const RequestQueue&) = delete;

  PlaylistCache* Cache() const { return cache_; }

  // Applies the limits to a request for the song at `playlistIndex` that is
  // not yet queued; changes nothing.
  ResultCode CheckRequest(int playlistIndex, const ByteString& address, const UserId& userId) const EXCLUDES(lock_);
  // Finds the song a request link names (PlaylistCache::FindRequestedEntry:
  // the entry at `playlistIndex`, or with `song` the song wherever it now
  // is), applies the limits when `checkLimits` (false for a request with
  // the admin password) and appends. kInvalidPosition when there is no such
  // entry (`song` left the playlist, or the index is out of range).
  ResultCode AddRequest(int playlistIndex, const ByteString& address, const UserId& userId, bool checkLimits,
                        SongId song = kNoSong) EXCLUDES(lock_);
  // `entry` := the request at `position`, `title` := its title: the
  // cache's page text for the entry's file wherever the playlist now holds
  // it (constant time), or the title of the request's time while the cache
  // does not hold it. False with both untouched when there is no such
  // position.
  bool GetEntry(int position, ByteString& title, RequestEntry& entry) const EXCLUDES(lock_);
  // After a rebuild of the cache: the requests whose song the playlist no
  // longer holds leave the queue (they could never play: PlayNext drops
  // them), so that the pages, the operator's view, the numbering and the
  // limits agree on what waits. Returns how many left. The cache is asked
  // without the queue's lock.
  int FollowPlaylist() EXCLUDES(lock_);

  // Deletes take the 0-based `position` a page showed and, when the page
  // named it, the request's playlist index (`identity`, kNoIdentity for a
  // link that names none) and its song (`song`, kNoSong for none). With an
  // identity the request with that index (and that song, when named) is
  // removed wherever it now stands (the one at `position` when several
  // share it), so a link drawn before the queue moved on never removes
  // another request, even one made at the same index after the DJ edited
  // the playlist; without one, whatever stands at `position` is removed.
  static constexpr long long kNoIdentity = -1;
  bool DeleteAt(int position, long long identity = kNoIdentity, SongId song = kNoSong) EXCLUDES(lock_);
  // kRequestDeleted, kInvalidPosition, or kNotRequester when the request was
  // made with another UserId (the address does not matter here). With an
  // identity the user's own request of that index is removed; when only
  // another user's is queued, kNotRequester.
  ResultCode DeleteAtForUser(int position, const UserId& userId, long long identity = kNoIdentity,
                             SongId song = kNoSong) EXCLUDES(lock_);
  // Empties the request list and the history.
  void ClearAll() EXCLUDES(lock_);
  int RequestCount() const EXCLUDES(lock_);
  // Moves the oldest request into the history and makes the player play its
  // song: at its playlist index when the player still holds its file there
  // (one question), else where the player now holds it (searched as
  // FindSongFrom does). A request whose file the player no longer holds is
  // dropped, not played nor remembered, and the next one is tried. False
  // (and nothing played) when no request is left. Asks the player, not the
  // cache: the song is played where the player holds it now, which a cache
  // that a pending rebuild has not yet caught up with may not know.
  bool PlayNext() EXCLUDES(lock_);

  QueueLimits GetLimits() const;
  // Not validated; the history is trimmed to new limits at the next PlayNext.
  void SetLimits(const QueueLimits& limits);
  // The player's main window, with the plug-in's channel to it. Once,
  // before other threads use the queue.
  void SetPlayer(const PlayerHost& player);
  // The player given to SetPlayer (a host without a window before). Any
  // thread; the page handlers send the player's commands there.
  const PlayerHost& Player() const { return player_; }

 private:
  struct LimitValues {
    std::atomic<int> maxQueueSize;
    std::atomic<int> maxRequestsPerIP;
    std::atomic<int> maxConsecutivePerIP;
    std::atomic<int> recentlyPlayedQueueSize;
  };

  // The index of the request at `position`, or of the first one passing
  // `mine`, that has `identity` (any when kNoIdentity) and `song` (any when
  // kNoSong); end() when none.
  std::deque<RequestEntry>::iterator FindLocked(int position, long long identity, const UserId* mine, SongId song)
      REQUIRES(lock_);
  // Where the player now holds `entry`'s song; -1 when nowhere.
  int LocateSong(const RequestEntry& entry) const;

  ResultCode CheckLocked(const QueueLimits& limits, int playlistIndex, const ByteString& filePath,
                         const ByteString& address, const UserId& userId) const REQUIRES(lock_);

  PlaylistCache* const cache_;
  PlayerHost player_;
  LimitValues limits_;
  mutable Lock lock_;
  std::deque<RequestEntry> requests_ GUARDED_BY(lock_);  // oldest first
  std::deque<RequestEntry> history_ GUARDED_BY(lock_);   // most recent first
  std::uint64_t nextSerial_ GUARDED_BY(lock_) = 1;
};

}  // namespace ambervox
