// Threads and thread message queues.
//
// A thread is created through the runtime's thread start and may be created
// suspended; its handle is released by CloseThreadHandle after JoinThread.
// Every thread has an id; a thread gets a message queue once it calls
// EnsureThreadQueue (or GetThreadMessage); until then PostThreadMessage to it
// fails, exactly as PostThreadMessage does on Win32.
#pragma once

#include <cstdint>

namespace ambervox {
namespace platform {

struct ThreadObject;  // opaque: a Win32 HANDLE, or the POSIX thread record
using ThreadHandle = ThreadObject*;
using ThreadId = std::uint32_t;
using ThreadProc = unsigned (*)(void* argument);

// Starts `proc(argument)` on a new thread. Returns nullptr when the thread
// cannot be created. The thread holds a reference to the module that
// contains `proc` until it has left that module's code, so a library
// unloaded while one of its threads is still ending stays mapped until then
// (Win32: FreeLibraryAndExitThread; POSIX: dlclose from the platform
// library's thread start). On Win32 the thread reserves a 256 KiB stack (the
// server may run hundreds of threads inside a 32-bit player process). `id` (may be null) receives the new thread's id.
ThreadHandle StartThread(ThreadProc proc, void* argument, bool suspended, ThreadId* id);
// Lets a thread created suspended run. Returns false on failure.
bool ResumeThread(ThreadHandle thread);
// Waits without time-out for the thread to end.
void JoinThread(ThreadHandle thread);
// True once the thread has ended (also when it was ended from outside, as
// the system does with every other thread at process exit).
bool HasThreadEnded(ThreadHandle thread);
// True while the process is ending and only module clean-up runs. Win32:
// ExitProcess has ended every other thread wherever it stood, possibly
// inside a lock, so clean-up must not wait for them or take their locks.
// POSIX: always false; exit() leaves the other threads running.
bool IsProcessExiting();
// Releases the handle (after JoinThread; a handle may also be closed while
// the thread still runs, which detaches it).
void CloseThreadHandle(ThreadHandle thread);

ThreadId CurrentThreadId();
void SleepMilliseconds(unsigned milliseconds);

// Message numbers shared with the window services.
constexpr std::uint32_t kMsgNull = 0;       // WM_NULL
constexpr std::uint32_t kMsgQuit = 18;      // WM_QUIT
constexpr std::uint32_t kMsgCommand = 273;  // WM_COMMAND
constexpr std::uint32_t kMsgUser = 1024;    // WM_USER

struct ThreadMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// Creates the calling thread's message queue if it has none yet.
void EnsureThreadQueue();
// Posts to the queue of thread `target`; false when it has no queue.
bool PostThreadMessage(ThreadId target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// Waits for the next message posted to the calling thread (creating its queue
// if needed). Returns 1 with `out` filled, 0 for kMsgQuit, -1 on failure.
// On Win32 window messages of the thread are dispatched meanwhile.
int GetThreadMessage(ThreadMessage* out);

}  // namespace platform
}  // namespace ambervox
