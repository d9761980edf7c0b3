// HttpServer: the socket library's start-up, the listening socket and the
// connection threads (http/connection_threads.h, which describes the thread
// model) that run a RequestHandler on every client, one request per
// connection.
//
// Owned by the plug-in (one instance for the library's lifetime; tests make
// as many as they like). Start and Stop run on the host's user-interface
// thread and alternate any number of times; each successful Start pairs one
// socket-library start-up with the clean-up of the next Stop. Stop's waits
// keep handling messages sent to that thread's windows, because a connection
// thread may be blocked in a synchronous message to the player's window,
// which only that thread answers.
#pragma once

#include <string>

#include "http/connection_threads.h"
#include "http/request_handler.h"
#include "http/server_limits.h"
#include "platform/sockets.h"
#include "platform/threads.h"

namespace ambervox {

// The operating-system services the server depends on. Tests replace single
// entries to make them fail or to watch them; the product uses the defaults.
struct HttpServerServices {
  bool (*socketsStartup)(std::string* error) = &platform::SocketsStartup;
  void (*socketsCleanup)() = &platform::SocketsCleanup;
  // Every thread of the server is started through it; only connection
  // threads are started suspended.
  platform::ThreadHandle (*startThread)(platform::ThreadProc proc, void* argument, bool suspended,
                                        platform::ThreadId* id) = &platform::StartThread;
  // What every connection sends through.
  int (*connectionSend)(platform::Socket socket, const char* data, int length) = &platform::Send;
};

class HttpServer {
 public:
  // `handler` answers every connection; not owned, it must outlive the
  // server.
  explicit HttpServer(RequestHandler& handler, const ServerLimits& limits = ServerLimits(),
                      const HttpServerServices& services = HttpServerServices());
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts serving on `port` (1-65535). False, doing nothing, when already
  // running; false, leaving the server stopped, when the port is out of
  // range, the socket library cannot be started ("Socket error: %s\n" on
  // standard output), the port cannot be opened or a thread cannot be
  // started. User-interface thread only.
  bool Start(int port);
  // As Start, on a port that the system chooses among the free ones; Port
  // tells which. For tests and tools, which must not depend on a fixed port.
  bool StartOnAnyPort();
  // The port the server listens on; 0 when it is not running.
  int Port() const { return running_ ? port_ : 0; }
  // Closes every connection, waits until every thread has ended and been
  // joined. False, doing nothing, when not running. User-interface thread
  // only.
  bool Stop();

  bool IsRunning() const { return running_; }
  // Connections registered and not yet destroyed. Any thread.
  int ConnectionCount() const { return threads_.ConnectionCount(); }
  // Connection threads started and not yet joined, parked ones included.
  // Any thread.
  int ConnectionThreadCount() const { return threads_.ThreadCount(); }

 private:
  // Start's work: `port` 0 is any free port, kNoPort none.
  bool Listen(int port);

  const ServerLimits limits_;
  const HttpServerServices services_;
  ConnectionThreads threads_;
  bool running_ = false;  // user-interface thread only
  int port_ = 0;          // user-interface thread only
};

}  // namespace ambervox
