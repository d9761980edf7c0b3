// ConnectionThreads: the threads that accept clients on a listening socket
// and run a RequestHandler on each client, one client at a time per thread.
// HttpServer owns one and gives it the listening socket at each Start.
//
// The thread model (the one description of it; docs/DESIGN.md points here):
//
// Connection threads. One of them at a time, the leader, waits on the
// non-blocking listening socket and accepts the next client. It registers
// the client, passes the lead to the most recently parked thread and serves
// the client itself, so a client reaches its thread without a hand-over
// between threads. Before each client it clears its player-stall latch
// (PlayerHost::ForgetStall), so one stalled page does not make the next
// connection's pages answer "unknown". A thread that has served its client
// unregisters it (which closes the socket) and, in the same step under the
// lock, takes the lead if it is free or parks until it is given the lead. A
// thread ends when it finishes while maxParkedThreads others are parked (the
// leader counts), when it has had no client for parkedThreadIdleMilliseconds,
// or when Stop wakes it. Its last act is to hand its Worker to the reaper.
//
// The listener. While no thread leads or is parked (at the first client, or
// in a burst that keeps every thread busy) it waits for a client and starts
// a new thread as the leader, while fewer than maxConnectionThreads exist
// (ended ones count until they are joined). When every thread is taken and
// every slot holds a connection, it closes the connection that has waited
// longest for its head, or else the slowest reader (EvictLongestWaiting),
// whose thread then takes the client; otherwise the client waits in the
// listen queue. The listener accepts only to refuse: when no thread can be
// started for a waiting client, it accepts that client and closes it
// unanswered (RefuseOneClient).
//
// The reaper joins and destroys the threads that have ended. It ends itself
// once Stop has begun and no connection thread is left, so Stop's join of
// the reaper is its wait for every connection thread.
//
// Stop (the host's user-interface thread) marks the threads as stopping,
// shuts every registered connection and the listening socket down and wakes
// every waiting thread; busy threads end after their client, whose receive
// or send now fails. It closes the listening socket once no thread leads
// (so no thread can reach a closed or reused socket), then joins the
// listener and the reaper while handling the messages sent to its thread's
// windows: a connection thread may be blocked in a synchronous message to
// the player's window, which only that thread answers.
//
// One lock, `lock_`, guards everything the threads share (below). It is held
// only for short work: never across a join, a window message, the handler
// or a blocking socket call. Invariants, checked under it (CheckInvariants):
// the leader is never among the parked threads, and the connection threads
// are never fewer than the registered connections.
//
// The waits:
//
// clang-format off
// | condition     | who waits         | until                          | who notifies             | timeout              |
// |---------------|-------------------|--------------------------------|--------------------------|----------------------|
// | listenerWake_ | the listener      | no thread leads or is parked,  | PassTheLead (lead left   | none                 |
// |               |                   | or stopping                    | free), Stop              |                      |
// | listenerWake_ | Stop              | no thread leads                | PassTheLead              | none (a leader never |
// |               |                   |                                |                          | waits for the UI     |
// |               |                   |                                |                          | thread)              |
// | slotFreed_    | the listener,     | a connection unregistered or a | Unregister, Reap, Stop   | kEvictionCheck-      |
// |               | when every thread | thread joined                  |                          | Milliseconds (to look|
// |               | is taken          |                                |                          | for one to evict)    |
// | Worker::wake  | a parked thread   | given the lead, or stopping    | PassTheLead, Stop        | its idle deadline    |
// | reaperWake_   | the reaper        | an ended worker, or stopping   | EndWorker, StartWorker   | none                 |
// |               |                   | with no thread left            | (failed), Stop, Start    |                      |
// |               |                   |                                | (listener failed)        |                      |
// clang-format on
//
// Besides: the leader and the listener wait on the listening socket (at
// most kLeaderWaitMilliseconds and kListenerWaitMilliseconds, then they look
// at the state again); Stop joins the listener and the reaper handling
// messages (platform::ScopedThread::JoinHandlingMessages); a failed accept
// or socket wait is followed by a pause of kAcceptRetryMilliseconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/http_connection.h"
#include "http/request_handler.h"
#include "http/server_limits.h"
#include "platform/lock.h"
#include "platform/scoped_thread.h"
#include "platform/sockets.h"
#include "platform/thread_annotations.h"
#include "platform/threads.h"

namespace ambervox {

// The operating-system services the threads depend on. Tests replace single
// entries to make them fail or to watch them; the product uses the defaults.
struct ConnectionThreadServices {
  // Every thread is started through it; only connection threads are started
  // suspended.
  platform::ThreadHandle (*startThread)(platform::ThreadProc proc, void* argument, bool suspended,
                                        platform::ThreadId* id) = &platform::StartThread;
  // What every connection sends through.
  int (*connectionSend)(platform::Socket socket, const char* data, int length) = &platform::Send;
};

class ConnectionThreads {
 public:
  // `handler` is not owned and must outlive every Start/Stop pair.
  ConnectionThreads(RequestHandler& handler, const ServerLimits& limits, const ConnectionThreadServices& services);
  // Stops the threads when they run.
  ~ConnectionThreads();
  ConnectionThreads(const ConnectionThreads&) = delete;
  ConnectionThreads& operator=(const ConnectionThreads&) = delete;

  // Starts the reaper and the listener on `listenSocket` (listening and
  // non-blocking), which is kept until Stop. False, closing the socket, when
  // a thread cannot be started. Start and Stop alternate, on one thread.
  bool Start(platform::ScopedSocket listenSocket) EXCLUDES(lock_);
  // Ends every thread and closes every connection and the listening socket;
  // nothing when not started. Handles the calling thread's window messages
  // while it waits.
  void Stop() EXCLUDES(lock_);

