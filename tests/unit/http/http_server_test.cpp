// HttpServer's lifecycle and threads on real loopback sockets: Start/Stop
// pairs, busy ports, many clients, the resource limits, Stop with clients
// still connected or blocked, and the failure paths of thread creation and
// the socket library.
#include "http/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/plugin_settings.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "player/player_host.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "support/expect_finishes.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

using testing::CloseClient;
using testing::ConnectClient;
using testing::Exchange;
using testing::ParseResponse;
using testing::ReceiveAll;
using testing::SendText;
using testing::WaitUntil;

// Every server listens on a port the system chooses (StartOnAnyPort), so
// that no test depends on a fixed port.

const std::string kRequest = "GET /missing.txt HTTP/1.1\r\nCookie: UserID=0123ABCD-4567-89EF-0A1B-2C3D4E5F6071\r\n\r\n";

bool IsNotFound(const std::string& answer) { return answer.rfind("HTTP/1.1 404 Not Found\r\n", 0) == 0; }

bool PortAccepts(std::uint16_t port) {
  testing::EnsureSocketLibrary();
  platform::Socket s = platform::ConnectLoopback(port);
  if (s == platform::kInvalidSocket) return false;
  CloseClient(s);
  return true;
}

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() : queue_(&cache_), site_(&queue_, &settings_) { settings_.SetWebRoot(root_.Root().c_str()); }

  testing::TempWebRoot root_;
  PluginSettings settings_;
  PlaylistCache cache_;
  RequestQueue queue_;
  SiteHandler site_;
};

TEST_F(ServerTest, StartAndStopAlternateAndAnswerOnlyOnce) {
  HttpServer server(site_);
  EXPECT_FALSE(server.Stop());
  const std::uint16_t first = testing::FreePort();
  const std::uint16_t other = testing::FreePort();
  ASSERT_NE(first, 0);
  ASSERT_NE(other, 0);
  ASSERT_NE(first, other);
  ASSERT_TRUE(server.Start(first));
  EXPECT_TRUE(server.IsRunning());
  EXPECT_EQ(server.Port(), first);
  EXPECT_FALSE(server.Start(first));
  EXPECT_FALSE(server.Start(other));  // still running on the first port only
  EXPECT_FALSE(server.StartOnAnyPort());
  EXPECT_TRUE(IsNotFound(Exchange(first, kRequest)));
  EXPECT_FALSE(PortAccepts(other));
  EXPECT_TRUE(server.Stop());
  EXPECT_FALSE(server.IsRunning());
  EXPECT_EQ(server.Port(), 0);
  EXPECT_FALSE(server.Stop());
  EXPECT_FALSE(PortAccepts(first));

  // Stop, then Start on another port: served there, not on the old one.
  ASSERT_TRUE(server.Start(other));
  EXPECT_TRUE(IsNotFound(Exchange(other, kRequest)));
  EXPECT_FALSE(PortAccepts(first));
  EXPECT_TRUE(server.Stop());
  // Then on a port the system chooses, which the server reports.
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t any = static_cast<std::uint16_t>(server.Port());
  ASSERT_NE(any, 0);
  EXPECT_TRUE(IsNotFound(Exchange(any, kRequest)));
  EXPECT_TRUE(server.Stop());
  EXPECT_FALSE(PortAccepts(any));
}

TEST_F(ServerTest, DestroyingARunningServerStopsIt) {
  std::uint16_t port = 0;
  {
    HttpServer server(site_);
    ASSERT_TRUE(server.StartOnAnyPort());
    port = static_cast<std::uint16_t>(server.Port());
    EXPECT_TRUE(PortAccepts(port));
  }
  EXPECT_FALSE(PortAccepts(port));
}

std::atomic<int> g_threadsStarted{0};
platform::ThreadHandle CountingStartThread(platform::ThreadProc proc, void* argument, bool suspended,
                                           platform::ThreadId* id) {
  ++g_threadsStarted;
  return platform::StartThread(proc, argument, suspended, id);
}

