// ConnectionThreads on a real loopback listening socket, with a handler of
// the test's own: a thread leads and serves client after client, a burst
// starts threads that then park, idle threads end and are reaped, Stop ends
// a leader and parked threads without waiting for their idle time, and a
// full set of threads makes room by closing the slowest reader.
#include "http/connection_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/expect_finishes.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

using testing::CloseClient;
using testing::ConnectClient;
using testing::Exchange;
using testing::ReceiveAll;
using testing::SendText;
using testing::WaitUntil;

// Connection threads are the only ones started suspended.
std::atomic<int> g_connectionThreadsStarted{0};
platform::ThreadHandle CountingStartThread(platform::ThreadProc proc, void* argument, bool suspended,
                                           platform::ThreadId* id) {
  if (suspended) ++g_connectionThreadsStarted;
  return platform::StartThread(proc, argument, suspended, id);
}

// Answers "ok" to every connection, once the gate is open; the first
// connection after StreamToFirst instead gets bytes without end, until a send
// fails.
class GatedHandler : public RequestHandler {
 public:
  void AnswerConnection(HttpConnection& connection) override {
    ++entered;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      opened_.wait(hold, [this] { return open_; });
    }
    if (streamToFirst.exchange(false)) {
      Stream(connection);
      return;
    }
    connection.SendAll("ok", 2);
  }
  void SetOpen(bool open) {
    std::lock_guard<std::mutex> hold(mutex_);
    open_ = open;
    opened_.notify_all();
  }

  std::atomic<int> entered{0};
  std::atomic<bool> streamToFirst{false};
  std::atomic<bool> streamEnded{false};

 private:
  void Stream(HttpConnection& connection) {
    connection.StartAnswer();
    const std::string chunk(64 * 1024, 'x');
    // Bounded, so that a fault shows as a failed expectation, not a hang.
    for (int i = 0; i < 4096 && connection.SendAll(chunk.data(), static_cast<int>(chunk.size())); ++i) {
    }
    streamEnded = true;
  }

  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = true;
};

class ConnectionThreadsTest : public ::testing::Test {
 protected:
  // Threads with `limits` on a new listening socket; false when either
  // cannot be had.
  bool Start(const ServerLimits& limits) {
    g_connectionThreadsStarted = 0;
    ConnectionThreadServices services;
    services.startThread = &CountingStartThread;
    threads_ = std::make_unique<ConnectionThreads>(handler_, limits, services);
    return Restart();
  }
  // Start again after a Stop, on a new listening socket.
  bool Restart() {
    platform::ScopedSocket listening(testing::ListenOnFreePort(&port_, 64));
    if (!listening.IsValid() || !platform::SetNonBlocking(listening.Get())) return false;
    return threads_->Start(std::move(listening));
  }
  // Opens `count` connections at once with the gate closed, so that each
  // holds a thread of its own, then opens it: true when every one is
  // answered.
  bool ServeAtOnce(int count) {
    handler_.SetOpen(false);
    std::vector<platform::Socket> clients;
    for (int i = 0; i < count; ++i) clients.push_back(ConnectClient(port_));
    bool all = WaitUntil([&] { return threads_->ConnectionCount() == count; });
    handler_.SetOpen(true);
    for (platform::Socket s : clients) {
      all = ReceiveAll(s) == "ok" && all;
      CloseClient(s);
    }
    return all;
  }
  void StopFinishing(const char* suspect) {
    testing::ExpectFinishes("Stop", suspect, [this] { threads_->Stop(); });
    EXPECT_EQ(threads_->ConnectionCount(), 0);
    EXPECT_EQ(threads_->ThreadCount(), 0);
  }

  GatedHandler handler_;
  std::unique_ptr<ConnectionThreads> threads_;
  std::uint16_t port_ = 0;
};

// One thread leads and serves one client after another itself; a burst
// starts a thread per client, which then lead or park; idle threads end and
// the reaper joins them; the next client gets a new thread.
TEST_F(ConnectionThreadsTest, LeadParkAndReap) {
  ServerLimits limits;
  limits.parkedThreadIdleMilliseconds = 1000;
  ASSERT_TRUE(Start(limits));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange(port_, ""), "ok") << i;
  EXPECT_EQ(g_connectionThreadsStarted, 1);
  EXPECT_EQ(threads_->ThreadCount(), 1);

  EXPECT_TRUE(ServeAtOnce(3));
  EXPECT_EQ(g_connectionThreadsStarted, 3);  // the one that led, and two more
  // One leads, the others park.
  EXPECT_TRUE(WaitUntil([&] { return threads_->ParkedCount() == 2; }));
  EXPECT_EQ(threads_->ThreadCount(), 3);

  EXPECT_TRUE(WaitUntil([&] { return threads_->ThreadCount() == 0; }));
  EXPECT_EQ(threads_->ParkedCount(), 0);
  EXPECT_EQ(Exchange(port_, ""), "ok");
  EXPECT_EQ(g_connectionThreadsStarted, 4);
  StopFinishing("the leader did not end");
}

// Stop wakes the leader and the parked threads at once (their idle time is
// ten minutes), joins them all, and the threads start again afterwards.
TEST_F(ConnectionThreadsTest, StopEndsTheLeaderAndTheParkedThreads) {
  ServerLimits limits;
  limits.parkedThreadIdleMilliseconds = 10 * 60 * 1000;
  ASSERT_TRUE(Start(limits));
  EXPECT_EQ(Exchange(port_, ""), "ok");
  EXPECT_EQ(threads_->ThreadCount(), 1);  // it leads, nothing is parked
  EXPECT_EQ(threads_->ParkedCount(), 0);
  StopFinishing("the leading thread was not ended");

  ASSERT_TRUE(Restart());
  EXPECT_TRUE(ServeAtOnce(4));
  EXPECT_TRUE(WaitUntil([&] { return threads_->ParkedCount() == 3; }));
  StopFinishing("a parked thread was not woken");
  EXPECT_EQ(g_connectionThreadsStarted, 5);
}

// Every thread taken by an answer whose client reads nothing: the next
// client gets that thread once the answer has stalled long enough, and the
// stalled answer ends.
TEST_F(ConnectionThreadsTest, AFullSetClosesTheSlowestReaderForTheNextClient) {
  ServerLimits limits;
  limits.maxConnectionThreads = 1;
  limits.evictAfterSendStallMilliseconds = 200;
  limits.evictAfterHeadWaitMilliseconds = 60 * 1000;  // the reader's head is never read
  limits.sendStallMilliseconds = 60 * 1000;           // the answer alone would wait a minute
  ASSERT_TRUE(Start(limits));
  handler_.streamToFirst = true;
  platform::Socket reader = ConnectClient(port_);
  ASSERT_TRUE(WaitUntil([&] { return handler_.entered.load() == 1; }));

  platform::Socket next = ConnectClient(port_);
  EXPECT_EQ(ReceiveAll(next), "ok");
  EXPECT_TRUE(handler_.streamEnded.load());
  EXPECT_EQ(g_connectionThreadsStarted, 1);
  CloseClient(next);
  CloseClient(reader);
  StopFinishing("the stalled answer did not end");
}

}  // namespace
}  // namespace ambervox
