// Sockets over loopback: an exchange between ListenTcp/ConnectLoopback and
// Accept (with the head reader's wait, which takes nothing), time-outs, unblocking a blocked Accept or Receive from
// another thread, a busy port, and listening again on a port just used.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/sockets.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "support/free_port.h"

namespace ambervox {
namespace platform {
namespace {

bool WaitForFlag(const std::atomic<bool>& flag, unsigned milliseconds) {
  for (unsigned waited = 0; !flag.load() && waited < milliseconds; waited += 5) SleepMilliseconds(5);
  return flag.load();
}

class SocketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(SocketsStartup(&error)) << error;
  }
  void TearDown() override { SocketsCleanup(); }

  // Listens on a port the system chooses (tests of other builds may run at
  // the same time on this machine).
  static Socket ListenOnFreePort(std::uint16_t* port) { return testing::ListenOnFreePort(port); }

  // A listener and one connection through it: the client's and the
  // server's end. Use with ASSERT_NO_FATAL_FAILURE.
  static void Connect(Socket* listener, Socket* client, Socket* server) {
    std::uint16_t port = 0;
    *listener = ListenOnFreePort(&port);
    ASSERT_NE(*listener, kInvalidSocket);
    *client = ConnectLoopback(port);
    ASSERT_NE(*client, kInvalidSocket);
    *server = Accept(*listener, nullptr);
    ASSERT_NE(*server, kInvalidSocket);
  }

