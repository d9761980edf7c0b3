// Windows and window messages: the real user32 calls on HWNDs.
//
// A window made by CreateTopLevelWindow belongs to a class registered once per
// class name in this module, whose stdcall window procedure forwards every
// message to the portable WindowProc kept in the window's GWLP_USERDATA.
// WindowSubclass replaces GWLP_WNDPROC by a stdcall thunk that finds the
// portable hook in window properties. Each subclass of a window takes a slot
// of its own: its own thunk and its own pair of properties, so that two
// subclasses on one window (ours twice, or ours under and over another
// plug-in's) each reach their own hook and previous procedure.
#include "platform/win32/win32_api.h"

#include <array>
#include <string>
#include <utility>

#include "platform/window.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module (the DLL or program the code is linked into)

namespace ambervox {
namespace platform {

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// The window properties of each subclass slot: the portable hook (removed
// by Restore) and the procedure that was in place before (kept while the
// thunk must stay in the chain). A slot is free while neither is set.
constexpr int kSubclassSlots = 8;
struct SlotProperties {
  const char* hook;
  const char* previous;
};
constexpr SlotProperties kSlotProperties[kSubclassSlots] = {
    {"Ambervox.SubclassHook.0", "Ambervox.SubclassPrevious.0"},
    {"Ambervox.SubclassHook.1", "Ambervox.SubclassPrevious.1"},
    {"Ambervox.SubclassHook.2", "Ambervox.SubclassPrevious.2"},
    {"Ambervox.SubclassHook.3", "Ambervox.SubclassPrevious.3"},
    {"Ambervox.SubclassHook.4", "Ambervox.SubclassPrevious.4"},
    {"Ambervox.SubclassHook.5", "Ambervox.SubclassPrevious.5"},
    {"Ambervox.SubclassHook.6", "Ambervox.SubclassPrevious.6"},
    {"Ambervox.SubclassHook.7", "Ambervox.SubclassPrevious.7"},
};

// Whether the message that this thread's innermost procedure of this module
// is handling came in its wide form: DefaultWindowProc must hand it on in
// the same form (a Unicode window's WM_SETTEXT carries UTF-16).
thread_local bool dispatchingWide = false;

class DispatchForm {
 public:
  explicit DispatchForm(bool wide) : saved_(dispatchingWide) { dispatchingWide = wide; }
  ~DispatchForm() { dispatchingWide = saved_; }
  DispatchForm(const DispatchForm&) = delete;
  DispatchForm& operator=(const DispatchForm&) = delete;

 private:
  bool saved_;
};

template <bool kWide>
LRESULT DefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return kWide ? DefWindowProcW(hwnd, message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
}

template <bool kWide>
LRESULT CALLBACK ClassWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<WindowProc>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!proc && message == WM_NCCREATE) {
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) go to the default
    // procedure. Both CREATESTRUCT forms hold lpCreateParams first.
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    proc = reinterpret_cast<WindowProc>(create->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
  }
  if (!proc) return DefaultProc<kWide>(hwnd, message, wParam, lParam);
  DispatchForm form(kWide);
  try {
    return proc(FromHwnd(hwnd), message, wParam, lParam);
  } catch (...) {
    // Unwinding through user32's frames is not possible.
    return 0;
  }
}

template <bool kWide, int kSlot>
LRESULT CALLBACK SubclassThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const SlotProperties& slot = kSlotProperties[kSlot];
  auto hook = reinterpret_cast<WindowProc>(GetPropA(hwnd, slot.hook));
  auto previous = reinterpret_cast<WNDPROC>(GetPropA(hwnd, slot.previous));
  LRESULT result = 0;
  if (hook) {
    DispatchForm form(kWide);
    try {
      result = hook(FromHwnd(hwnd), message, wParam, lParam);
    } catch (...) {
      result = 0;
    }
  } else if (previous) {
    // Restored while another subclass sat on top: only pass messages on.
    result = kWide ? CallWindowProcW(previous, hwnd, message, wParam, lParam)
                   : CallWindowProcA(previous, hwnd, message, wParam, lParam);
  } else {
    result = DefaultProc<kWide>(hwnd, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    RemovePropA(hwnd, slot.hook);
    RemovePropA(hwnd, slot.previous);
  }
  return result;
}

