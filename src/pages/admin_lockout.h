// AdminLockout: slows down whoever guesses the operator's password. Every
// wrong `pass` value is noted with its address and time; an address that
// sent ServerLimits::adminFailuresBeforeLockout wrong values within
// adminFailureWindowMilliseconds is locked out for adminLockoutMilliseconds:
// its passwords are not compared at all and count as wrong, right or not.
// Other addresses are not affected, nor are requests without a password (the
// listeners' pages).
//
// Owned by the SiteHandler, shared by its connections through the Site. Any
// thread; one lock guards the table.
#pragma once

#include <chrono>
#include <deque>
#include <map>

#include "common/byte_string.h"
#include "http/server_limits.h"
#include "platform/lock.h"
#include "platform/thread_annotations.h"

namespace ambervox {

class AdminLockout {
 public:
  using Clock = std::chrono::steady_clock;
  using NowFunction = Clock::time_point (*)();

  // `now` is the clock (tests pass their own).
  explicit AdminLockout(const ServerLimits& limits, NowFunction now = &Clock::now);
  AdminLockout(const AdminLockout&) = delete;
  AdminLockout& operator=(const AdminLockout&) = delete;

  // True when `pass` proves the operator's password (IsAdminPassword) for a
  // request from `address`. An empty `pass` is false and noted nowhere. An
  // address that is locked out gets false without a comparison; a wrong
  // value is noted, and the one that reaches the limit locks the address
  // out (its earlier failures are then forgotten, so that it starts afresh
  // when the lockout ends).
  bool Check(const ByteString& address, const ByteString& pass, const ByteString& adminPassword) EXCLUDES(lock_);

 private:
  struct Entry {
    std::deque<Clock::time_point> failures;  // oldest first, within the window
    Clock::time_point lockedUntil;
    bool locked = false;
  };

  // Drops the failures that left the window and a lockout that ended; true
  // when nothing is left of the entry.
  bool Expire(Entry& entry, Clock::time_point now) const;

  const ServerLimits limits_;
  const NowFunction now_;
  Lock lock_;
  std::map<ByteString, Entry> entries_ GUARDED_BY(lock_);
};

}  // namespace ambervox