TEST_F(ServerTest, BusyPortFailsWithoutThreadsAndAFreePortWorksLater) {
  std::uint16_t busy = 0;
  platform::Socket squatter = testing::ListenOnFreePort(&busy, 1);
  ASSERT_NE(squatter, platform::kInvalidSocket);
  HttpServerServices services;
  services.startThread = &CountingStartThread;
  g_threadsStarted = 0;
  HttpServer server(site_, ServerLimits(), services);
  EXPECT_FALSE(server.Start(busy));
  EXPECT_FALSE(server.IsRunning());
  EXPECT_EQ(g_threadsStarted, 0);
  EXPECT_FALSE(server.Stop());
  platform::CloseSocket(squatter);
  ASSERT_TRUE(server.StartOnAnyPort());
  EXPECT_EQ(g_threadsStarted, 2);  // the listener and the reaper
  EXPECT_TRUE(IsNotFound(Exchange(static_cast<std::uint16_t>(server.Port()), kRequest)));
  EXPECT_TRUE(server.Stop());
}

TEST_F(ServerTest, PortsOutsideTheTcpRangeFail) {
  HttpServer server(site_);
  EXPECT_FALSE(server.Start(0));
  EXPECT_FALSE(server.Start(65536));
  EXPECT_FALSE(server.Start(-80));
  EXPECT_FALSE(server.IsRunning());
}

bool FailingSocketsStartup(std::string* error) {
  *error = "cannot find winsock.dll";
  return false;
}

TEST_F(ServerTest, MissingSocketLibraryFailsStartAndTheProcessGoesOn) {
  HttpServerServices services;
  services.socketsStartup = &FailingSocketsStartup;
  services.startThread = &CountingStartThread;
  g_threadsStarted = 0;
  HttpServer server(site_, ServerLimits(), services);
  const std::uint16_t port = testing::FreePort();
  ::testing::internal::CaptureStdout();
  bool started = server.Start(port);
  std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(started);
  EXPECT_EQ(printed, "Socket error: cannot find winsock.dll\n");
  EXPECT_FALSE(server.IsRunning());
  EXPECT_EQ(g_threadsStarted, 0);
  EXPECT_FALSE(server.Stop());
  EXPECT_FALSE(PortAccepts(port));
}

TEST_F(ServerTest, StopReturnsWhileAClientHoldsAHalfSentRequest) {
  HttpServer server(site_);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  platform::Socket client = ConnectClient(port);
  ASSERT_NE(client, platform::kInvalidSocket);
  ASSERT_TRUE(SendText(client, "GET /missing.txt HTT"));
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(server.ConnectionCount(), 0);
  EXPECT_EQ(ReceiveAll(client), "");  // closed without an answer
  CloseClient(client);
}

TEST_F(ServerTest, TwoHundredClientsAtOnceAreAllAnsweredAndReaped) {
  ServerLimits limits;
  limits.maxConnectionsPerAddress = 200;  // all come from the loopback address
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  std::vector<platform::Socket> clients;
  for (int i = 0; i < 200; ++i) {
    platform::Socket s = ConnectClient(port);
    ASSERT_NE(s, platform::kInvalidSocket) << i;
    clients.push_back(s);
  }
  for (platform::Socket s : clients) ASSERT_TRUE(SendText(s, kRequest));
  int answered = 0;
  for (platform::Socket s : clients) {
    answered += IsNotFound(ReceiveAll(s)) ? 1 : 0;
    CloseClient(s);
  }
  EXPECT_EQ(answered, 200);
  // A client sees the end of its answer only when the reaper has already
  // taken its connection out of the set.
  EXPECT_EQ(server.ConnectionCount(), 0);
  EXPECT_TRUE(server.Stop());
}

TEST_F(ServerTest, ClientsBeyondTheThreadLimitWaitInTheListenQueue) {
  ServerLimits limits;
  limits.maxConnectionThreads = 3;
  limits.evictAfterHeadWaitMilliseconds = 60 * 1000;  // none has waited that long
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  std::vector<platform::Socket> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(ConnectClient(port));
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 3; }));

  platform::Socket waiting = ConnectClient(port);
  ASSERT_NE(waiting, platform::kInvalidSocket);
  ASSERT_TRUE(SendText(waiting, kRequest));
  platform::SetReceiveTimeout(waiting, 300);
  char byte;
  EXPECT_EQ(platform::Receive(waiting, &byte, 1), -1);  // not served yet
  EXPECT_EQ(server.ConnectionCount(), 3);

  CloseClient(idle[0]);  // its connection ends and frees a slot
  platform::SetReceiveTimeout(waiting, 20000);
  EXPECT_TRUE(IsNotFound(ReceiveAll(waiting)));
  CloseClient(waiting);
  EXPECT_TRUE(server.Stop());
  CloseClient(idle[1]);
  CloseClient(idle[2]);
}

