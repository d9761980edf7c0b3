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
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace ambervox {

class CAPABILITY("mutex") Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  friend class LockHolder;
  std::mutex mutex_;
};

class SCOPED_CAPABILITY LockHolder {
 public:
  explicit LockHolder(Lock& lock) ACQUIRE(lock) : hold_(lock.mutex_) {}
  ~LockHolder() RELEASE() {}
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // Gives the lock up, and takes it back; the holder must hold it again
  // when its scope ends.
  void Unlock() RELEASE() { hold_.unlock(); }
  void Relock() ACQUIRE() { hold_.lock(); }

  // Waits on `condition`, releasing the lock meanwhile; the lock is held
  // again when it returns. A wake-up may be spurious: callers wait in a loop
  // on the state the lock guards.
  void Wait(std::condition_variable& condition) { condition.wait(hold_); }
  // As Wait, but returns false once `deadline` has passed.
  bool WaitUntil(std::condition_variable& condition, std::chrono::steady_clock::time_point deadline) {
    return condition.wait_until(hold_, deadline) == std::cv_status::no_timeout;
  }

 private:
  std::unique_lock<std::mutex> hold_;
};

}  // namespace ambervox
