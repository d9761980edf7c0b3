// HttpConnection on real loopback sockets: reading and parsing the request
// head, the cookie parser and the head interpretation, and the response
// writer (header block, cookie line, error page, body pieces).
#include "http/http_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "http/http_time.h"
#include "platform/files.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

using testing::MaskCookie;
using testing::MaskDate;
using testing::SendText;
using testing::SocketPair;

constexpr const char kCookieId[] = "0123ABCD-4567-89EF-0A1B-2C3D4E5F6071";

// Every send the connection makes, piece by piece.
std::vector<std::string> g_sends;
int g_sendLimit = 0;        // > 0: no send transfers more than this
int g_failAfterSends = -1;  // >= 0: sends after this many fail

int RecordSend(platform::Socket, const char* data, int length) {
  if (g_failAfterSends >= 0 && static_cast<int>(g_sends.size()) >= g_failAfterSends) return -1;
  int n = g_sendLimit > 0 && length > g_sendLimit ? g_sendLimit : length;
  g_sends.emplace_back(data, static_cast<std::size_t>(n));
  return n;
}

std::string AllSent() {
  std::string all;
  for (const std::string& s : g_sends) all += s;
  return all;
}

class ConnectionTest : public ::testing::Test {
 protected:
  explicit ConnectionTest(HttpConnection::SendFunction send = &platform::Send)
      : pair_(), pairOk_(pair_.Ok()), connection_(ServerLimits(), send) {
    // The connection owns the server end from here on.
    connection_.Attach(platform::ScopedSocket(pair_.ReleaseServer()), "127.0.0.1");
    g_sends.clear();
    g_sendLimit = 0;
    g_failAfterSends = -1;
  }

  void SetUp() override { ASSERT_TRUE(pairOk_); }

  HeadResult Read(const std::string& bytes) {
    EXPECT_TRUE(SendText(pair_.client, bytes));
    return connection_.ReadRequest(connection_.request.method, connection_.request.target);
  }

  // Sends the head in pieces, 40 ms apart, while the connection reads it.
  HeadResult ReadInPieces(const std::vector<std::string>& pieces) {
    std::thread sender([&] {
      for (const std::string& piece : pieces) {
        SendText(pair_.client, piece);
        platform::SleepMilliseconds(40);
      }
    });
    HeadResult result = connection_.ReadRequest(connection_.request.method, connection_.request.target);
    sender.join();
    return result;
  }

  SocketPair pair_;
  bool pairOk_;
  HttpConnection connection_;
};

// A connection whose every send is recorded in g_sends instead of sent.
class SentBytesTest : public ConnectionTest {
 protected:
  SentBytesTest() : ConnectionTest(&RecordSend) {}
};

TEST_F(ConnectionTest, HeadSplitMidLineGivesTheSameRequestAsOneSentAtOnce) {
  const std::string head =
      "GET /playlist.cgi?current=25 HTTP/1.1\r\nHost: example\r\nAccept-Encoding: gzip\r\nCookie: a=b\r\n\r\n";
  ASSERT_EQ(Read(head), HeadResult::kComplete);
  ByteString method = connection_.request.method;
  ByteString target = connection_.request.target;
  auto headers = connection_.request.headers;
  EXPECT_STREQ(method.CStr(), "GET");
  EXPECT_STREQ(target.CStr(), "/playlist.cgi?current=25");
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_STREQ(headers[ByteString("accept-encoding")].CStr(), "gzip");

  SocketPair second;
  ASSERT_TRUE(second.Ok());
  HttpConnection split{ServerLimits()};
  split.Attach(platform::ScopedSocket(second.ReleaseServer()), "");
  std::thread sender([&] {
    // Cuts inside the target, inside a header name, and between "\r" and "\n".
    for (const std::string& piece :
         {head.substr(0, 10), head.substr(10, 35), head.substr(45, 18), head.substr(63, 23), head.substr(86)}) {
      SendText(second.client, piece);
      platform::SleepMilliseconds(40);
    }
  });
  HeadResult result = split.ReadRequest(split.request.method, split.request.target);
  sender.join();
  ASSERT_EQ(result, HeadResult::kComplete);
  EXPECT_EQ(split.request.method, method);
  EXPECT_EQ(split.request.target, target);
  EXPECT_EQ(split.request.headers, headers);
}