// When every thread is taken, the connection that has waited longest for its
// head makes room for the new one; the others stay.
TEST_F(ServerTest, AFullServerClosesTheConnectionThatWaitedLongestForItsHead) {
  ServerLimits limits;
  limits.maxConnectionThreads = 3;
  limits.evictAfterHeadWaitMilliseconds = 200;
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  std::vector<platform::Socket> halfSent;
  for (int i = 0; i < 3; ++i) {
    halfSent.push_back(ConnectClient(port));
    ASSERT_TRUE(SendText(halfSent.back(), "GET /missing.txt HTTP/1.1\r\nHost: x"));
    ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == i + 1; }));
    platform::SleepMilliseconds(50);
  }

  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(IsNotFound(Exchange(port, kRequest)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(ReceiveAll(halfSent[0]), "");  // closed unanswered
  for (int i = 1; i < 3; ++i) {
    platform::SetReceiveTimeout(halfSent[i], 100);
    char byte;
    EXPECT_EQ(platform::Receive(halfSent[i], &byte, 1), -1) << i;  // still waiting, still open
  }
  EXPECT_EQ(server.ConnectionCount(), 2);
  EXPECT_TRUE(server.Stop());
  for (platform::Socket s : halfSent) CloseClient(s);
}

// Connection threads (the only ones started suspended) go through this
// wrapper, which counts them as they start and as they return. One started
// while gConnectionThreadsHeld is set runs only when the test lets it go, so
// that its client's head sits unread in the socket as on a machine too busy
// to run it.
std::atomic<bool> gConnectionThreadsHeld{false};
std::atomic<int> g_connectionThreadsStarted{0};
std::atomic<int> g_connectionThreadsEnded{0};

struct WatchedStart {
  platform::ThreadProc proc;
  void* argument;
  bool held;
};

unsigned WatchedThreadProc(void* argument) {
  const WatchedStart start = *static_cast<WatchedStart*>(argument);
  delete static_cast<WatchedStart*>(argument);
  while (start.held && gConnectionThreadsHeld.load()) platform::SleepMilliseconds(5);
  const unsigned result = start.proc(start.argument);
  ++g_connectionThreadsEnded;
  return result;
}

platform::ThreadHandle StartWatchedThread(platform::ThreadProc proc, void* argument, bool suspended,
                                          platform::ThreadId* id) {
  if (!suspended) return platform::StartThread(proc, argument, suspended, id);
  ++g_connectionThreadsStarted;
  return platform::StartThread(&WatchedThreadProc, new WatchedStart{proc, argument, gConnectionThreadsHeld.load()},
                               suspended, id);
}

HttpServerServices WatchingConnectionThreads() {
  g_connectionThreadsStarted = 0;
  g_connectionThreadsEnded = 0;
  HttpServerServices services;
  services.startThread = &StartWatchedThread;
  return services;
}

// A full server does not close a client that sent its whole head and only
// waits for a thread to run: each is answered once the threads catch up.
TEST_F(ServerTest, AFullServerKeepsClientsWhoseHeadsWaitUnread) {
  ServerLimits limits;
  limits.maxConnectionThreads = 2;
  limits.evictAfterHeadWaitMilliseconds = 0;
  HttpServer server(site_, limits, WatchingConnectionThreads());
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  gConnectionThreadsHeld = true;
  std::vector<platform::Socket> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(ConnectClient(port));
    ASSERT_TRUE(SendText(clients.back(), kRequest));
  }
  // The first thread was started for them and does not run yet.
  const bool started = WaitUntil([&] { return g_connectionThreadsStarted.load() >= 1; });
  platform::SleepMilliseconds(200);  // the listener looks for room meanwhile
  gConnectionThreadsHeld = false;
  ASSERT_TRUE(started);
  for (platform::Socket s : clients) {
    EXPECT_TRUE(IsNotFound(ReceiveAll(s)));
    CloseClient(s);
  }
  EXPECT_TRUE(server.Stop());
}