template <bool kWide, std::size_t... kSlot>
constexpr std::array<WNDPROC, sizeof...(kSlot)> MakeThunks(std::index_sequence<kSlot...>) {
  return {&SubclassThunk<kWide, static_cast<int>(kSlot)>...};
}
constexpr auto kAnsiThunks = MakeThunks<false>(std::make_index_sequence<kSubclassSlots>{});
constexpr auto kWideThunks = MakeThunks<true>(std::make_index_sequence<kSubclassSlots>{});

LONG_PTR ThunkOf(bool wide, int slot) {
  return reinterpret_cast<LONG_PTR>(wide ? kWideThunks[slot] : kAnsiThunks[slot]);
}

// The first slot of `hwnd` that no subclass holds, or -1.
int FreeSlot(HWND hwnd) {
  for (int slot = 0; slot < kSubclassSlots; ++slot) {
    if (!GetPropA(hwnd, kSlotProperties[slot].hook) && !GetPropA(hwnd, kSlotProperties[slot].previous)) return slot;
  }
  return -1;
}

LONG_PTR GetProcedure(HWND hwnd, bool wide) {
  return wide ? GetWindowLongPtrW(hwnd, GWLP_WNDPROC) : GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
}

LONG_PTR SetProcedure(HWND hwnd, bool wide, LONG_PTR procedure) {
  return wide ? SetWindowLongPtrW(hwnd, GWLP_WNDPROC, procedure) : SetWindowLongPtrA(hwnd, GWLP_WNDPROC, procedure);
}

// Registers the class once; a class of that name registered by someone else
// in this module with another procedure cannot serve.
bool EnsureWindowClass(const char* className) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(ThisModule(), className, &existing)) return existing.lpfnWndProc == ClassWindowProc<false>;
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ClassWindowProc<false>;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className;
  if (RegisterClassExA(&windowClass)) return true;
  // Another thread may have registered it just now.
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// UTF-8 to UTF-16; false for invalid UTF-8.
bool Widen(const std::string& utf8, std::wstring* wide) {
  wide->clear();
  if (utf8.empty()) return true;
  int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (units <= 0) return false;
  wide->resize(static_cast<std::size_t>(units));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &(*wide)[0],
                             units) == units;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], bytes, nullptr, nullptr);
  return text;
}

bool EnsureUnicodeWindowClass(const std::wstring& className) {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(ThisModule(), className.c_str(), &existing)) {
    return existing.lpfnWndProc == ClassWindowProc<true>;
  }
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ClassWindowProc<true>;
  windowClass.hInstance = ThisModule();
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className.c_str();
  if (RegisterClassExW(&windowClass)) return true;
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
  HWND hwnd =
      CreateWindowExA(0, className, title ? title : "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ThisModule(), reinterpret_cast<void*>(proc));
  return FromHwnd(hwnd);
}

WindowHandle CreateUnicodeTopLevelWindow(const char* className, const char* titleUtf8, WindowProc proc) {
  std::wstring wideClass;
  std::wstring wideTitle;
  if (!className || !proc || !Widen(className, &wideClass) || !Widen(titleUtf8 ? titleUtf8 : "", &wideTitle) ||
      !EnsureUnicodeWindowClass(wideClass)) {
    return nullptr;
  }
  HWND hwnd =
      CreateWindowExW(0, wideClass.c_str(), wideTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ThisModule(), reinterpret_cast<void*>(proc));
  return FromHwnd(hwnd);
}

bool IsUnicodeWindow(WindowHandle window) { return window && IsWindowUnicode(ToHwnd(window)); }

bool SetWindowCaption(WindowHandle window, const std::string& utf8) {
  std::wstring wide;
  if (!window || !Widen(utf8, &wide)) return false;
  return SetWindowTextW(ToHwnd(window), wide.c_str()) != 0;
}

std::string GetWindowCaption(WindowHandle window) {
  if (!window) return std::string();
  int length = GetWindowTextLengthW(ToHwnd(window));
  if (length <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(ToHwnd(window), &wide[0], length + 1);
  wide.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return Narrow(wide);
}

void DestroyTopLevelWindow(WindowHandle window) {
  if (window) DestroyWindow(ToHwnd(window));
}

bool IsWindowValid(WindowHandle window) { return window && IsWindow(ToHwnd(window)); }

std::intptr_t DefaultWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  return dispatchingWide ? DefaultProc<true>(ToHwnd(window), message, wParam, lParam)
                         : DefaultProc<false>(ToHwnd(window), message, wParam, lParam);
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

bool SendWindowMessageTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                              unsigned milliseconds, std::intptr_t* result) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(ToHwnd(window), message, wParam, lParam, SMTO_ABORTIFHUNG, milliseconds, &answer)) {
    return false;
  }
  if (result) *result = static_cast<std::intptr_t>(answer);
  return true;
}

