// Window services: where a sent message runs, what Post and the message loop
// do, window procedure replacement, registered messages, the waits that
// keep answering sent messages, and WindowThread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/threads.h"
#include "platform/window.h"

namespace ambervox {
namespace platform {
namespace {

constexpr std::uint32_t kMsgDouble = kMsgUser + 1;   // answers wParam * 2, notes the thread
constexpr std::uint32_t kMsgRecord = kMsgUser + 2;   // appends wParam to `recorded`
constexpr std::uint32_t kMsgEndLoop = kMsgUser + 3;  // PostQuitMessage(wParam)
constexpr std::uint32_t kMsgAskBack = kMsgUser + 4;  // sends kMsgDouble to the window in lParam
constexpr std::uint32_t kMsgValue = kMsgUser + 5;    // the base procedure answers 100

std::atomic<ThreadId> doubledOn{0};
std::vector<std::uintptr_t> recorded;  // touched only by the test's own thread

std::intptr_t TestProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case kMsgDouble:
      doubledOn = CurrentThreadId();
      return static_cast<std::intptr_t>(wParam * 2);
    case kMsgRecord:
      recorded.push_back(wParam);
      return 0;
    case kMsgEndLoop:
      PostQuitMessage(static_cast<int>(wParam));
      return 0;
    case kMsgAskBack:
      return SendWindowMessage(reinterpret_cast<WindowHandle>(lParam), kMsgDouble, wParam, 0) + 1;
    case kMsgValue:
      return 100;
    default:
      return DefaultWindowProc(window, message, wParam, lParam);
  }
}

WindowSubclass* activeSubclass = nullptr;

std::intptr_t HookProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::intptr_t previous = activeSubclass->CallPrevious(window, message, wParam, lParam);
  return message == kMsgValue ? previous + 1 : previous;
}

// Polls `flag` for up to `milliseconds`, so that a fault fails the test
// instead of hanging it.
bool WaitForFlag(const std::atomic<bool>& flag, unsigned milliseconds) {
  for (unsigned waited = 0; !flag.load() && waited < milliseconds; waited += 5) SleepMilliseconds(5);
  return flag.load();
}

struct SendJob {
  WindowHandle window = nullptr;
  std::uintptr_t wParam = 0;
  std::atomic<std::intptr_t> result{-1};
  std::atomic<bool> done{false};
};

unsigned SendFromThread(void* argument) {
  SendJob* job = static_cast<SendJob*>(argument);
  job->result = SendWindowMessage(job->window, kMsgDouble, job->wParam, 0);
  job->done = true;
  return 0;
}

TEST(WindowMessages, SendFromAnotherThreadRunsOnTheOwnerThreadAndReturnsItsResult) {
  WindowThread owner("AmbervoxTestWindow", "Owner", &TestProc);
  ASSERT_NE(owner.window(), nullptr);
  ASSERT_NE(owner.threadId(), CurrentThreadId());
  doubledOn = 0;
  EXPECT_EQ(SendWindowMessage(owner.window(), kMsgDouble, 21, 0), 42);
  EXPECT_EQ(doubledOn.load(), owner.threadId());
}