TEST_F(ConnectionTest, BareLineFeedsEndLinesToo) {
  ASSERT_EQ(Read("GET /x HTTP/1.0\nReferer: http://h/\nX-Mixed: 1\r\n\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.target.CStr(), "/x");
  EXPECT_STREQ(connection_.request.Header("referer").CStr(), "http://h/");
  EXPECT_STREQ(connection_.request.Header("x-mixed").CStr(), "1");
}

TEST_F(ConnectionTest, HeaderNamesAreLowerCasedAndNamesAndValuesStripped) {
  ASSERT_EQ(Read("GET / HTTP/1.1\r\n   ACCEPT-Encoding   :   gzip, deflate   \r\nX:\r\n\r\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.Header("accept-encoding").CStr(), "gzip, deflate");
  ASSERT_EQ(connection_.request.headers.count(ByteString("x")), 1u);
  EXPECT_TRUE(connection_.request.Header("x").IsEmpty());
  EXPECT_EQ(connection_.request.headers.count(ByteString("ACCEPT-Encoding")), 0u);
}

// A colon right after a lead byte is still the end of the name: a colon can
// never be the trail byte of a two-byte character.
TEST_F(ConnectionTest, NameEndsAtTheFirstColonByteEvenAfterALeadByte) {
  ASSERT_EQ(Read("GET / HTTP/1.1\r\nX\x82: http://h/?a\r\n\r\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.Header("x\x82").CStr(), "http://h/?a");
}

TEST_F(ConnectionTest, FirstOfTwoEqualHeadersWins) {
  ASSERT_EQ(Read("GET / HTTP/1.1\r\nReferer: first\r\nREFERER: second\r\n\r\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.Header("referer").CStr(), "first");
}

TEST_F(ConnectionTest, RequestLineWordsAndIgnoredLines) {
  // Leading and repeated spaces separate words; lines without a colon are
  // ignored; nothing after the empty line is read.
  ASSERT_EQ(Read("   GET    /a%20b   HTTP/1.1  extra\r\nno colon here\r\n\r\nLate: 1\r\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.method.CStr(), "GET");
  EXPECT_STREQ(connection_.request.target.CStr(), "/a%20b");
  EXPECT_TRUE(connection_.request.headers.empty());
}

TEST_F(ConnectionTest, RequestLineWithOneWordLeavesTheTargetEmpty) {
  ASSERT_EQ(ReadInPieces({"GE", "T\r", "\n\r\n"}), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.method.CStr(), "GET");
  EXPECT_TRUE(connection_.request.target.IsEmpty());
}

TEST_F(ConnectionTest, PeerClosingBeforeTheEmptyLineIsAnIncompleteHead) {
  ASSERT_TRUE(SendText(pair_.client, "GET / HTTP/1.1\r\nHost: x\r\n"));
  platform::ShutdownBoth(pair_.client);
  EXPECT_EQ(connection_.ReadRequest(connection_.request.method, connection_.request.target), HeadResult::kIncomplete);
}

TEST_F(ConnectionTest, HeadLargerThanTheLimitIsRefused) {
  std::string head = "GET / HTTP/1.1\r\n";
  while (head.size() <= static_cast<std::size_t>(kMaxHeadBytes)) head += "X-Filler: " + std::string(90, 'a') + "\r\n";
  EXPECT_EQ(Read(head + "\r\n"), HeadResult::kTooLarge);
}

TEST_F(ConnectionTest, HeadJustUnderTheLimitIsAccepted) {
  std::string head = "GET / HTTP/1.1\r\n";
  std::string line = "X-Filler: " + std::string(90, 'a') + "\r\n";
  while (head.size() + line.size() + 2 <= static_cast<std::size_t>(kMaxHeadBytes)) head += line;
  EXPECT_EQ(Read(head + "\r\n"), HeadResult::kComplete);
}

TEST_F(ConnectionTest, ControlCharactersOtherThanTabAreRefused) {
  EXPECT_EQ(Read("GET / HTTP/1.1\r\nReferer: a\rSet-Cookie: x\r\n\r\n"), HeadResult::kBadCharacter);
}

TEST_F(ConnectionTest, NulInTheRequestLineIsRefused) {
  EXPECT_EQ(Read(std::string("GET /a\0b HTTP/1.1\r\n\r\n", 21)), HeadResult::kBadCharacter);
}

TEST_F(ConnectionTest, TabInAValueIsKept) {
  ASSERT_EQ(Read("GET / HTTP/1.1\r\nX-Tab: a\tb\r\n\r\n"), HeadResult::kComplete);
  EXPECT_STREQ(connection_.request.Header("x-tab").CStr(), "a\tb");
}

TEST(ConnectionHeadTimeout, TheWholeHeadMustArriveInTime) {
  // A client that trickles one byte every 50 ms never completes its head;
  // the limit counts from the start, not from the last byte.
  SocketPair pair;
  ASSERT_TRUE(pair.Ok());
  ServerLimits limits;
  limits.headTimeoutMilliseconds = 300;
  HttpConnection connection(limits);
  connection.Attach(platform::ScopedSocket(pair.ReleaseServer()), "");
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    const std::string head = "GET /a-rather-long-target-that-takes-a-while HTTP/1.1\r\n";
    for (std::size_t i = 0; i < head.size() && !done; ++i) {
      SendText(pair.client, head.substr(i, 1));
      platform::SleepMilliseconds(50);
    }
  });
  auto start = std::chrono::steady_clock::now();
  HeadResult result = connection.ReadRequest(connection.request.method, connection.request.target);
  auto elapsed = std::chrono::steady_clock::now() - start;
  done = true;
  trickle.join();
  EXPECT_EQ(result, HeadResult::kIncomplete);
  // The trickle would last about 2.7 s; a per-receive time-out would wait it out.
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
}

TEST(ParseCookies, PiecesNamesAndValues) {
  HttpConnection connection{ServerLimits()};
  connection.request.cookies[ByteString("stale")] = "1";
  connection.ParseCookies(" a=b=c ;;d=;==e=f;  g = h ; =;noValue; ==x");
  std::map<ByteString, ByteString> expected = {{"a", "b"}, {"d", ""}, {"e", "f"}, {"g", "h"}, {"noValue", ""}};
  EXPECT_EQ(connection.request.cookies, expected);
}

TEST(ParseCookies, LastOfTwoEqualNamesWinsAndNamesAreCaseSensitive) {
  HttpConnection connection{ServerLimits()};
  connection.ParseCookies("UserID=first; userid=lower; UserID=second");
  EXPECT_STREQ(connection.request.cookies[ByteString("UserID")].CStr(), "second");
  EXPECT_STREQ(connection.request.cookies[ByteString("userid")].CStr(), "lower");
}

class InterpretHead : public ::testing::Test {
 protected:
  InterpretHead() : connection_(ServerLimits()) {}
  void Interpret(std::map<ByteString, ByteString> headers) {
    connection_.request.headers = std::move(headers);
    connection_.InterpretHead();
  }
  HttpConnection connection_;
};

TEST_F(InterpretHead, LastUserIdCookieIsScanned) {
  Interpret({{"cookie", ("UserID=11111111-2222-3333-4444-555555555555; UserID=" + std::string(kCookieId)).c_str()}});
  EXPECT_EQ(connection_.request.hasUserIdCookie, 1);
  EXPECT_STREQ(connection_.request.userId.ToText().CStr(), kCookieId);
}

TEST_F(InterpretHead, LowerCaseHexCookieGivesTheSameUserId) {
  Interpret({{"cookie", "UserID=0123abcd-4567-89ef-0a1b-2c3d4e5f6071"}});
  EXPECT_EQ(connection_.request.hasUserIdCookie, 1);
  EXPECT_STREQ(connection_.request.userId.ToText().CStr(), kCookieId);
}

// Browsers whose cookies broke alike must not share one identity.
TEST_F(InterpretHead, AMalformedCookieIsNoIdentityAndGetsAFreshOne) {
  UserId seen;  // all zero, what the broken cookies used to give
  for (const char* cookie : {"UserID=12zz", "UserID=0123ABCD-4567-89EF-0A1B-2C3D4E5F60"}) {
    Interpret({{"cookie", cookie}});
    EXPECT_EQ(connection_.request.hasUserIdCookie, 0) << cookie;
    EXPECT_NE(connection_.request.userId, seen) << cookie;
    seen = connection_.request.userId;
  }
}

TEST_F(InterpretHead, NoUserIdCookieGetsANewIdentity) {
  Interpret({{"cookie", ("userid=" + std::string(kCookieId)).c_str()}});
  EXPECT_EQ(connection_.request.hasUserIdCookie, 0);
  EXPECT_NE(connection_.request.userId, UserId());
  HttpConnection other{ServerLimits()};
  other.InterpretHead();
  EXPECT_EQ(other.request.hasUserIdCookie, 0);
  EXPECT_NE(other.request.userId, connection_.request.userId);
}

TEST_F(InterpretHead, AcceptedEncodingsAreCaseSensitiveNamesAndQualityZeroRefuses) {
  struct Case {
    const char* value;
    int bits;
  } cases[] = {{"gzip, deflate", 3},
               {"GZIP, DEFLATE", 0},
               {"x-gzip", 2},
               {"identity", 0},
               {"", 0},
               // A quality of zero, in any spelling, refuses that encoding only.
               {"deflate;q=0", 0},
               {"gzip;q=0", 0},
               {"gzip;q=0, deflate;q=0", 0},
               {"gzip; Q = 0.000, deflate", 1},
               {"gzip;q=0.", 0},
               {"gzip;q=0.001, deflate;q=0.0", 2},
               {"gzip;q=1, deflate;q=0.5", 3},
               {"gzip;level=0", 2},
               {"gzip;q=0;x=1, deflate", 1}};
  for (const Case& c : cases) {
    HttpConnection connection{ServerLimits()};
    connection.request.headers[ByteString("accept-encoding")] = c.value;
    connection.InterpretHead();
    EXPECT_EQ(connection.request.acceptedEncodings, c.bits) << c.value;
  }
}

TEST_F(InterpretHead, RefererLosesItsErrorCodePart) {
  struct Case {
    const char* value;
    const char* referer;
  } cases[] = {
      {"http://h/playlist.cgi?current=0&errorCode=11", "http://h/playlist.cgi?current=0"},
      {"http://h/playlist.cgi?errorCode=1", "http://h/playlist.cgi"},
      {"http://h/p?errorCode=1&current=5", "http://h/p"},
      {"http://h/p?a=1&&?errorCode=2", "http://h/p?a=1"},
      {"http://h/playlist.cgi?current=10", "http://h/playlist.cgi?current=10"},
      {"http://h/p?ErrorCode=3", "http://h/p?ErrorCode=3"},
  };
  for (const Case& c : cases) {
    HttpConnection connection{ServerLimits()};
    connection.request.headers[ByteString("referer")] = c.value;
    connection.InterpretHead();
    EXPECT_STREQ(connection.request.referer.CStr(), c.referer) << c.value;
  }
}

TEST_F(SentBytesTest, WriteHeaderBuildsTheLinesInOrder) {
  connection_.request.hasUserIdCookie = 1;
  HttpTime before = platform::CurrentTime();
  int result = connection_.WriteHeader(200, "Last-Modified: x", "text/css", 42);
  HttpTime after = platform::CurrentTime();
  ASSERT_EQ(g_sends.size(), 1u);  // the whole block in one send
  EXPECT_EQ(result, static_cast<int>(g_sends[0].size()));
  EXPECT_EQ(MaskDate(g_sends[0], before, after),
            "HTTP/1.1 200 OK\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\nDate: <date>\r\n"
            "Content-Type: text/css\r\nContent-Length: 42\r\nLast-Modified: x\r\nConnection: close\r\n\r\n");
}

TEST_F(SentBytesTest, WriteHeaderLeavesOutEmptyTypesNegativeLengthsAndEmptyExtras) {
  connection_.request.hasUserIdCookie = 1;
  HttpTime before = platform::CurrentTime();
  connection_.WriteHeader(501, nullptr, nullptr, -1);
  connection_.WriteHeader(304, "", "", 0);
  HttpTime after = platform::CurrentTime();
  ASSERT_EQ(g_sends.size(), 2u);
  EXPECT_EQ(MaskDate(g_sends[0], before, after),
            "HTTP/1.1 501 Not Implemented\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\n"
            "Date: <date>\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(MaskDate(g_sends[1], before, after),
            "HTTP/1.1 304 Not Modified\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\n"
            "Date: <date>\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST_F(SentBytesTest, ExtraHeadersEndWithExactlyOneLineEnd) {
  connection_.request.hasUserIdCookie = 1;
  const char* extras[] = {"Location: /a", "Location: /a\r\n", "Location: /a\n", "Location: /a\r\n\r\n\n"};
  for (const char* extra : extras) {
    g_sends.clear();
    connection_.WriteHeader(302, extra, nullptr, -1);
    ASSERT_EQ(g_sends.size(), 1u);
    const std::string& head = g_sends[0];
    EXPECT_EQ(head.substr(head.find("Location")), "Location: /a\r\nConnection: close\r\n\r\n") << extra;
  }
  g_sends.clear();
  connection_.WriteHeader(302, "A: 1\r\nB: 2", nullptr, 7);
  EXPECT_NE(g_sends[0].find("Content-Length: 7\r\nA: 1\r\nB: 2\r\nConnection: close\r\n\r\n"), std::string::npos);
  // Only line ends: nothing is added.
  g_sends.clear();
  connection_.WriteHeader(302, "\r\n", nullptr, 7);
  EXPECT_NE(g_sends[0].find("Content-Length: 7\r\nConnection: close\r\n\r\n"), std::string::npos);
}

TEST_F(SentBytesTest, FirstVisitCookieSitsAfterContentLengthBeforeExtras) {
  connection_.request.hasUserIdCookie = 0;
  connection_.request.userId.ScanText(kCookieId);
  HttpTime before = platform::CurrentTime();
  connection_.WriteHeader(200, "Location: /x\r\n", "text/html", 0);
  HttpTime after = platform::CurrentTime();
  ASSERT_EQ(g_sends.size(), 1u);
  EXPECT_EQ(MaskCookie(MaskDate(g_sends[0], before, after), kCookieId, before, after),
            "HTTP/1.1 200 OK\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\nDate: <date>\r\n"
            "Content-Type: text/html\r\nContent-Length: 0\r\nSet-Cookie: <cookie " +
                std::string(kCookieId) + ">\r\nLocation: /x\r\nConnection: close\r\n\r\n");
}

TEST_F(ConnectionTest, UserIdCookieLineExpiresInThirtyDays) {
  connection_.request.userId.ScanText(kCookieId);
  HttpTime before = platform::CurrentTime();
  std::string line = connection_.BuildUserIdCookie().CStr();
  HttpTime after = platform::CurrentTime();
  EXPECT_EQ(MaskCookie(line + "\r\n", kCookieId, before, after),
            "Set-Cookie: <cookie " + std::string(kCookieId) + ">\r\n");
  // Day, month and year joined by hyphens.
  EXPECT_NE(line.find("; expires="), std::string::npos);
  EXPECT_EQ(line.substr(line.size() - 13), " GMT; path=/;");
}

TEST_F(SentBytesTest, ErrorPageIsSentWithItsTerminatingZero) {
  connection_.request.hasUserIdCookie = 1;
  HttpTime before = platform::CurrentTime();
  connection_.SendErrorPage(404, nullptr, "The requested URL /x was not found on this server.");
  HttpTime after = platform::CurrentTime();
  const std::string page =
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n"
      "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY>\r\n"
      "<H1>Not Found</H1>\r\n"
      "<P>The requested URL /x was not found on this server.</P>\r\n"
      "<HR>\r\n<ADDRESS><A HREF=\"https://ambervox.invalid/\">Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server"
      "</A></ADDRESS>\n</BODY></HTML>\r\n";
  ASSERT_EQ(g_sends.size(), 1u);  // header block and page in one send
  EXPECT_EQ(MaskDate(g_sends[0], before, after),
            "HTTP/1.1 404 Not Found\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\nDate: <date>\r\n"
            "Content-Type: text/html; charset=iso-8859-1\r\nContent-Length: " +
                std::to_string(page.size() + 1) + "\r\nConnection: close\r\n\r\n" + page + std::string(1, '\0'));
}

TEST_F(SentBytesTest, ErrorPageWithoutDetailHasNoParagraph) {
  connection_.request.hasUserIdCookie = 1;
  connection_.SendErrorPage(500, nullptr, "");
  ASSERT_EQ(g_sends.size(), 1u);
  EXPECT_EQ(g_sends[0].find("<P>"), std::string::npos);
  EXPECT_NE(g_sends[0].find("<H1>Internal Server Error</H1>\r\n<HR>"), std::string::npos);
}

TEST_F(SentBytesTest, SendHtmlSendsTheHeaderWithTheFirstPieceAndTheRestInPiecesOf8192Bytes) {
  connection_.request.hasUserIdCookie = 1;
  std::string body(20000, 'x');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  connection_.SendHtml(body.data(), static_cast<int>(body.size()), "");
  ASSERT_EQ(g_sends.size(), 3u);
  const std::size_t headEnd = g_sends[0].find("\r\n\r\n") + 4;
  EXPECT_NE(g_sends[0].find("Content-Type: text/html\r\nContent-Length: 20000\r\n"), std::string::npos);
  EXPECT_EQ(g_sends[0].size() - headEnd, 8192u);
  EXPECT_EQ(g_sends[1].size(), 8192u);
  EXPECT_EQ(g_sends[2].size(), 3616u);
  EXPECT_EQ(g_sends[0].substr(headEnd) + g_sends[1] + g_sends[2], body);
}

TEST_F(SentBytesTest, SendHtmlContinuesWhereAShortSendStopped) {
  connection_.request.hasUserIdCookie = 1;
  std::string body(10000, 'x');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  g_sendLimit = 3000;
  connection_.SendHtml(body.data(), static_cast<int>(body.size()), "");
  std::string all = AllSent();
  EXPECT_EQ(all.substr(all.find("\r\n\r\n") + 4), body);
}

TEST_F(SentBytesTest, SendHtmlStopsAtTheFirstFailedSend) {
  connection_.request.hasUserIdCookie = 1;
  std::string body(30000, 'x');
  g_failAfterSends = 2;  // the header with the first piece, and one more
  connection_.SendHtml(body.data(), static_cast<int>(body.size()), "");
  EXPECT_EQ(g_sends.size(), 2u);
}

TEST_F(ConnectionTest, RepliesReachTheClientSocket) {
  connection_.request.hasUserIdCookie = 1;
  connection_.SendHtml("hi", 2, "");
  connection_.CloseSocket();
  connection_.CloseSocket();  // a second close does nothing
  testing::Response r = testing::ParseResponse(testing::ReceiveAll(pair_.client));
  EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.body, "hi");
}

// A client that accepts at most g_acceptPerSend bytes per send after a pause
// of g_pauseMilliseconds, and nothing at all once g_acceptLimit bytes are in.
int g_acceptPerSend = 0;
unsigned g_pauseMilliseconds = 0;
std::int64_t g_acceptLimit = 0;
std::int64_t g_accepted = 0;
int PacedSend(platform::Socket, const char*, int length) {
  platform::SleepMilliseconds(g_pauseMilliseconds);
  if (g_accepted >= g_acceptLimit) return -1;  // the send time-out
  const int taken = length < g_acceptPerSend ? length : g_acceptPerSend;
  g_accepted += taken;
  return taken;
}

// Every answer must keep moving: one whose client takes too little in the
// progress window, or too little for the time the whole answer has taken,
// ends before it is sent, while a client that keeps up gets all of it.
TEST(SendBudget, AnAnswerEndsWhenItsClientFallsBehind) {
  ServerLimits limits;
  limits.sendStallMilliseconds = 300;
  limits.minSendProgressBytes = 1024;
  limits.answerBaseMilliseconds = 300;
  limits.answerBytesPerSecond = 10 * 1024;
  const std::string body(64 * 1024, 'x');
  struct Case {
    int acceptPerSend;
    unsigned pauseMilliseconds;
    std::int64_t acceptLimit;
    bool complete;
  } cases[] = {
      {8192, 1, 1 << 30, true},    // keeps up
      {600, 100, 1 << 30, false},  // enough for the window, far too slow for the answer
      {600, 1, 4096, false},       // takes 4 KB, then nothing
  };
  for (const Case& c : cases) {
    g_acceptPerSend = c.acceptPerSend;
    g_pauseMilliseconds = c.pauseMilliseconds;
    g_acceptLimit = c.acceptLimit;
    g_accepted = 0;
    HttpConnection connection{limits, &PacedSend};
    connection.StartAnswer();
    EXPECT_EQ(connection.SendAll(body.data(), static_cast<int>(body.size())), c.complete) << c.acceptPerSend;
    EXPECT_EQ(g_accepted == static_cast<std::int64_t>(body.size()), c.complete) << c.acceptPerSend;
    std::int64_t since = 0;
    EXPECT_TRUE(connection.IsSendStalled(HttpConnection::SteadyMilliseconds() + 1000, 1000, &since));
  }
}

}  // namespace
}  // namespace ambervox
