// PosixMutex: the lock of the POSIX platform records (thread contexts, thread
// records, the window and message registries), annotated for clang's
// thread-safety analysis, with a scoped holder that a condition variable can
// wait on. Private to src/platform/posix/.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace ambervox {
namespace platform {
namespace posix {

class CAPABILITY("mutex") PosixMutex {
 public:
  PosixMutex() = default;
  PosixMutex(const PosixMutex&) = delete;
  PosixMutex& operator=(const PosixMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class PosixMutexHolder;
  std::mutex mutex_;
};

// Holds the mutex for its scope. Unlock/Lock let a caller run foreign code
// (a window procedure) without the lock in the middle of a locked loop.
class SCOPED_CAPABILITY PosixMutexHolder {
 public:
  explicit PosixMutexHolder(PosixMutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~PosixMutexHolder() RELEASE() {}
  PosixMutexHolder(const PosixMutexHolder&) = delete;
  PosixMutexHolder& operator=(const PosixMutexHolder&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

  // Waits on `condition`, releasing the mutex meanwhile.
  void Wait(std::condition_variable& condition) { condition.wait(lock_); }
  // As Wait, but returns false once `deadline` has passed.
  bool WaitUntil(std::condition_variable& condition, std::chrono::steady_clock::time_point deadline) {
    return condition.wait_until(lock_, deadline) == std::cv_status::no_timeout;
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace posix
}  // namespace platform
}  // namespace ambervox
