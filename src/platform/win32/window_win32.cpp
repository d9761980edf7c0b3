// Windows and window messages: the real user32 calls on HWNDs.
//
// A window made by CreateTopLevelWindow belongs to a class registered once per
// class name in this module, whose stdcall window procedure forwards every
// message to the portable WindowProc kept in the window's GWLP_USERDATA.
// WindowSubclass replaces GWLP_WNDPROC by one stdcall thunk that finds the
// portable hook in a window property.
#include "platform/win32/win32_api.h"

#include <string>

#include "platform/window.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module (the DLL or program the code is linked into)

namespace ambervox {
namespace platform {

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// Window properties of a subclassed window.
const char kHookProperty[] = "Ambervox.SubclassHook";
const char kPreviousProperty[] = "Ambervox.SubclassPrevious";

LRESULT CALLBACK ClassWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<WindowProc>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!proc && message == WM_NCCREATE) {
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) go to DefWindowProcA.
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    proc = reinterpret_cast<WindowProc>(create->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
  }
  if (!proc) return DefWindowProcA(hwnd, message, wParam, lParam);
  try {
    return proc(FromHwnd(hwnd), message, wParam, lParam);
  } catch (...) {
    // Unwinding through user32's frames is not possible.
    return 0;
  }
}

LRESULT CALLBACK SubclassThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto hook = reinterpret_cast<WindowProc>(GetPropA(hwnd, kHookProperty));
  auto previous = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kPreviousProperty));
  LRESULT result = 0;
  if (hook) {
    try {
      result = hook(FromHwnd(hwnd), message, wParam, lParam);
    } catch (...) {
      result = 0;
    }
  } else if (previous) {
    // Restored while another subclass sat on top: only pass messages on.
    result = CallWindowProcA(previous, hwnd, message, wParam, lParam);
  } else {
    result = DefWindowProcA(hwnd, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    RemovePropA(hwnd, kHookProperty);
    RemovePropA(hwnd, kPreviousProperty);
  }
  return result;
}

// Registers the class once; a class of that name registered by someone else
// in this module with another procedure cannot serve.
bool EnsureWindowClass(const char* className) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(ThisModule(), className, &existing)) return existing.lpfnWndProc == ClassWindowProc;
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ClassWindowProc;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className;
  if (RegisterClassExA(&windowClass)) return true;
  // Another thread may have registered it just now.
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void DispatchSentMessages() {
  MSG msg;
  // Sent messages are dispatched inside PeekMessage; PM_QS_SENDMESSAGE keeps
  // it from looking at (and PM_NOREMOVE from removing) posted messages.
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Waits for `handle`, or for `milliseconds` when it is null, while running
// the calling thread's sent messages. False on time-out or failure.
bool WaitHandlingSentMessages(HANDLE handle, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    DispatchSentMessages();
    DWORD remaining = INFINITE;
    if (milliseconds != INFINITE) {
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= milliseconds) return false;
      remaining = milliseconds - elapsed;
    }
    DWORD count = handle ? 1 : 0;
    DWORD result = MsgWaitForMultipleObjects(count, handle ? &handle : nullptr, FALSE, remaining, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0 + count) continue;  // a sent message
    if (handle && result == WAIT_OBJECT_0) return true;
    if (result == WAIT_TIMEOUT) return false;
    return false;  // WAIT_FAILED
  }
}

}  // namespace

WindowHandle CreateTopLevelWindow(const char* className, const char* title, WindowProc proc) {
  if (!className || !proc || !EnsureWindowClass(className)) return nullptr;
  HWND hwnd = CreateWindowExA(0, className, title ? title : "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ThisModule(),
                              reinterpret_cast<void*>(proc));
  return FromHwnd(hwnd);
}

void DestroyTopLevelWindow(WindowHandle window) {
  if (window) DestroyWindow(ToHwnd(window));
}

bool IsWindowValid(WindowHandle window) { return window && IsWindow(ToHwnd(window)); }

