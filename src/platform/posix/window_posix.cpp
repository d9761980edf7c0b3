// Windows on POSIX: small records owned by the thread that created them.
//
// The window registry (creation order, guarded by its mutex) holds every
// live window; a handle is the record's address and is only used after it
// was found in the registry, so a stale handle is simply invalid. Calls from
// other threads travel through the owner's ThreadContext (thread_context.h).
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage_conversion.h"
#include "platform/posix/thread_context.h"
#include "platform/posix/window_procedure.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {

struct WindowObject {
  std::shared_ptr<posix::ThreadContext> owner;
  std::string className;
  // A Unicode window (CreateUnicodeTopLevelWindow) keeps its caption as
  // UTF-8 and hands it to ANSI readers in code page 932; any other keeps the
  // ANSI bytes it was given. Our WindowSubclass keeps the kind, as the wide
  // functions do on Win32.
  bool unicode = false;
  Lock titleMutex;
  std::string title GUARDED_BY(titleMutex);
  // Read on the owner thread when a message is dispatched; replaced by
  // WindowSubclass on the owner thread.
  std::atomic<WindowProc> proc{nullptr};
  std::atomic<bool> destroyed{false};
};

namespace {

struct WindowRegistry {
  Lock mutex;
  std::vector<std::shared_ptr<WindowObject>> windows GUARDED_BY(mutex);  // oldest first
};

struct MessageNames {
  Lock mutex;
  std::map<std::string, std::uint32_t> ids GUARDED_BY(mutex);  // by upper-case name
  std::uint32_t next GUARDED_BY(mutex) = 0xC000;
};

// Never destroyed, like the registries of the system they stand in for.
WindowRegistry& Windows() {
  static WindowRegistry* registry = new WindowRegistry;
  return *registry;
}

MessageNames& Names() {
  static MessageNames* names = new MessageNames;
  return *names;
}

std::shared_ptr<WindowObject> FindWindow(WindowHandle handle) {
  if (handle == nullptr) return nullptr;
  WindowRegistry& registry = Windows();
  LockHolder hold(registry.mutex);
  for (const std::shared_ptr<WindowObject>& window : registry.windows) {
    if (window.get() == handle) return window;
  }
  return nullptr;
}

std::intptr_t CallProcedure(WindowObject* window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (window->destroyed.load()) return 0;
  WindowProc proc = window->proc.load();
  if (proc == nullptr) return 0;
  try {
    return proc(window, message, wParam, lParam);
  } catch (...) {
    // No exception leaves a window procedure; the message counts as unhandled.
    return 0;
  }
}

void RemoveWindows(const std::function<bool(const WindowObject&)>& match) {
  std::vector<std::shared_ptr<WindowObject>> removed;
  {
    WindowRegistry& registry = Windows();
    LockHolder hold(registry.mutex);
    auto keep = std::stable_partition(registry.windows.begin(), registry.windows.end(),
                                      [&match](const std::shared_ptr<WindowObject>& w) { return !match(*w); });
    removed.assign(std::make_move_iterator(keep), std::make_move_iterator(registry.windows.end()));
    registry.windows.erase(keep, registry.windows.end());
  }
  for (const std::shared_ptr<WindowObject>& window : removed) window->destroyed.store(true);
}

// What the message loops do with the posted entries they take out.
enum class LoopKind { kWindowLoop, kThreadMessages };

// The common loop of RunMessageLoop and GetThreadMessage: runs sent calls,
// dispatches posted window messages, and returns a thread message (only for
// kThreadMessages) or the quit message. Returns 1 with `out` filled, or 0
// with `out` holding kMsgQuit and the exit code in wParam.
int PumpMessages(LoopKind kind, ThreadMessage* out) {
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  posix::ThreadContext& context = *self;
  LockHolder hold(context.mutex);
  context.hasQueue = true;
  for (;;) {
    context.lastLooked = std::chrono::steady_clock::now();
    if (!context.sent.empty()) {
      std::shared_ptr<posix::SentCall> call = std::move(context.sent.front());
      context.sent.pop_front();
      hold.Unlock();
      posix::DispatchSentCall(call);
      hold.Relock();
      continue;
    }
    if (!context.posted.empty()) {
      posix::PostedMessage entry = std::move(context.posted.front());
      context.posted.pop_front();
      if (entry.message.message == kMsgQuit) {
        *out = entry.message;
        return 0;
      }
      if (entry.window) {
        hold.Unlock();
        CallProcedure(entry.window.get(), entry.message.message, entry.message.wParam, entry.message.lParam);
        entry.window.reset();
        hold.Relock();
        continue;
      }
      if (kind == LoopKind::kThreadMessages) {
        *out = entry.message;
        return 1;
      }
      continue;  // a thread message has no window to go to
    }
    if (context.quitPending) {
      context.quitPending = false;
      out->message = kMsgQuit;
      out->wParam = static_cast<std::uintptr_t>(context.quitCode);
      out->lParam = 0;
      return 0;
    }
    context.waitingForMessages = true;
    hold.Wait(context.wake);
    context.waitingForMessages = false;
  }
}

}  // namespace

