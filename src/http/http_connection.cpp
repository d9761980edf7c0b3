// HttpConnection: attaching, reading and parsing the request head, and the
// response writer. Compression is in compression.cpp; what is answered is
// decided by the server's RequestHandler (http/request_handler.h).
#include "http/http_connection.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "common/text_operations.h"
#include "http/http_status.h"
#include "http/http_time.h"
#include "platform/files.h"

namespace ambervox {
namespace {

constexpr int kCookieLifetimeSeconds = 2592000;  // 30 days
constexpr int kSendPieceSize = 8192;
// How far a send's time-out may differ from the budget left before it is set
// again.
constexpr std::int64_t kSendTimeoutSlackMilliseconds = 500;

// Plain byte search (the header tests are substring tests on raw bytes).
int FindBytes(const ByteString& text, const char* pattern) {
  int n = static_cast<int>(std::strlen(pattern));
  const char* data = text.Data();
  for (int i = 0; i + n <= text.Length(); ++i) {
    if (std::memcmp(data + i, pattern, static_cast<std::size_t>(n)) == 0) return i;
  }
  return ByteString::kNotFound;
}

// `text` without the spaces (only " ") at both ends.
ByteString StripSpaces(const ByteString& text) {
  int begin = 0;
  int end = text.Length();
  while (begin < end && text.At(begin) == ' ') ++begin;
  while (end > begin && text.At(end - 1) == ' ') --end;
  return text.Mid(begin, end - begin);
}

// The next run of bytes other than `separator` at or after `*position`,
// skipping separators before it (as strtok does). False when none is left.
bool NextToken(const ByteString& text, char separator, int* position, ByteString* token) {
  int i = *position;
  while (i < text.Length() && text.At(i) == separator) ++i;
  if (i >= text.Length()) {
    *position = i;
    return false;
  }
  int start = i;
  while (i < text.Length() && text.At(i) != separator) ++i;
  *token = text.Mid(start, i - start);
  *position = i;
  return true;
}

// A control character (other than tab) in a line of the head could end up
// splitting a response header; such a head is refused.
bool HasControlCharacter(const char* data, int length) {
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return true;
  }
  return false;
}

// True when a parameter of an Accept-Encoding element (the text after its
// first ";") is a quality of zero: "q=0", "q=0.", "q=0.000", spaces allowed
// around the parts. Such an encoding is one the browser refuses.
bool HasZeroQuality(const ByteString& parameters) {
  int position = 0;
  ByteString parameter;
  while (NextToken(parameters, ';', &position, &parameter)) {
    parameter = StripSpaces(parameter);
    if (parameter.Length() < 2 || (parameter.At(0) != 'q' && parameter.At(0) != 'Q')) continue;
    int i = 1;
    while (i < parameter.Length() && parameter.At(i) == ' ') ++i;
    if (i >= parameter.Length() || parameter.At(i) != '=') continue;
    ByteString number = StripSpaces(parameter.Mid(i + 1));
    if (number.IsEmpty() || number.At(0) != '0') return false;
    for (int j = 1; j < number.Length(); ++j) {
      if (j == 1 && number.At(j) == '.') continue;
      if (number.At(j) != '0') return false;
    }
    return true;
  }
  return false;
}

}  // namespace

int AcceptedEncodings(const ByteString& acceptEncoding) {
  // Each comma-separated element that names an encoding (a substring test
  // on its name, as browsers and proxies spell them variously) accepts it,
  // unless its quality is zero.
  int accepted = 0;
  int position = 0;
  ByteString element;
  while (NextToken(acceptEncoding, ',', &position, &element)) {
    const int semicolon = element.Find(";");
    const ByteString name = semicolon == ByteString::kNotFound ? element : element.Left(semicolon);
    if (semicolon != ByteString::kNotFound && HasZeroQuality(element.Mid(semicolon + 1))) continue;
    if (FindBytes(name, "gzip") != ByteString::kNotFound) accepted |= kAcceptsGzip;
    if (FindBytes(name, "deflate") != ByteString::kNotFound) accepted |= kAcceptsDeflate;
  }
  return accepted;
}

