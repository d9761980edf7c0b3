// Lock: the critical section that each shared object owns, with a scoped
// holder. Not recursive. Annotated for clang's thread-safety analysis.
#pragma once

#include <mutex>

#include "platform/thread_annotations.h"

namespace ambervox {

class CAPABILITY("mutex") Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter() ACQUIRE() { mutex_.lock(); }
  void Leave() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class SCOPED_CAPABILITY LockHolder {
 public:
  explicit LockHolder(Lock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Enter(); }
  ~LockHolder() RELEASE() { lock_.Leave(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  Lock& lock_;
};

}  // namespace ambervox
