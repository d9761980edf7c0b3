#include "http/connection_threads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "player/player_host.h"

namespace ambervox {
namespace {

// Pause after an accept or a wait on the listening socket that failed for a
// reason other than Stop (for example when the process is out of
// descriptors), before the next try.
constexpr unsigned kAcceptRetryMilliseconds = 10;
// How often a listener waiting for a free slot looks again for a connection
// that has waited long enough for its head to be closed.
constexpr int kEvictionCheckMilliseconds = 50;
// The longest a leader waits on the listening socket before it looks at
// whether it is stopping and at its idle time again.
constexpr int kLeaderWaitMilliseconds = 100;
// The same for the listener. Stop shuts the listening socket down, which
// ends either wait at once on POSIX; on Windows closing the socket ends the
// listener's wait, and this bounds it when it does not.
constexpr int kListenerWaitMilliseconds = 500;

// An invariant that does not hold leaves nothing safe to go on with.
void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "ConnectionThreads: %s\n", what);
  std::abort();
}

}  // namespace

struct ConnectionThreads::Client {
  Client(const ServerLimits& limits, HttpConnection::SendFunction send, const std::string& address)
      : connection(limits, send), peer(address) {}

  HttpConnection connection;
  const std::string peer;
  const std::chrono::steady_clock::time_point acceptedAt = std::chrono::steady_clock::now();
  // Its socket was shut down to make room (under the lock).
  bool evicted = false;
};

// Made by the listener, which starts the thread as the leader; owned by
// `workers_` while the thread runs, then by `ended_` and the reaper, which
// joins the thread and destroys it.
struct ConnectionThreads::Worker {
  explicit Worker(ConnectionThreads* owner) : threads(owner) {}

  ConnectionThreads* const threads;
  // Set before the thread runs (it is started suspended).
  platform::ScopedThread thread;
  // Set (under the lock) when this parked thread is given the lead; `wake`
  // tells it so.
  bool lead = false;
  std::condition_variable wake;
  // When a thread without a client ends: it parked (or began to lead) this
  // long ago without a client.
  std::chrono::steady_clock::time_point idleUntil;
};

ConnectionThreads::ConnectionThreads(RequestHandler& handler, const ServerLimits& limits,
                                     const ConnectionThreadServices& services)
    : handler_(handler), limits_(limits), services_(services) {
  // Parking, ending and reaping then never allocate: a thread between two
  // clients, or at its end, cannot fail.
  const std::size_t most = static_cast<std::size_t>(std::max(limits_.maxConnectionThreads, 0));
  LockHolder hold(lock_);
  workers_.reserve(most);
  ended_.reserve(most);
  parked_.reserve(most);
  joining_.reserve(most);
}

ConnectionThreads::~ConnectionThreads() { Stop(); }

int ConnectionThreads::ConnectionCount() const {
  LockHolder hold(lock_);
  return static_cast<int>(connections_.size());
}

int ConnectionThreads::ThreadCount() const {
  LockHolder hold(lock_);
  return workerCount_;
}

int ConnectionThreads::ParkedCount() const {
  LockHolder hold(lock_);
  return static_cast<int>(parked_.size());
}

void ConnectionThreads::CheckInvariants() const {
  lock_.AssertHeld();
  Require(leader_ == nullptr || std::find(parked_.begin(), parked_.end(), leader_) == parked_.end(),
          "the leader is parked");
  Require(workerCount_ >= static_cast<int>(connections_.size()), "fewer connection threads than connections");
}

bool ConnectionThreads::Start(platform::ScopedSocket listenSocket) {
  if (started_) return false;
  {
    LockHolder hold(lock_);
    stopping_ = false;
  }
  listenSocket_ = std::move(listenSocket);
  // The reaper first: a connection thread may end as soon as it exists.
  reaperThread_ = platform::ScopedThread(services_.startThread(&ReaperThread, this, false, nullptr));
  if (!reaperThread_) {
    listenSocket_.Close();
    return false;
  }
  listenerThread_ = platform::ScopedThread(services_.startThread(&ListenerThread, this, false, nullptr));
  if (!listenerThread_) {
    {
      LockHolder hold(lock_);
      stopping_ = true;
      reaperWake_.notify_all();
    }
    reaperThread_.JoinHandlingMessages();
    listenSocket_.Close();
    return false;
  }
  started_ = true;
  return true;
}

