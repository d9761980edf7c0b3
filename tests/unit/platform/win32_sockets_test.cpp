// Windows-only checks of the sockets: Windows sockets start-up pairing, no
// second listener on a port in use (SO_EXCLUSIVEADDRUSE: not even one that
// sets SO_REUSEADDR), the port open again once closed, and time-outs given in
// Windows' own form.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/sockets.h"

namespace ambervox {
namespace platform {
namespace {

class Win32SocketsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error = "untouched";
    ASSERT_TRUE(SocketsStartup(&error));
    EXPECT_EQ("untouched", error);
  }
  void TearDown() override { SocketsCleanup(); }
};

// A listening socket on a port the system chooses. (Not through the shared
// helper, which starts the socket library once for good: these tests count
// the start-ups themselves.)
Socket ListenSomewhere(std::uint16_t* port) {
  Socket s = ListenTcp(0, 5);
  *port = s != kInvalidSocket ? LocalPort(s) : 0;
  return s;
}

TEST_F(Win32SocketsTest, NestedStartupsAreCountedAndGrantVersion11) {
  std::string error;
  ASSERT_TRUE(SocketsStartup(&error));  // a second, nested start-up
  SocketsCleanup();
  // The first start-up still holds the library.
  Socket s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(kInvalidSocket, static_cast<Socket>(s));
  closesocket(s);
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
  EXPECT_EQ(MAKEWORD(1, 1), data.wVersion);
  WSACleanup();
}

TEST_F(Win32SocketsTest, APortInUseCannotBeTakenOver) {
  std::uint16_t port = 0;
  Socket first = ListenSomewhere(&port);
  ASSERT_NE(kInvalidSocket, first);
  EXPECT_EQ(kInvalidSocket, ListenTcp(port, 5));
  Socket client = ConnectLoopback(port);
  ASSERT_NE(kInvalidSocket, client);
  std::string peer;
  Socket server = Accept(first, &peer);
  ASSERT_NE(kInvalidSocket, server);
  EXPECT_EQ("127.0.0.1", peer);
  // Not even with SO_REUSEADDR, which Windows otherwise lets share a port.
  SOCKET thief = socket(AF_INET, SOCK_STREAM, 0);
  BOOL on = TRUE;
  ASSERT_EQ(0, setsockopt(thief, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_NE(0, bind(thief, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  closesocket(thief);
  CloseSocket(server);
  CloseSocket(client);
  CloseSocket(first);
  // Once the listener and its connection are closed, the port opens again.
  Socket again = ListenTcp(port, 5);
  EXPECT_NE(kInvalidSocket, again);
  CloseSocket(again);
}

TEST_F(Win32SocketsTest, ReceiveTimeOutEndsAWaitWithTimedOut) {
  std::uint16_t port = 0;
  Socket listener = ListenSomewhere(&port);
  ASSERT_NE(kInvalidSocket, listener);
  Socket client = ConnectLoopback(port);
  ASSERT_NE(kInvalidSocket, client);
  std::string peer;
  Socket server = Accept(listener, &peer);
  ASSERT_NE(kInvalidSocket, server);
  ASSERT_TRUE(SetReceiveTimeout(server, 200));
  // A time-out given as a timeval would be read as 0 ms, "no time-out", and
  // this would wait for ever.
  char buffer[8];
  EXPECT_EQ(-1, Receive(server, buffer, sizeof buffer));
  EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
  DWORD value = 0;
  int length = sizeof value;
  ASSERT_EQ(0,
            getsockopt(static_cast<SOCKET>(server), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&value), &length));
  EXPECT_EQ(200u, value);
  CloseSocket(server);
  CloseSocket(client);
  CloseSocket(listener);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
