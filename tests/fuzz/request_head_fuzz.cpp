// Fuzzes the reading of a request head: HttpConnection::ReadRequest over
// arbitrary bytes arriving in arbitrary pieces, then InterpretHead (referer,
// cookies and UserId, accepted encodings) and ParseCookies.
//
// The seam is the receive: this program defines platform::Receive and
// platform::WaitForBytes itself, so the connection's calls bind to
// these definitions instead of the platform library's (the executable's
// own definition wins at link time). The fuzzer thereby decides how the
// bytes are cut into receives, which a loopback socket would coalesce, and
// each input costs no system call.
//
// Input: byte 0 the head-size limit (0: the product's), bytes 1-3 the sizes
// of the pieces handed out by successive receives (cycled; 0: as much as
// the connection asks for), then the bytes the client sends before it
// closes the connection.
//
// Invariants:
// - The result, method, target and headers do not depend on how the bytes
//   are cut into receives; no receive asks for more than the line buffer.
// - A complete head holds a line feed followed by an empty line; a head
//   refused as too large is longer than the limit.
// - Method and target hold no space or control character; header names are
//   lower case, without colon (see HasColon) or outer
//   spaces; values have no outer spaces; neither holds a control character
//   other than tab.
// - The referer is the referer header, cut before any "errorCode=" and then
//   without trailing "?" and "&".
// - Cookie names are not empty; names and values hold no ";" or "=" and no
//   outer spaces. hasUserIdCookie is set exactly when a non-empty UserID
//   cookie came; a well-formed one is read in either letter case.
// - The accepted-encoding bits are set exactly for "gzip" and "deflate" in
//   the header.
// - A UserId's text form reads back to the same UserId.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "common/user_id.h"
#include "fuzz/fuzz_check.h"
#include "http/http_connection.h"
#include "platform/codepage.h"
#include "platform/sockets.h"

namespace ambervox {
namespace {

// What the stubbed receive hands out.
struct Feed {
  const char* data = nullptr;
  int size = 0;
  int position = 0;
  int pieces[3] = {0, 0, 0};
  int calls = 0;
};
Feed g_feed;

}  // namespace

namespace platform {

int Receive(Socket, char* buffer, int length) {
  FUZZ_CHECK(length <= HttpConnection::kLineBufferSize);
  if (g_feed.position >= g_feed.size) return 0;  // the client closed
  int n = g_feed.pieces[g_feed.calls++ % 3];
  if (n <= 0 || n > length) n = length;
  if (n > g_feed.size - g_feed.position) n = g_feed.size - g_feed.position;
  std::memcpy(buffer, g_feed.data + g_feed.position, static_cast<std::size_t>(n));
  g_feed.position += n;
  return n;
}

// The wait before each receive: bytes are there until the client closes.
int WaitForBytes(Socket, int) { return g_feed.position < g_feed.size ? 1 : 0; }

}  // namespace platform

namespace {

struct HeadOutcome {
  HeadResult result = HeadResult::kIncomplete;
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;

  bool operator==(const HeadOutcome& other) const {
    return result == other.result && method == other.method && target == other.target && headers == other.headers;
  }
};

HeadOutcome ReadHead(HttpConnection* connection, const std::string& bytes, const int pieces[3]) {
  g_feed = Feed();
  g_feed.data = bytes.data();
  g_feed.size = static_cast<int>(bytes.size());
  for (int i = 0; i < 3; ++i) g_feed.pieces[i] = pieces[i];
  HeadOutcome outcome;
  ByteString method;
  ByteString target;
  outcome.result = connection->ReadRequest(method, target);
  outcome.method = fuzz::Std(method);
  outcome.target = fuzz::Std(target);
  for (const auto& pair : connection->request.headers) outcome.headers[fuzz::Std(pair.first)] = fuzz::Std(pair.second);
  return outcome;
}

bool HasControl(const std::string& text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return true;
  }
  return false;
}

// The head reader splits a header line at its first colon byte (a colon is
// never a trail byte), so no name holds a colon (corpus seed
// colon_after_lead_byte).
bool HasColon(const std::string& name) { return name.find(':') != std::string::npos; }

bool HasOuterSpace(const std::string& text) { return !text.empty() && (text.front() == ' ' || text.back() == ' '); }

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A line feed, maybe carriage returns, and another line feed: the empty
// line after some first line.
bool HasEmptyLine(const std::string& bytes) {
  for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1)) {
    std::size_t j = i + 1;
    while (j < bytes.size() && bytes[j] == '\r') ++j;
    if (j < bytes.size() && bytes[j] == '\n') return true;
  }
  return false;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The 36 characters of a UserId's text form (either letter case).
bool IsWellFormedUserId(const std::string& text) {
  if (text.size() < 36) return false;
  for (int i = 0; i < 36; ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
  }
  return true;
}

void CheckCookies(const HttpConnection& connection) {
  for (const auto& pair : connection.request.cookies) {
    const std::string name = fuzz::Std(pair.first);
    const std::string value = fuzz::Std(pair.second);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find_first_of(";=") == std::string::npos && value.find_first_of(";=") == std::string::npos);
    FUZZ_CHECK(!HasOuterSpace(name) && !HasOuterSpace(value));
  }
}

