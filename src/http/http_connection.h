// HttpConnection: one accepted TCP connection, the one request it carries
// and the operations that answer it.
//
// The connection thread that accepted the client makes it, hands it the
// accepted socket (Attach) and serves it itself: it runs the server's
// RequestHandler on it (http/request_handler.h), whose ReadRequest and
// InterpretHead calls fill `request` and whose pages answer through
// WriteHeader, SendErrorPage, SendHtml, SendCompressed and SendAll. The same
// thread destroys it afterwards, which closes the socket (see
// http/connection_threads.h).
//
// Threads: after Attach, everything is used only by the connection's own
// thread. The exceptions are ShutdownSocket, which Stop calls from the
// user-interface thread (and eviction from the listener) to make a pending
// receive or send fail, and the looks of IsAwaitingHead, HasUnreadInput and
// IsSendStalled that eviction takes; the socket is closed only when the
// connection is destroyed, after its thread has finished with it, so a
// descriptor is never closed while the thread may still use it. No lock is
// needed.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "common/byte_string.h"
#include "common/user_id.h"
#include "http/server_limits.h"
#include "platform/sockets.h"

namespace ambervox {

// The Server header and the signature of the error pages.
constexpr const char kServerName[] = "Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server";
// The link on the error pages.
constexpr const char kMakerSiteAddress[] = "https://ambervox.invalid/";

// Body encodings of a rendered page, as SendCompressed takes them.
enum ContentEncoding : int {
  kEncodingNone = 0,
  kEncodingDeflate = 1,
  kEncodingGzip = 2,
};

// Bits of HttpRequest::acceptedEncodings.
constexpr int kAcceptsDeflate = 1;
constexpr int kAcceptsGzip = 2;

// kAcceptsGzip and kAcceptsDeflate for an Accept-Encoding value: the
// encodings its elements name, except those given a quality of zero.
int AcceptedEncodings(const ByteString& acceptEncoding);

// Outcome of ReadRequest.
enum class HeadResult {
  kComplete,      // the empty line ending the head arrived
  kIncomplete,    // the peer closed, a receive failed or the head timed out
  kTooLarge,      // the head grew past the head-size limit
  kBadCharacter,  // a line holds a control character other than tab
};

// The request as read from the head: filled by ReadRequest (method, target,
// headers) and InterpretHead (the rest); the pages read it.
struct HttpRequest {
  ByteString method;
  ByteString target;
  // Header names in lower case; the first occurrence of a name wins.
  std::map<ByteString, ByteString> headers;
  // From the Cookie header; the last occurrence of a name wins.
  std::map<ByteString, ByteString> cookies;
  // The Referer without its "errorCode=" part and the "?" and "&" before it.
  ByteString referer;
  // The browser's identity: from its "UserID" cookie, or made up for it
  // (then hasUserIdCookie is false and every answer sets the cookie).
  UserId userId;
  bool hasUserIdCookie = false;
  // kAcceptsGzip and kAcceptsDeflate, from Accept-Encoding.
  int acceptedEncodings = 0;
  // The client's dotted IPv4 address.
  ByteString peerAddress;

  // The value of header `lowerCaseName`, or the empty text.
  ByteString Header(const char* lowerCaseName) const;
};

class HttpConnection {
 public:
  using SendFunction = int (*)(platform::Socket socket, const char* data, int length);

  // `limits` gives the head size and time-outs; every byte goes out through
  // `send` (tests watch the sends through their own).
  explicit HttpConnection(const ServerLimits& limits, SendFunction send = &platform::Send);
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Takes ownership of the accepted socket. Called before the thread runs.
  void Attach(platform::ScopedSocket socket, const char* peer);
  // Shuts the socket down and closes it now rather than when the connection
  // goes; later calls do nothing.
  void CloseSocket() { socket_.Close(); }
  // Takes the socket back from the connection, which then closes nothing:
  // for tests that attach a made-up socket number.
  platform::Socket ReleaseSocket() { return socket_.Release(); }
  // Shuts the socket down without closing it: a pending or later receive or
  // send fails. Safe from another thread while the connection's thread runs.
  void ShutdownSocket() const { socket_.Shutdown(); }
  // The send time-out for the whole answer, from the limits.
  void StartAnswer();

