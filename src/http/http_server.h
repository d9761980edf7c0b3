// HttpServer: the listening socket, the connection threads that accept
// clients and serve the site (pages/site.h) on them, one request per
// connection, the listener thread that starts connection threads when every
// one is busy, and the reaper thread that joins and destroys connection
// threads that have ended.
//
// Owned by the plug-in (one instance for the library's lifetime; tests make
// as many as they like). Start and Stop run on the host's user-interface
// thread and alternate any number of times; each successful Start pairs one
// socket-library start-up with the clean-up of the next Stop. Stop's waits
// keep handling messages sent to that thread's windows, because a connection
// thread may be blocked in a synchronous message to the player's window,
// which only that thread answers.
//
// Connection threads: one thread at a time, the leader, waits on the
// (non-blocking) listening socket and accepts the next client. It registers
// the client, passes the lead to the most recently parked thread and serves
// the client itself; so a client reaches its thread without a hand-over
// between threads. A thread that has served its client unregisters it
// (which closes the socket) and takes the lead if it is free, or parks until
// it is given the lead. Before each client a thread clears its player-stall
// latch (PlayerHost::ForgetStall), so one stalled page does not make the next
// connection's pages answer "unknown". A thread that finishes while
// maxParkedThreads others are parked (the leader counts), one without a
// client for parkedThreadIdleMilliseconds, or one woken by Stop, ends: it
// posts itself to the reaper as its last act (or, when the reaper cannot be
// reached, detaches itself and leaves the count), and the reaper joins and
// destroys it.
//
// The listener never accepts. While no thread leads or is parked (at the
// first client, or in a burst that keeps every thread busy) it waits for a
// client and starts a new thread as the leader, while fewer than
// maxConnectionThreads exist (ended ones count until they are reaped). When
// every thread is taken and every slot holds a connection, it closes the
// connection that has waited longest for its head, or else the slowest
// reader (EvictLongestWaiting), whose thread then takes the client;
// otherwise the client waits in the listen queue.
//
// Locks: `connectionsLock` guards `connections`, each client's `evicted`
// mark, the parked threads, the leader and the count of connection threads
// (and the wake-ups: of the listener when the lead falls free or a slot is
// freed, of each parked thread). It is taken by the leader (register, pass
// the lead), by connection threads (unregister, park or lead), by the
// listener (start a thread, evict), by the reaper (count a joined thread
// out), by Stop (shut every connection down, wake the parked threads, read
// the sizes) and by ConnectionCount. It is held only for short work: never
// across a join, a window message or a blocking socket call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <set>
#include <string>
#include <vector>

#include "http/server_limits.h"
#include "pages/admin_lockout.h"
#include "platform/lock.h"
#include "platform/scoped_thread.h"
#include "platform/sockets.h"
#include "platform/thread_annotations.h"
#include "platform/threads.h"

namespace ambervox {

class CacheRefresher;
class PluginSettings;
class RequestQueue;

// The operating-system services the server's threads depend on. Tests
// replace single entries to make them fail; the product uses the defaults.
struct HttpServerServices {
  bool (*socketsStartup)(std::string* error) = &platform::SocketsStartup;
  void (*socketsCleanup)() = &platform::SocketsCleanup;
  platform::ThreadHandle (*startThread)(platform::ThreadProc proc, void* argument, bool suspended,
                                        platform::ThreadId* id) = &platform::StartThread;
  bool (*postThreadMessage)(platform::ThreadId target, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) = &platform::PostThreadMessage;
  // What every connection sends through.
  int (*connectionSend)(platform::Socket socket, const char* data, int length) = &platform::Send;
};

class HttpServer {
 public:
  // `queue` and `settings` are not owned; every connection gets both.
  HttpServer(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits = ServerLimits(),
             const HttpServerServices& services = HttpServerServices());
  virtual ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts serving on `port` (1-65535). False, doing nothing, when already
  // running; false, leaving the server stopped, when the port is out of
  // range, the socket library cannot be started ("Socket error: %s\n" on
  // standard output) or the port cannot be opened. User-interface thread
  // only.
  bool Start(int port);
  // As Start, on a port that the system chooses among the free ones; Port
  // tells which. For tests and tools, which must not depend on a fixed port.
  bool StartOnAnyPort();
  // The port the server listens on; 0 when it is not running.
  int Port() const { return running_ ? port_ : 0; }
  // Closes every connection, waits until all are reaped and ends both
  // threads. False, doing nothing, when not running. User-interface thread
  // only.
  bool Stop();

  // What the admin page's "refreshcache" command starts (not owned; may be
  // null, the command then only redirects). Every connection accepted
  // afterwards gets it. The plug-in sets it before Start.
  void SetCacheRefresher(CacheRefresher* refresher) { cacheRefresher_.store(refresher); }

  bool IsRunning() const { return running_; }
  // Connections registered and not yet destroyed. Any thread.
  int ConnectionCount() const EXCLUDES(connectionsLock_);
  // Connection threads started and not yet joined, parked ones included.
  // Any thread.
  int ConnectionThreadCount() const EXCLUDES(connectionsLock_);