void CheckUserIdRoundTrip(const UserId& id) {
  const ByteString text = id.ToText();
  FUZZ_CHECK(text.Length() == 36);
  UserId back;
  FUZZ_CHECK(back.ScanText(text.CStr()) == 11);
  FUZZ_CHECK(back == id);
}

void CheckInterpretation(HttpConnection* connection, const HeadOutcome& head) {
  auto header = [&head](const char* name) {
    auto found = head.headers.find(name);
    return found == head.headers.end() ? std::string() : found->second;
  };
  connection->InterpretHead();

  const std::string refererHeader = header("referer");
  const std::string referer = fuzz::Std(connection->request.referer);
  const std::size_t cut = refererHeader.find("errorCode=");
  if (cut == std::string::npos) {
    FUZZ_CHECK(referer == refererHeader);
  } else {
    std::string expected = refererHeader.substr(0, cut);
    while (!expected.empty() && (expected.back() == '?' || expected.back() == '&')) expected.pop_back();
    FUZZ_CHECK(referer == expected);
  }

  CheckCookies(*connection);
  const std::string cookieHeader = header("cookie");
  if (cookieHeader.empty()) FUZZ_CHECK(connection->request.cookies.empty());
  auto userIdCookie = connection->request.cookies.find(ByteString("UserID"));
  const bool hasCookie = userIdCookie != connection->request.cookies.end() && !userIdCookie->second.IsEmpty();
  // A cookie that does not scan as a UserId is no identity: the browser
  // counts as one without the cookie and gets a fresh one.
  UserId scanned;
  const bool scans = hasCookie && scanned.ScanText(userIdCookie->second.CStr()) == 11;
  FUZZ_CHECK(connection->request.hasUserIdCookie == (scans ? 1 : 0));
  if (scans) FUZZ_CHECK(connection->request.userId == scanned);
  if (hasCookie) {
    std::string text = fuzz::Std(userIdCookie->second);
    if (IsWellFormedUserId(text)) {
      FUZZ_CHECK(scans);
      std::string upper = text.substr(0, 36);
      for (char& c : upper) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
      }
      FUZZ_CHECK(fuzz::Std(connection->request.userId.ToText()) == upper);
    }
  }
  CheckUserIdRoundTrip(connection->request.userId);

  // Only an encoding the header names is accepted. Without parameters (no
  // ";", so no quality of zero and no text after an element's name) every
  // element that names one accepts it.
  const std::string encodings = header("accept-encoding");
  const int named = (encodings.find("gzip") != std::string::npos ? kAcceptsGzip : 0) |
                    (encodings.find("deflate") != std::string::npos ? kAcceptsDeflate : 0);
  FUZZ_CHECK((connection->request.acceptedEncodings & ~named) == 0);
  if (encodings.find(';') == std::string::npos) FUZZ_CHECK(connection->request.acceptedEncodings == named);
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  fuzz::InputReader in(data, size);
  ServerLimits limits;
  const int limitByte = in.Byte();
  if (limitByte != 0) limits.maxHeadBytes = 16 + limitByte * 8;
  int pieces[3];
  for (int& piece : pieces) piece = in.Byte() % 64;
  const std::string bytes = fuzz::Std(in.Rest());

  HttpConnection connection(limits);
  connection.Attach(platform::ScopedSocket(), "127.0.0.1");
  const HeadOutcome head = ReadHead(&connection, bytes, pieces);

  // The same bytes in one piece per receive give the same head.
  {
    HttpConnection whole(limits);
    whole.Attach(platform::ScopedSocket(), "127.0.0.1");
    const int asMuchAsAsked[3] = {0, 0, 0};
    FUZZ_CHECK(ReadHead(&whole, bytes, asMuchAsAsked) == head);
  }

  switch (head.result) {
    case HeadResult::kComplete:
      FUZZ_CHECK(HasEmptyLine(bytes));
      break;
    case HeadResult::kTooLarge:
      FUZZ_CHECK(static_cast<int>(bytes.size()) > limits.maxHeadBytes);
      break;
    case HeadResult::kIncomplete:
      // Only the end of the bytes ends an unfinished head here.
      FUZZ_CHECK(g_feed.position == g_feed.size);
      break;
    case HeadResult::kBadCharacter:
      break;
  }
  FUZZ_CHECK(head.method.find(' ') == std::string::npos && !HasControl(head.method));
  FUZZ_CHECK(head.target.find(' ') == std::string::npos && !HasControl(head.target));
  for (const auto& pair : head.headers) {
    FUZZ_CHECK(pair.first == AsciiLower(pair.first));
    FUZZ_CHECK(!HasColon(pair.first));
    FUZZ_CHECK(!HasOuterSpace(pair.first) && !HasOuterSpace(pair.second));
    FUZZ_CHECK(!HasControl(pair.first) && !HasControl(pair.second));
  }
  if (head.result == HeadResult::kComplete) CheckInterpretation(&connection, head);

  // The cookie parser on its own, over the whole input.
  connection.ParseCookies(fuzz::Bytes(data, size));
  CheckCookies(connection);
  return 0;
}