HttpConnection::HttpConnection(const ServerLimits& limits, SendFunction send) : limits_(limits), send_(send) {}

void HttpConnection::Attach(platform::ScopedSocket socket, const char* peer) {
  socket_ = std::move(socket);
  request.peerAddress = peer;
  awaitingHead_ = true;
}

void HttpConnection::StartAnswer() {
  sendTimeoutSet_ = limits_.sendStallMilliseconds;
  platform::SetSendTimeout(socket_.Get(), sendTimeoutSet_);
}

std::int64_t HttpConnection::SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool HttpConnection::IsSendStalled(std::int64_t now, int milliseconds, std::int64_t* since) const {
  const std::int64_t at = progressAt_.load();
  if (at == 0 || now - at < milliseconds) return false;
  *since = at;
  return true;
}

int HttpConnection::SendBytes(const char* data, int length) {
  const std::int64_t now = SteadyMilliseconds();
  if (answerStart_ == 0) {
    answerStart_ = now;
    windowStart_ = now;
    progressAt_ = now;
  }
  // The budget left: the progress window, and the whole answer's time,
  // which grows with what was sent.
  const std::int64_t earned = limits_.answerBytesPerSecond > 0 ? answerSent_ * 1000 / limits_.answerBytesPerSecond : 0;
  const std::int64_t answerEnd = answerStart_ + limits_.answerBaseMilliseconds + earned;
  const std::int64_t windowEnd = windowStart_ + limits_.sendStallMilliseconds;
  const std::int64_t left = (answerEnd < windowEnd ? answerEnd : windowEnd) - now;
  if (left <= 0) return -1;
  // The send time-out follows the budget. It is changed only when it would
  // let a send run more than a little past it, or stop one far too early:
  // while a client keeps up, no call is added per send.
  if (sendTimeoutSet_ <= 0 || sendTimeoutSet_ > left + kSendTimeoutSlackMilliseconds ||
      sendTimeoutSet_ + kSendTimeoutSlackMilliseconds < left) {
    sendTimeoutSet_ = static_cast<int>(left);
    platform::SetSendTimeout(socket_.Get(), sendTimeoutSet_);
  }
  const int sent = send_(socket_.Get(), data, length);
  if (sent > 0) {
    answerSent_ += sent;
    windowBytes_ += sent;
    if (windowBytes_ >= limits_.minSendProgressBytes) {
      windowBytes_ = 0;
      windowStart_ = SteadyMilliseconds();
      progressAt_ = windowStart_;
    }
  }
  return sent;
}

HeadResult HttpConnection::ReadRequest(ByteString& requestMethod, ByteString& requestTarget) {
  // Whatever the result, the connection no longer waits for a head.
  struct HeadDone {
    std::atomic<bool>& awaiting;
    ~HeadDone() { awaiting = false; }
  } headDone{awaitingHead_};
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits_.headTimeoutMilliseconds);
  std::map<ByteString, ByteString>& headers = request.headers;
  headers.clear();
  ByteString text;
  int lineStart = 0;
  for (;;) {
    int remaining =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (remaining <= 0) return HeadResult::kIncomplete;
    // Idle only while waiting: the mark is cleared before any byte is taken,
    // so that the eviction of idle connections, which looks at the socket
    // first and at this mark second, never takes a client whose head this
    // thread has already read (its bytes have left the socket by then).
    awaitingHead_ = true;
    if (platform::WaitForBytes(socket_.Get(), remaining) < 1) return HeadResult::kIncomplete;
    awaitingHead_ = false;
    int received = platform::Receive(socket_.Get(), lineBuffer_, kLineBufferSize);
    if (received < 1) return HeadResult::kIncomplete;
    text.Append(lineBuffer_, received);

    for (;;) {
      const char* data = text.Data();
      const void* found = std::memchr(data + lineStart, '\n', static_cast<std::size_t>(text.Length() - lineStart));
      if (found == nullptr) break;
      int lineFeed = static_cast<int>(static_cast<const char*>(found) - data);
      int lineEnd = lineFeed;
      while (lineEnd > lineStart && data[lineEnd - 1] == '\r') --lineEnd;
      if (lineFeed + 1 > limits_.maxHeadBytes) return HeadResult::kTooLarge;
      if (HasControlCharacter(data + lineStart, lineEnd - lineStart)) return HeadResult::kBadCharacter;
      ByteString line = text.Mid(lineStart, lineEnd - lineStart);
      bool first = lineStart == 0;
      lineStart = lineFeed + 1;

      if (first) {
        int position = 0;
        ByteString word;
        if (NextToken(line, ' ', &position, &word)) requestMethod = word;
        if (NextToken(line, ' ', &position, &word)) requestTarget = word;
        continue;
      }
      if (line.IsEmpty()) return HeadResult::kComplete;
      // A colon is never the trail byte of a two-byte character, so the
      // name ends at the first colon byte, whatever precedes it.
      const char* colonByte =
          static_cast<const char*>(std::memchr(line.Data(), ':', static_cast<std::size_t>(line.Length())));
      if (colonByte == nullptr) continue;
      const int colon = static_cast<int>(colonByte - line.Data());
      ByteString name = StripSpaces(line.Left(colon));
      ByteString value = StripSpaces(line.Mid(colon + 1));
      char* letters = name.MutableData();
      for (int i = 0; i < name.Length(); ++i) {
        if (letters[i] >= 'A' && letters[i] <= 'Z') letters[i] = static_cast<char>(letters[i] - 'A' + 'a');
      }
      headers.emplace(name, value);  // the first occurrence wins
    }
    if (text.Length() > limits_.maxHeadBytes) return HeadResult::kTooLarge;
  }
}

