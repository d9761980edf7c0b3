// RequestQueue: the songs that listeners asked for, oldest first, with the
// fairness limits that decide whether a new request is admitted, and the
// history of requests started by PlayNext (most recent first) that the two
// recently-played rules look at.
//
// One instance belongs to the plug-in; it is given the playlist cache (not
// owned) to validate playlist indexes and to look up titles. `lock_` guards
// both lists; each operation takes it for its own duration, and a request's
// check and append are one locked step. No operation holds it together with
// the cache's lock, and the player is never sent a message while it is held.
//
// Threads: HTTP connection threads add, delete, count and walk; the
// user-interface thread runs PlayNext (from the window hook), ClearAll,
// GetLimits and SetLimits. The limits are atomics: written by the
// user-interface thread, read by the others without the lock.
#pragma once

#include <atomic>
#include <deque>

#include "common/byte_string.h"
#include "common/settings_table.h"
#include "platform/lock.h"
#include "common/result_code.h"
#include "common/user_id.h"
#include "platform/window.h"
#include "requests/playlist_cache.h"

namespace ambervox {

// One request, copied in and out of the queue.
struct RequestEntry {
  int playlistIndex = 0;        // as cached by the playlist cache
  ByteString requesterAddress;  // dotted IPv4 text of the requesting connection
  UserId userId;                // the requesting browser
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

  // Applies the limits to a request that is not yet queued; changes nothing.
  ResultCode CheckRequest(int playlistIndex, const ByteString& address, const UserId& userId) const EXCLUDES(lock_);
  // Validates the index against the cache, applies the limits when
  // `checkLimits` (false for a request with the admin password) and appends.
  ResultCode AddRequest(int playlistIndex, const ByteString& address, const UserId& userId, bool checkLimits)
      EXCLUDES(lock_);
  // `entry` := the request at `position`, `title` := its title from the
  // cache. False with both untouched when there is no such position; false
  // with `entry` filled and `title` untouched when the cache no longer holds
  // the entry's index.
  bool GetEntry(int position, ByteString& title, RequestEntry& entry) const EXCLUDES(lock_);
  bool DeleteAt(int position) EXCLUDES(lock_);
  // kRequestDeleted, kInvalidPosition, or kNotRequester when the request was
  // made with another UserId (the address does not matter here).
  ResultCode DeleteAtForUser(int position, const UserId& userId) EXCLUDES(lock_);
  // Empties the request list and the history.
  void ClearAll() EXCLUDES(lock_);
  int RequestCount() const EXCLUDES(lock_);
  // Moves the oldest request into the history and makes the player play its
  // playlist index. False (and nothing sent) when no request waits.
  bool PlayNext() EXCLUDES(lock_);

  QueueLimits GetLimits() const;
  // Not validated; the history is trimmed to new limits at the next PlayNext.
  void SetLimits(const QueueLimits& limits);
  void SetHostWindow(platform::WindowHandle window);
  // The player's main window given to SetHostWindow (nullptr before). Any
  // thread; the page handlers send the player's commands there.
  platform::WindowHandle HostWindow() const { return hostWindow_.load(); }

 private:
  struct LimitValues {
    std::atomic<int> maxQueueSize;
    std::atomic<int> maxRequestsPerIP;
    std::atomic<int> maxConsecutivePerIP;
    std::atomic<int> recentlyPlayedQueueSize;
  };

  ResultCode CheckLocked(const QueueLimits& limits, int playlistIndex, const ByteString& address,
                         const UserId& userId) const REQUIRES(lock_);

  PlaylistCache* const cache_;
  std::atomic<platform::WindowHandle> hostWindow_{nullptr};
  LimitValues limits_;
  mutable Lock lock_;
  std::deque<RequestEntry> requests_ GUARDED_BY(lock_);  // oldest first
  std::deque<RequestEntry> history_ GUARDED_BY(lock_);   // most recent first
};

}  // namespace ambervox
