#include "http/http_server.h"

#include <chrono>
#include <cstdio>
#include <new>
#include <utility>

#include "http/http_connection.h"
#include "pages/site.h"
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
// What Listen gets for a port that must not be opened.
constexpr int kNoPort = -1;
// How often a listener waiting for a free slot looks again for a connection
// that has waited long enough for its head to be closed.
constexpr int kEvictionCheckMilliseconds = 50;

}  // namespace

// Destroying a client joins its thread first (unless it was detached), then
// closes its socket.
struct HttpServer::Client {
  Client(HttpServer* owner, const ServerLimits& limits, HttpConnection::SendFunction send, const Site& clientSite,
         const std::string& address)
      : server(owner), connection(limits, send), site(clientSite), peer(address) {}

  HttpServer* const server;
  HttpConnection connection;
  const Site site;
  platform::ScopedThread thread;
  const std::string peer;
  const std::chrono::steady_clock::time_point acceptedAt = std::chrono::steady_clock::now();
  // Its socket was shut down to make room (under the server's lock).
  bool evicted = false;
};

HttpServer::HttpServer(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits,
                       const HttpServerServices& services)
    : requestQueue_(queue), settings_(settings), limits_(limits), services_(services), adminLockout_(limits) {}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::ConnectionCount() const {
  LockHolder hold(connectionsLock_);
  return static_cast<int>(connections_.size());
}

bool HttpServer::Start(int port) {
  // A port out of range (0 included) opens nothing, but the socket library
  // is started first all the same, so that its failure is reported whatever
  // the port setting says.
  return Listen(port >= 1 && port <= 65535 ? port : kNoPort);
}

bool HttpServer::StartOnAnyPort() { return Listen(0); }

bool HttpServer::Listen(int port) {
  if (running_) return false;
  std::string error;
  if (!services_.socketsStartup(&error)) {
    // Without a socket library there is no server, but the player goes on.
    std::printf("Socket error: %s\n", error.c_str());
    std::fflush(stdout);
    return false;
  }
  if (port != kNoPort) {
    listenSocket_ = platform::ScopedSocket(platform::ListenTcp(static_cast<std::uint16_t>(port), limits_.listenBacklog));
  }
  if (!listenSocket_.IsValid()) {
    services_.socketsCleanup();
    return false;
  }
  port_ = platform::LocalPort(listenSocket_.Get());
  stopping_ = false;

  // The reaper first: every connection is attached with its thread id, so
  // it must be known and its queue ready before the first accept.
  reaperThread_ = platform::ScopedThread(services_.startThread(&ReaperThread, this, false, &reaperThreadId_));
  if (!reaperThread_) {
    listenSocket_.Close();
    services_.socketsCleanup();
    return false;
  }
  while (!services_.postThreadMessage(reaperThreadId_, platform::kMsgNull, 0, 0)) {
    platform::SleepMilliseconds(1);
  }
  listenerThread_ = platform::ScopedThread(services_.startThread(&ListenerThread, this, false, &listenerThreadId_));
  if (!listenerThread_) {
    EndReaper();
    listenSocket_.Close();
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
    for (Client* client : connections_) client->connection.ShutdownSocket();
  }
  for (;;) {
    {
      LockHolder hold(connectionsLock_);
      if (connections_.empty()) break;
    }
    // At process exit the system has ended every other thread: no reaper
    // will empty the set, so waiting for it would never end.
    if (platform::HasThreadEnded(reaperThread_.Get())) break;
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
  // accept and never accepts again. It reads `listenSocket_` until it ends,
  // so the owner lets go of the closed socket only after the join.
  listenSocket_.Shutdown();
  platform::CloseSocket(listenSocket_.Get());
  listenerThread_.JoinHandlingMessages();
  listenSocket_.Release();
}

void HttpServer::EndReaper() {
  while (!services_.postThreadMessage(reaperThreadId_, platform::kMsgQuit, 0, 0) &&
         !platform::HasThreadEnded(reaperThread_.Get())) {
    platform::SleepHandlingMessages(1);
  }
  reaperThread_.JoinHandlingMessages();
}

unsigned HttpServer::ListenerThread(void* server) {
  try {
    static_cast<HttpServer*>(server)->AcceptClients();
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
  Client* client = static_cast<Client*>(argument);
  try {
    ServeRequest(client->connection, client->site);
  } catch (...) {
    // An exhausted-memory error in the middle of an answer ends the answer;
    // the connection is still reaped.
  }
  HttpServer* server = client->server;
  std::intptr_t self = reinterpret_cast<std::intptr_t>(client);
  for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
    // After a successful post the client belongs to the reaper.
    if (server->services_.postThreadMessage(server->reaperThreadId_, platform::kMsgUser, 0, self)) return 0;
    platform::SleepMilliseconds(kPostRetryMilliseconds);
  }
  // The reaper cannot be reached: the client removes itself. Its thread
  // (this one) is detached first, so that destroying the client does not
  // wait for it; Stop may return as soon as the set is empty, so nothing of
  // the server is touched after Unregister.
  client->thread.Detach();
  server->Unregister(client);
  return 0;
}

bool HttpServer::Unregister(Client* client) {
  LockHolder hold(connectionsLock_);
  auto found = connections_.find(client);
  if (found == connections_.end()) return false;  // not ours, or already gone
  // Erased before its socket is closed: Stop shuts down only sockets of
  // registered connections, under the lock. A thread that posted itself did
  // so as its last act, so the join is short; a connection thread never
  // waits for this lock.
  connections_.erase(found);
  delete client;
  slotFreed_.notify_all();
  return true;
}

void HttpServer::EvictLongestWaiting() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point waitedEnough =
      Clock::now() - std::chrono::milliseconds(limits_.evictAfterHeadWaitMilliseconds);
  Client* longest = nullptr;
  for (Client* client : connections_) {
    // One at a time: the slot of the last one is about to be freed.
    if (client->evicted) return;
    if (!client->connection.IsAwaitingHead() || client->acceptedAt > waitedEnough) continue;
    if (longest != nullptr && client->acceptedAt >= longest->acceptedAt) continue;
    // A client whose head sits unread is not idle: its thread has not been
    // scheduled yet (a busy machine can hold it back for seconds). Closing
    // it would reset a visitor who did nothing wrong.
    if (client->connection.HasUnreadInput()) continue;
    longest = client;
  }
  if (longest == nullptr) return;
  longest->evicted = true;
  longest->connection.ShutdownSocket();
}

