// FreePort: a TCP port that nothing listens on right now, so that no test
// depends on a fixed port and tests of several builds can run at once. It
// comes from below the systems' ephemeral ranges (Linux 32768-60999,
// Windows 49152-65535): no connect and no other program's bind to port 0
// can take it before the caller binds it, as they could a port the system
// chose. Tests that can, start their server with HttpServer::StartOnAnyPort
// instead.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <set>
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

// 0 when no port could be had. Never the same port twice in a process, so
// that no earlier server's closing connections linger on it.
inline std::uint16_t FreePort() {
  EnsureSocketLibrary();
  static std::set<std::uint16_t> given;
  static std::mt19937 pick(std::random_device{}() ^
                           static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> ports(20000, 32767);
  for (int i = 0; i < 1000; ++i) {
    const auto port = static_cast<std::uint16_t>(ports(pick));
    if (given.count(port) != 0) continue;
    platform::Socket s = platform::ListenTcp(port, 1);
    if (s == platform::kInvalidSocket) continue;
    platform::CloseSocket(s);
    given.insert(port);
    return port;
  }
  return 0;
}

}  // namespace testing
}  // namespace ambervox