  // Receives and parses the request head into `method`, `target` and
  // `request.headers`.
  HeadResult ReadRequest(ByteString& method, ByteString& target);
  // True from Attach until ReadRequest has returned, except while ReadRequest
  // holds bytes it has taken and not yet parsed: the connection waits for
  // (more of) its request head. Any thread (the server picks the connection
  // to close when every thread is taken); see ReadRequest for the order in
  // which a caller looks.
  bool IsAwaitingHead() const { return awaitingHead_.load(); }
  // True when the client has sent bytes that this connection has not read
  // yet: its thread is behind, the client is not idle.
  bool HasUnreadInput() const { return platform::HasUnreadBytes(socket_.Get()); }
  // Fills `request.cookies` from a Cookie header value.
  void ParseCookies(const ByteString& text);
  // Referer, cookies and userId, accepted encodings, from the headers.
  void InterpretHead();

  // Status line (with the status's own reason phrase) and header block in
  // one send; returns the send's result. A null or empty contentType or
  // extraHeaders adds no line; a negative contentLength adds no
  // Content-Length line.
  int WriteHeader(int status, const char* extraHeaders, const char* contentType, std::int64_t contentLength);
  // The header block that WriteHeader sends.
  ByteString BuildHead(int status, const char* extraHeaders, const char* contentType, std::int64_t contentLength) const;
  // The header block and the first `bodyLength` bytes of the body in one
  // send (repeated after short sends), so that a small answer leaves in one
  // piece instead of two. False at the first send that transfers nothing.
  bool WriteHeaderAndBody(int status, const char* extraHeaders, const char* contentType, std::int64_t contentLength,
                          const char* body, int bodyLength);
  // A 302 answer with `location` (the whole "Location: ..." line).
  void SendRedirect(const ByteString& location);
  // The Set-Cookie line for the request's userId, without its line end.
  ByteString BuildUserIdCookie() const;
  // The generated status page, header and page in one send. `detail` is
  // plain text (it may quote the request) and is HTML-escaped.
  void SendErrorPage(int status, const char* extraHeaders, const char* detail);
  // 200 "OK", text/html, the body in pieces of at most 8192 bytes, the first
  // piece sent with the header block. Stops at the first failed send: the
  // client has gone, and nobody is left to tell.
  void SendHtml(const char* data, int length, const char* extraHeaders);
  // Sends a rendered page gzip- or deflate-compressed or as it is. False when
  // nothing was sent (an unknown encoding, or no memory to compress): the
  // caller answers 500.
  bool SendCompressed(const char* data, int length, int encoding);
  // Sends all `length` bytes, repeating after short sends; false at the
  // first send that transfers nothing.
  bool SendAll(const char* data, int length);
  // Sends the bytes once, as they are, within the answer's budget (see
  // kSendStallMilliseconds): -1, sending nothing, once the budget is spent.
  int SendBytes(const char* data, int length);
  // True once the answer has begun and its client has accepted nothing for
  // at least `milliseconds`; `*since` then says since when (steady clock,
  // milliseconds). Any thread (the server picks the slowest reader to close
  // when every thread is taken).
  bool IsSendStalled(std::int64_t now, int milliseconds, std::int64_t* since) const;
  // The steady clock in milliseconds, as IsSendStalled counts.
  static std::int64_t SteadyMilliseconds();

  // The buffer that a request head, a skin line or a piece of a file is read
  // into.
  static constexpr int kLineBufferSize = 8192;
  char* LineBuffer() { return lineBuffer_; }

  HttpRequest request;

 private:
  const ServerLimits limits_;
  const SendFunction send_;
  platform::ScopedSocket socket_;
  std::atomic<bool> awaitingHead_{false};
  // The answer's send budget, kept by the connection's own thread; the
  // last time its client accepted kMinSendProgressBytes (0 before the
  // answer began) is read by the server too.
  std::int64_t answerStart_ = 0;
  std::int64_t answerSent_ = 0;
  std::int64_t windowStart_ = 0;
  int windowBytes_ = 0;
  int sendTimeoutSet_ = 0;
  std::atomic<std::int64_t> progressAt_{0};
  char lineBuffer_[kLineBufferSize];
};

}  // namespace ambervox