namespace posix {

void DispatchSentCall(const std::shared_ptr<SentCall>& call) {
  std::intptr_t result = CallProcedure(call->window.get(), call->message, call->wParam, call->lParam);
  CompleteSentCall(*call, result);
}

void DestroyWindowsOf(const ThreadContext* owner) {
  RemoveWindows([owner](const WindowObject& window) { return window.owner.get() == owner; });
}

}  // namespace posix

namespace {

WindowHandle CreateWindowRecord(const char* className, const char* title, WindowProc proc, bool unicode) {
  if (proc == nullptr) return nullptr;
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  {
    LockHolder hold(self->mutex);
    self->hasQueue = true;  // a thread with a window has a message queue
  }
  auto window = std::make_shared<WindowObject>();
  window->owner = self;
  window->className = className != nullptr ? className : "";
  window->unicode = unicode;
  {
    LockHolder hold(window->titleMutex);
    window->title = title != nullptr ? title : "";
  }
  window->proc.store(proc);
  WindowRegistry& registry = Windows();
  LockHolder hold(registry.mutex);
  registry.windows.push_back(window);
  return window.get();
}

}  // namespace

WindowHandle CreateTopLevelWindow(const char* className, const char* title, WindowProc proc) {
  return CreateWindowRecord(className, title, proc, false);
}

WindowHandle CreateUnicodeTopLevelWindow(const char* className, const char* titleUtf8, WindowProc proc) {
  std::string ignored;
  if (titleUtf8 != nullptr && !Utf8ToAnsi(titleUtf8, &ignored)) return nullptr;
  return CreateWindowRecord(className, titleUtf8, proc, true);
}

bool IsUnicodeWindow(WindowHandle handle) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  return window && window->unicode;
}

bool SetWindowCaption(WindowHandle handle, const std::string& utf8) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  std::string ansi;
  if (!window || !Utf8ToAnsi(utf8, &ansi)) return false;
  LockHolder hold(window->titleMutex);
  // An ANSI window takes the text through the code page, losing what it
  // lacks, as SetWindowTextW on an ANSI window does.
  window->title = window->unicode ? utf8 : ansi;
  return true;
}

std::string GetWindowCaption(WindowHandle handle) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  if (!window) return std::string();
  LockHolder hold(window->titleMutex);
  return window->title;
}

void DestroyTopLevelWindow(WindowHandle handle) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  if (!window || window->owner != posix::CurrentContext()) return;
  RemoveWindows([handle](const WindowObject& w) { return &w == handle; });
  // Posted messages for it are dropped; calls already sent to it get 0 when
  // their turn comes.
  std::deque<posix::PostedMessage> dropped;
  posix::ThreadContext& owner = *window->owner;
  LockHolder hold(owner.mutex);
  auto stale = std::stable_partition(owner.posted.begin(), owner.posted.end(),
                                     [handle](const posix::PostedMessage& m) { return m.window.get() != handle; });
  dropped.assign(std::make_move_iterator(stale), std::make_move_iterator(owner.posted.end()));
  owner.posted.erase(stale, owner.posted.end());
}

bool IsWindowValid(WindowHandle window) { return FindWindow(window) != nullptr; }

std::intptr_t DefaultWindowProc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; }

int RunMessageLoop() {
  ThreadMessage message;
  PumpMessages(LoopKind::kWindowLoop, &message);
  return static_cast<int>(message.wParam);
}

void PostQuitMessage(int exitCode) {
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  LockHolder hold(self->mutex);
  self->quitPending = true;
  self->quitCode = exitCode;
  self->wake.notify_all();
}