// One address holds at most maxConnectionsPerAddress connections; the next
// one is closed at once, and a freed place is taken again.
TEST_F(ServerTest, AnAddressHoldsNoMoreThanItsShareOfConnections) {
  ServerLimits limits;
  limits.maxConnectionsPerAddress = 2;
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  std::vector<platform::Socket> idle = {ConnectClient(port), ConnectClient(port)};
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 2; }));
  EXPECT_EQ(Exchange(port, kRequest), "");
  EXPECT_EQ(server.ConnectionCount(), 2);
  CloseClient(idle[0]);
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
  EXPECT_TRUE(IsNotFound(Exchange(port, kRequest)));
  EXPECT_TRUE(server.Stop());
  CloseClient(idle[1]);
}

TEST_F(ServerTest, HeadThatNeverCompletesIsClosedAfterTheTimeOut) {
  ServerLimits limits;
  limits.headTimeoutMilliseconds = 300;
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  platform::Socket client = ConnectClient(port);
  ASSERT_TRUE(SendText(client, "GET /missing.txt HTTP/1.1\r\nHost: x\r\n"));
  EXPECT_EQ(ReceiveAll(client), "");  // the server closes it, unanswered
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
  CloseClient(client);
  EXPECT_TRUE(server.Stop());
}

TEST_F(ServerTest, PeerThatStopsReadingIsClosedAfterTheSendStall) {
  root_.Write("big.bin", std::string(64 * 1024 * 1024, 'b'));
  ServerLimits limits;
  limits.sendStallMilliseconds = 300;
  HttpServer server(site_, limits);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  platform::Socket client = ConnectClient(port);
  ASSERT_TRUE(SendText(client, "GET /big.bin HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
  // The client reads nothing; the server's send stalls once the socket
  // buffers are full, gives up, and the connection is reaped.
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }, 30));
  CloseClient(client);
  EXPECT_TRUE(server.Stop());
}

std::atomic<bool> g_failConnectionThreads{false};
platform::ThreadHandle StartThreadFailingConnections(platform::ThreadProc proc, void* argument, bool suspended,
                                                     platform::ThreadId* id) {
  // Only connection threads are created suspended.
  if (suspended && g_failConnectionThreads) return nullptr;
  return platform::StartThread(proc, argument, suspended, id);
}

TEST_F(ServerTest, ConnectionWithoutAThreadIsClosedAndDestroyed) {
  HttpServerServices services;
  services.startThread = &StartThreadFailingConnections;
  HttpServer server(site_, ServerLimits(), services);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  g_failConnectionThreads = true;
  EXPECT_EQ(Exchange(port, kRequest), "");
  EXPECT_EQ(server.ConnectionCount(), 0);
  g_failConnectionThreads = false;
  EXPECT_TRUE(IsNotFound(Exchange(port, kRequest)));
  EXPECT_TRUE(server.Stop());
}

// Counts every start-up and clean-up of the socket library, and fails the
// reaper's or the listener's start (the first and second thread Start asks
// for that is not suspended) when g_serverThreadToFail names it.
std::atomic<int> g_serverThreadToFail{0};
std::atomic<int> g_serverThreadsAsked{0};
std::atomic<int> g_socketStartups{0};
std::atomic<int> g_socketCleanups{0};

platform::ThreadHandle StartThreadFailingAServerThread(platform::ThreadProc proc, void* argument, bool suspended,
                                                       platform::ThreadId* id) {
  if (!suspended && ++g_serverThreadsAsked == g_serverThreadToFail) return nullptr;
  return platform::StartThread(proc, argument, suspended, id);
}

bool CountingSocketsStartup(std::string* error) {
  ++g_socketStartups;
  return platform::SocketsStartup(error);
}

void CountingSocketsCleanup() {
  ++g_socketCleanups;
  platform::SocketsCleanup();
}

