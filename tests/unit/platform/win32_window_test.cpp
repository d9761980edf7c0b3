// Windows-only checks of the window services against windows and procedures
// that the platform layer did not make itself: a player window has its own
// WNDPROC, may be subclassed by others as well, and has child controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/threads.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {
namespace {

HWND H(WindowHandle w) { return reinterpret_cast<HWND>(w); }
WindowHandle W(HWND h) { return reinterpret_cast<WindowHandle>(h); }

// A window class of the test's own, as another program would register it.
constexpr UINT kAsk = WM_USER + 7;
LRESULT CALLBACK NativeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAsk) return 100 + static_cast<LRESULT>(wParam);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class NativeWindow {
 public:
  NativeWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = NativeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Win32WindowTestNative";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "native", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                            wc.hInstance, nullptr);
  }
  ~NativeWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

WindowSubclass* g_subclass = nullptr;
std::atomic<int> g_hookCalls{0};

std::intptr_t Hook(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == kAsk) {
    ++g_hookCalls;
    return 1000 + g_subclass->CallPrevious(window, message, wParam, lParam);
  }
  return g_subclass->CallPrevious(window, message, wParam, lParam);
}

WindowSubclass* g_other = nullptr;

std::intptr_t OtherHook(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  const std::intptr_t result = g_other->CallPrevious(window, message, wParam, lParam);
  return message == kAsk ? 20000 + result : result;
}

TEST(Win32WindowTest, SubclassChainsToANativeProcedureAndRestoresIt) {
  NativeWindow native;
  ASSERT_TRUE(native.hwnd());
  WindowSubclass subclass;
  g_subclass = &subclass;
  g_hookCalls = 0;
  ASSERT_TRUE(subclass.Install(W(native.hwnd()), Hook));
  EXPECT_NE(reinterpret_cast<LONG_PTR>(NativeProc), GetWindowLongPtrA(native.hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(1105, SendMessageA(native.hwnd(), kAsk, 5, 0));
  EXPECT_EQ(1, g_hookCalls.load());

  // A second subclass on the same window goes on top of the first and
  // reaches the first through its own previous procedure.
  WindowSubclass other;
  g_other = &other;
  ASSERT_TRUE(other.Install(W(native.hwnd()), OtherHook));
  EXPECT_EQ(21105, SendMessageA(native.hwnd(), kAsk, 5, 0));
  EXPECT_EQ(2, g_hookCalls.load());
  EXPECT_TRUE(other.Restore());
  EXPECT_EQ(1105, SendMessageA(native.hwnd(), kAsk, 5, 0));

  subclass.Restore();
  EXPECT_FALSE(subclass.IsInstalled());
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(NativeProc), GetWindowLongPtrA(native.hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(105, SendMessageA(native.hwnd(), kAsk, 5, 0));
  EXPECT_EQ(3, g_hookCalls.load());
  // Installing again after Restore works: nothing was left behind.
  EXPECT_TRUE(other.Install(W(native.hwnd()), Hook));
  g_subclass = &other;
  EXPECT_EQ(1106, SendMessageA(native.hwnd(), kAsk, 6, 0));
  other.Restore();
}

WNDPROC g_outerPrevious = nullptr;
LRESULT CALLBACK OuterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAsk) return 20000 + CallWindowProcA(g_outerPrevious, hwnd, message, wParam, lParam);
  return CallWindowProcA(g_outerPrevious, hwnd, message, wParam, lParam);
}

TEST(Win32WindowTest, RestoreUnderAnotherSubclassKeepsThatOneWorking) {
  NativeWindow native;
  WindowSubclass subclass;
  g_subclass = &subclass;
  ASSERT_TRUE(subclass.Install(W(native.hwnd()), Hook));
  // Someone else subclasses the window after us, the classic way.
  g_outerPrevious =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrA(native.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OuterProc)));
  EXPECT_EQ(21105, SendMessageA(native.hwnd(), kAsk, 5, 0));

  subclass.Restore();
  // Our hook is out of the chain, theirs and the original are still in it.
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(OuterProc), GetWindowLongPtrA(native.hwnd(), GWLP_WNDPROC));
  EXPECT_EQ(20105, SendMessageA(native.hwnd(), kAsk, 5, 0));
}

TEST(Win32WindowTest, SubclassOfADestroyedWindowRestoresQuietly) {
  WindowSubclass subclass;
  g_subclass = &subclass;
  {
    NativeWindow native;
    ASSERT_TRUE(subclass.Install(W(native.hwnd()), Hook));
  }
  EXPECT_TRUE(subclass.IsInstalled());
  subclass.Restore();
  EXPECT_FALSE(subclass.IsInstalled());
}