int GetThreadMessage(ThreadMessage* out) {
  if (out == nullptr) return -1;
  return PumpMessages(LoopKind::kThreadMessages, out);
}

namespace {

// Queues a call for the owner of `window`; null when the owner has ended, or
// (with `unlessHung`) counts as hung. The call lives on the heap, shared with
// the owner: a sender that gave up leaves the owner a place to write to.
std::shared_ptr<posix::SentCall> QueueSentCall(const std::shared_ptr<WindowObject>& window,
                                               const std::shared_ptr<posix::ThreadContext>& self, std::uint32_t message,
                                               std::uintptr_t wParam, std::intptr_t lParam, bool unlessHung) {
  auto call = std::make_shared<posix::SentCall>();
  call->window = window;
  call->message = message;
  call->wParam = wParam;
  call->lParam = lParam;
  call->sender = self;
  posix::ThreadContext& owner = *window->owner;
  LockHolder hold(owner.mutex);
  if (owner.ended || (unlessHung && posix::IsHung(owner))) return nullptr;
  owner.sent.push_back(call);
  owner.wake.notify_all();
  return call;
}

}  // namespace

std::intptr_t SendWindowMessage(WindowHandle handle, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  if (!window) return 0;
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  if (window->owner == self) return CallProcedure(window.get(), message, wParam, lParam);
  std::shared_ptr<posix::SentCall> call = QueueSentCall(window, self, message, wParam, lParam, false);
  if (!call) return 0;
  // Calls sent to this thread's own windows meanwhile are answered, as a
  // thread blocked in SendMessage does on Win32.
  posix::WaitHandlingSentCalls(
      *self, [&call] { return call->done.load(); }, nullptr);
  return call->result;
}

bool SendWindowMessageTimeout(WindowHandle handle, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                              unsigned milliseconds, std::intptr_t* result) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  if (!window) return false;
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  if (window->owner == self) {
    std::intptr_t answer = CallProcedure(window.get(), message, wParam, lParam);
    if (result != nullptr) *result = answer;
    return true;
  }
  std::shared_ptr<posix::SentCall> call = QueueSentCall(window, self, message, wParam, lParam, true);
  if (!call) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  if (!posix::WaitHandlingSentCalls(
          *self, [&call] { return call->done.load(); }, &deadline))
    return false;
  if (result != nullptr) *result = call->result;
  return true;
}

bool HasPendingSentMessages() {
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  LockHolder hold(self->mutex);
  return !self->sent.empty();
}

bool PostWindowMessage(WindowHandle handle, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  if (!window) return false;
  posix::ThreadContext& owner = *window->owner;
  LockHolder hold(owner.mutex);
  if (owner.ended) return false;
  posix::PostedMessage entry;
  entry.window = window;
  entry.message.message = message;
  entry.message.wParam = wParam;
  entry.message.lParam = lParam;
  owner.posted.push_back(std::move(entry));
  owner.wake.notify_all();
  return true;
}

std::uint32_t RegisterMessageName(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  MessageNames& names = Names();
  LockHolder hold(names.mutex);
  auto it = names.ids.find(key);
  if (it != names.ids.end()) return it->second;
  if (names.next > 0xFFFF) return 0;
  std::uint32_t id = names.next++;
  names.ids.emplace(std::move(key), id);
  return id;
}

namespace posix {

WindowProc SetWindowProcedure(WindowHandle handle, WindowProc proc) {
  std::shared_ptr<WindowObject> window = FindWindow(handle);
  return window ? window->proc.exchange(proc) : nullptr;
}

}  // namespace posix

WindowSubclass::~WindowSubclass() { Restore(); }

bool WindowSubclass::Install(WindowHandle window, WindowProc hook) {
  if (window_ != nullptr || hook == nullptr) return false;
  std::shared_ptr<WindowObject> record = FindWindow(window);
  if (!record) return false;
  WindowProc previous = record->proc.exchange(hook);
  previous_ = reinterpret_cast<std::intptr_t>(previous);
  hook_ = hook;
  window_ = window;
  wide_ = record->unicode;
  return true;
}

std::intptr_t WindowSubclass::CallPrevious(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam) const {
  WindowProc previous = reinterpret_cast<WindowProc>(previous_);
  if (previous == nullptr) return DefaultWindowProc(window, message, wParam, lParam);
  return previous(window, message, wParam, lParam);
}