 private:
  // One accepted client: its connection and what its pages work with.
  struct Client;
  // One connection thread: the client it was handed, and its wake-up.
  struct Worker;

  // Start's work: `port` 0 is any free port, kNoPort none.
  bool Listen(int port);
  static unsigned ListenerThread(void* server);
  static unsigned ReaperThread(void* server);
  static unsigned ConnectionThread(void* client);

  void AcceptClients() EXCLUDES(connectionsLock_);
  void Reap() EXCLUDES(connectionsLock_);
  // Shuts down the socket of the registered connection that has waited
  // longest for its request head, at least evictAfterHeadWaitMilliseconds;
  // its thread then finishes it and the slot is free. A connection whose
  // client has sent bytes it has not read yet is passed over (its thread is
  // behind, the client is not idle). When no head has waited that long, the
  // slowest reader goes instead: the answer whose client has accepted
  // nothing for the longest time, at least evictAfterSendStallMilliseconds.
  // Does nothing while an earlier eviction is still being finished, or when
  // no connection qualifies.
  void EvictLongestWaiting() REQUIRES(connectionsLock_);
  // A client for a newly accepted socket; null (the socket closed) when
  // memory runs out.
  Client* MakeClient(platform::ScopedSocket socket, const std::string& peer);
  // Registers `client`, accepted from `peer` by the thread that is to serve
  // it; false, destroying it (which closes it unanswered), when its address
  // holds maxConnectionsPerAddress connections or the server is stopping.
  bool Register(Client* client, const std::string& peer) REQUIRES(connectionsLock_);
  // Starts the thread of `worker`, which leads and is counted already. On
  // failure the worker is destroyed and leaves the count and the lead.
  bool StartWorker(Worker* worker) EXCLUDES(connectionsLock_);
  // Accepts one waiting client, if there is one, and closes it unanswered;
  // then pauses. For a client no thread can be started for.
  void RefuseOneClient();
  // Removes a registered client and destroys it, which closes its socket.
  void Unregister(Client* client) REQUIRES(connectionsLock_);
  // A connection thread's step between clients: unregisters `finished`,
  // then leads or parks until it has the next client, which it returns; null
  // when the thread is to end (idle too long, too many parked, or the server
  // is stopping).
  Client* NextClient(Worker* worker, Client* finished) EXCLUDES(connectionsLock_);
  // Takes the lead when it is free (or keeps it), or parks until given the
  // lead: true. False when the thread is to end; it then leads no more.
  bool ParkOrLead(Worker* worker, LockHolder& hold) REQUIRES(connectionsLock_);
  // The leader's work: waits for a client, accepts it, passes the lead on
  // and returns the client once registered. Null when the client was
  // refused, or (`idleOrStopping` set) when the thread is to end; the lead
  // has been passed on either way.
  Client* LeadUntilAClient(Worker* worker, bool* idleOrStopping) EXCLUDES(connectionsLock_);
  // Gives the lead to the most recently parked thread, or, when none is
  // parked (or the server is stopping), leaves it free and wakes the
  // listener.
  void PassTheLead() REQUIRES(connectionsLock_);
  // A connection thread's last act: to the reaper, or out by itself.
  void EndWorker(Worker* worker) EXCLUDES(connectionsLock_);
  // Ends the listener (after the listening socket was opened).
  void EndListener();
  void EndReaper();

  RequestQueue* const requestQueue_;
  PluginSettings* const settings_;
  const ServerLimits limits_;
  const HttpServerServices services_;
  // Shared by every connection, kept across Stop and Start.
  AdminLockout adminLockout_;
  std::atomic<CacheRefresher*> cacheRefresher_{nullptr};

  mutable Lock connectionsLock_;
  std::set<Client*> connections_ GUARDED_BY(connectionsLock_);
  // Threads waiting for a client; the last one parked is handed the next.
  std::vector<Worker*> parked_ GUARDED_BY(connectionsLock_);
  // Connection threads started and not yet reaped (parked ones included).
  int workerCount_ GUARDED_BY(connectionsLock_) = 0;
  // The parked thread that accepts the next client; null while the
  // listener does.
  Worker* leader_ GUARDED_BY(connectionsLock_) = nullptr;
  std::condition_variable slotFreed_;
  // Tells the listener that the lead fell free, or that the server stops.
  std::condition_variable listenerWake_;

  bool running_ = false;                 // user-interface thread only
  int port_ = 0;                         // user-interface thread only
  std::atomic<bool> stopping_{false};    // written by Start/Stop, read by the listener
  platform::ScopedThread listenerThread_;
  platform::ScopedThread reaperThread_;
  platform::ThreadId listenerThreadId_ = 0;
  platform::ThreadId reaperThreadId_ = 0;
  platform::ScopedSocket listenSocket_;
};

}  // namespace ambervox