  // Connections registered and not yet destroyed. Any thread.
  int ConnectionCount() const EXCLUDES(lock_);
  // Connection threads started and not yet joined, parked ones included.
  // Any thread.
  int ThreadCount() const EXCLUDES(lock_);
  // Connection threads parked, the leader not included. Any thread.
  int ParkedCount() const EXCLUDES(lock_);

 private:
  // One accepted client. Destroying it closes its socket.
  struct Client;
  // One connection thread: its handle, and its wake-up while it is parked.
  struct Worker;

  static unsigned ListenerThread(void* threads);
  static unsigned ReaperThread(void* threads);
  static unsigned ConnectionThread(void* worker);

  void AcceptClients() EXCLUDES(lock_);
  void Reap() EXCLUDES(lock_);
  // Under the lock: ends the process when an invariant does not hold.
  void CheckInvariants() const REQUIRES(lock_);
  // A new worker that leads and is counted, for the listener to start; null
  // when memory runs out.
  Worker* AddLeadingWorker() REQUIRES(lock_);
  // Starts the thread of `worker` (from AddLeadingWorker). On failure the
  // worker is destroyed and leaves the count and the lead.
  bool StartWorker(Worker* worker) EXCLUDES(lock_);
  // Accepts one waiting client, if there is one, and closes it unanswered;
  // then pauses. For a client no thread can be started for.
  void RefuseOneClient();
  // Shuts down the socket of the registered connection that has waited
  // longest for its request head, at least evictAfterHeadWaitMilliseconds;
  // its thread then finishes it and the slot is free. A connection whose
  // client has sent bytes it has not read yet is passed over (its thread is
  // behind, the client is not idle). When no head has waited that long, the
  // slowest reader goes instead: the answer whose client has accepted
  // nothing for the longest time, at least evictAfterSendStallMilliseconds.
  // Does nothing while an earlier eviction is still being finished, or when
  // no connection qualifies.
  void EvictLongestWaiting() REQUIRES(lock_);
  // A client for a newly accepted socket; null (the socket closed) when
  // memory runs out.
  std::unique_ptr<Client> MakeClient(platform::ScopedSocket socket, const std::string& peer) const;
  // Registers `client`, accepted by the thread that is to serve it; null,
  // destroying it (which closes it unanswered), when its address holds
  // maxConnectionsPerAddress connections or the threads are stopping.
  Client* Register(std::unique_ptr<Client> client) REQUIRES(lock_);
  // Removes a registered client and destroys it, which closes its socket.
  void Unregister(Client* client) REQUIRES(lock_);
  // A connection thread's step between clients: unregisters `finished`,
  // then leads or parks until it has the next client, which it returns; null
  // when the thread is to end (idle too long, too many parked, or stopping).
  Client* NextClient(Worker* worker, Client* finished) EXCLUDES(lock_);
  // Takes the lead when it is free (or keeps it), or parks until given the
  // lead: true. False when the thread is to end; it then leads no more.
  bool ParkOrLead(Worker* worker, LockHolder& hold) REQUIRES(lock_);
  // The leader's work: waits for a client, accepts it, passes the lead on
  // and returns the client once registered. Null when the client was
  // refused, or (`idleOrStopping` set) when the thread is to end; the lead
  // has been passed on either way.
  Client* LeadUntilAClient(Worker* worker, bool* idleOrStopping) EXCLUDES(lock_);
  // Gives the lead to the most recently parked thread, or, when none is
  // parked (or stopping), leaves it free and wakes the listener and Stop.
  void PassTheLead() REQUIRES(lock_);
  // A connection thread's last act: hands its worker to the reaper.
  void EndWorker(Worker* worker) EXCLUDES(lock_);
  // Stop's last step when the reaper was ended from outside (at process
  // exit, the system ends every other thread wherever it stood): whatever
  // is left is let go of without a join.
  void AbandonWorkers() REQUIRES(lock_);

  RequestHandler& handler_;
  const ServerLimits limits_;
  const ConnectionThreadServices services_;

  mutable Lock lock_;
  std::map<const Client*, std::unique_ptr<Client>> connections_ GUARDED_BY(lock_);
  // Threads started and not ended; they own their Worker through this.
  std::vector<std::unique_ptr<Worker>> workers_ GUARDED_BY(lock_);
  // Threads that have ended (their last act done), for the reaper to join.
  std::vector<std::unique_ptr<Worker>> ended_ GUARDED_BY(lock_);
  // Threads waiting for the lead; the last one parked is given it next.
  std::vector<Worker*> parked_ GUARDED_BY(lock_);
  // Connection threads started and not yet joined (parked ones included).
  int workerCount_ GUARDED_BY(lock_) = 0;
  // The thread that accepts the next client; null while the listener does.
  Worker* leader_ GUARDED_BY(lock_) = nullptr;
  bool stopping_ GUARDED_BY(lock_) = false;
  std::condition_variable listenerWake_;
  std::condition_variable slotFreed_;
  std::condition_variable reaperWake_;
  // The reaper's own: the workers it joins outside the lock.
  std::vector<std::unique_ptr<Worker>> joining_;

  // Written by Start and Stop only, while no other thread of this object
  // runs; the threads read them.
  bool started_ = false;
  platform::ScopedSocket listenSocket_;
  platform::ScopedThread listenerThread_;
  platform::ScopedThread reaperThread_;
};

}  // namespace ambervox