bool HttpServer::AdmitClient(const std::string& peer) {
  LockHolder hold(connectionsLock_);
  int fromPeer = 0;
  for (const Client* client : connections_) {
    if (client->peer == peer) ++fromPeer;
  }
  if (fromPeer >= limits_.maxConnectionsPerAddress) return false;
  while (!stopping_.load() && static_cast<int>(connections_.size()) >= limits_.maxConnectionThreads) {
    EvictLongestWaiting();
    hold.WaitUntil(slotFreed_,
                   std::chrono::steady_clock::now() + std::chrono::milliseconds(kEvictionCheckMilliseconds));
  }
  return !stopping_.load();
}

void HttpServer::AcceptClients() {
  while (!stopping_.load()) {
    std::string peer;
    platform::ScopedSocket socket(platform::Accept(listenSocket_.Get(), &peer));
    if (!socket.IsValid()) {
      if (stopping_.load()) break;
      platform::SleepMilliseconds(kAcceptRetryMilliseconds);
      continue;
    }
    if (stopping_.load()) break;  // the socket closes as it goes
    // A client refused here is closed unanswered as the socket goes.
    if (!AdmitClient(peer)) continue;
    StartConnection(std::move(socket), peer);
  }
}

void HttpServer::StartConnection(platform::ScopedSocket socket, const std::string& peer) {
  Client* client = nullptr;
  try {
    Site site;
    site.settings = settings_;
    site.queue = requestQueue_;
    site.refresher = cacheRefresher_.load();
    site.lockout = &adminLockout_;
    client = new Client(this, limits_, services_.connectionSend, site, peer);
    client->connection.Attach(std::move(socket), peer.c_str());
    LockHolder hold(connectionsLock_);
    connections_.insert(client);
  } catch (...) {
    // No memory for the connection or its registration: refuse the client
    // (its socket closes with whichever owner holds it).
    delete client;
    return;
  }

  // Registered before its thread runs, so the reaper always finds a
  // connection that posts itself.
  client->thread = platform::ScopedThread(services_.startThread(&ConnectionThread, client, true, nullptr));
  if (client->thread && platform::ResumeThread(client->thread.Get())) return;
  // No thread, or it never ran: the connection must not stay registered, or
  // Stop would wait for it for ever.
  client->thread.Detach();
  Unregister(client);
}

void HttpServer::Reap() {
  platform::EnsureThreadQueue();
  platform::ThreadMessage message;
  while (platform::GetThreadMessage(&message) > 0) {
    if (message.message != platform::kMsgUser) continue;
    Unregister(reinterpret_cast<Client*>(message.lParam));
  }
}

}  // namespace ambervox
