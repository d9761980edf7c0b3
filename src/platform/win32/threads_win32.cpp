// Threads through the C runtime's _beginthreadex (so the runtime's per-thread
// data is set up and freed), and thread message queues through the Win32
// thread message functions.
#include "platform/win32/win32_api.h"

#include <process.h>

#include <new>

#include "platform/threads.h"

namespace ambervox {
namespace platform {

namespace {

constexpr unsigned kThreadStackReservation = 256 * 1024;

// _beginthreadex wants a __stdcall procedure; the portable one is cdecl.
// `module` holds a reference to the module of `proc` (null when none could
// be taken), released by the thread's very last act.
struct ThreadStart {
  ThreadProc proc;
  void* argument;
  HMODULE module;
};

unsigned __stdcall ThreadTrampoline(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  unsigned code = 1;
  try {
    code = start.proc(start.argument);
  } catch (...) {
    // Nothing may unwind into the runtime's thread start.
  }
  // This code may belong to a library that was unloaded while the thread
  // was ending: the reference kept it mapped, and FreeLibraryAndExitThread
  // drops it without returning here.
  if (start.module) FreeLibraryAndExitThread(start.module, code);
  return code;
}

}  // namespace

ThreadHandle StartThread(ThreadProc proc, void* argument, bool suspended, ThreadId* id) {
  ThreadStart* start = new (std::nothrow) ThreadStart{proc, argument, nullptr};
  if (!start) return nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(proc), &start->module)) {
    start->module = nullptr;
  }
  unsigned threadId = 0;
  // The plug-in lives in a 32-bit player process: hundreds of connection
  // threads with the executable's default stack (often 1 MiB reserved each)
  // would take a large share of its address space. Our threads need far
  // less, so each reserves kThreadStackReservation.
  const unsigned flags = (suspended ? CREATE_SUSPENDED : 0) | STACK_SIZE_PARAM_IS_A_RESERVATION;
  std::uintptr_t handle = _beginthreadex(nullptr, kThreadStackReservation, ThreadTrampoline, start, flags, &threadId);
  if (handle == 0) {
    if (start->module) FreeLibrary(start->module);
    delete start;
    return nullptr;
  }
  if (id) *id = threadId;
  return FromHandle(reinterpret_cast<HANDLE>(handle));
}

bool ResumeThread(ThreadHandle thread) { return ::ResumeThread(ToHandle(thread)) != static_cast<DWORD>(-1); }

void JoinThread(ThreadHandle thread) { WaitForSingleObject(ToHandle(thread), INFINITE); }

bool HasThreadEnded(ThreadHandle thread) { return thread && WaitForSingleObject(ToHandle(thread), 0) == WAIT_OBJECT_0; }

bool IsProcessExiting() {
  // ntdll's own answer (from Windows XP on); looked up on each call, since
  // a function-local static's guard could be held by an ended thread.
  using ShutdownInProgress = BOOLEAN(WINAPI*)();
  auto inProgress = reinterpret_cast<ShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
  return inProgress != nullptr && inProgress() != FALSE;
}

void CloseThreadHandle(ThreadHandle thread) {
  if (thread) CloseHandle(ToHandle(thread));
}

ThreadId CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

void EnsureThreadQueue() {
  // Any message function creates the queue; this one removes nothing.
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

bool PostThreadMessage(ThreadId target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return PostThreadMessageA(target, message, wParam, lParam) != 0;
}

int GetThreadMessage(ThreadMessage* out) {
  for (;;) {
    MSG msg;
    BOOL result = GetMessageA(&msg, nullptr, 0, 0);
    if (result == -1) return -1;
    if (result == 0) return 0;
    if (msg.hwnd != nullptr) {
      // A message for one of this thread's windows: its procedure handles it.
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    if (out) {
      out->message = msg.message;
      out->wParam = msg.wParam;
      out->lParam = msg.lParam;
    }
    return 1;
  }
}

}  // namespace platform
}  // namespace ambervox