void ConnectionThreads::Stop() {
  if (!started_) return;
  {
    LockHolder hold(lock_);
    // Register refuses from now on, so no connection is registered after
    // this sweep and keeps Stop waiting for a client that came too late.
    stopping_ = true;
    for (const auto& entry : connections_) entry.second->connection.ShutdownSocket();
    // Parked threads see `stopping_` and end; busy ones end after their
    // client, whose receive or send now fails.
    for (Worker* worker : parked_) worker->wake.notify_one();
    listenerWake_.notify_all();
    slotFreed_.notify_all();
    reaperWake_.notify_all();
  }
  // Shutting the socket down ends every wait on it at once on POSIX. The
  // leader looks at `stopping_` after each wait and gives the lead up; the
  // socket is closed only after that, so no thread can reach a closed (or
  // reused) socket. A leader never waits for this thread, so this wait
  // needs no message handling.
  listenSocket_.Shutdown();
  {
    LockHolder hold(lock_);
    while (leader_ != nullptr) hold.Wait(listenerWake_);
  }
  // Closing the socket ends the listener's wait on Windows. The listener
  // reads `listenSocket_` until it ends, so the socket is let go of only
  // after the join.
  platform::CloseSocket(listenSocket_.Get());
  listenerThread_.JoinHandlingMessages();
  listenSocket_.Release();
  // The reaper ends once every connection thread is joined.
  reaperThread_.JoinHandlingMessages();
  {
    LockHolder hold(lock_);
    if (workerCount_ != 0) AbandonWorkers();
  }
  started_ = false;
}

void ConnectionThreads::AbandonWorkers() {
  // Their threads were ended wherever they stood, possibly in the middle of
  // using these objects: nothing of them is joined, closed or destroyed.
  for (auto& worker : workers_) {
    worker->thread.Detach();
    static_cast<void>(worker.release());
  }
  for (auto& worker : ended_) {
    worker->thread.Detach();
    static_cast<void>(worker.release());
  }
  for (auto& entry : connections_) static_cast<void>(entry.second.release());
  workers_.clear();
  ended_.clear();
  connections_.clear();
  parked_.clear();
  leader_ = nullptr;
  workerCount_ = 0;
}

unsigned ConnectionThreads::ListenerThread(void* threads) {
  try {
    static_cast<ConnectionThreads*>(threads)->AcceptClients();
  } catch (...) {
    // Nothing escapes a thread procedure; the listener just ends.
  }
  return 0;
}

unsigned ConnectionThreads::ReaperThread(void* threads) {
  static_cast<ConnectionThreads*>(threads)->Reap();
  return 0;
}

unsigned ConnectionThreads::ConnectionThread(void* argument) {
  Worker* worker = static_cast<Worker*>(argument);
  ConnectionThreads* threads = worker->threads;
  for (Client* client = threads->NextClient(worker, nullptr); client != nullptr;
       client = threads->NextClient(worker, client)) {
    // A page that gave up on a stalled player answers "unknown" to the rest
    // of its own questions, but a new connection asks afresh.
    PlayerHost::ForgetStall();
    try {
      threads->handler_.AnswerConnection(client->connection);
    } catch (...) {
      // An exhausted-memory error in the middle of an answer ends the answer;
      // the connection is still unregistered and closed.
    }
  }
  threads->EndWorker(worker);
  return 0;
}

ConnectionThreads::Client* ConnectionThreads::NextClient(Worker* worker, Client* finished) {
  worker->idleUntil =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.parkedThreadIdleMilliseconds);
  {
    LockHolder hold(lock_);
    if (finished != nullptr) Unregister(finished);
    if (!ParkOrLead(worker, hold)) return nullptr;
  }
  for (;;) {
    bool idleOrStopping = false;
    if (Client* client = LeadUntilAClient(worker, &idleOrStopping)) return client;
    if (idleOrStopping) return nullptr;
    // The client was refused: lead again, or park.
    LockHolder hold(lock_);
    if (!ParkOrLead(worker, hold)) return nullptr;
  }
}

