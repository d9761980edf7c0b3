// The limits that keep one HttpServer's resources bounded whatever its
// clients do. The constants are the product's values; ServerLimits carries
// them into a server and its connections so that tests can run the same code
// with shorter time-outs or fewer threads. A plain value, copied into each
// object that uses it.
#pragma once

#include "platform/sockets.h"

namespace ambervox {

// A request head (request line, header lines and the empty line) longer than
// this is answered 400 and the connection closed.
constexpr int kMaxHeadBytes = 64 * 1024;
// A connection that has not sent its complete head this long after it was
// accepted is closed without an answer.
constexpr int kHeadTimeoutMilliseconds = 30 * 1000;
// Every answer must keep moving, so that a client that reads slowly or not
// at all cannot hold a connection thread for as long as it likes. An answer
// ends (and with it the connection) when its client has accepted less than
// kMinSendProgressBytes in kSendStallMilliseconds, or when it has taken
// longer than kAnswerBaseMilliseconds plus one second for every
// kAnswerBytesPerSecond bytes sent so far. A phone on a slow network that
// takes 8 KB a second (64 kbit/s) gets a 2.6 MB playlist page even
// uncompressed (in under six minutes); one that takes 2 KB every 25 s is
// closed after 10 s, and one that trickles just over 1 KB every 10 s after
// about 30 s.
constexpr int kSendStallMilliseconds = 10 * 1000;
constexpr int kMinSendProgressBytes = 1024;
constexpr int kAnswerBaseMilliseconds = 30 * 1000;
constexpr int kAnswerBytesPerSecond = 8 * 1024;
// Connection threads alive at once. It bounds what the threads' stacks take
// of a 32-bit player's address space. When every thread is taken, a new
// client takes the place of the connection that has waited longest for its
// request head, if that one has waited kEvictAfterHeadWaitMilliseconds and
// nothing it sent waits unread (it is closed); otherwise the new client waits until a connection has been
// reaped. So connections that send nothing, or half a head, cannot keep the
// server from answering until kHeadTimeoutMilliseconds frees them.
// When no connection waits for its head that long, the answer whose client
// has accepted nothing for the longest time gives way instead, once that is
// kEvictAfterSendStallMilliseconds: slow readers on many addresses cannot
// keep every thread until their answers time out.
constexpr int kMaxConnectionThreads = 512;
constexpr int kEvictAfterHeadWaitMilliseconds = 1000;
constexpr int kEvictAfterSendStallMilliseconds = 2000;
// A connection thread that has served its connection parks, or accepts the
// next client itself when no other thread does; parked threads count
// towards kMaxConnectionThreads, so they never hold more stacks than a full
// server does. One without a connection this long ends: a burst's stacks are
// given back to the player's address space seconds after it, while
// back-to-back bursts (a page and its style sheet and images, clients
// polling) reuse the threads. The most recently parked thread accepts next,
// so under light load the few busy threads are reused and the rest time out.
constexpr int kParkedThreadIdleMilliseconds = 5 * 1000;
// Threads that may be parked at once, the one accepting included; one that
// finishes while this many wait ends at once. A burst of hundreds of
// clients then leaves a few dozen stacks behind, not hundreds: with every
// thread of a 500-client burst parked for 5 s, the load test's host kept
// about 80 MiB more resident afterwards (the heap could not give back what
// those threads had used), with 32 about 5 MiB, as with no parking at all.
// Two cores serve wrk's 256 connections as fast with 32 parked threads as
// with 256.
constexpr int kMaxParkedThreads = 32;
// Connections one address may hold at once; the next one from it is closed
// at once, unanswered. One client cannot take every connection thread.
constexpr int kMaxConnectionsPerAddress = 64;
// Depth of the listen queue: the longest the system allows, so that a burst
// of clients, or the clients held back by kMaxConnectionThreads, wait there
// instead of being refused (Windows) or having their connects dropped and
// retried a second or more later (Linux).
constexpr int kListenBacklog = platform::kMaxListenBacklog;

// An address that sent this many wrong admin passwords within
// kAdminFailureWindowMilliseconds has its admin attempts refused, without
// comparing, for kAdminLockoutMilliseconds: a guesser gets ten tries a
// minute at most, and the operator at another address is not hindered.
constexpr int kAdminFailuresBeforeLockout = 10;
constexpr int kAdminFailureWindowMilliseconds = 60 * 1000;
constexpr int kAdminLockoutMilliseconds = 60 * 1000;

struct ServerLimits {
  int maxHeadBytes = kMaxHeadBytes;
  int headTimeoutMilliseconds = kHeadTimeoutMilliseconds;
  int sendStallMilliseconds = kSendStallMilliseconds;
  int minSendProgressBytes = kMinSendProgressBytes;
  int answerBaseMilliseconds = kAnswerBaseMilliseconds;
  int answerBytesPerSecond = kAnswerBytesPerSecond;
  int maxConnectionThreads = kMaxConnectionThreads;
  int evictAfterHeadWaitMilliseconds = kEvictAfterHeadWaitMilliseconds;
  int evictAfterSendStallMilliseconds = kEvictAfterSendStallMilliseconds;
  int parkedThreadIdleMilliseconds = kParkedThreadIdleMilliseconds;
  int maxParkedThreads = kMaxParkedThreads;
  int maxConnectionsPerAddress = kMaxConnectionsPerAddress;
  int listenBacklog = kListenBacklog;
  int adminFailuresBeforeLockout = kAdminFailuresBeforeLockout;
  int adminFailureWindowMilliseconds = kAdminFailureWindowMilliseconds;
  int adminLockoutMilliseconds = kAdminLockoutMilliseconds;
};

}  // namespace ambervox
