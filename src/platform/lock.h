// Lock: the one lock type of the code base, a non-recursive mutex annotated
// for clang's thread-safety analysis, and LockHolder, which holds it for a
// scope. Every shared object owns its Lock; a holder may give the lock up
// and take it back in the middle of its scope (to run foreign code, such as
// a window procedure, without it) and may wait on a condition variable,
// which releases the lock while it waits.
//
// It lives in the platform layer because the platform's own records (thread
// contexts, windows, the profile files) need it too; it is portable C++ and
// every layer uses it.
//
// AssertHeld checks that the calling thread holds the lock and ends the
// process when it does not: an invariant written as an assertion must fail
// in every build the tests run, release ones included. It costs one relaxed
// atomic load and a comparison, so it stays compiled in.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/thread_annotations.h"

namespace ambervox {

class CAPABILITY("mutex") Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Ends the process unless the calling thread holds the lock.
  void AssertHeld() const ASSERT_CAPABILITY(this) {
    if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return;
    std::fputs("Lock::AssertHeld: the calling thread does not hold the lock\n", stderr);
    std::abort();
  }

 private:
  friend class LockHolder;
  // Who holds the lock: set by the holder right after it takes the lock,
  // cleared right before it gives it up (also around a condition wait,
  // which gives the lock up meanwhile). Only the holder writes it; others
  // read it only to see that it is not theirs.
  void SetOwner() { owner_.store(std::this_thread::get_id(), std::memory_order_relaxed); }
  void ClearOwner() { owner_.store(std::thread::id(), std::memory_order_relaxed); }

  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

class SCOPED_CAPABILITY LockHolder {
 public:
  explicit LockHolder(Lock& lock) ACQUIRE(lock) : lock_(lock), hold_(lock.mutex_) { lock_.SetOwner(); }
  ~LockHolder() RELEASE() {
    if (hold_.owns_lock()) lock_.ClearOwner();
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // Gives the lock up, and takes it back; the holder must hold it again
  // when its scope ends.
  void Unlock() RELEASE() {
    lock_.ClearOwner();
    hold_.unlock();
  }
  void Relock() ACQUIRE() {
    hold_.lock();
    lock_.SetOwner();
  }

  // Waits on `condition`, releasing the lock meanwhile; the lock is held
  // again when it returns. A wake-up may be spurious: callers wait in a loop
  // on the state the lock guards.
  void Wait(std::condition_variable& condition) {
    lock_.ClearOwner();
    condition.wait(hold_);
    lock_.SetOwner();
  }
  // As Wait, but returns false once `deadline` has passed.
  bool WaitUntil(std::condition_variable& condition, std::chrono::steady_clock::time_point deadline) {
    lock_.ClearOwner();
    const bool woken = condition.wait_until(hold_, deadline) == std::cv_status::no_timeout;
    lock_.SetOwner();
    return woken;
  }

 private:
  Lock& lock_;
  std::unique_lock<std::mutex> hold_;
};

}  // namespace ambervox
