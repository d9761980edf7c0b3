#include "http/http_server.h"

#include <cstdio>
#include <mutex>
#include <new>

#include "http/http_connection.h"
#include "platform/window.h"

namespace ambervox {
namespace {

// How often a connection thread tries to post itself to the reaper before it
// cleans up after itself, and the pause between tries. A post fails only
// while the reaper's queue is full, which clears quickly.
constexpr int kPostAttempts = 100;
constexpr unsigned kPostRetryMilliseconds = 1;
// Pause before the listener accepts again after a failed accept that was not
// caused by Stop (for example when the process is out of descriptors).
constexpr unsigned kAcceptRetryMilliseconds = 10;

// Lets a condition variable wait on a Lock.
class LockAdapter {
 public:
  explicit LockAdapter(Lock& target) : target_(target) {}
  void lock() NO_THREAD_SAFETY_ANALYSIS { target_.Enter(); }
  void unlock() NO_THREAD_SAFETY_ANALYSIS { target_.Leave(); }

 private:
  Lock& target_;
};

}  // namespace

HttpServer::HttpServer(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits,
                       const HttpServerServices& services)
    : requestQueue_(queue), settings_(settings), limits_(limits), services_(services) {}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::ConnectionCount() const {
  LockHolder hold(connectionsLock_);
  return static_cast<int>(connections_.size());
}

bool HttpServer::Start(int port) {
  if (running_) return false;
  std::string error;
  if (!services_.socketsStartup(&error)) {
    // Without a socket library there is no server, but the player goes on.
    std::printf("Socket error: %s\n", error.c_str());
    std::fflush(stdout);
    return false;
  }
  if (port >= 1 && port <= 65535) {
    listenSocket_ = platform::ListenTcp(static_cast<std::uint16_t>(port), limits_.listenBacklog);
  }
  if (listenSocket_ == platform::kInvalidSocket) {
    services_.socketsCleanup();
    return false;
  }
  stopping_ = false;

  // The reaper first: every connection is attached with its thread id, so
  // it must be known and its queue ready before the first accept.
  reaperThread_ = services_.startThread(&ReaperThread, this, false, &reaperThreadId_);
  if (reaperThread_ == nullptr) {
    platform::CloseSocket(listenSocket_);
    listenSocket_ = platform::kInvalidSocket;
    services_.socketsCleanup();
    return false;
  }
  while (!services_.postThreadMessage(reaperThreadId_, platform::kMsgNull, 0, 0)) {
    platform::SleepMilliseconds(1);
  }
  listenerThread_ = services_.startThread(&ListenerThread, this, false, &listenerThreadId_);
  if (listenerThread_ == nullptr) {
    EndReaper();
    platform::CloseSocket(listenSocket_);
    listenSocket_ = platform::kInvalidSocket;
    services_.socketsCleanup();
    return false;
  }
  running_ = true;
  return true;
}

bool HttpServer::Stop() {
  if (!running_) return false;
  // The listener ends first, so that no connection registers after the
  // sweep below and keeps Stop waiting for a client that came too late.
  EndListener();
  {
    LockHolder hold(connectionsLock_);
    for (HttpConnection* connection : connections_) connection->ShutdownSocket();
  }
  for (;;) {
    {
      LockHolder hold(connectionsLock_);
      if (connections_.empty()) break;
    }
    // At process exit the system has ended every other thread: no reaper
    // will empty the set, so waiting for it would never end.
    if (platform::HasThreadEnded(reaperThread_)) break;
    platform::SleepHandlingMessages(1);
  }
  EndReaper();
  services_.socketsCleanup();
  running_ = false;
  return true;
}

void HttpServer::EndListener() {
  {
    LockHolder hold(connectionsLock_);
    stopping_ = true;
  }
  slotFreed_.notify_all();
  // Shutting the socket down wakes a blocked accept on POSIX, closing it
  // does on Windows. The listener looks at `stopping_` after every failed
  // accept and never accepts again.
  // The listener reads `listenSocket_` until it ends, so the field is
  // cleared only after the join.
  platform::ShutdownBoth(listenSocket_);
  platform::CloseSocket(listenSocket_);
  platform::JoinThreadHandlingMessages(listenerThread_);
  platform::CloseThreadHandle(listenerThread_);
  listenerThread_ = nullptr;
  listenSocket_ = platform::kInvalidSocket;
}

void HttpServer::EndReaper() {
  while (!services_.postThreadMessage(reaperThreadId_, platform::kMsgQuit, 0, 0) &&
         !platform::HasThreadEnded(reaperThread_)) {
    platform::SleepHandlingMessages(1);
  }
  platform::JoinThreadHandlingMessages(reaperThread_);
  platform::CloseThreadHandle(reaperThread_);
  reaperThread_ = nullptr;
}

unsigned HttpServer::ListenerThread(void* server) {
  try {
    static_cast<HttpServer*>(server)->Listen();
  } catch (...) {
    // Nothing escapes a thread procedure; the listener just ends.
  }
  return 0;
}

unsigned HttpServer::ReaperThread(void* server) {
  try {
    static_cast<HttpServer*>(server)->Reap();
  } catch (...) {
    // Reaping throws nothing; this only keeps the thread procedure sealed.
  }
  return 0;
}

unsigned HttpServer::ConnectionThread(void* argument) {
  HttpConnection* connection = static_cast<HttpConnection*>(argument);
  try {
    connection->HandleRequest();
  } catch (...) {
    // An exhausted-memory error in the middle of an answer ends the answer;
    // the connection is still reaped.
  }
  HttpServer* server = connection->server;
  std::intptr_t self = reinterpret_cast<std::intptr_t>(connection);
  for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
    // After a successful post the connection belongs to the reaper.
    if (server->services_.postThreadMessage(connection->reaperThreadId, platform::kMsgUser, 0, self)) return 0;
    platform::SleepMilliseconds(kPostRetryMilliseconds);
  }
  server->ReapFromOwnThread(connection);
  return 0;
}

