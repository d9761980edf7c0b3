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
// Pause after an accept or a wait on the listening socket that failed for a
// reason other than Stop (for example when the process is out of
// descriptors), before the next try.
constexpr unsigned kAcceptRetryMilliseconds = 10;
// What Listen gets for a port that must not be opened.
constexpr int kNoPort = -1;
// How often a listener waiting for a free slot looks again for a connection
// that has waited long enough for its head to be closed.
constexpr int kEvictionCheckMilliseconds = 50;
// The longest a connection thread that accepts clients waits on the
// listening socket before it looks at `stopping_` and its idle time again.
constexpr int kLeaderWaitMilliseconds = 100;
// The same for the listener. Stop shuts the listening socket down, which
// ends either wait at once on POSIX; on Windows closing the socket ends the
// listener's wait, and this bounds it when it does not.
constexpr int kListenerWaitMilliseconds = 500;

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

// Made by the listener, which starts the thread as the leader; destroyed by
// the reaper after the join (or by the thread itself, detached, when it
// cannot reach the reaper).
struct HttpServer::Worker {
  explicit Worker(HttpServer* owner) : server(owner) {}

  HttpServer* const server;
  // Set before the thread runs (it is started suspended).
  platform::ScopedThread thread;
  // Set (under the server's lock) when this parked thread is given the
  // lead; `wake` tells it so.
  bool lead = false;
  std::condition_variable wake;
  // When a thread without a client ends: it parked (or began to lead) this
  // long ago without a client.
  std::chrono::steady_clock::time_point idleUntil;
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
  // Connection threads and the listener both accept, each after waiting
  // for a client; the one that comes second must not block.
  if (listenSocket_.IsValid() && !platform::SetNonBlocking(listenSocket_.Get())) listenSocket_.Close();
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
  listenerWake_.notify_all();
  // Shutting the socket down ends every wait on it at once on POSIX. A
  // connection thread that accepts clients looks at `stopping_` after each
  // wait and gives the work up; the socket is closed only after that, so no
  // thread can reach a closed (or reused) socket.
  listenSocket_.Shutdown();
  for (;;) {
    {
      LockHolder hold(connectionsLock_);
      if (leader_ == nullptr) break;
    }
    platform::SleepHandlingMessages(1);
  }
  // Closing the socket ends the listener's wait on Windows. The listener
  // looks at `stopping_` after every wait and never accepts again. It reads
  // `listenSocket_` until it ends, so the owner lets go of the closed socket
  // only after the join.
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
  for (Client* client = server->NextClient(worker, nullptr); client != nullptr;
       client = server->NextClient(worker, client)) {
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

HttpServer::Client* HttpServer::NextClient(Worker* worker, Client* finished) {
  worker->idleUntil =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.parkedThreadIdleMilliseconds);
  {
    LockHolder hold(connectionsLock_);
    if (finished != nullptr) Unregister(finished);
    if (!ParkOrLead(worker, hold)) return nullptr;
  }
  for (;;) {
    bool idleOrStopping = false;
    if (Client* client = LeadUntilAClient(worker, &idleOrStopping)) return client;
    if (idleOrStopping) return nullptr;
    // The client was refused: lead again, or park.
    LockHolder hold(connectionsLock_);
    if (!ParkOrLead(worker, hold)) return nullptr;
  }
}

bool HttpServer::ParkOrLead(Worker* worker, LockHolder& hold) {
  if (stopping_.load()) {
    if (leader_ == worker) PassTheLead();
    return false;
  }
  // Started by the listener as the leader.
  if (leader_ == worker) return true;
  if (leader_ == nullptr) {
    leader_ = worker;
    return true;
  }
  // The leader counts as parked.
  if (static_cast<int>(parked_.size()) + 1 >= limits_.maxParkedThreads) return false;
  // Never reallocates: reserved for every thread there may be.
  worker->lead = false;
  parked_.push_back(worker);
  while (!worker->lead && !stopping_.load()) {
    if (!hold.WaitUntil(worker->wake, worker->idleUntil)) break;
  }
  // Given the lead: PassTheLead took it out of the parked ones.
  if (worker->lead && !stopping_.load()) return true;
  if (worker->lead) {
    PassTheLead();
  } else {
    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
      if (*it == worker) {
        parked_.erase(it);
        break;
      }
    }
  }
  // Ends: still counted until the reaper has joined it.
  return false;
}

HttpServer::Client* HttpServer::LeadUntilAClient(Worker* worker, bool* idleOrStopping) {
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (stopping_.load() || now >= worker->idleUntil) {
      LockHolder hold(connectionsLock_);
      PassTheLead();
      *idleOrStopping = true;
      return nullptr;
    }
    // Under load a client is already waiting: the accept comes first, and
    // the wait only when there was none.
    std::string peer;
    bool wouldBlock = false;
    platform::ScopedSocket socket(platform::Accept(listenSocket_.Get(), &peer, &wouldBlock));
    if (!socket.IsValid()) {
      if (!wouldBlock) {
        // Accepting failed (out of descriptors, say): a pause before the
        // next try.
        platform::SleepMilliseconds(kAcceptRetryMilliseconds);
        continue;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(worker->idleUntil - now).count();
      const int wait = static_cast<int>(left < kLeaderWaitMilliseconds ? left + 1 : kLeaderWaitMilliseconds);
      if (platform::WaitReadable(listenSocket_.Get(), wait) < 0) platform::SleepMilliseconds(kAcceptRetryMilliseconds);
      continue;
    }
    Client* client = MakeClient(std::move(socket), peer);
    LockHolder hold(connectionsLock_);
    // The next client is for the next parked thread: this one serves this
    // client itself, without a hand-over.
    PassTheLead();
    if (client != nullptr && Register(client, peer)) return client;
    return nullptr;
  }
}

