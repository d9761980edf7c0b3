// TCP sockets over BSD sockets. A Socket is the file descriptor.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sockets.h"

namespace ambervox {
namespace platform {
namespace {

int Fd(Socket s) { return static_cast<int>(s); }

bool SetTimeout(Socket s, int option, int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  return setsockopt(Fd(s), SOL_SOCKET, option, &value, sizeof value) == 0;
}

// One poll for input on `s`: 1 with the events seen in `*events`, 0 when
// the time ran out, -1 on an error. An interrupted poll is made again.
int PollForInput(Socket s, int milliseconds, short* events) {
  pollfd entry{};
  entry.fd = Fd(s);
  entry.events = POLLIN;
  for (;;) {
    const int n = poll(&entry, 1, milliseconds);
    if (n < 0 && errno == EINTR) continue;
    *events = entry.revents;
    return n < 0 ? -1 : n;
  }
}

}  // namespace

bool SocketsStartup(std::string*) { return true; }

void SocketsCleanup() {}

Socket ListenTcp(std::uint16_t port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kInvalidSocket;
  // Lets a server restart on its port while old connections linger in
  // TIME_WAIT, as Windows allows; a port with a live listener still fails.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return kInvalidSocket;
  }
  return fd;
}

std::uint16_t LocalPort(Socket s) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

Socket Accept(Socket listener, std::string* peerAddress, bool* wouldBlock) {
  if (wouldBlock != nullptr) *wouldBlock = false;
  for (;;) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    // Linux: the accepted socket does not inherit O_NONBLOCK.
    int fd = accept(Fd(listener), reinterpret_cast<sockaddr*>(&address), &size);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (wouldBlock != nullptr) *wouldBlock = errno == EAGAIN || errno == EWOULDBLOCK;
      return kInvalidSocket;
    }
    if (peerAddress != nullptr) {
      char text[INET_ADDRSTRLEN] = "";
      if (address.sin_family != AF_INET || inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) {
        text[0] = '\0';
      }
      *peerAddress = text;
    }
    return fd;
  }
}

bool SetNonBlocking(Socket s) {
  const int flags = fcntl(Fd(s), F_GETFL);
  return flags >= 0 && fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

int WaitReadable(Socket s, int milliseconds) {
  short events = 0;
  const int n = PollForInput(s, milliseconds, &events);
  if (n <= 0) return n;
  return (events & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? -1 : 1;
}

int Receive(Socket s, char* buffer, int length) {
  if (length < 0) return -1;
  for (;;) {
    ssize_t n = recv(Fd(s), buffer, static_cast<std::size_t>(length), 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}

int WaitForBytes(Socket s, int milliseconds) {
  // poll takes the time-out itself (no socket option to set first), and a
  // shutdown from another thread wakes it. A hang-up answers 1: the receive
  // that follows reports the close.
  short events = 0;
  if (PollForInput(s, milliseconds, &events) <= 0) return -1;
  return (events & POLLNVAL) != 0 ? -1 : 1;
}

bool HasUnreadBytes(Socket s) {
  int pending = 0;
  return ioctl(Fd(s), FIONREAD, &pending) == 0 && pending > 0;
}

int Send(Socket s, const char* data, int length) {
  if (length < 0) return -1;
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away is an error result, not SIGPIPE.
    ssize_t n = send(Fd(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}

bool SetReceiveTimeout(Socket s, int milliseconds) { return SetTimeout(s, SO_RCVTIMEO, milliseconds); }

bool SetSendTimeout(Socket s, int milliseconds) { return SetTimeout(s, SO_SNDTIMEO, milliseconds); }

void ShutdownBoth(Socket s) {
  if (s != kInvalidSocket) shutdown(Fd(s), SHUT_RDWR);
}

void CloseSocket(Socket s) {
  if (s == kInvalidSocket) return;
  // Closing a descriptor does not wake an accept() blocked on it in another
  // thread on Linux, as closesocket does on Windows; shutting it down does,
  // which every owner does first (ShutdownBoth).
  close(Fd(s));
}

Socket ConnectLoopback(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kInvalidSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return kInvalidSocket;
  }
  return fd;
}

}  // namespace platform
}  // namespace ambervox