TEST(WindowMessages, ManyThreadsSendingAtOnceEachGetTheirOwnAnswer) {
  WindowThread owner("AmbervoxTestWindow", "Owner", &TestProc);
  ASSERT_NE(owner.window(), nullptr);
  struct Sender {
    WindowHandle window;
    std::atomic<int> wrong{0};
  };
  auto run = [](void* argument) -> unsigned {
    Sender* sender = static_cast<Sender*>(argument);
    for (std::uintptr_t i = 0; i < 200; ++i) {
      if (SendWindowMessage(sender->window, kMsgDouble, i, 0) != static_cast<std::intptr_t>(i * 2)) ++sender->wrong;
    }
    return 0;
  };
  Sender senders[4];
  ThreadHandle threads[4];
  for (int i = 0; i < 4; ++i) {
    senders[i].window = owner.window();
    threads[i] = StartThread(run, &senders[i], false, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  for (int i = 0; i < 4; ++i) {
    JoinThread(threads[i]);
    CloseThreadHandle(threads[i]);
    EXPECT_EQ(senders[i].wrong.load(), 0);
  }
}

TEST(WindowMessages, SendFromTheOwnerThreadRunsAtOnceAndPostWaitsForTheLoop) {
  WindowHandle window = CreateTopLevelWindow("AmbervoxTestWindow", "Local", &TestProc);
  ASSERT_NE(window, nullptr);
  doubledOn = 0;
  EXPECT_EQ(SendWindowMessage(window, kMsgDouble, 5, 0), 10);  // no message loop is running
  EXPECT_EQ(doubledOn.load(), CurrentThreadId());

  recorded.clear();
  ASSERT_TRUE(PostWindowMessage(window, kMsgRecord, 1, 0));
  ASSERT_TRUE(PostWindowMessage(window, kMsgRecord, 2, 0));
  ASSERT_TRUE(PostWindowMessage(window, kMsgEndLoop, 7, 0));
  EXPECT_TRUE(recorded.empty());
  EXPECT_EQ(RunMessageLoop(), 7);
  EXPECT_EQ(recorded, (std::vector<std::uintptr_t>{1, 2}));

  DestroyTopLevelWindow(window);
  EXPECT_FALSE(IsWindowValid(window));
  EXPECT_EQ(SendWindowMessage(window, kMsgDouble, 5, 0), 0);
  EXPECT_FALSE(PostWindowMessage(window, kMsgRecord, 3, 0));
}

TEST(WindowMessages, SubclassHookCallsThePreviousProcedureUntilRestored) {
  WindowHandle window = CreateTopLevelWindow("AmbervoxTestWindow", "Subclassed", &TestProc);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendWindowMessage(window, kMsgValue, 0, 0), 100);
  {
    WindowSubclass subclass;
    activeSubclass = &subclass;
    EXPECT_FALSE(subclass.IsInstalled());
    ASSERT_TRUE(subclass.Install(window, &HookProc));
    EXPECT_TRUE(subclass.IsInstalled());
    EXPECT_EQ(SendWindowMessage(window, kMsgValue, 0, 0), 101);
    EXPECT_EQ(SendWindowMessage(window, kMsgDouble, 4, 0), 8);  // passed through unchanged

    // Also when the message comes from another thread.
    SendJob job;
    job.window = window;
    job.wParam = 6;
    ThreadHandle thread = StartThread(&SendFromThread, &job, false, nullptr);
    ASSERT_NE(thread, nullptr);
    JoinThreadHandlingMessages(thread);
    CloseThreadHandle(thread);
    EXPECT_EQ(job.result.load(), 12);

    subclass.Restore();
    EXPECT_FALSE(subclass.IsInstalled());
    EXPECT_EQ(SendWindowMessage(window, kMsgValue, 0, 0), 100);
    ASSERT_TRUE(subclass.Install(window, &HookProc));
    EXPECT_EQ(SendWindowMessage(window, kMsgValue, 0, 0), 101);
  }  // the destructor restores
  activeSubclass = nullptr;
  EXPECT_EQ(SendWindowMessage(window, kMsgValue, 0, 0), 100);
  DestroyTopLevelWindow(window);
}

TEST(WindowMessages, RegisteredNamesGiveStableDistinctIds) {
  std::uint32_t alpha = RegisterMessageName("Ambervox.Test.Alpha");
  std::uint32_t again = RegisterMessageName("Ambervox.Test.Alpha");
  std::uint32_t beta = RegisterMessageName("Ambervox.Test.Beta");
  EXPECT_EQ(alpha, again);
  EXPECT_NE(alpha, beta);
  for (std::uint32_t id : {alpha, beta}) {
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
  }
}

TEST(WindowMessages, JoinHandlingMessagesAnswersTheJoinedThreadsSend) {
  WindowHandle window = CreateTopLevelWindow("AmbervoxTestWindow", "Waiting", &TestProc);
  ASSERT_NE(window, nullptr);
  SendJob job;
  job.window = window;
  job.wParam = 8;
  doubledOn = 0;
  ThreadHandle thread = StartThread(&SendFromThread, &job, false, nullptr);
  ASSERT_NE(thread, nullptr);
  // A plain join would wait for ever: the thread waits for this one.
  JoinThreadHandlingMessages(thread);
  CloseThreadHandle(thread);
  EXPECT_EQ(job.result.load(), 16);
  EXPECT_EQ(doubledOn.load(), CurrentThreadId());
  DestroyTopLevelWindow(window);
}

TEST(WindowMessages, SleepHandlingMessagesAnswersSends) {
  WindowHandle window = CreateTopLevelWindow("AmbervoxTestWindow", "Sleeping", &TestProc);
  ASSERT_NE(window, nullptr);
  SendJob job;
  job.window = window;
  job.wParam = 9;
  ThreadHandle thread = StartThread(&SendFromThread, &job, false, nullptr);
  ASSERT_NE(thread, nullptr);
  for (int i = 0; i < 2000 && !job.done.load(); ++i) SleepHandlingMessages(5);
  EXPECT_TRUE(job.done.load());
  JoinThreadHandlingMessages(thread);
  CloseThreadHandle(thread);
  EXPECT_EQ(job.result.load(), 18);
  DestroyTopLevelWindow(window);
}

TEST(WindowMessages, ACallSentBackWhileASendWaitsIsAnswered) {
  WindowHandle local = CreateTopLevelWindow("AmbervoxTestWindow", "Asked back", &TestProc);
  ASSERT_NE(local, nullptr);
  WindowThread remote("AmbervoxTestWindow", "Relay", &TestProc);
  ASSERT_NE(remote.window(), nullptr);
  doubledOn = 0;
  // The remote procedure sends to `local` while this thread waits in Send.
  EXPECT_EQ(SendWindowMessage(remote.window(), kMsgAskBack, 4, reinterpret_cast<std::intptr_t>(local)), 9);
  EXPECT_EQ(doubledOn.load(), CurrentThreadId());
  DestroyTopLevelWindow(local);
}

struct AbandonedWindow {
  WindowHandle window = nullptr;
  std::atomic<bool> created{false};
  std::atomic<bool> leave{false};
};

// Creates a window, never runs a message loop, and ends without destroying it.
unsigned AbandonWindow(void* argument) {
  AbandonedWindow* state = static_cast<AbandonedWindow*>(argument);
  state->window = CreateTopLevelWindow("AmbervoxTestWindow", "Abandoned", &TestProc);
  state->created = true;
  while (!state->leave.load()) SleepMilliseconds(5);
  return 0;
}

TEST(WindowMessages, SendToAWindowWhoseThreadEndedReturnsZero) {
  AbandonedWindow state;
  ThreadHandle owner = StartThread(&AbandonWindow, &state, false, nullptr);
  ASSERT_NE(owner, nullptr);
  ASSERT_TRUE(WaitForFlag(state.created, 10000));
  ASSERT_NE(state.window, nullptr);

  // A send waiting for the owner when it ends is answered with 0.
  SendJob job;
  job.window = state.window;
  job.wParam = 3;
  ThreadHandle sender = StartThread(&SendFromThread, &job, false, nullptr);
  ASSERT_NE(sender, nullptr);
  SleepMilliseconds(50);
  EXPECT_FALSE(job.done.load());  // the owner never handles messages
  state.leave = true;
  JoinThread(owner);
  CloseThreadHandle(owner);
  ASSERT_TRUE(WaitForFlag(job.done, 10000));
  JoinThread(sender);
  CloseThreadHandle(sender);
  EXPECT_EQ(job.result.load(), 0);

  EXPECT_FALSE(IsWindowValid(state.window));
  EXPECT_EQ(SendWindowMessage(state.window, kMsgDouble, 3, 0), 0);
}

TEST(WindowThreadTest, OwnsAWindowWithItsTitleAndClassUntilDestroyed) {
  WindowHandle handle = nullptr;
  {
    WindowThread thread("AmbervoxTestClass", "Ambervox test title", &TestProc);
    handle = thread.window();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(IsWindowValid(handle));
    EXPECT_NE(thread.threadId(), 0u);
    EXPECT_NE(thread.threadId(), CurrentThreadId());
    EXPECT_EQ(GetWindowTitle(handle, 256), "Ambervox test title");
    EXPECT_EQ(GetWindowTitle(handle, 9), "Ambervox");
    EXPECT_EQ(GetWindowClass(handle, 256), "AmbervoxTestClass");
    EXPECT_EQ(GetWindowClass(handle, 5), "Ambe");
    EXPECT_TRUE(IsWindowOfThisProcess(handle));
    EXPECT_FALSE(EnableChildControl(handle, 1001, true));

    bool found = false;
    int steps = 0;
    for (WindowHandle w = FirstTopLevelWindow(); w != nullptr && steps < 100000; w = NextTopLevelWindow(w), ++steps) {
      if (w == handle) found = true;
    }
    EXPECT_TRUE(found);
  }
  EXPECT_FALSE(IsWindowValid(handle));
  EXPECT_EQ(SendWindowMessage(handle, kMsgDouble, 1, 0), 0);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
