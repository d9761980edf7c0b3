// ThreadContext: what the POSIX window and thread services know about one
// thread: its id, its thread message queue (posted window and thread
// messages) and the calls that other threads sent to its windows.
//
// Every thread that uses the services gets one context, created on first use
// and kept in a process-wide registry by id (inside the platform library, so
// the host and the plug-in share it). A context ends when its thread ends:
// its windows are destroyed, waiting senders get 0, and it leaves the
// registry. The context's mutex guards its queues; `wake` is signalled on
// every change a waiting owner or sender must see. Private to
// src/platform/posix/.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "platform/lock.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {

// Defined in window_posix.cpp; everything here only holds it by pointer.
struct WindowObject;

namespace posix {

class ThreadContext;

// A SendWindowMessage from another thread, waiting for the window's owner.
// The owner runs it and then completes it, which wakes the sender.
struct SentCall {
  std::shared_ptr<WindowObject> window;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::shared_ptr<ThreadContext> sender;
  std::atomic<bool> done{false};
  std::intptr_t result = 0;  // written before `done` is set
};

// An entry of a thread message queue: a posted window message, or a thread
// message when `window` is null.
struct PostedMessage {
  std::shared_ptr<WindowObject> window;
  ThreadMessage message;
};

class ThreadContext {
 public:
  explicit ThreadContext(ThreadId threadId) : id(threadId) {}
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;

  const ThreadId id;
  Lock mutex;
  std::condition_variable wake;

  bool hasQueue GUARDED_BY(mutex) = false;  // PostThreadMessage fails until set
  bool ended GUARDED_BY(mutex) = false;     // the thread has ended
  bool quitPending GUARDED_BY(mutex) = false;
  int quitCode GUARDED_BY(mutex) = 0;
  // When the thread last looked at its messages, and whether it waits for
  // them right now: a thread that has done neither for a while counts as
  // hung, and a send with a time limit then gives up at once.
  std::chrono::steady_clock::time_point lastLooked GUARDED_BY(mutex) = std::chrono::steady_clock::now();
  bool waitingForMessages GUARDED_BY(mutex) = false;
  std::deque<std::shared_ptr<SentCall>> sent GUARDED_BY(mutex);
  std::deque<PostedMessage> posted GUARDED_BY(mutex);
};

// The calling thread's context, created (and registered) on first use.
std::shared_ptr<ThreadContext> CurrentContext();
// The context of a running thread, or null.
std::shared_ptr<ThreadContext> FindContext(ThreadId id);
// A new thread id: small, unique, never 0.
ThreadId NewThreadId();
// Gives the calling thread the id StartThread announced for it; must come
// before the thread's first CurrentContext.
void AdoptThreadId(ThreadId id);
// Ends the calling thread's context (see above). Runs when a thread started
// by StartThread returns, and for any other thread at its exit.
void EndCurrentContext();

// How long a thread may leave its messages alone before it counts as hung.
constexpr std::chrono::milliseconds kHungAfter{5000};
bool IsHung(const ThreadContext& context) REQUIRES(context.mutex);

// Hands a sent call's result to its waiting sender.
void CompleteSentCall(SentCall& call, std::intptr_t result);
// Runs a sent call's window procedure on the calling (owner) thread and
// completes it. Defined with the windows in window_posix.cpp.
void DispatchSentCall(const std::shared_ptr<SentCall>& call);
// Destroys every window that `owner` created. Defined in window_posix.cpp.
void DestroyWindowsOf(const ThreadContext* owner);

// Runs the calls sent to `self`'s windows until `done()` is true or the
// deadline (if any) has passed; returns the last value of `done()`. `done`
// is checked with self.mutex held, so a flag that another thread sets before
// it signals self.wake under that mutex is never missed.
bool WaitHandlingSentCalls(ThreadContext& self, const std::function<bool()>& done,
                           const std::chrono::steady_clock::time_point* deadline);

}  // namespace posix
}  // namespace platform
}  // namespace ambervox
