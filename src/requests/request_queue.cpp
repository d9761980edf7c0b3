#include "requests/request_queue.h"

#include <algorithm>
#include <new>
#include <vector>

#include "player/player_host.h"

namespace ambervox {

int* QueueLimits::Field(SettingField field) {
  switch (field) {
    case SettingField::kMaxQueueSize:
      return &maxQueueSize;
    case SettingField::kMaxRequestsPerIP:
      return &maxRequestsPerIP;
    case SettingField::kMaxConsecutivePerIP:
      return &maxConsecutivePerIP;
    case SettingField::kRecentlyPlayedQueueSize:
      return &recentlyPlayedQueueSize;
    default:
      return nullptr;
  }
}

namespace {

// A request belongs to a requester when it came from the same address or,
// failing that, from the same browser.
bool SameRequester(const RequestEntry& entry, const ByteString& address, const UserId& userId) {
  return entry.requesterAddress == address || entry.userId == userId;
}

// Whether `entry` asked for the song of `playlistIndex` and `filePath`: the
// same file, or the same index where either knows no file.
bool SameSong(const RequestEntry& entry, int playlistIndex, const ByteString& filePath) {
  if (entry.filePath.IsEmpty() || filePath.IsEmpty()) return entry.playlistIndex == playlistIndex;
  return entry.filePath == filePath;
}

bool InRange(int position, std::size_t size) { return position >= 0 && static_cast<std::size_t>(position) < size; }

// The first `limit` entries of the history (fewer when it is shorter).
std::size_t HistoryWindow(int limit, std::size_t size) { return std::min(static_cast<std::size_t>(limit), size); }

}  // namespace

RequestQueue::RequestQueue(PlaylistCache* cache) : cache_(cache) { SetLimits(QueueLimits()); }

ResultCode RequestQueue::CheckLocked(const QueueLimits& limits, int playlistIndex, const ByteString& filePath,
                                     const ByteString& address, const UserId& userId) const {
  if (static_cast<long long>(requests_.size()) >= limits.maxQueueSize) return kQueueFull;

  int own = 0;
  for (const RequestEntry& entry : requests_) {
    if (SameRequester(entry, address, userId)) ++own;
  }
  if (limits.maxRequestsPerIP != 0 && own >= limits.maxRequestsPerIP) return kTooManyFromRequester;

  for (const RequestEntry& entry : requests_) {
    if (SameSong(entry, playlistIndex, filePath)) return kAlreadyQueued;
  }

  if (limits.recentlyPlayedQueueSize > 0) {
    const std::size_t n = HistoryWindow(limits.recentlyPlayedQueueSize, history_.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (SameSong(history_[i], playlistIndex, filePath)) return kRecentlyPlayed;
    }
  }
  if (limits.maxConsecutivePerIP > 0) {
    const std::size_t n = HistoryWindow(limits.maxConsecutivePerIP, history_.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (SameSong(history_[i], playlistIndex, filePath) && SameRequester(history_[i], address, userId)) {
        return kRecentlyPlayed;
      }
    }
  }
  return kAccepted;
}

ResultCode RequestQueue::CheckRequest(int playlistIndex, const ByteString& address, const UserId& userId) const {
  const QueueLimits limits = GetLimits();
  // The song's file, asked before the queue's lock is taken.
  PlaylistEntry song;
  if (cache_ != nullptr) cache_->GetEntry(playlistIndex, song);
  LockHolder hold(lock_);
  return CheckLocked(limits, playlistIndex, song.filePath, address, userId);
}

ResultCode RequestQueue::AddRequest(int playlistIndex, const ByteString& address, const UserId& userId,
                                    bool checkLimits, SongId song) {
  if (cache_ == nullptr) return kInvalidPosition;
  const QueueLimits limits = GetLimits();
  for (;;) {
    // Found before the queue lock is taken, which is then held only for the
    // check and the append. The song is copied from the same lookup (one
    // snapshot of the cache) that finds its index.
    PlaylistEntry found;
    std::uint64_t generation = 0;
    const int index = cache_->FindRequestedEntry(playlistIndex, song, found, generation);
    if (index < 0) return kInvalidPosition;
    ByteString shownTitle;
    cache_->GetShownTitleOfFile(index, found.filePath, shownTitle);

    LockHolder hold(lock_);
    // A rebuild since the lookup may have taken the song out after
    // FollowPlaylist looked at the queue: the request is found again in the
    // new content. (FollowPlaylist runs after the rebuild and takes this
    // lock, so a request appended before the count moved is seen by it.)
    if (cache_->Generation() != generation) continue;
    if (checkLimits) {
      const ResultCode result = CheckLocked(limits, index, found.filePath, address, userId);
      if (result != kAccepted) return result;
    }
    RequestEntry entry;
    entry.playlistIndex = index;
    entry.filePath = found.filePath;
    entry.shownTitle = shownTitle;
    entry.requesterAddress = address;
    entry.userId = userId;
    entry.serial = nextSerial_;
    try {
      requests_.push_back(entry);
    } catch (const std::bad_alloc&) {
      // The queue cannot take more: the listener is told so, as for a full one.
      return kQueueFull;
    }
    ++nextSerial_;
    return kAccepted;
  }
}

int RequestQueue::FollowPlaylist() {
  if (cache_ == nullptr) return 0;
  std::vector<RequestEntry> waiting;
  {
    LockHolder hold(lock_);
    waiting.assign(requests_.begin(), requests_.end());
  }
  // The cache is asked without the queue's lock, one constant-time lookup
  // per request.
  std::vector<std::uint64_t> left;
  for (const RequestEntry& entry : waiting) {
    if (!entry.filePath.IsEmpty() && cache_->IndexOfFile(entry.filePath) < 0) left.push_back(entry.serial);
  }
  if (left.empty()) return 0;
  LockHolder hold(lock_);
  const auto before = requests_.size();
  requests_.erase(std::remove_if(requests_.begin(), requests_.end(),
                                 [&](const RequestEntry& entry) {
                                   return std::find(left.begin(), left.end(), entry.serial) != left.end();
                                 }),
                  requests_.end());
  return static_cast<int>(before - requests_.size());
}

bool RequestQueue::GetEntry(int position, ByteString& title, RequestEntry& entry) const {
  RequestEntry found;
  {
    LockHolder hold(lock_);
    if (!InRange(position, requests_.size())) return false;
    found = requests_[static_cast<std::size_t>(position)];
  }
  entry = found;
  // After the queue lock is released, which is held only to copy the
  // request. While the cache does not hold the song, the title it had.
  ByteString shown = found.shownTitle;
  if (cache_ != nullptr) {
    if (found.filePath.IsEmpty()) {
      // A song without a file is shown by its index.
      cache_->GetShownTitle(found.playlistIndex, shown);
    } else {
      cache_->GetShownTitleOfFile(found.playlistIndex, found.filePath, shown);
    }
  }
  title = shown;
  return true;
}

std::deque<RequestEntry>::iterator RequestQueue::FindLocked(int position, long long identity, const UserId* mine,
                                                            SongId song) {
  if (identity == kNoIdentity) {
    return InRange(position, requests_.size()) ? requests_.begin() + position : requests_.end();
  }
  auto named = [&](const RequestEntry& entry) {
    return entry.playlistIndex == identity && (song == kNoSong || SongOfFile(entry.filePath) == song) &&
           (mine == nullptr || entry.userId == *mine);
  };
  if (InRange(position, requests_.size()) && named(requests_[static_cast<std::size_t>(position)])) {
    return requests_.begin() + position;
  }
  return std::find_if(requests_.begin(), requests_.end(), named);
}

bool RequestQueue::DeleteAt(int position, long long identity, SongId song) {
  LockHolder hold(lock_);
  auto it = FindLocked(position, identity, nullptr, song);
  if (it == requests_.end()) return false;
  requests_.erase(it);
  return true;
}

ResultCode RequestQueue::DeleteAtForUser(int position, const UserId& userId, long long identity, SongId song) {
  LockHolder hold(lock_);
  auto it = FindLocked(position, identity, &userId, song);
  if (it == requests_.end()) {
    // Not the user's own: someone else's, or gone.
    return FindLocked(position, identity, nullptr, song) != requests_.end() ? kNotRequester : kInvalidPosition;
  }
  if (it->userId != userId) return kNotRequester;
  requests_.erase(it);
  return kRequestDeleted;
}

void RequestQueue::ClearAll() {
  LockHolder hold(lock_);
  requests_.clear();
  history_.clear();
}

int RequestQueue::RequestCount() const {
  LockHolder hold(lock_);
  return static_cast<int>(requests_.size());
}

int RequestQueue::LocateSong(const RequestEntry& entry) const {
  // A request for an entry without a file path (the player gave none) has
  // nothing to compare: it plays by its index.
  if (entry.filePath.IsEmpty()) return entry.playlistIndex;
  const PlayerHost& player = player_;
  auto isSong = [&](int index) {
    ByteString file;
    // Out of memory, the file cannot be compared: the entry is taken as the
    // song, so that the request plays by its index as one without a file
    // does.
    if (!player.GetPlaylistFile(index, file)) return true;
    return file == entry.filePath;
  };
  // The normal case, a playlist that has not changed, asks one question.
  if (isSong(entry.playlistIndex)) return entry.playlistIndex;
  return FindSongFrom(entry.playlistIndex, player.GetPlaylistLength(), isSong);
}

bool RequestQueue::PlayNext() {
  for (;;) {
    RequestEntry next;
    {
      LockHolder hold(lock_);
      if (requests_.empty()) return false;
      next = requests_.front();
      requests_.pop_front();
    }
    // Outside the lock: these messages are answered on the user-interface
    // thread, through the window hook, which may itself use the queue.
    const int index = LocateSong(next);
    if (index < 0) continue;  // the song left the playlist: the request goes
    next.playlistIndex = index;
    {
      LockHolder hold(lock_);
      try {
        history_.push_front(next);
      } catch (const std::bad_alloc&) {
        // The song is still played; only the recently-played rules miss it.
      }
    }
    player_.PlayIndex(index);

    const QueueLimits limits = GetLimits();
    const int keep = std::max(0, std::max(limits.recentlyPlayedQueueSize, limits.maxConsecutivePerIP));
    LockHolder hold(lock_);
    while (history_.size() > static_cast<std::size_t>(keep)) history_.pop_back();
    return true;
  }
}

QueueLimits RequestQueue::GetLimits() const {
  QueueLimits limits;
  limits.maxQueueSize = limits_.maxQueueSize.load();
  limits.maxRequestsPerIP = limits_.maxRequestsPerIP.load();
  limits.maxConsecutivePerIP = limits_.maxConsecutivePerIP.load();
  limits.recentlyPlayedQueueSize = limits_.recentlyPlayedQueueSize.load();
  return limits;
}

void RequestQueue::SetLimits(const QueueLimits& limits) {
  limits_.maxQueueSize.store(limits.maxQueueSize);
  limits_.maxRequestsPerIP.store(limits.maxRequestsPerIP);
  limits_.maxConsecutivePerIP.store(limits.maxConsecutivePerIP);
  limits_.recentlyPlayedQueueSize.store(limits.recentlyPlayedQueueSize);
}

void RequestQueue::SetPlayer(const PlayerHost& player) { player_ = player; }

}  // namespace ambervox
