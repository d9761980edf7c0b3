// Threads: suspended start, join, detaching close, ids, and the thread
// message queue that exists only once the thread asked for it; the lock's
// check of its holder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <thread>

#include "platform/lock.h"
#include "platform/threads.h"

namespace ambervox {
namespace platform {
namespace {

bool WaitForFlag(const std::atomic<bool>& flag, unsigned milliseconds) {
  for (unsigned waited = 0; !flag.load() && waited < milliseconds; waited += 5) SleepMilliseconds(5);
  return flag.load();
}

struct Probe {
  std::atomic<bool> ran{false};
  std::atomic<ThreadId> ranAs{0};
  std::atomic<bool> release{true};  // the thread waits until this is set
};

unsigned RunProbe(void* argument) {
  Probe* probe = static_cast<Probe*>(argument);
  while (!probe->release.load()) SleepMilliseconds(1);
  probe->ranAs = CurrentThreadId();
  probe->ran = true;
  return 0;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume) {
  Probe probe;
  ThreadId id = 0;
  ThreadHandle thread = StartThread(&RunProbe, &probe, true, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  SleepMilliseconds(50);
  EXPECT_FALSE(probe.ran.load());
  ASSERT_TRUE(ResumeThread(thread));
  JoinThread(thread);
  CloseThreadHandle(thread);
  EXPECT_TRUE(probe.ran.load());
  EXPECT_EQ(probe.ranAs.load(), id);  // the id announced at the start is the thread's own
}

TEST(Threads, JoinWaitsForTheThreadAndIdsAreDistinct) {
  Probe first;
  Probe second;
  first.release = false;
  second.release = false;
  ThreadId firstId = 0;
  ThreadId secondId = 0;
  ThreadHandle a = StartThread(&RunProbe, &first, false, &firstId);
  ThreadHandle b = StartThread(&RunProbe, &second, false, &secondId);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(firstId, secondId);
  EXPECT_NE(firstId, CurrentThreadId());
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
  first.release = true;
  second.release = true;
  JoinThread(a);
  JoinThread(b);
  EXPECT_TRUE(first.ran.load());
  EXPECT_TRUE(second.ran.load());
  EXPECT_EQ(first.ranAs.load(), firstId);
  EXPECT_EQ(second.ranAs.load(), secondId);
  CloseThreadHandle(a);
  CloseThreadHandle(b);
}

TEST(Threads, ClosingTheHandleOfARunningThreadLetsItFinish) {
  Probe* probe = new Probe;  // outlives the handle; freed once the thread is done
  probe->release = false;
  ThreadHandle thread = StartThread(&RunProbe, probe, false, nullptr);
  ASSERT_NE(thread, nullptr);
  CloseThreadHandle(thread);
  probe->release = true;
  ASSERT_TRUE(WaitForFlag(probe->ran, 10000));
  delete probe;  // setting `ran` is the thread's last use of it
}

constexpr std::uint32_t kMsgWork = kMsgUser + 7;

struct Receiver {
  std::atomic<bool> queueReady{false};
  int firstResult = -1;
  ThreadMessage first;
  int secondResult = -1;
  ThreadMessage second;
  int quitResult = -1;
};

unsigned ReceiveMessages(void* argument) {
  Receiver* receiver = static_cast<Receiver*>(argument);
  EnsureThreadQueue();
  receiver->queueReady = true;
  receiver->firstResult = GetThreadMessage(&receiver->first);
  receiver->secondResult = GetThreadMessage(&receiver->second);
  ThreadMessage quit;
  receiver->quitResult = GetThreadMessage(&quit);
  return 0;
}

TEST(Threads, PostingToAThreadNeedsItsQueueAndQuitEndsTheGet) {
  Receiver receiver;
  ThreadId id = 0;
  ThreadHandle thread = StartThread(&ReceiveMessages, &receiver, true, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(PostThreadMessage(id, kMsgWork, 1, 2));  // no queue yet
  ASSERT_TRUE(ResumeThread(thread));
  ASSERT_TRUE(WaitForFlag(receiver.queueReady, 10000));
  EXPECT_TRUE(PostThreadMessage(id, kMsgWork, 11, 22));
  EXPECT_TRUE(PostThreadMessage(id, kMsgWork + 1, 33, -44));
  EXPECT_TRUE(PostThreadMessage(id, kMsgQuit, 0, 0));
  JoinThread(thread);
  CloseThreadHandle(thread);

  EXPECT_EQ(receiver.firstResult, 1);
  EXPECT_EQ(receiver.first.message, kMsgWork);
  EXPECT_EQ(receiver.first.wParam, 11u);
  EXPECT_EQ(receiver.first.lParam, 22);
  EXPECT_EQ(receiver.secondResult, 1);  // in the order posted
  EXPECT_EQ(receiver.second.message, kMsgWork + 1);
  EXPECT_EQ(receiver.second.wParam, 33u);
  EXPECT_EQ(receiver.second.lParam, -44);
  EXPECT_EQ(receiver.quitResult, 0);

  EXPECT_FALSE(PostThreadMessage(id, kMsgWork, 0, 0));  // the thread has ended
}

}  // namespace
}  // namespace platform
}  // namespace ambervox

namespace ambervox {
namespace {

#if GTEST_HAS_DEATH_TEST
// AssertHeld passes for the holder, also after a condition wait gave the
// lock up meanwhile, and ends the process for a thread that does not hold
// it: never taken, given up, or held by another thread.
TEST(Lock, AssertHeldPassesOnlyForTheHolder) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  Lock lock;
  std::condition_variable never;
  {
    LockHolder hold(lock);
    lock.AssertHeld();
    hold.WaitUntil(never, std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
    lock.AssertHeld();
    hold.Unlock();
    EXPECT_DEATH(lock.AssertHeld(), "does not hold the lock");
    hold.Relock();
  }
  EXPECT_DEATH(lock.AssertHeld(), "does not hold the lock");
  EXPECT_DEATH(
      {
        LockHolder hold(lock);
        std::thread other([&lock] { lock.AssertHeld(); });
        other.join();
      },
      "does not hold the lock");
}
#endif

}  // namespace
}  // namespace ambervox