  // Receives exactly `length` bytes (or less if the peer ends).
  static std::string ReceiveBytes(Socket s, int length) {
    std::string text;
    char buffer[256];
    while (static_cast<int>(text.size()) < length) {
      int n = Receive(s, buffer, length - static_cast<int>(text.size()));
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
};

TEST_F(SocketsTest, LoopbackExchangeReportsThePeerAddress) {
  std::uint16_t port = 0;
  Socket listener = ListenOnFreePort(&port);
  ASSERT_NE(listener, kInvalidSocket);
  Socket client = ConnectLoopback(port);
  ASSERT_NE(client, kInvalidSocket);
  std::string peer = "unset";
  Socket server = Accept(listener, &peer);
  ASSERT_NE(server, kInvalidSocket);
  EXPECT_EQ(peer, "127.0.0.1");

  // The head reader's calls: a wait that takes nothing, then the bytes.
  EXPECT_EQ(Send(client, "GET / HTTP/1.0\r\n\r\n", 18), 18);
  EXPECT_EQ(WaitForBytes(server, 10000), 1);
  EXPECT_TRUE(HasUnreadBytes(server));
  EXPECT_EQ(ReceiveBytes(server, 18), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_FALSE(HasUnreadBytes(server));
  EXPECT_EQ(Send(server, "HTTP/1.0 200 OK\r\n", 17), 17);
  EXPECT_EQ(ReceiveBytes(client, 17), "HTTP/1.0 200 OK\r\n");

  CloseSocket(client);
  char byte;
  EXPECT_EQ(Receive(server, &byte, 1), 0);  // the peer closed
  CloseSocket(server);
  CloseSocket(listener);
}

TEST_F(SocketsTest, ReceiveTimeOutFails) {
  Socket listener = kInvalidSocket, client = kInvalidSocket, server = kInvalidSocket;
  ASSERT_NO_FATAL_FAILURE(Connect(&listener, &client, &server));
  ASSERT_TRUE(SetReceiveTimeout(server, 200));
  ASSERT_TRUE(SetSendTimeout(server, 200));
  char buffer[16];
  EXPECT_EQ(Receive(server, buffer, sizeof buffer), -1);  // nothing was sent
  EXPECT_EQ(WaitForBytes(server, 200), -1);
  CloseSocket(client);
  CloseSocket(server);
  CloseSocket(listener);
}

struct BlockedCall {
  Socket socket = kInvalidSocket;
  std::atomic<bool> done{false};
  std::atomic<std::intptr_t> result{-2};
};

unsigned AcceptOnce(void* argument) {
  BlockedCall* call = static_cast<BlockedCall*>(argument);
  call->result = Accept(call->socket, nullptr);
  call->done = true;
  return 0;
}

unsigned ReceiveOnce(void* argument) {
  BlockedCall* call = static_cast<BlockedCall*>(argument);
  char buffer[16];
  call->result = Receive(call->socket, buffer, sizeof buffer);
  call->done = true;
  return 0;
}

unsigned WaitForBytesOnce(void* argument) {
  BlockedCall* call = static_cast<BlockedCall*>(argument);
  call->result = WaitForBytes(call->socket, 60000);
  call->done = true;
  return 0;
}

TEST_F(SocketsTest, ShuttingTheListenerDownEndsABlockedAccept) {
  std::uint16_t port = 0;
  Socket listener = ListenOnFreePort(&port);
  ASSERT_NE(listener, kInvalidSocket);
  BlockedCall call;
  call.socket = listener;
  ThreadHandle thread = StartThread(&AcceptOnce, &call, false, nullptr);
  ASSERT_NE(thread, nullptr);
  SleepMilliseconds(100);
  EXPECT_FALSE(call.done.load());
  // As the server stops: shut down both directions, then close.
  ShutdownBoth(listener);
  CloseSocket(listener);
  bool ended = WaitForFlag(call.done, 10000);
  EXPECT_TRUE(ended);
  if (!ended) {
    CloseSocket(ConnectLoopback(port));  // let the thread go before failing
    WaitForFlag(call.done, 10000);
  }
  JoinThread(thread);
  CloseThreadHandle(thread);
  EXPECT_EQ(call.result.load(), kInvalidSocket);
}

// How the server closes a connection whose thread waits for its head.
TEST_F(SocketsTest, ShutdownFromAnotherThreadEndsABlockedReceiveOrWait) {
  for (ThreadProc blocked : {&ReceiveOnce, &WaitForBytesOnce}) {
    Socket listener = kInvalidSocket, client = kInvalidSocket, server = kInvalidSocket;
    ASSERT_NO_FATAL_FAILURE(Connect(&listener, &client, &server));
    BlockedCall call;
    call.socket = server;
    ThreadHandle thread = StartThread(blocked, &call, false, nullptr);
    ASSERT_NE(thread, nullptr);
    SleepMilliseconds(100);
    EXPECT_FALSE(call.done.load());
    ShutdownBoth(server);
    bool ended = WaitForFlag(call.done, 10000);
    EXPECT_TRUE(ended);
    if (!ended) {
      Send(client, "x", 1);  // let the thread go before failing
      WaitForFlag(call.done, 10000);
    }
    JoinThread(thread);
    CloseThreadHandle(thread);
    // Ended by the shutdown: a receive that follows takes no byte.
    char byte = 0;
    EXPECT_LE(call.result.load() == 1 ? Receive(server, &byte, 1) : call.result.load(), 0);
    CloseSocket(server);
    CloseSocket(client);
    CloseSocket(listener);
  }
}

TEST_F(SocketsTest, ABusyPortCannotBeListenedOnButAFreedOneCan) {
  std::uint16_t port = 0;
  Socket listener = ListenOnFreePort(&port);
  ASSERT_NE(listener, kInvalidSocket);
  EXPECT_EQ(ListenTcp(port, 5), kInvalidSocket);

  // After a connection the server side closed first (so its end lingers in
  // TIME_WAIT), a restarted server gets the port again.
  Socket client = ConnectLoopback(port);
  ASSERT_NE(client, kInvalidSocket);
  Socket server = Accept(listener, nullptr);
  ASSERT_NE(server, kInvalidSocket);
  EXPECT_EQ(Send(server, "bye", 3), 3);
  ShutdownBoth(server);
  CloseSocket(server);
  EXPECT_EQ(ReceiveBytes(client, 3), "bye");
  CloseSocket(client);
  ShutdownBoth(listener);
  CloseSocket(listener);

  Socket again = ListenTcp(port, 5);
  EXPECT_NE(again, kInvalidSocket);
  CloseSocket(again);
}

TEST_F(SocketsTest, ConnectingToAPortWithoutListenerFails) {
  std::uint16_t port = 0;
  Socket listener = ListenOnFreePort(&port);
  ASSERT_NE(listener, kInvalidSocket);
  CloseSocket(listener);
  EXPECT_EQ(ConnectLoopback(port), kInvalidSocket);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
