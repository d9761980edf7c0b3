#include "http/http_server.h"

#include <chrono>
#include <cstdio>
#include <new>
#include <utility>

#include "http/http_connection.h"
#include "pages/site.h"
#include "platform/window.h"
#include "player/player_host.h"

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

// Destroying a client closes its socket.
struct HttpServer::Client {
  Client(const ServerLimits& limits, HttpConnection::SendFunction send, const Site& clientSite,
         const std::string& address)
      : connection(limits, send), site(clientSite), peer(address) {}

  HttpConnection connection;
  const Site site;
  const std::string peer;
  const std::chrono::steady_clock::time_point acceptedAt = std::chrono::steady_clock::now();
  // Its socket was shut down to make room (under the server's lock).
  bool evicted = false;
};

// Made by the listener with the first client the thread serves; destroyed by
// the reaper after the join (or by the thread itself, detached, when it
// cannot reach the reaper).
struct HttpServer::Worker {
  Worker(HttpServer* owner, Client* firstClient) : server(owner), first(firstClient) {}

  HttpServer* const server;
  Client* const first;
  // Set before the thread runs (it is started suspended).
  platform::ScopedThread thread;
  // The client the listener handed to this parked thread (under the
  // server's lock), and the wake-up that tells it so.
  Client* next = nullptr;
  std::condition_variable wake;
};

HttpServer::HttpServer(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits,
                       const HttpServerServices& services)
    : requestQueue_(queue), settings_(settings), limits_(limits), services_(services), adminLockout_(limits) {
  // Parking then never allocates: a thread between two clients cannot fail.
  parked_.reserve(static_cast<std::size_t>(limits_.maxConnectionThreads > 0 ? limits_.maxConnectionThreads : 0));
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::ConnectionCount() const {
  LockHolder hold(connectionsLock_);
  return static_cast<int>(connections_.size());
}

int HttpServer::ConnectionThreadCount() const {
  LockHolder hold(connectionsLock_);
  return workerCount_;
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
    // Parked threads see `stopping_` and end; busy ones end after their
    // client, whose receive or send now fails.
    for (Worker* worker : parked_) worker->wake.notify_one();
  }
  for (;;) {
    {
      LockHolder hold(connectionsLock_);
      if (connections_.empty() && workerCount_ == 0) break;
    }
    // At process exit the system has ended every other thread: no reaper
    // will join the connection threads, so waiting for it would never end.
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
  Worker* worker = static_cast<Worker*>(argument);
  HttpServer* server = worker->server;
  for (Client* client = worker->first; client != nullptr; client = server->FinishAndPark(worker, client)) {
    // A page that gave up on a stalled player answers "unknown" to the rest
    // of its own questions, but a new connection asks afresh.
    PlayerHost::ForgetStall();
    try {
      ServeRequest(client->connection, client->site);
    } catch (...) {
      // An exhausted-memory error in the middle of an answer ends the answer;
      // the connection is still unregistered and closed.
    }
  }
  server->EndWorker(worker);
  return 0;
}

HttpServer::Client* HttpServer::FinishAndPark(Worker* worker, Client* finished) {
  LockHolder hold(connectionsLock_);
  Unregister(finished);
  if (stopping_.load() || static_cast<int>(parked_.size()) >= limits_.maxParkedThreads) return nullptr;
  // Never reallocates: reserved for every thread there may be.
  parked_.push_back(worker);
  const auto idleUntil =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.parkedThreadIdleMilliseconds);
  while (worker->next == nullptr && !stopping_.load()) {
    if (!hold.WaitUntil(worker->wake, idleUntil)) break;
  }
  Client* next = worker->next;
  worker->next = nullptr;
  if (next == nullptr) {
    // Ends: out of the parked ones (a handed-over thread was taken out by
    // the listener), still counted until the reaper has joined it.
    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
      if (*it == worker) {
        parked_.erase(it);
        break;
      }
    }
  }
  return next;
}