void HttpServer::ReapFromOwnThread(HttpConnection* connection) {
  platform::ThreadHandle thread = connection->threadHandle;
  {
    // Erased before its socket is closed: Stop shuts down only sockets of
    // registered connections, under the lock.
    LockHolder hold(connectionsLock_);
    connections_.erase(connection);
    connection->CloseSocket();
    delete connection;
    slotFreed_.notify_all();
  }
  // Stop may return as soon as the set is empty: nothing of the server is
  // touched after the lock is released. Closing our own handle detaches
  // this thread, which ends right after.
  platform::CloseThreadHandle(thread);
}

bool HttpServer::WaitForFreeSlot() NO_THREAD_SAFETY_ANALYSIS {
  LockAdapter adapter(connectionsLock_);
  std::unique_lock<LockAdapter> hold(adapter);
  slotFreed_.wait(hold, [this]() NO_THREAD_SAFETY_ANALYSIS {
    return stopping_.load() || static_cast<int>(connections_.size()) < limits_.maxConnectionThreads;
  });
  return !stopping_.load();
}

void HttpServer::Listen() {
  while (!stopping_.load()) {
    if (!WaitForFreeSlot()) break;
    std::string peer;
    platform::Socket socket = platform::Accept(listenSocket_, &peer);
    if (socket == platform::kInvalidSocket) {
      if (stopping_.load()) break;
      platform::SleepMilliseconds(kAcceptRetryMilliseconds);
      continue;
    }
    if (stopping_.load()) {
      platform::ShutdownBoth(socket);
      platform::CloseSocket(socket);
      break;
    }
    StartConnection(socket, peer);
  }
}

void HttpServer::StartConnection(platform::Socket socket, const std::string& peer) {
  HttpConnection* connection = nullptr;
  try {
    connection = new HttpConnection(settings_, limits_);
    connection->server = this;
    connection->sendFunction = services_.connectionSend;
    connection->cacheRefresher = cacheRefresher_.load();
    connection->Attach(socket, requestQueue_, nullptr, reaperThreadId_, peer.c_str());
    LockHolder hold(connectionsLock_);
    connections_.insert(connection);
  } catch (...) {
    // No memory for the connection or its registration: refuse the client.
    delete connection;
    platform::ShutdownBoth(socket);
    platform::CloseSocket(socket);
    return;
  }

  // Registered before its thread runs, so the reaper always finds a
  // connection that posts itself.
  platform::ThreadHandle thread = services_.startThread(&ConnectionThread, connection, true, nullptr);
  if (thread != nullptr) {
    connection->threadHandle = thread;
    if (platform::ResumeThread(thread)) return;
    platform::CloseThreadHandle(thread);  // it never ran
  }
  // No thread: the connection must not stay registered, or Stop would wait
  // for it for ever.
  LockHolder hold(connectionsLock_);
  connections_.erase(connection);
  connection->CloseSocket();
  delete connection;
  slotFreed_.notify_all();
}

void HttpServer::Reap() {
  platform::EnsureThreadQueue();
  platform::ThreadMessage message;
  while (platform::GetThreadMessage(&message) > 0) {
    if (message.message != platform::kMsgUser) continue;
    HttpConnection* connection = reinterpret_cast<HttpConnection*>(message.lParam);
    LockHolder hold(connectionsLock_);
    auto found = connections_.find(connection);
    if (found == connections_.end()) continue;  // not ours, or already gone
    connections_.erase(found);
    // The thread posted as its last act, so the join is short; a
    // connection thread never waits for this lock.
    connection->CloseSocket();
    platform::JoinThread(connection->threadHandle);
    platform::CloseThreadHandle(connection->threadHandle);
    delete connection;
    slotFreed_.notify_all();
  }
}

}  // namespace ambervox
