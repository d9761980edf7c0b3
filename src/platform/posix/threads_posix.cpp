// Threads and thread message queues over pthreads.
//
// A ThreadObject is shared by the handle and the running thread (a count of
// two references): the thread drops its reference when it ends, the handle
// when it is closed, and the last one frees the record. A suspended thread
// waits on the record's condition until ResumeThread.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <utility>

#include "platform/posix/thread_context.h"
#include "platform/threads.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {

struct ThreadObject {
  ThreadProc proc = nullptr;
  void* argument = nullptr;
  ThreadId id = 0;
  pthread_t thread{};
  // A reference to the module of `proc` (null when none was taken), dropped
  // by the thread's last act: this thread start lives in the platform
  // library, which is never unloaded, so nothing returns into a module
  // that the drop unmaps.
  void* module = nullptr;

  Lock mutex;
  std::condition_variable changed;
  bool resumed GUARDED_BY(mutex) = false;
  bool joined GUARDED_BY(mutex) = false;  // pthread_join or pthread_detach done
  // A thread waiting in JoinThreadHandlingMessages, woken when this one ends.
  std::shared_ptr<posix::ThreadContext> joiner GUARDED_BY(mutex);
  std::atomic<bool> finished{false};
  std::atomic<int> references{2};
};

namespace {

void Release(ThreadObject* thread) {
  if (thread->references.fetch_sub(1) == 1) delete thread;
}

void* ThreadMain(void* parameter) {
  ThreadObject* self = static_cast<ThreadObject*>(parameter);
  posix::AdoptThreadId(self->id);
  {
    LockHolder hold(self->mutex);
    while (!self->resumed) hold.Wait(self->changed);
  }
  try {
    self->proc(self->argument);
  } catch (...) {
    // A thread procedure must not throw; if one does, its thread just ends.
  }
  posix::EndCurrentContext();

  std::shared_ptr<posix::ThreadContext> joiner;
  {
    LockHolder hold(self->mutex);
    self->finished.store(true);
    joiner = std::move(self->joiner);
    self->changed.notify_all();
  }
  if (joiner) {
    LockHolder hold(joiner->mutex);
    joiner->wake.notify_all();
  }
  void* module = self->module;
  Release(self);
  if (module != nullptr) dlclose(module);
  return nullptr;
}

// pthread_join once; later joins return at once.
void JoinOnce(ThreadObject* thread) {
  {
    LockHolder hold(thread->mutex);
    if (thread->joined) return;
    thread->joined = true;
  }
  pthread_join(thread->thread, nullptr);
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* argument, bool suspended, ThreadId* id) {
  if (proc == nullptr) return nullptr;
  ThreadObject* thread = new ThreadObject;
  thread->proc = proc;
  thread->argument = argument;
  thread->id = posix::NewThreadId();
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(proc), &info) != 0 && info.dli_fname != nullptr) {
    thread->module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  }
  {
    LockHolder hold(thread->mutex);
    thread->resumed = !suspended;
  }
  if (pthread_create(&thread->thread, nullptr, &ThreadMain, thread) != 0) {
    if (thread->module != nullptr) dlclose(thread->module);
    delete thread;
    return nullptr;
  }
  if (id != nullptr) *id = thread->id;
  return thread;
}

bool ResumeThread(ThreadHandle thread) {
  if (thread == nullptr) return false;
  LockHolder hold(thread->mutex);
  thread->resumed = true;
  thread->changed.notify_all();
  return true;
}

void JoinThread(ThreadHandle thread) {
  if (thread != nullptr) JoinOnce(thread);
}

void JoinThreadHandlingMessages(ThreadHandle thread) {
  if (thread == nullptr) return;
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  {
    LockHolder hold(thread->mutex);
    if (!thread->finished.load()) thread->joiner = self;
  }
  posix::WaitHandlingSentCalls(
      *self, [thread] { return thread->finished.load(); }, nullptr);
  {
    LockHolder hold(thread->mutex);
    thread->joiner.reset();
  }
  JoinOnce(thread);
}

bool HasThreadEnded(ThreadHandle thread) { return thread != nullptr && thread->finished.load(); }

bool IsProcessExiting() { return false; }

void CloseThreadHandle(ThreadHandle thread) {
  if (thread == nullptr) return;
  bool detach = false;
  {
    LockHolder hold(thread->mutex);
    if (!thread->joined) {
      thread->joined = true;
      detach = true;
    }
  }
  if (detach) pthread_detach(thread->thread);
  Release(thread);
}

ThreadId CurrentThreadId() { return posix::CurrentContext()->id; }

void SleepMilliseconds(unsigned milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void EnsureThreadQueue() {
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  LockHolder hold(self->mutex);
  self->hasQueue = true;
}

bool PostThreadMessage(ThreadId target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::shared_ptr<posix::ThreadContext> context = posix::FindContext(target);
  if (!context) return false;
  LockHolder hold(context->mutex);
  if (!context->hasQueue || context->ended) return false;
  posix::PostedMessage entry;
  entry.message.message = message;
  entry.message.wParam = wParam;
  entry.message.lParam = lParam;
  context->posted.push_back(std::move(entry));
  context->wake.notify_all();
  return true;
}

}  // namespace platform
}  // namespace ambervox
