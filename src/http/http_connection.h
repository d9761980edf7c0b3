// HttpConnection: one accepted TCP connection and the one request it carries.
//
// The listener thread of HttpServer constructs it, attaches the socket and
// the connection's own (suspended) thread, registers it and lets the thread
// run HandleRequest: read the head, interpret it, route the target and send
// the answer. The thread then posts the connection to the reaper, which
// closes the socket, joins the thread and destroys the object. The server
// owns every connection; a connection never frees itself except when it
// cannot reach the reaper (see HttpServer).
//
// Threads: after Attach, every field is used only by the connection's own
// thread. The one exception is ShutdownSocket, which HttpServer::Stop calls
// from the user-interface thread to make a pending receive or send fail; the
// socket itself is closed only by the reaper (CloseSocket), after the thread
// has ended, so a descriptor is never closed while the thread may still use
// it. No lock is needed.
//
// The page handlers (admin, request, playlist parameters, playlist rows,
// template lines) are operations of this class too, because they read and
// write the request state below; they live in src/pages/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

#include "common/byte_string.h"
#include "common/user_id.h"
#include "http/server_limits.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "platform/threads.h"

namespace ambervox {

class CacheRefresher;
class HttpServer;
class PlaylistCache;
class PluginSettings;
class RequestQueue;

// One row of the playlist page: a playlist index and its cached title.
struct PageRow {
  int playlistIndex = 0;
  ByteString title;
};

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

// Bits of acceptedEncodings.
constexpr int kAcceptsDeflate = 1;
constexpr int kAcceptsGzip = 2;

// Outcome of ReadRequest.
enum class HeadResult {
  kComplete,      // the empty line ending the head arrived
  kIncomplete,    // the peer closed, a receive failed or the head timed out
  kTooLarge,      // the head grew past the head-size limit
  kBadCharacter,  // a line holds a control character other than tab
};

class HttpConnection {
 public:
  using SendFunction = int (*)(platform::Socket socket, const char* data, int length);

  // `settings` (not owned) supplies WebRoot and Playlistfile, and to the
  // pages the password, the skin texts and g_MaxEntries; `limits` the head
  // size and time-outs.
  HttpConnection(PluginSettings* settings, const ServerLimits& limits);
  virtual ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Called by the listener before the thread runs. `queue` may be null only
  // in tests that never reach the pages.
  void Attach(platform::Socket socket, RequestQueue* queue, platform::ThreadHandle thread,
              platform::ThreadId reaperThread, const char* peer);
  // Shuts the socket down in both directions and closes it (once; later
  // calls do nothing).
  void CloseSocket();
  // Shuts the socket down without closing it: a pending or later receive or
  // send fails. Safe from another thread while the connection's thread runs.
  void ShutdownSocket();

  // What the connection's thread runs: 1 when a page or file was answered,
  // 0 otherwise.
  int HandleRequest();

  // Receives and parses the request head into `method`, `target` and
  // `headers`.
  HeadResult ReadRequest(ByteString& method, ByteString& target);
  // Fills `cookies` from a Cookie header value.
  void ParseCookies(const ByteString& text);
  // Referer, cookies and userId, accepted encodings, from `headers`.
  void InterpretHead();
  // The value of header `lowerCaseName`, or the empty text.
  ByteString Header(const char* lowerCaseName) const;

  // Status line and header block in one send; returns the send's result.
  // A null or empty contentType or extraHeaders adds no line; a negative
  // contentLength adds no Content-Length line.
  int WriteHeader(int status, const char* reason, const char* extraHeaders, const char* contentType,
                  std::int64_t contentLength);
  // The Set-Cookie line for userId, without its line end.
  ByteString BuildUserIdCookie() const;
  // The generated status page, header and page sent at once.
  void SendErrorPage(int status, const char* reason, const char* extraHeaders, const char* detail);
  // 200 "OK", text/html, the body in pieces of at most 8192 bytes. Returns 1.
  int SendHtml(const char* data, int length, const char* extraHeaders);
  // Sends a rendered page gzip- or deflate-compressed or as it is. 1 when it
  // was sent, 0 when nothing was sent (the caller answers 500).
  int SendCompressed(const char* data, int length, int encoding);

  // Page handlers (src/pages/).
  bool HandleAdminCommand(const ByteString& target, int* isAdmin);
  void HandleRequestPage(const ByteString& target);
  void ParsePlaylistParams(const ByteString& target, int* errorCode, int* isAdmin);
  void BuildPlaylistPage(bool hasSearchWord, bool hasStartsWith);
  bool RenderTemplateLine(const ByteString& line, ByteString& page, bool hasSearchWord, bool hasStartsWith,
                          int errorCode, bool isAdmin);

  static constexpr int kLineBufferSize = 8192;

  // The request state. Written by Attach (listener, before the thread runs)
  // and afterwards only by the connection's own thread.
  ByteString peerAddress;
  platform::ThreadHandle threadHandle = nullptr;
  platform::ThreadId reaperThreadId = 0;
  int current = 0;
  int acceptedEncodings = 0;
  int displayMode = 0;
  char lineBuffer[kLineBufferSize];
  RequestQueue* requestQueue = nullptr;
  PlaylistCache* playlistCache = nullptr;
  ByteString referer;
  ByteString method;
  ByteString target;
  ByteString searchWord;
  ByteString startsWith;
  int hasMorePages = 0;
  platform::Socket socket = platform::kInvalidSocket;
  std::map<ByteString, ByteString> headers;
  std::map<ByteString, ByteString> cookies;
  std::vector<PageRow> pageRows;
  UserId userId;
  int hasUserIdCookie = 0;

  PluginSettings* const settings;
  const ServerLimits limits;
  // What the admin page's "refreshcache" starts (not owned; set by the
  // listener; null: the command only redirects).
  CacheRefresher* cacheRefresher = nullptr;
  // The server that registered the connection (set by the listener); used
  // only when the connection cannot be posted to the reaper.
  HttpServer* server = nullptr;
  // Every byte goes out through this; tests replace it to watch the sends.
  SendFunction sendFunction = &platform::Send;

 private:
  int SendBytes(const char* data, int length) { return sendFunction(socket, data, length); }
  // Sends all `length` bytes, repeating after short sends; false at the
  // first send that transfers nothing.
  bool SendAll(const char* data, int length);
  // The 400 answer to a path that could leave the web root.
  void SendBadPath(const ByteString& filePath);
  void SendPasswordForm();
  // Steps of HandleRequest for a file found in the web root.
  int SendTemplatePage(std::FILE* file, bool hasSearchWord, bool hasStartsWith, int errorCode, int isAdmin);
  int SendStaticFile(std::FILE* file, const char* contentType, const platform::FileInfo& info);
};

// The full path of `filePath` under `webRoot`: every "/" becomes "\\", one
// backslash joins the two unless the root ends with one, and every pair of
// backslashes in the result is collapsed into one (left to right, pairs do
// not overlap).
ByteString BuildFullPath(const ByteString& webRoot, const ByteString& filePath);

// True when `path` could name something outside the web root: it has a
// segment ("/" and "\\" both separate) made only of dots and spaces with at
// least two dots. Besides "..", that refuses spellings such as "..." or
// ".. " that Windows may read as the parent folder, because it drops
// trailing dots and spaces from a name.
bool HasParentSegment(const ByteString& path);

}  // namespace ambervox
