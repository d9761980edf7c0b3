// Sockets over Windows sockets 1.1.
#include "platform/win32/win32_api.h"

#include "platform/sockets.h"

namespace ambervox {
namespace platform {

namespace {

SOCKET ToSocket(Socket s) { return static_cast<SOCKET>(s); }
Socket FromSocket(SOCKET s) { return s == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(s); }

bool SetTimeout(Socket s, int option, int milliseconds) {
  // Windows takes the time-out as a DWORD of milliseconds (not a timeval).
  DWORD value = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
  return setsockopt(ToSocket(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// CancelIoEx exists from Windows Vista on; on older systems a blocked call
// ends only when the socket is closed.
using CancelIoExFunction = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
CancelIoExFunction FindCancelIoEx() {
  static const CancelIoExFunction function = reinterpret_cast<CancelIoExFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx")));
  return function;
}

}  // namespace

bool SocketsStartup(std::string* error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
    if (error) *error = "cannot find winsock.dll";
    return false;
  }
  // Only exactly 1.1 is accepted.
  if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != LOBYTE(data.wVersion)) {
    WSACleanup();
    if (error) *error = "winsock.dll is an old version";
    return false;
  }
  return true;
}

void SocketsCleanup() { WSACleanup(); }

static_assert(kMaxListenBacklog == SOMAXCONN, "the longest listen queue is asked for as SOMAXCONN");

Socket ListenTcp(std::uint16_t port, int backlog) {
  char hostName[1024];
  if (gethostname(hostName, sizeof hostName) != 0) return kInvalidSocket;
  hostName[sizeof hostName - 1] = '\0';
  const hostent* host = gethostbyname(hostName);
  if (!host) return kInvalidSocket;

  // The host entry gives only the family; the address stays INADDR_ANY so
  // that every local IPv4 address is served.
  sockaddr_in address = {};
  address.sin_family = static_cast<short>(host->h_addrtype);
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);

  // SO_EXCLUSIVEADDRUSE: no other program may bind the same port, even with
  // SO_REUSEADDR, and receive our listeners' connections. Windows may refuse
  // it while connections of an earlier listener on the port are still
  // closing (a restart after the settings dialog changed nothing but the
  // port back): then the port is bound as before, without the option.
  for (const bool exclusive : {true, false}) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    BOOL on = TRUE;
    if (exclusive &&
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
      closesocket(s);
      continue;
    }
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && listen(s, backlog) == 0) {
      return FromSocket(s);
    }
    const int error = WSAGetLastError();
    closesocket(s);
    // The second try, without the option, is for a port in use; it too
    // fails while another socket listens there, whatever options it set.
    if (error != WSAEADDRINUSE) return kInvalidSocket;
  }
  return kInvalidSocket;
}

std::uint16_t LocalPort(Socket s) {
  sockaddr_in address{};
  int size = sizeof address;
  if (getsockname(ToSocket(s), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

Socket Accept(Socket listener, std::string* peerAddress, bool* wouldBlock) {
  if (wouldBlock != nullptr) *wouldBlock = false;
  sockaddr_in address = {};
  int length = sizeof address;
  SOCKET s = accept(ToSocket(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET && wouldBlock != nullptr) *wouldBlock = WSAGetLastError() == WSAEWOULDBLOCK;
  // A socket accepted from a non-blocking listening socket is non-blocking
  // too; the connection's time-outs need a blocking one.
  u_long blocking = 0;
  if (s != INVALID_SOCKET && ioctlsocket(s, FIONBIO, &blocking) != 0) {
    closesocket(s);
    s = INVALID_SOCKET;
  }
  if (peerAddress) {
    peerAddress->clear();
    if (s != INVALID_SOCKET) {
      // inet_ntoa's buffer belongs to the calling thread.
      const char* text = inet_ntoa(address.sin_addr);
      if (text) *peerAddress = text;
    }
  }
  return FromSocket(s);
}

bool SetNonBlocking(Socket s) {
  u_long nonBlocking = 1;
  return ioctlsocket(ToSocket(s), FIONBIO, &nonBlocking) == 0;
}

int WaitReadable(Socket s, int milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(ToSocket(s), &readable);
  timeval limit = {};
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = (milliseconds % 1000) * 1000;
  const int n = select(0, &readable, nullptr, nullptr, &limit);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

int Receive(Socket s, char* buffer, int length) {
  int n = recv(ToSocket(s), buffer, length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int WaitForBytes(Socket s, int milliseconds) {
  // A blocking receive that takes nothing: the wait that a shutdown's
  // cancelling ends (a select or WSAPoll would go on waiting).
  if (!SetTimeout(s, SO_RCVTIMEO, milliseconds)) return -1;
  char byte = 0;
  const int n = recv(ToSocket(s), &byte, 1, MSG_PEEK);
  return n == SOCKET_ERROR ? -1 : n;
}

bool HasUnreadBytes(Socket s) {
  u_long pending = 0;
  return ioctlsocket(ToSocket(s), FIONREAD, &pending) == 0 && pending > 0;
}

int Send(Socket s, const char* data, int length) {
  int n = send(ToSocket(s), data, length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool SetReceiveTimeout(Socket s, int milliseconds) { return SetTimeout(s, SO_RCVTIMEO, milliseconds); }
bool SetSendTimeout(Socket s, int milliseconds) { return SetTimeout(s, SO_SNDTIMEO, milliseconds); }

void ShutdownBoth(Socket s) {
  shutdown(ToSocket(s), SD_BOTH);
  // A Windows shutdown leaves a recv or send that another thread is blocked
  // in waiting (for the peer, or for ever); cancelling the socket's I/O makes
  // it fail as it does on POSIX systems.
  if (CancelIoExFunction cancel = FindCancelIoEx()) cancel(reinterpret_cast<HANDLE>(ToSocket(s)), nullptr);
}
void CloseSocket(Socket s) { closesocket(ToSocket(s)); }

Socket ConnectLoopback(std::uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return kInvalidSocket;
  }
  return FromSocket(s);
}

}  // namespace platform
}  // namespace ambervox
