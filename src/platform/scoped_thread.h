// ScopedThread: the one owner of a thread handle. When it goes it joins the
// thread and closes the handle, so no thread outlives the object that
// started it unless the owner says so with Detach. Moves, never copies; one
// thread owns it.
//
// JoinHandlingMessages is for the host's user-interface thread, which must
// keep answering messages sent to its windows while it waits (a thread it
// waits for may be blocked in such a message).
#pragma once

#include "platform/threads.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {

class ScopedThread {
 public:
  ScopedThread() = default;
  explicit ScopedThread(ThreadHandle thread) : thread_(thread) {}
  ~ScopedThread() { Join(); }
  ScopedThread(ScopedThread&& other) noexcept : thread_(other.Release()) {}
  ScopedThread& operator=(ScopedThread&& other) noexcept {
    if (this != &other) {
      Join();
      thread_ = other.Release();
    }
    return *this;
  }
  ScopedThread(const ScopedThread&) = delete;
  ScopedThread& operator=(const ScopedThread&) = delete;

  ThreadHandle Get() const { return thread_; }
  explicit operator bool() const { return thread_ != nullptr; }

  // Waits for the thread to end and closes the handle; nothing when empty.
  void Join() {
    if (thread_ == nullptr) return;
    JoinThread(thread_);
    CloseThreadHandle(Release());
  }
  // As Join, answering the calling thread's window messages meanwhile.
  void JoinHandlingMessages() {
    if (thread_ == nullptr) return;
    JoinThreadHandlingMessages(thread_);
    CloseThreadHandle(Release());
  }
  // Closes the handle without waiting: the thread runs on by itself (or,
  // created suspended and never resumed, never runs).
  void Detach() {
    if (thread_ != nullptr) CloseThreadHandle(Release());
  }
  ThreadHandle Release() {
    ThreadHandle thread = thread_;
    thread_ = nullptr;
    return thread;
  }

 private:
  ThreadHandle thread_ = nullptr;
};

}  // namespace platform
}  // namespace ambervox