bool WindowSubclass::Restore() {
  if (window_ == nullptr) return true;
  std::shared_ptr<WindowObject> record = FindWindow(window_);
  bool removed = true;
  if (record) {
    WindowProc expected = hook_;
    // Only while the hook is on top; otherwise the one above calls it as
    // its previous procedure, and CallPrevious keeps passing messages on.
    removed = record->proc.compare_exchange_strong(expected, reinterpret_cast<WindowProc>(previous_));
  }
  window_ = nullptr;
  hook_ = nullptr;
  if (removed) previous_ = 0;
  return removed;
}

WindowHandle FirstTopLevelWindow() {
  WindowRegistry& registry = Windows();
  LockHolder hold(registry.mutex);
  return registry.windows.empty() ? nullptr : registry.windows.back().get();
}

WindowHandle NextTopLevelWindow(WindowHandle window) {
  WindowRegistry& registry = Windows();
  LockHolder hold(registry.mutex);
  for (std::size_t i = registry.windows.size(); i > 0; --i) {
    if (registry.windows[i - 1].get() == window) return i > 1 ? registry.windows[i - 2].get() : nullptr;
  }
  return nullptr;
}

bool IsWindowOfThisProcess(WindowHandle window) { return IsWindowValid(window); }

bool IsWindowOfThisThread(WindowHandle window) {
  std::shared_ptr<WindowObject> record = FindWindow(window);
  return record && record->owner == posix::CurrentContext();
}

namespace {

std::string CutToBuffer(const std::string& text, int bufferSize) {
  if (bufferSize <= 1) return std::string();
  return text.substr(0, static_cast<std::size_t>(bufferSize - 1));
}

}  // namespace

std::string GetWindowTitle(WindowHandle window, int bufferSize) {
  std::shared_ptr<WindowObject> record = FindWindow(window);
  if (!record) return std::string();
  std::string title;
  {
    LockHolder hold(record->titleMutex);
    title = record->title;
  }
  if (record->unicode) {
    std::string ansi;
    if (Utf8ToAnsi(title, &ansi)) title.swap(ansi);
  }
  return CutToBuffer(title, bufferSize);
}

std::string GetWindowClass(WindowHandle window, int bufferSize) {
  std::shared_ptr<WindowObject> record = FindWindow(window);
  return record ? CutToBuffer(record->className, bufferSize) : std::string();
}

bool EnableChildControl(WindowHandle, int, bool) { return false; }

void BringWindowToFront(WindowHandle) {}

void ShowErrorMessageBox(WindowHandle, const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
  std::fflush(stderr);
}

void SleepHandlingMessages(unsigned milliseconds) {
  std::shared_ptr<posix::ThreadContext> self = posix::CurrentContext();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  posix::WaitHandlingSentCalls(
      *self, [] { return false; }, &deadline);
}

// WindowThread: a window on a thread of its own.

namespace {

struct ReadyEvent {
  Lock mutex;
  std::condition_variable signalled;
  bool set GUARDED_BY(mutex) = false;
};

}  // namespace

WindowThread::WindowThread(const char* className, const char* title, WindowProc proc)
    : className_(className), title_(title), proc_(proc) {
  auto* ready = new ReadyEvent;
  ready_ = ready;
  thread_ = StartThread(&WindowThread::Run, this, false, &threadId_);
  if (thread_ != nullptr) {
    LockHolder hold(ready->mutex);
    while (!ready->set) hold.Wait(ready->signalled);
  }
  ready_ = nullptr;
  delete ready;
}

WindowThread::~WindowThread() {
  if (thread_ == nullptr) return;
  PostThreadMessage(threadId_, kMsgQuit, 0, 0);
  // The window's procedure may be sending to this thread's windows.
  JoinThreadHandlingMessages(thread_);
  CloseThreadHandle(thread_);
}

unsigned WindowThread::Run(void* parameter) {
  WindowThread* self = static_cast<WindowThread*>(parameter);
  WindowHandle window = CreateTopLevelWindow(self->className_, self->title_, self->proc_);
  EnsureThreadQueue();
  {
    ReadyEvent* ready = static_cast<ReadyEvent*>(self->ready_);
    LockHolder hold(ready->mutex);
    self->window_ = window;
    ready->set = true;
    ready->signalled.notify_all();
  }
  if (window != nullptr) RunMessageLoop();
  DestroyTopLevelWindow(window);
  return 0;
}

}  // namespace platform
}  // namespace ambervox
