#include "pages/admin_lockout.h"

#include <iterator>

#include "pages/admin_password.h"

namespace ambervox {

AdminLockout::AdminLockout(const ServerLimits& limits, NowFunction now) : limits_(limits), now_(now) {}

bool AdminLockout::Expire(Entry& entry, Clock::time_point now) const {
  if (entry.locked && now >= entry.lockedUntil) entry.locked = false;
  const Clock::time_point windowStart = now - std::chrono::milliseconds(limits_.adminFailureWindowMilliseconds);
  while (!entry.failures.empty() && entry.failures.front() <= windowStart) entry.failures.pop_front();
  return !entry.locked && entry.failures.empty();
}

bool AdminLockout::Check(const ByteString& address, const ByteString& pass, const ByteString& adminPassword) {
  if (pass.IsEmpty()) return false;
  const Clock::time_point now = now_();
  LockHolder hold(lock_);
  auto found = entries_.find(address);
  if (found != entries_.end() && Expire(found->second, now)) {
    entries_.erase(found);
    found = entries_.end();
  }
  if (found != entries_.end() && found->second.locked) return false;
  if (IsAdminPassword(pass, adminPassword)) return true;

  if (found == entries_.end()) {
    // A new address: first let go of every address whose failures have all
    // left the window, so that the table holds only recent guessers.
    for (auto it = entries_.begin(); it != entries_.end();) {
      it = Expire(it->second, now) ? entries_.erase(it) : std::next(it);
    }
    found = entries_.emplace(address, Entry()).first;
  }
  Entry& entry = found->second;
  entry.failures.push_back(now);
  if (static_cast<int>(entry.failures.size()) >= limits_.adminFailuresBeforeLockout) {
    entry.failures.clear();
    entry.locked = true;
    entry.lockedUntil = now + std::chrono::milliseconds(limits_.adminLockoutMilliseconds);
  }
  return false;
}

}  // namespace ambervox