void HttpServer::PassTheLead() {
  leader_ = nullptr;
  if (!stopping_.load() && !parked_.empty()) {
    Worker* next = parked_.back();
    parked_.pop_back();
    next->lead = true;
    leader_ = next;
    next->wake.notify_one();
    return;
  }
  // Every thread is busy: the listener starts one when the next client
  // comes (or Stop waits for the lead to fall free).
  listenerWake_.notify_one();
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
  if (longest == nullptr) {
    // No head has waited long enough: the answer whose client has accepted
    // nothing for the longest time makes room instead, a slow reader that
    // could otherwise keep its thread until its answer times out.
    const std::int64_t now = HttpConnection::SteadyMilliseconds();
    std::int64_t oldest = 0;
    for (Client* client : connections_) {
      std::int64_t since = 0;
      if (!client->connection.IsSendStalled(now, limits_.evictAfterSendStallMilliseconds, &since)) continue;
      if (longest != nullptr && since >= oldest) continue;
      longest = client;
      oldest = since;
    }
  }
  if (longest == nullptr) return;
  longest->evicted = true;
  longest->connection.ShutdownSocket();
}

void HttpServer::AcceptClients() {
  for (;;) {
    {
      LockHolder hold(connectionsLock_);
      // While a thread leads (or is about to), the clients are its.
      while (!stopping_.load() && (leader_ != nullptr || !parked_.empty())) hold.Wait(listenerWake_);
      if (stopping_.load()) break;
    }
    // Every thread is busy: a waiting client needs a new one.
    const int waiting = platform::WaitReadable(listenSocket_.Get(), kListenerWaitMilliseconds);
    if (stopping_.load()) break;
    if (waiting < 0) platform::SleepMilliseconds(kAcceptRetryMilliseconds);
    if (waiting <= 0) continue;
    Worker* worker = nullptr;
    {
      LockHolder hold(connectionsLock_);
      // A thread that finished meanwhile took the lead, or a leader took the
      // client and passed the lead on: the client is not waiting for a new
      // thread. Under the lock no other thread can take it (only the leader
      // accepts), and the look does not block.
      if (leader_ != nullptr || !parked_.empty() || platform::WaitReadable(listenSocket_.Get(), 0) <= 0) continue;
      if (workerCount_ >= limits_.maxConnectionThreads) {
        // Threads that ended count until the reaper has joined them. While
        // every slot is taken, the connection that has waited longest for
        // its head makes room; its thread then takes the client.
        if (static_cast<int>(connections_.size()) >= limits_.maxConnectionThreads) EvictLongestWaiting();
        hold.WaitUntil(slotFreed_,
                       std::chrono::steady_clock::now() + std::chrono::milliseconds(kEvictionCheckMilliseconds));
        continue;
      }
      worker = new (std::nothrow) Worker(this);
      if (worker != nullptr) {
        // The lead is the new thread's from the start, so that the listener
        // does not start another one for the same client.
        leader_ = worker;
        ++workerCount_;
      }
    }
    if (worker == nullptr || !StartWorker(worker)) RefuseOneClient();
  }
}

void HttpServer::RefuseOneClient() {
  // No thread for the client: it is closed unanswered rather than left to
  // wait, and the next one has a pause before the next try.
  platform::ScopedSocket socket(platform::Accept(listenSocket_.Get(), nullptr, nullptr));
  socket.Close();
  platform::SleepMilliseconds(kAcceptRetryMilliseconds);
}

HttpServer::Client* HttpServer::MakeClient(platform::ScopedSocket socket, const std::string& peer) {
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
    return nullptr;
  }
  return client;
}

bool HttpServer::Register(Client* client, const std::string& peer) {
  int fromPeer = 0;
  for (const Client* other : connections_) {
    if (other->peer == peer) ++fromPeer;
  }
  // The thread that registers the client serves it, so a slot is free: every
  // registered client has a thread of its own, and this thread had none.
  bool admitted = !stopping_.load() && fromPeer < limits_.maxConnectionsPerAddress;
  try {
    // Registered before it is served, so that the per-address limit,
    // eviction and Stop see it.
    if (admitted) connections_.insert(client);
  } catch (...) {
    admitted = false;  // no memory for the registration
  }
  // A client refused here is closed unanswered.
  if (!admitted) delete client;
  return admitted;
}

bool HttpServer::StartWorker(Worker* worker) {
  worker->thread = platform::ScopedThread(services_.startThread(&ConnectionThread, worker, true, nullptr));
  if (worker->thread && platform::ResumeThread(worker->thread.Get())) return true;
  // No thread, or it never ran.
  worker->thread.Detach();
  LockHolder hold(connectionsLock_);
  --workerCount_;
  // A thread that parked meanwhile takes the lead the new one never took.
  if (leader_ == worker) PassTheLead();
  delete worker;
  return false;
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