// Start needs the reaper and the listener. When either cannot be started,
// the server is left stopped (no port, no thread, the socket library
// cleaned up), and the next Start serves and reaps as usual.
TEST_F(ServerTest, AServerThreadThatCannotStartLeavesTheServerStopped) {
  HttpServerServices services;
  services.startThread = &StartThreadFailingAServerThread;
  services.socketsStartup = &CountingSocketsStartup;
  services.socketsCleanup = &CountingSocketsCleanup;
  for (int failing = 1; failing <= 2; ++failing) {
    g_serverThreadsAsked = 0;
    g_serverThreadToFail = failing;
    g_socketStartups = 0;
    g_socketCleanups = 0;
    HttpServer server(site_, ServerLimits(), services);
    const std::uint16_t port = testing::FreePort();
    EXPECT_FALSE(server.Start(port)) << failing;
    EXPECT_FALSE(server.IsRunning());
    EXPECT_EQ(server.Port(), 0);
    EXPECT_FALSE(PortAccepts(port)) << failing;
    EXPECT_EQ(g_socketCleanups, g_socketStartups.load());
    EXPECT_FALSE(server.Stop());

    ASSERT_TRUE(server.StartOnAnyPort()) << failing;
    const std::uint16_t served = static_cast<std::uint16_t>(server.Port());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(IsNotFound(Exchange(served, kRequest))) << failing;
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_TRUE(server.Stop());
    EXPECT_EQ(server.ConnectionThreadCount(), 0);
    EXPECT_EQ(g_socketStartups, 2);
    EXPECT_EQ(g_socketCleanups, 2);
  }
}

// Opens `count` connections that wait for their heads (so each holds a
// thread of its own), then sends every request: true when all are answered.
bool ServeAtOnce(const HttpServer& server, int count) {
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  std::vector<platform::Socket> clients;
  for (int i = 0; i < count; ++i) clients.push_back(ConnectClient(port));
  bool all = WaitUntil([&] { return server.ConnectionCount() == count; });
  for (platform::Socket s : clients) all = SendText(s, kRequest) && all;
  for (platform::Socket s : clients) {
    all = IsNotFound(ReceiveAll(s)) && all;
    CloseClient(s);
  }
  return all;
}

// The player's window is gone: every question of a thread's page gives up
// and latches that thread's stall. The first send of each answer (its status
// line) looks whether the latch was already set when the connection began.
platform::WindowHandle g_deadPlayerWindow = nullptr;
std::atomic<int> g_answersStartedStalled{0};
std::atomic<int> g_stallsLatched{0};

int SendLatchingAStall(platform::Socket socket, const char* data, int length) {
  if (std::string(data, static_cast<std::size_t>(length)).rfind("HTTP/1.1 ", 0) == 0) {
    if (PlayerHost::HasStalled()) ++g_answersStartedStalled;
    PlayerHost(g_deadPlayerWindow).GetPlaylistLength();
    if (PlayerHost::HasStalled()) ++g_stallsLatched;
  }
  return platform::Send(socket, data, length);
}

TEST_F(ServerTest, OneThreadServesRequestAfterRequestEachWithAFreshStallLatch) {
  g_deadPlayerWindow = platform::CreateTopLevelWindow("AmbervoxHttpTestPlayer", "gone", &platform::DefaultWindowProc);
  ASSERT_NE(g_deadPlayerWindow, nullptr);
  platform::DestroyTopLevelWindow(g_deadPlayerWindow);
  g_answersStartedStalled = 0;
  g_stallsLatched = 0;
  HttpServerServices services = WatchingConnectionThreads();
  services.connectionSend = &SendLatchingAStall;
  HttpServer server(site_, ServerLimits(), services);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(IsNotFound(Exchange(port, kRequest))) << i;
  EXPECT_EQ(g_connectionThreadsStarted, 1);
  EXPECT_EQ(g_stallsLatched, 5);
  EXPECT_EQ(g_answersStartedStalled, 0);
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(g_connectionThreadsEnded, 1);
}

// Parked threads that wait too long for a client end and are joined; the
// next client gets a new thread, not a handle to one that has gone.
TEST_F(ServerTest, ThreadsParkedTooLongEndAndTheNextClientGetsANewOne) {
  ServerLimits limits;
  limits.parkedThreadIdleMilliseconds = 200;
  HttpServer server(site_, limits, WatchingConnectionThreads());
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());
  EXPECT_TRUE(ServeAtOnce(server, 3));
  EXPECT_EQ(g_connectionThreadsStarted, 3);
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionThreadCount() == 0; }));
  EXPECT_EQ(g_connectionThreadsEnded, 3);
  EXPECT_TRUE(IsNotFound(Exchange(port, kRequest)));
  EXPECT_EQ(g_connectionThreadsStarted, 4);
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(g_connectionThreadsEnded, 4);
}

