// The per-thread contexts of the POSIX window and thread services.
#include "platform/posix/thread_context.h"

#include <unordered_map>
#include <utility>

namespace ambervox {
namespace platform {
namespace posix {
namespace {

struct ContextRegistry {
  Lock mutex;
  std::unordered_map<ThreadId, std::shared_ptr<ThreadContext>> byId GUARDED_BY(mutex);
};

// Never destroyed: threads may still end (and unregister) while the process
// runs its static destructors.
ContextRegistry& Registry() {
  static ContextRegistry* registry = new ContextRegistry;
  return *registry;
}

std::atomic<ThreadId> nextThreadId{1};

// The calling thread's context. The destructor ends the context of a thread
// that did not come from StartThread (the main thread, std::thread).
struct ContextSlot {
  ContextSlot() = default;
  ContextSlot(const ContextSlot&) = delete;
  ContextSlot& operator=(const ContextSlot&) = delete;
  ~ContextSlot() {
    if (context && !ended) EndCurrentContext();
  }
  std::shared_ptr<ThreadContext> context;
  ThreadId adoptedId = 0;
  bool ended = false;
};

thread_local ContextSlot slot;

}  // namespace

ThreadId NewThreadId() {
  ThreadId id = nextThreadId.fetch_add(1);
  if (id == 0) id = nextThreadId.fetch_add(1);  // after wrapping around
  return id;
}

void AdoptThreadId(ThreadId id) { slot.adoptedId = id; }

std::shared_ptr<ThreadContext> CurrentContext() {
  if (!slot.context) {
    ThreadId id = slot.adoptedId != 0 ? slot.adoptedId : NewThreadId();
    slot.context = std::make_shared<ThreadContext>(id);
    if (!slot.ended) {
      ContextRegistry& registry = Registry();
      LockHolder hold(registry.mutex);
      registry.byId[id] = slot.context;
    }
  }
  return slot.context;
}

std::shared_ptr<ThreadContext> FindContext(ThreadId id) {
  ContextRegistry& registry = Registry();
  LockHolder hold(registry.mutex);
  auto it = registry.byId.find(id);
  return it == registry.byId.end() ? nullptr : it->second;
}

void EndCurrentContext() {
  if (!slot.context || slot.ended) return;
  slot.ended = true;
  std::shared_ptr<ThreadContext> self = slot.context;

  DestroyWindowsOf(self.get());

  std::deque<std::shared_ptr<SentCall>> unanswered;
  std::deque<PostedMessage> dropped;
  {
    LockHolder hold(self->mutex);
    self->ended = true;
    self->hasQueue = false;
    unanswered.swap(self->sent);
    dropped.swap(self->posted);
  }
  for (const std::shared_ptr<SentCall>& call : unanswered) CompleteSentCall(*call, 0);

  ContextRegistry& registry = Registry();
  LockHolder hold(registry.mutex);
  auto it = registry.byId.find(self->id);
  if (it != registry.byId.end() && it->second == self) registry.byId.erase(it);
}

void CompleteSentCall(SentCall& call, std::intptr_t result) {
  ThreadContext& sender = *call.sender;
  LockHolder hold(sender.mutex);
  call.result = result;
  call.done.store(true);
  sender.wake.notify_all();
}

bool IsHung(const ThreadContext& context) {
  return !context.waitingForMessages && std::chrono::steady_clock::now() - context.lastLooked > kHungAfter;
}

bool WaitHandlingSentCalls(ThreadContext& self, const std::function<bool()>& done,
                           const std::chrono::steady_clock::time_point* deadline) {
  LockHolder hold(self.mutex);
  for (;;) {
    self.lastLooked = std::chrono::steady_clock::now();
    if (!self.sent.empty()) {
      std::shared_ptr<SentCall> call = std::move(self.sent.front());
      self.sent.pop_front();
      hold.Unlock();
      DispatchSentCall(call);
      hold.Relock();
      continue;
    }
    if (done()) return true;
    self.waitingForMessages = true;
    bool timedOut = false;
    if (deadline == nullptr) {
      hold.Wait(self.wake);
    } else {
      timedOut = !hold.WaitUntil(self.wake, *deadline) && std::chrono::steady_clock::now() >= *deadline;
    }
    self.waitingForMessages = false;
    if (timedOut) return done();
  }
}

}  // namespace posix
}  // namespace platform
}  // namespace ambervox