void HttpConnection::ParseCookies(const ByteString& text) {
  std::map<ByteString, ByteString>& cookies = request.cookies;
  cookies.clear();
  int position = 0;
  ByteString piece;
  while (NextToken(text, ';', &position, &piece)) {
    int inner = 0;
    ByteString name;
    ByteString value;
    if (!NextToken(piece, '=', &inner, &name)) continue;
    if (!NextToken(piece, '=', &inner, &value)) value.Clear();
    name = StripSpaces(name);
    value = StripSpaces(value);
    if (!name.IsEmpty()) cookies[name] = value;  // the last occurrence wins
  }
}

ByteString HttpRequest::Header(const char* lowerCaseName) const {
  auto found = headers.find(ByteString(lowerCaseName));
  return found == headers.end() ? ByteString() : found->second;
}

void HttpConnection::InterpretHead() {
  HttpRequest& r = request;
  ByteString& referer = r.referer;
  ByteString value = r.Header("referer");
  if (!value.IsEmpty()) {
    referer = value;
    int cut = FindBytes(referer, "errorCode=");
    if (cut != ByteString::kNotFound) {
      referer.Truncate(cut);
      int end = referer.Length();
      while (end > 0 && (referer.At(end - 1) == '?' || referer.At(end - 1) == '&')) --end;
      referer.Truncate(end);
    }
  }

  value = r.Header("cookie");
  if (!value.IsEmpty()) {
    ParseCookies(value);
    auto found = r.cookies.find(ByteString("UserID"));
    // A value that does not scan whole is no identity: browsers whose
    // cookies broke alike would otherwise share one, and could withdraw each
    // other's requests. They are treated as having none and get a new one.
    UserId scanned;
    if (found != r.cookies.end() && scanned.ScanText(found->second.CStr()) == kUserIdFields) {
      r.userId = scanned;
      r.hasUserIdCookie = true;
    }
  }
  if (!r.hasUserIdCookie) r.userId.CreateNew();

  r.acceptedEncodings = AcceptedEncodings(r.Header("accept-encoding"));
}

ByteString HttpConnection::BuildUserIdCookie() const {
  ByteString line("Set-Cookie: UserID=");
  line.Append(request.userId.ToText());
  line.Append("; expires=");
  line.Append(FormatHttpTime(platform::CurrentTime() + kCookieLifetimeSeconds, kCookieExpiryPattern));
  line.Append("; path=/;");
  return line;
}