std::intptr_t PlainProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return DefaultWindowProc(window, message, wParam, lParam);
}

TEST(Win32WindowTest, EnableChildControlTogglesARealControl) {
  WindowHandle parent = CreateTopLevelWindow("Win32WindowTestParent", "parent", PlainProc);
  ASSERT_NE(nullptr, parent);
  HWND button = CreateWindowExA(0, "BUTTON", "reload", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, H(parent),
                                reinterpret_cast<HMENU>(1092), GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(button);
  EXPECT_TRUE(EnableChildControl(parent, 1092, false));
  EXPECT_FALSE(IsWindowEnabled(button));
  EXPECT_TRUE(EnableChildControl(parent, 1092, true));
  EXPECT_TRUE(IsWindowEnabled(button));
  EXPECT_FALSE(EnableChildControl(parent, 1093, true));
  DestroyTopLevelWindow(parent);
  EXPECT_FALSE(IsWindowValid(parent));
}

constexpr UINT kPing = WM_USER + 20;
constexpr UINT kPosted = WM_USER + 21;
std::atomic<int> g_pings{0};
std::intptr_t PingProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == kPing) {
    ++g_pings;
    return 42;
  }
  return DefaultWindowProc(window, message, wParam, lParam);
}

struct SendJob {
  WindowHandle target;
  std::intptr_t answer;
};

unsigned SendFromWorker(void* raw) {
  auto* job = static_cast<SendJob*>(raw);
  job->answer = SendWindowMessage(job->target, kPing, 0, 0);
  return 0;
}

TEST(Win32WindowTest, WaitsRunSentMessagesButLeavePostedOnesQueued) {
  WindowHandle window = CreateTopLevelWindow("Win32WindowTestPing", "ping", PingProc);
  ASSERT_NE(nullptr, window);
  g_pings = 0;
  ASSERT_TRUE(PostWindowMessage(window, kPosted, 7, 0));

  SendJob job{window, 0};
  ThreadHandle worker = StartThread(SendFromWorker, &job, false, nullptr);
  ASSERT_NE(nullptr, worker);
  // A plain join would deadlock: the worker waits for this thread's answer.
  JoinThreadHandlingMessages(worker);
  CloseThreadHandle(worker);
  EXPECT_EQ(42, job.answer);
  EXPECT_EQ(1, g_pings.load());

  worker = StartThread(SendFromWorker, &job, false, nullptr);
  ASSERT_NE(nullptr, worker);
  job.answer = 0;
  for (int i = 0; i < 2000 && g_pings.load() < 2; ++i) SleepHandlingMessages(5);
  JoinThreadHandlingMessages(worker);
  CloseThreadHandle(worker);
  EXPECT_EQ(2, g_pings.load());
  EXPECT_EQ(42, job.answer);

  // The posted message survived both waits.
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, H(window), kPosted, kPosted, PM_REMOVE));
  EXPECT_EQ(7u, msg.wParam);
  DestroyTopLevelWindow(window);
}

TEST(Win32WindowTest, WindowThreadOwnsItsWindowAndTheWalkFindsIt) {
  WindowThread player("Win32WindowTestPlayer", "Player \x83\x65\x83\x58\x83\x67", PingProc);
  ASSERT_NE(nullptr, player.window());
  DWORD process = 0;
  EXPECT_EQ(player.threadId(), GetWindowThreadProcessId(H(player.window()), &process));
  EXPECT_EQ(GetCurrentProcessId(), process);
  // Sent from another thread, the procedure runs on the window's thread.
  EXPECT_EQ(42, SendWindowMessage(player.window(), kPing, 0, 0));

  bool found = false;
  for (WindowHandle w = FirstTopLevelWindow(); w; w = NextTopLevelWindow(w)) {
    if (w != player.window()) continue;
    found = true;
    EXPECT_TRUE(IsWindowOfThisProcess(w));
    EXPECT_EQ("Player \x83\x65\x83\x58\x83\x67", GetWindowTitle(w, 256));
    EXPECT_EQ("Player", GetWindowTitle(w, 7));
    EXPECT_EQ("Win32WindowTestPlayer", GetWindowClass(w, 256));
  }
  EXPECT_TRUE(found);
}

TEST(Win32WindowTest, RegisteredMessagesAreTheSystemOnes) {
  const char name[] = "0E048D2B-9403-4c9d-9308-F0049B06EDA6";
  std::uint32_t id = RegisterMessageName(name);
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageA(name), id);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