std::intptr_t DefaultWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  return DefWindowProcA(ToHwnd(window), message, wParam, lParam);
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL result = GetMessageA(&msg, nullptr, 0, 0);
    if (result == 0) return static_cast<int>(msg.wParam);
    if (result == -1) return -1;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  return SendMessageA(ToHwnd(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return PostMessageA(ToHwnd(window), message, wParam, lParam) != 0;
}

std::uint32_t RegisterMessageName(const char* name) { return RegisterWindowMessageA(name); }

WindowSubclass::~WindowSubclass() { Restore(); }

bool WindowSubclass::Install(WindowHandle window, WindowProc hook) {
  HWND hwnd = ToHwnd(window);
  if (window_ || !hook || !IsWindow(hwnd)) return false;
  // One subclass per window: the property is taken.
  if (GetPropA(hwnd, kHookProperty) || GetPropA(hwnd, kPreviousProperty)) return false;
  if (!SetPropA(hwnd, kHookProperty, reinterpret_cast<HANDLE>(hook))) return false;
  // The previous procedure is recorded before the thunk can run.
  auto previous = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
  if (!previous || !SetPropA(hwnd, kPreviousProperty, reinterpret_cast<HANDLE>(previous))) {
    RemovePropA(hwnd, kHookProperty);
    RemovePropA(hwnd, kPreviousProperty);
    return false;
  }
  SetLastError(0);
  previous = SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassThunk));
  if (!previous && GetLastError() != 0) {
    RemovePropA(hwnd, kHookProperty);
    RemovePropA(hwnd, kPreviousProperty);
    return false;
  }
  window_ = window;
  previous_ = previous;
  hook_ = hook;
  return true;
}

std::intptr_t WindowSubclass::CallPrevious(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam) const {
  if (!previous_) return DefWindowProcA(ToHwnd(window), message, wParam, lParam);
  return CallWindowProcA(reinterpret_cast<WNDPROC>(previous_), ToHwnd(window), message, wParam, lParam);
}

void WindowSubclass::Restore() {
  if (!window_) return;
  HWND hwnd = ToHwnd(window_);
  if (IsWindow(hwnd)) {
    auto current = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
    if (current == reinterpret_cast<LONG_PTR>(SubclassThunk)) {
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, previous_);
      RemovePropA(hwnd, kPreviousProperty);
    }
    // Otherwise someone replaced the procedure after us and calls the thunk
    // as its previous one; putting ours back would cut that one off, so the
    // thunk stays and, with the hook gone, passes everything to previous_.
    RemovePropA(hwnd, kHookProperty);
  }
  window_ = nullptr;
  previous_ = 0;
  hook_ = nullptr;
}

WindowHandle FirstTopLevelWindow() { return FromHwnd(GetWindow(GetDesktopWindow(), GW_CHILD)); }

WindowHandle NextTopLevelWindow(WindowHandle window) { return FromHwnd(GetWindow(ToHwnd(window), GW_HWNDNEXT)); }

bool IsWindowOfThisProcess(WindowHandle window) {
  DWORD process = 0;
  if (!GetWindowThreadProcessId(ToHwnd(window), &process)) return false;
  return process == GetCurrentProcessId();
}

std::string GetWindowTitle(WindowHandle window, int bufferSize) {
  if (bufferSize <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bufferSize), '\0');
  int length = GetWindowTextA(ToHwnd(window), &text[0], bufferSize);
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

std::string GetWindowClass(WindowHandle window, int bufferSize) {
  if (bufferSize <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bufferSize), '\0');
  int length = GetClassNameA(ToHwnd(window), &text[0], bufferSize);
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

bool EnableChildControl(WindowHandle parent, int id, bool enable) {
  HWND control = GetDlgItem(ToHwnd(parent), id);
  if (!control) return false;
  EnableWindow(control, enable ? TRUE : FALSE);
  return true;
}

void ShowErrorMessageBox(WindowHandle owner, const char* text, const char* caption) {
  MessageBoxA(ToHwnd(owner), text, caption, MB_OK | MB_ICONERROR);
}

void JoinThreadHandlingMessages(ThreadHandle thread) { WaitHandlingSentMessages(ToHandle(thread), INFINITE); }

void SleepHandlingMessages(unsigned milliseconds) {
  if (milliseconds == INFINITE) milliseconds = INFINITE - 1;  // a sleep always ends
  WaitHandlingSentMessages(nullptr, milliseconds);
}

WindowThread::WindowThread(const char* className, const char* title, WindowProc proc)
    : className_(className), title_(title), proc_(proc) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ready) return;
  ready_ = ready;
  thread_ = StartThread(Run, this, false, &threadId_);
  // The new thread's window creation may send to this thread's windows.
  if (thread_) WaitHandlingSentMessages(ready, INFINITE);
}

WindowThread::~WindowThread() {
  if (thread_) {
    // The loop ends; the thread then destroys its window itself.
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    JoinThreadHandlingMessages(thread_);
    CloseThreadHandle(thread_);
  }
  if (ready_) CloseHandle(static_cast<HANDLE>(ready_));
}

unsigned WindowThread::Run(void* raw) {
  auto* self = static_cast<WindowThread*>(raw);
  self->window_ = CreateTopLevelWindow(self->className_, self->title_, self->proc_);
  HWND hwnd = ToHwnd(self->window_);
  SetEvent(static_cast<HANDLE>(self->ready_));
  if (!hwnd) return 1;
  RunMessageLoop();
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  return 0;
}

}  // namespace platform
}  // namespace ambervox
