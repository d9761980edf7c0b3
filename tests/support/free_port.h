// FreePort: a TCP port that nothing listens on right now, chosen by the
// system (a listening socket bound to port 0, then closed), so that no test
// depends on a fixed port and tests of several builds can run at once.
// Another program may take the port before the caller binds it; tests that
// can, start their server with HttpServer::StartOnAnyPort instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace ambervox {
namespace testing {

// Windows sockets must be started before a test's own sockets are made (a
// server's Start/Stop pair its own start-up and clean-up). Started once,
// left running until the process ends.
inline void EnsureSocketLibrary() {
  static const bool started = [] {
    std::string error;
    return platform::SocketsStartup(&error);
  }();
  (void)started;
}

// A socket listening on a port the system chose; `port` receives it.
inline platform::Socket ListenOnFreePort(std::uint16_t* port, int backlog = 5) {
  EnsureSocketLibrary();
  platform::Socket s = platform::ListenTcp(0, backlog);
  *port = s != platform::kInvalidSocket ? platform::LocalPort(s) : 0;
  return s;
}

// 0 when no port could be had.
inline std::uint16_t FreePort() {
  std::uint16_t port = 0;
  platform::Socket s = ListenOnFreePort(&port, 1);
  if (s != platform::kInvalidSocket) platform::CloseSocket(s);
  return port;
}

}  // namespace testing
}  // namespace ambervox