void HttpServer::EndWorker(Worker* worker) {
  std::intptr_t self = reinterpret_cast<std::intptr_t>(worker);
  for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
    // After a successful post the worker belongs to the reaper.
    if (services_.postThreadMessage(reaperThreadId_, platform::kMsgUser, 0, self)) return;
    platform::SleepMilliseconds(kPostRetryMilliseconds);
  }
  // The reaper cannot be reached: the thread (this one) detaches itself and
  // leaves the count. Stop may return as soon as the count is zero, so
  // nothing of the server is touched after the lock is released.
  worker->thread.Detach();
  LockHolder hold(connectionsLock_);
  --workerCount_;
  delete worker;
  slotFreed_.notify_all();
}

void HttpServer::Unregister(Client* client) {
  // Erased before its socket is closed: Stop shuts down only sockets of
  // registered connections, under the lock. A client sees the end of its
  // answer only once its connection has left the set.
  connections_.erase(client);
  delete client;
  slotFreed_.notify_all();
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

bool HttpServer::AdmitClient(const std::string& peer, LockHolder& hold) {
  int fromPeer = 0;
  for (const Client* client : connections_) {
    if (client->peer == peer) ++fromPeer;
  }
  if (fromPeer >= limits_.maxConnectionsPerAddress) return false;
  for (;;) {
    if (stopping_.load()) return false;
    const bool slotFree = static_cast<int>(connections_.size()) < limits_.maxConnectionThreads;
    // Threads that ended count until the reaper has joined them.
    const bool threadFree = !parked_.empty() || workerCount_ < limits_.maxConnectionThreads;
    if (slotFree && threadFree) return true;
    if (!slotFree) EvictLongestWaiting();
    hold.WaitUntil(slotFreed_,
                   std::chrono::steady_clock::now() + std::chrono::milliseconds(kEvictionCheckMilliseconds));
  }
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
    client = new Client(limits_, services_.connectionSend, site, peer);
    client->connection.Attach(std::move(socket), peer.c_str());
  } catch (...) {
    // No memory for the connection: refuse the client (its socket closes
    // with whichever owner holds it).
    delete client;
    return;
  }
  {
    LockHolder hold(connectionsLock_);
    bool admitted = false;
    try {
      admitted = AdmitClient(peer, hold);
      // Registered before any thread serves it, so that the per-address
      // limit, eviction and Stop see it.
      if (admitted) connections_.insert(client);
    } catch (...) {
      admitted = false;  // no memory for the registration
    }
    if (!admitted) {
      // A client refused here is closed unanswered.
      delete client;
      return;
    }
    if (!parked_.empty()) {
      Worker* worker = parked_.back();
      parked_.pop_back();
      worker->next = client;
      worker->wake.notify_one();
      return;
    }
    ++workerCount_;
  }
  StartWorker(client);
}

void HttpServer::StartWorker(Client* client) {
  Worker* worker = nullptr;
  try {
    worker = new Worker(this, client);
  } catch (...) {
    worker = nullptr;
  }
  if (worker != nullptr) {
    worker->thread = platform::ScopedThread(services_.startThread(&ConnectionThread, worker, true, nullptr));
    if (worker->thread && platform::ResumeThread(worker->thread.Get())) return;
    // No thread, or it never ran.
    worker->thread.Detach();
    delete worker;
  }
  // Only this client is refused: it must not stay registered, or Stop would
  // wait for it for ever.
  LockHolder hold(connectionsLock_);
  --workerCount_;
  Unregister(client);
}

void HttpServer::Reap() {
  platform::EnsureThreadQueue();
  platform::ThreadMessage message;
  while (platform::GetThreadMessage(&message) > 0) {
    if (message.message != platform::kMsgUser) continue;
    Worker* worker = reinterpret_cast<Worker*>(message.lParam);
    // It posted itself as its last act: the join is short.
    worker->thread.Join();
    delete worker;
    LockHolder hold(connectionsLock_);
    --workerCount_;
    slotFreed_.notify_all();
  }
}

}  // namespace ambervox