ByteString HttpConnection::BuildHead(int status, const char* extraHeaders, const char* contentType,
                                     std::int64_t contentLength) const {
  HttpTime now = platform::CurrentTime();
  ByteString head("HTTP/1.1 ");
  AppendDecimal(head, status);
  head.AppendChar(' ');
  head.Append(ReasonPhrase(status));
  head.Append("\r\n");
  head.Append("Server: ");
  head.Append(kServerName);
  head.Append("\r\nDate: ");
  head.Append(FormatHttpTime(now, kHttpDatePattern));
  head.Append("\r\n");
  if (contentType != nullptr && *contentType != '\0') {
    head.Append("Content-Type: ");
    head.Append(contentType);
    head.Append("\r\n");
  }
  if (contentLength >= 0) {
    head.Append("Content-Length: ");
    AppendDecimal(head, contentLength);
    head.Append("\r\n");
  }
  if (!request.hasUserIdCookie) {
    head.Append(BuildUserIdCookie());
    head.Append("\r\n");
  }
  if (extraHeaders != nullptr && *extraHeaders != '\0') {
    head.Append(extraHeaders);
    int end = head.Length();
    while (end > 0 && (head.At(end - 1) == '\r' || head.At(end - 1) == '\n')) --end;
    head.Truncate(end);
    head.Append("\r\n");
  }
  head.Append("Connection: close\r\n\r\n");
  return head;
}

int HttpConnection::WriteHeader(int status, const char* extraHeaders, const char* contentType,
                                std::int64_t contentLength) {
  const ByteString head = BuildHead(status, extraHeaders, contentType, contentLength);
  return SendBytes(head.Data(), head.Length());
}

bool HttpConnection::WriteHeaderAndBody(int status, const char* extraHeaders, const char* contentType,
                                        std::int64_t contentLength, const char* body, int bodyLength) {
  ByteString answer = BuildHead(status, extraHeaders, contentType, contentLength);
  if (bodyLength > 0) answer.Append(body, bodyLength);
  return SendAll(answer.Data(), answer.Length());
}

void HttpConnection::SendRedirect(const ByteString& location) {
  WriteHeader(kStatusMovedTemporarily, location.CStr(), nullptr, -1);
}

void HttpConnection::SendErrorPage(int status, const char* extraHeaders, const char* detail) {
  const char* reason = ReasonPhrase(status);
  ByteString page("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n");
  page.AppendFormat("<HTML><HEAD><TITLE>%d %s</TITLE></HEAD><BODY>\r\n", status, reason);
  page.AppendFormat("<H1>%s</H1>\r\n", reason);
  if (detail != nullptr && *detail != '\0') {
    page.Append("<P>");
    // The detail may quote the request target: escaped, a target cannot
    // bring markup onto the site that also serves the admin page.
    page.Append(HtmlEscape(ByteString(detail)));
    page.Append("</P>\r\n");
  }
  page.Append("<HR>\r\n<ADDRESS><A HREF=\"");
  page.Append(kMakerSiteAddress);
  page.Append("\">");
  page.Append(kServerName);
  page.Append("</A></ADDRESS>\n</BODY></HTML>\r\n");
  // With the terminating zero byte: every generated page has always ended
  // with it and its Content-Length counts it, so browsers and tools that
  // compare pages byte for byte keep seeing the same bodies.
  WriteHeaderAndBody(status, extraHeaders, "text/html; charset=iso-8859-1", page.Length() + 1, page.Data(),
                     page.Length() + 1);
}

void HttpConnection::SendHtml(const char* data, int length, const char* extraHeaders) {
  int sent = length < kSendPieceSize ? length : kSendPieceSize;
  if (!WriteHeaderAndBody(kStatusOk, extraHeaders, "text/html", length, data, sent)) return;
  while (sent < length) {
    int piece = length - sent < kSendPieceSize ? length - sent : kSendPieceSize;
    int n = SendBytes(data + sent, piece);
    if (n <= 0) break;
    sent += n;
  }
}

bool HttpConnection::SendAll(const char* data, int length) {
  int sent = 0;
  while (sent < length) {
    int n = SendBytes(data + sent, length - sent);
    if (n <= 0) return false;
    sent += n;
  }
  return true;
}

}  // namespace ambervox
