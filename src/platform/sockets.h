// Sockets: the TCP services the HTTP server needs, over Windows sockets on
// Win32 and BSD sockets on POSIX. Stateless; every call may be made from any
// thread. A socket is closed exactly once by its owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ambervox {
namespace platform {

using Socket = std::intptr_t;
constexpr Socket kInvalidSocket = -1;

// Starts the socket library (Win32: WSAStartup for version 1.1). On failure
// returns false and sets `error` to "cannot find winsock.dll" or
// "winsock.dll is an old version". Each successful call is paired with one
// SocketsCleanup. POSIX: always succeeds.
bool SocketsStartup(std::string* error);
void SocketsCleanup();

// The backlog that asks ListenTcp for the longest listen queue the system
// allows: Windows takes this value as SOMAXCONN (the provider's maximum),
// and POSIX systems cap any larger backlog at their own limit (Linux:
// net.core.somaxconn).
constexpr int kMaxListenBacklog = 0x7FFFFFFF;

// Opens a TCP listening socket on every local IPv4 address at `port` with the
// given backlog. Returns kInvalidSocket when the socket cannot be created or
// bound (port in use) or the host's name cannot be resolved.
Socket ListenTcp(std::uint16_t port, int backlog);

// The local port a socket is bound to (after ListenTcp on port 0: the port
// the system chose); 0 when it cannot be told.
std::uint16_t LocalPort(Socket s);

// Blocks until a client connects. Returns kInvalidSocket on failure (also
// when another thread shuts the listening socket down and closes it).
// `peerAddress` receives the client's dotted IPv4 text ("" if unknown).
// On a listening socket made non-blocking (SetNonBlocking) it returns at
// once: kInvalidSocket with `*wouldBlock` true when no client waits. The
// socket it returns is blocking either way.
Socket Accept(Socket listener, std::string* peerAddress, bool* wouldBlock = nullptr);

// Makes Accept on the listening socket `s` return at once when no client
// waits. False when the mode cannot be set.
bool SetNonBlocking(Socket s);

// Waits at most `milliseconds` for `s` to have a client waiting (a
// listening socket) or bytes to read: 1 when it has, 0 on time-out, -1 on
// failure (for example, `s` was shut down or closed).
int WaitReadable(Socket s, int milliseconds);

// recv/send without flags: bytes transferred, 0 when the peer closed
// (Receive), or -1 on failure or time-out.
int Receive(Socket s, char* buffer, int length);
int Send(Socket s, const char* data, int length);

// Waits at most `milliseconds` until a Receive on `s` would not wait,
// without taking anything: 1 then (bytes have arrived, or the peer closed
// and Receive will say so), 0 when the peer closed, -1 on failure or
// time-out. A shutdown of `s` from another thread ends the wait.
int WaitForBytes(Socket s, int milliseconds);

// True when bytes have arrived on `s` that no Receive has taken yet.
bool HasUnreadBytes(Socket s);

// Time-outs for later Receive/Send calls; 0 means none. A call that times out
// returns -1.
bool SetReceiveTimeout(Socket s, int milliseconds);
bool SetSendTimeout(Socket s, int milliseconds);

// Shuts both directions down, which makes a Receive/Send blocked in another
// thread fail. A blocked Accept is only sure to end when the listening socket
// is closed as well (Win32 refuses to shut a listening socket down), so a
// listener is stopped by ShutdownBoth followed by CloseSocket.
void ShutdownBoth(Socket s);
void CloseSocket(Socket s);

// Client side, for tests and tools: connects to 127.0.0.1:port.
Socket ConnectLoopback(std::uint16_t port);

// ScopedSocket: the one owner of a socket. It shuts the socket down in both
// directions and closes it when it goes, or when Close is called; Release
// hands the socket to another owner. Moves, never copies. Its operations
// are not locked: one thread owns it, although Shutdown may be called from
// another thread while the owner still uses the socket (see ShutdownBoth).
class ScopedSocket {
 public:
  ScopedSocket() = default;
  explicit ScopedSocket(Socket socket) : socket_(socket) {}
  ~ScopedSocket() { Close(); }
  ScopedSocket(ScopedSocket&& other) noexcept : socket_(other.Release()) {}
  ScopedSocket& operator=(ScopedSocket&& other) noexcept {
    if (this != &other) {
      Close();
      socket_ = other.Release();
    }
    return *this;
  }
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;

  Socket Get() const { return socket_; }
  bool IsValid() const { return socket_ != kInvalidSocket; }
  // Makes a pending or later receive, send or accept on it fail, without
  // closing it.
  void Shutdown() const {
    if (IsValid()) ShutdownBoth(socket_);
  }
  // Shuts it down and closes it; nothing when it holds no socket.
  void Close() {
    if (!IsValid()) return;
    ShutdownBoth(socket_);
    CloseSocket(socket_);
    socket_ = kInvalidSocket;
  }
  Socket Release() {
    Socket socket = socket_;
    socket_ = kInvalidSocket;
    return socket;
  }

 private:
  Socket socket_ = kInvalidSocket;
};

}  // namespace platform
}  // namespace ambervox
