// Windows and window messages.
//
// Win32: these are the real calls on HWNDs. POSIX: a window is a small object
// owned by the thread that created it (its user-interface thread). Send from
// another thread queues the call for the owner and blocks until the owner has
// run the window procedure; Send from the owner calls the procedure directly;
// Post queues and returns. The owner runs queued calls in RunMessageLoop and
// in the *HandlingMessages waits below, so a thread blocked in Send can
// always finish while the user-interface thread waits for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/threads.h"

namespace ambervox {
namespace platform {

struct WindowObject;  // opaque: an HWND, or the POSIX window record
using WindowHandle = WindowObject*;
using WindowProc = std::intptr_t (*)(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam);

// Creates a top-level window owned by the calling thread, whose messages go
// to `proc`. Returns nullptr on failure.
WindowHandle CreateTopLevelWindow(const char* className, const char* title, WindowProc proc);
// Creates a top-level Unicode window owned by the calling thread, as the
// player's main window is: class registered with the wide API, falling back
// to DefWindowProcW, caption `titleUtf8` (UTF-8) set through the wide API.
WindowHandle CreateUnicodeTopLevelWindow(const char* className, const char* titleUtf8, WindowProc proc);
// IsWindowUnicode: true while the window's current procedure takes the wide
// forms of text messages.
bool IsUnicodeWindow(WindowHandle window);
// The caption through the wide API (SetWindowTextW / GetWindowTextW), as
// UTF-8 on this side. Set returns false for invalid UTF-8 or a dead window.
bool SetWindowCaption(WindowHandle window, const std::string& utf8);
std::string GetWindowCaption(WindowHandle window);
// Destroys a window; must be called on its owner thread.
void DestroyTopLevelWindow(WindowHandle window);
bool IsWindowValid(WindowHandle window);
// What a procedure returns for a message it does not handle (DefWindowProc).
std::intptr_t DefaultWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);

// Runs the calling thread's message loop until PostQuitMessage; returns the
// exit code given there.
int RunMessageLoop();
// Ends the calling thread's message loop.
void PostQuitMessage(int exitCode);

std::intptr_t SendWindowMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);
bool PostWindowMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// A send that gives up: false when the owner did not answer within
// `milliseconds`, or at once when the owner has not looked at its messages
// for several seconds (SendMessageTimeout with SMTO_ABORTIFHUNG). The message
// may still be handled later; its arguments must therefore not point into
// the caller's memory. `result` (may be null) gets the answer when true.
bool SendWindowMessageTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                              unsigned milliseconds, std::intptr_t* result);
// True when a message sent by another thread waits for the calling thread.
bool HasPendingSentMessages();

// Registered window messages: the same name always gives the same id
// (0xC000..0xFFFF), process-wide. Returns 0 on failure.
std::uint32_t RegisterMessageName(const char* name);

// Replaces a window's procedure by `hook` and remembers the previous one.
// One window per instance; several instances may subclass the same window,
// each on top of the one before. Restore (or destruction) puts the previous
// procedure back. Install and Restore run on the window's owner thread.
// A Unicode window is subclassed with the wide functions, any other with the
// ANSI ones, so the window keeps its kind and its text messages pass
// unconverted.
class WindowSubclass {
 public:
  WindowSubclass() = default;
  ~WindowSubclass();
  WindowSubclass(const WindowSubclass&) = delete;
  WindowSubclass& operator=(const WindowSubclass&) = delete;

  bool Install(WindowHandle window, WindowProc hook);
  // Calls the procedure that was in place before Install.
  std::intptr_t CallPrevious(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) const;
  // Takes the hook off. Only while ours is the window's current procedure is
  // the previous one put back; when someone subclassed on top of us, our
  // procedure must stay in place (the one above calls it as its previous),
  // passing every message on, and Restore returns false: the code of our
  // procedure must then stay mapped. True otherwise (also when the window is
  // gone or nothing was installed). CallPrevious keeps working after a
  // false Restore: a hook that is still called passes messages on with it.
  bool Restore();
  bool IsInstalled() const { return window_ != nullptr; }

 private:
  WindowHandle window_ = nullptr;
  std::intptr_t previous_ = 0;  // WNDPROC on Win32, WindowProc on POSIX
  WindowProc hook_ = nullptr;
  bool wide_ = false;               // installed with the wide functions
  [[maybe_unused]] int slot_ = -1;  // Win32: which thunk and window properties are ours
};

// Top-level windows from the top of the z-order (first child of the desktop,
// then each next one). nullptr ends the walk.
WindowHandle FirstTopLevelWindow();
WindowHandle NextTopLevelWindow(WindowHandle window);
bool IsWindowOfThisProcess(WindowHandle window);
// True when `window` belongs to the calling thread: a message sent to it is
// a direct call, never a wait for another thread.
bool IsWindowOfThisThread(WindowHandle window);
// Title and class name, read into buffers of `bufferSize` bytes as
// GetWindowTextA/GetClassNameA do (text cut to bufferSize - 1).
std::string GetWindowTitle(WindowHandle window, int bufferSize);
std::string GetWindowClass(WindowHandle window, int bufferSize);
// Enables or disables child control `id` of `parent`; false when there is no
// such control (POSIX windows have no children).
bool EnableChildControl(WindowHandle parent, int id, bool enable);

// Brings a top-level window to the front and gives it the focus (POSIX:
// nothing to show).
void BringWindowToFront(WindowHandle window);

// Modal error message box owned by `owner` (POSIX: one line on standard
// error: "caption: text").
void ShowErrorMessageBox(WindowHandle owner, const char* text, const char* caption);

// Waits that keep handling messages sent to the calling thread's windows, so
// that a thread blocked in SendWindowMessage to them can finish.
void JoinThreadHandlingMessages(ThreadHandle thread);
void SleepHandlingMessages(unsigned milliseconds);

// A window with a thread of its own that creates it and runs its message
// loop: a stand-in for another program's window (the simulated player in
// tests). The destructor destroys the window and joins the thread.
class WindowThread {
 public:
  WindowThread(const char* className, const char* title, WindowProc proc);
  ~WindowThread();
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  WindowHandle window() const { return window_; }
  ThreadId threadId() const { return threadId_; }

 private:
  static unsigned Run(void* self);
  const char* className_;
  const char* title_;
  WindowProc proc_;
  WindowHandle window_ = nullptr;
  ThreadHandle thread_ = nullptr;
  ThreadId threadId_ = 0;
  void* ready_ = nullptr;  // platform event used during start-up
};

}  // namespace platform
}  // namespace ambervox