bool HasPendingSentMessages() { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }

std::uint32_t RegisterMessageName(const char* name) { return RegisterWindowMessageA(name); }

WindowSubclass::~WindowSubclass() { Restore(); }

bool WindowSubclass::Install(WindowHandle window, WindowProc hook) {
  HWND hwnd = ToHwnd(window);
  if (window_ || !hook || !IsWindow(hwnd)) return false;
  const int slot = FreeSlot(hwnd);
  if (slot < 0) return false;
  const SlotProperties& names = kSlotProperties[slot];
  // A Unicode window subclassed through the ANSI functions would become an
  // ANSI window: its caption would pass through the ANSI code page.
  const bool wide = IsWindowUnicode(hwnd) != 0;
  if (!SetPropA(hwnd, names.hook, reinterpret_cast<HANDLE>(hook))) return false;
  // The previous procedure is recorded before the thunk can run.
  auto previous = GetProcedure(hwnd, wide);
  if (!previous || !SetPropA(hwnd, names.previous, reinterpret_cast<HANDLE>(previous))) {
    RemovePropA(hwnd, names.hook);
    RemovePropA(hwnd, names.previous);
    return false;
  }
  SetLastError(0);
  previous = SetProcedure(hwnd, wide, ThunkOf(wide, slot));
  if (!previous && GetLastError() != 0) {
    RemovePropA(hwnd, names.hook);
    RemovePropA(hwnd, names.previous);
    return false;
  }
  window_ = window;
  previous_ = previous;
  hook_ = hook;
  wide_ = wide;
  slot_ = slot;
  return true;
}

std::intptr_t WindowSubclass::CallPrevious(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam) const {
  HWND hwnd = ToHwnd(window);
  if (!previous_)
    return wide_ ? DefaultProc<true>(hwnd, message, wParam, lParam) : DefaultProc<false>(hwnd, message, wParam, lParam);
  auto previous = reinterpret_cast<WNDPROC>(previous_);
  return wide_ ? CallWindowProcW(previous, hwnd, message, wParam, lParam)
               : CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

bool WindowSubclass::Restore() {
  if (!window_) return true;
  HWND hwnd = ToHwnd(window_);
  bool removed = true;
  const SlotProperties& names = kSlotProperties[slot_];
  if (IsWindow(hwnd)) {
    if (GetProcedure(hwnd, wide_) == ThunkOf(wide_, slot_)) {
      SetProcedure(hwnd, wide_, previous_);
      RemovePropA(hwnd, names.previous);
    } else {
      // Someone replaced the procedure after us and calls the thunk as its
      // previous one; putting ours back would cut that one off, so the
      // thunk stays and, with the hook gone, passes everything to previous_.
      // The slot stays taken while its thunk is in the chain.
      removed = false;
    }
    RemovePropA(hwnd, names.hook);
  }
  window_ = nullptr;
  hook_ = nullptr;
  slot_ = -1;
  // Left in place, CallPrevious still passes messages on.
  if (removed) previous_ = 0;
  return removed;
}

WindowHandle FirstTopLevelWindow() { return FromHwnd(GetWindow(GetDesktopWindow(), GW_CHILD)); }

WindowHandle NextTopLevelWindow(WindowHandle window) { return FromHwnd(GetWindow(ToHwnd(window), GW_HWNDNEXT)); }

bool IsWindowOfThisProcess(WindowHandle window) {
  DWORD process = 0;
  if (!GetWindowThreadProcessId(ToHwnd(window), &process)) return false;
  return process == GetCurrentProcessId();
}

bool IsWindowOfThisThread(WindowHandle window) {
  return GetWindowThreadProcessId(ToHwnd(window), nullptr) == GetCurrentThreadId();
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

void BringWindowToFront(WindowHandle window) {
  HWND hwnd = ToHwnd(window);
  if (!IsWindow(hwnd)) return;
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  SetForegroundWindow(hwnd);
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