// A burst leaves no more parked threads than the limit: the others end.
TEST_F(ServerTest, ABurstLeavesAtMostTheParkedLimitOfThreads) {
  ServerLimits limits;
  limits.parkedThreadIdleMilliseconds = 10 * 60 * 1000;
  limits.maxParkedThreads = 2;
  HttpServer server(site_, limits, WatchingConnectionThreads());
  ASSERT_TRUE(server.StartOnAnyPort());
  EXPECT_TRUE(ServeAtOnce(server, 5));
  EXPECT_EQ(g_connectionThreadsStarted, 5);
  EXPECT_TRUE(WaitUntil([&] { return server.ConnectionThreadCount() == 2; }));
  EXPECT_EQ(g_connectionThreadsEnded, 3);
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(g_connectionThreadsEnded, 5);
}

// Stop wakes the parked threads rather than waiting for them to time out,
// joins them all, and the server serves again after the next Start.
TEST_F(ServerTest, StopEndsParkedThreadsAndTheServerStartsAgain) {
  ServerLimits limits;
  limits.parkedThreadIdleMilliseconds = 10 * 60 * 1000;
  HttpServer server(site_, limits, WatchingConnectionThreads());
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(server.StartOnAnyPort());
    EXPECT_TRUE(ServeAtOnce(server, 4));
    EXPECT_EQ(server.ConnectionThreadCount(), 4);
    testing::ExpectFinishes("Stop", "a parked connection thread was not woken", [&] { EXPECT_TRUE(server.Stop()); });
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_EQ(server.ConnectionThreadCount(), 0);
    EXPECT_EQ(g_connectionThreadsStarted, 4 * (round + 1));
    EXPECT_EQ(g_connectionThreadsEnded, g_connectionThreadsStarted.load());
  }
}

// A connection thread that sends a synchronous message to a window of the
// thread that calls Stop, as the pages do with the player's window: Stop
// must keep answering such messages while it waits, or it never returns.
platform::WindowHandle g_uiWindow = nullptr;
std::atomic<bool> g_sendPending{false};
std::atomic<int> g_messagesAnswered{0};
constexpr std::uint32_t kProbeMessage = platform::kMsgUser + 77;

std::intptr_t UiWindowProc(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  if (message == kProbeMessage) {
    ++g_messagesAnswered;
    return 1;
  }
  return platform::DefaultWindowProc(window, message, wParam, lParam);
}

int SendAskingTheUiWindowFirst(platform::Socket socket, const char* data, int length) {
  g_sendPending = true;
  platform::SendWindowMessage(g_uiWindow, kProbeMessage, 0, 0);
  return platform::Send(socket, data, length);
}

TEST_F(ServerTest, StopOnTheUserInterfaceThreadAnswersMessagesOfBlockedConnections) {
  g_uiWindow = platform::CreateTopLevelWindow("AmbervoxHttpTestUi", "http test", &UiWindowProc);
  ASSERT_NE(g_uiWindow, nullptr);
  g_messagesAnswered = 0;
  g_sendPending = false;
  HttpServerServices services;
  services.connectionSend = &SendAskingTheUiWindowFirst;
  HttpServer server(site_, ServerLimits(), services);
  ASSERT_TRUE(server.StartOnAnyPort());
  const std::uint16_t port = static_cast<std::uint16_t>(server.Port());

  platform::Socket client = ConnectClient(port);
  ASSERT_TRUE(SendText(client, kRequest));
  // This thread does not handle messages until Stop: the connection thread
  // is now blocked in its message to the window.
  ASSERT_TRUE(WaitUntil([] { return g_sendPending.load(); }));
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(server.ConnectionCount(), 0);
  EXPECT_GE(g_messagesAnswered, 1);
  CloseClient(client);
  platform::DestroyTopLevelWindow(g_uiWindow);
  g_uiWindow = nullptr;
}

}  // namespace
}  // namespace ambervox