bool ConnectionThreads::ParkOrLead(Worker* worker, LockHolder& hold) {
  if (stopping_) {
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
  CheckInvariants();
  while (!worker->lead && !stopping_) {
    if (!hold.WaitUntil(worker->wake, worker->idleUntil)) break;
  }
  // Given the lead: PassTheLead took it out of the parked ones.
  if (worker->lead && !stopping_) return true;
  if (worker->lead) {
    PassTheLead();
  } else {
    parked_.erase(std::find(parked_.begin(), parked_.end(), worker));
  }
  // Ends: still counted until the reaper has joined it.
  return false;
}

ConnectionThreads::Client* ConnectionThreads::LeadUntilAClient(Worker* worker, bool* idleOrStopping) {
  for (;;) {
    // Under load a client is already waiting: the accept comes first, and
    // the wait only when there was none.
    std::string peer;
    bool wouldBlock = false;
    platform::ScopedSocket socket(platform::Accept(listenSocket_.Get(), &peer, &wouldBlock));
    if (socket.IsValid()) {
      std::unique_ptr<Client> made = MakeClient(std::move(socket), peer);
      LockHolder hold(lock_);
      // The next client is for the next parked thread: this one serves this
      // client itself, without a hand-over.
      PassTheLead();
      return made != nullptr ? Register(std::move(made)) : nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    {
      LockHolder hold(lock_);
      if (stopping_ || now >= worker->idleUntil) {
        PassTheLead();
        *idleOrStopping = true;
        return nullptr;
      }
    }
    if (!wouldBlock) {
      // Accepting failed (out of descriptors, say): a pause before the next
      // try.
      platform::SleepMilliseconds(kAcceptRetryMilliseconds);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(worker->idleUntil - now).count();
    const int wait = static_cast<int>(left < kLeaderWaitMilliseconds ? left + 1 : kLeaderWaitMilliseconds);
    if (platform::WaitReadable(listenSocket_.Get(), wait) < 0) platform::SleepMilliseconds(kAcceptRetryMilliseconds);
  }
}

void ConnectionThreads::PassTheLead() {
  leader_ = nullptr;
  if (!stopping_ && !parked_.empty()) {
    Worker* next = parked_.back();
    parked_.pop_back();
    next->lead = true;
    leader_ = next;
    next->wake.notify_one();
    CheckInvariants();
    return;
  }
  // Every thread is busy: the listener starts one when the next client
  // comes. Stop waits for the lead to fall free too.
  listenerWake_.notify_all();
}

void ConnectionThreads::EndWorker(Worker* worker) {
  LockHolder hold(lock_);
  auto found = std::find_if(workers_.begin(), workers_.end(),
                            [worker](const std::unique_ptr<Worker>& running) { return running.get() == worker; });
  // Never reallocates: reserved for every thread there may be. After this
  // the worker belongs to the reaper, and the thread touches nothing more.
  ended_.push_back(std::move(*found));
  workers_.erase(found);
  reaperWake_.notify_one();
}

void ConnectionThreads::Unregister(Client* client) {
  // Erased (and so destroyed, which closes its socket) under the lock: Stop
  // shuts down only sockets of registered connections, under the lock. A
  // client sees the end of its answer only once its connection has left
  // the set.
  connections_.erase(client);
  slotFreed_.notify_all();
  CheckInvariants();
}

void ConnectionThreads::EvictLongestWaiting() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point waitedEnough =
      Clock::now() - std::chrono::milliseconds(limits_.evictAfterHeadWaitMilliseconds);
  Client* longest = nullptr;
  for (const auto& entry : connections_) {
    Client* client = entry.second.get();
    // One at a time: the slot of the last one is about to be freed.
    if (client->evicted) return;
    if (!client->connection.IsAwaitingHead() || client->acceptedAt > waitedEnough) continue;
    if (longest != nullptr && client->acceptedAt >= longest->acceptedAt) continue;
    // A client whose head sits unread is not idle: its thread has not been
    // scheduled yet (a busy machine can hold it back for seconds). Closing
    // it would reset a visitor who did nothing wrong. The mark is looked at
    // again after the socket: a thread that took the head meanwhile cleared
    // it before it took a byte.
    if (client->connection.HasUnreadInput() || !client->connection.IsAwaitingHead()) continue;
    longest = client;
  }
  if (longest == nullptr) {
    // No head has waited long enough: the answer whose client has accepted
    // nothing for the longest time makes room instead, a slow reader that
    // could otherwise keep its thread until its answer times out.
    const std::int64_t now = HttpConnection::SteadyMilliseconds();
    std::int64_t oldest = 0;
    for (const auto& entry : connections_) {
      std::int64_t since = 0;
      if (!entry.second->connection.IsSendStalled(now, limits_.evictAfterSendStallMilliseconds, &since)) continue;
      if (longest != nullptr && since >= oldest) continue;
      longest = entry.second.get();
      oldest = since;
    }
  }
  if (longest == nullptr) return;
  longest->evicted = true;
  longest->connection.ShutdownSocket();
}

void ConnectionThreads::AcceptClients() {
  for (;;) {
    {
      LockHolder hold(lock_);
      // While a thread leads (or is about to), the clients are its.
      while (!stopping_ && (leader_ != nullptr || !parked_.empty())) hold.Wait(listenerWake_);
      if (stopping_) return;
    }
    // Every thread is busy: a waiting client needs a new one.
    const int waiting = platform::WaitReadable(listenSocket_.Get(), kListenerWaitMilliseconds);
    if (waiting < 0) platform::SleepMilliseconds(kAcceptRetryMilliseconds);
    if (waiting <= 0) continue;
    Worker* worker = nullptr;
    {
      LockHolder hold(lock_);
      if (stopping_) return;
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
      worker = AddLeadingWorker();
    }
    if (worker == nullptr || !StartWorker(worker)) RefuseOneClient();
  }
}

ConnectionThreads::Worker* ConnectionThreads::AddLeadingWorker() {
  std::unique_ptr<Worker> worker(new (std::nothrow) Worker(this));
  if (worker == nullptr) return nullptr;
  // The lead is the new thread's from the start, so that the listener does
  // not start another one for the same client. Never reallocates: fewer
  // than maxConnectionThreads run.
  leader_ = worker.get();
  ++workerCount_;
  workers_.push_back(std::move(worker));
  CheckInvariants();
  return leader_;
}

bool ConnectionThreads::StartWorker(Worker* worker) {
  worker->thread = platform::ScopedThread(services_.startThread(&ConnectionThread, worker, true, nullptr));
  if (worker->thread && platform::ResumeThread(worker->thread.Get())) return true;
  // No thread, or it never ran.
  worker->thread.Detach();
  LockHolder hold(lock_);
  --workerCount_;
  // A thread that parked meanwhile takes the lead the new one never took.
  if (leader_ == worker) PassTheLead();
  workers_.erase(std::find_if(workers_.begin(), workers_.end(),
                              [worker](const std::unique_ptr<Worker>& running) { return running.get() == worker; }));
  // Stop may wait for the count to reach zero.
  reaperWake_.notify_one();
  return false;
}

void ConnectionThreads::RefuseOneClient() {
  // No thread for the client: it is closed unanswered rather than left to
  // wait, and the next one has a pause before the next try.
  platform::ScopedSocket socket(platform::Accept(listenSocket_.Get(), nullptr, nullptr));
  socket.Close();
  platform::SleepMilliseconds(kAcceptRetryMilliseconds);
}

std::unique_ptr<ConnectionThreads::Client> ConnectionThreads::MakeClient(platform::ScopedSocket socket,
                                                                         const std::string& peer) const {
  try {
    auto client = std::make_unique<Client>(limits_, services_.connectionSend, peer);
    client->connection.Attach(std::move(socket), peer.c_str());
    return client;
  } catch (...) {
    // No memory for the connection: refuse the client (its socket closes
    // with whichever owner holds it).
    return nullptr;
  }
}

ConnectionThreads::Client* ConnectionThreads::Register(std::unique_ptr<Client> client) {
  int fromPeer = 0;
  for (const auto& entry : connections_) {
    if (entry.second->peer == client->peer) ++fromPeer;
  }
  // The thread that registers the client serves it, so a slot is free: every
  // registered client has a thread of its own, and this thread had none.
  if (stopping_ || fromPeer >= limits_.maxConnectionsPerAddress) return nullptr;
  Client* registered = client.get();
  try {
    // Registered before it is served, so that the per-address limit,
    // eviction and Stop see it.
    connections_.emplace(registered, std::move(client));
  } catch (...) {
    return nullptr;  // no memory for the registration; the client closes
  }
  CheckInvariants();
  return registered;
}

void ConnectionThreads::Reap() {
  LockHolder hold(lock_);
  for (;;) {
    while (ended_.empty() && !(stopping_ && workerCount_ == 0)) hold.Wait(reaperWake_);
    if (ended_.empty()) return;
    // Both keep their reserved room: the swap never allocates.
    joining_.swap(ended_);
    hold.Unlock();
    // Each handed itself over as its last act: the joins are short.
    for (auto& worker : joining_) worker->thread.Join();
    const int joined = static_cast<int>(joining_.size());
    joining_.clear();
    hold.Relock();
    workerCount_ -= joined;
    CheckInvariants();
    slotFreed_.notify_all();
  }
}

}  // namespace ambervox
