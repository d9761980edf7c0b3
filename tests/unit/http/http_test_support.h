// Helpers for the HTTP server tests: a loopback client that sends raw
// request bytes and reads the whole answer, a parsed view of an answer, a
// socket pair made through a listener, a temporary web root, a running
// server on it, and checks of the time-dependent header values (Date,
// cookie expiry) against the clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/byte_string.h"
#include "common/plugin_settings.h"
#include "http/http_server.h"
#include "http/http_time.h"
#include "pages/site_handler.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "platform/threads.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "support/free_port.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

namespace ambervox {

// Lets GoogleTest print byte strings as text.
inline void PrintTo(const ByteString& text, std::ostream* out) {
  *out << '"' << std::string(text.Data(), static_cast<std::size_t>(text.Length())) << '"';
}

namespace testing {

inline bool SendText(platform::Socket s, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    int n = platform::Send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Everything until the peer closes (or a receive fails or times out).
inline std::string ReceiveAll(platform::Socket s) {
  std::string all;
  char buffer[16384];
  for (;;) {
    int n = platform::Receive(s, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

// Bytes until the end of the header block ("\r\n\r\n"), or all bytes.
inline std::string ReceiveHead(platform::Socket s) {
  std::string all;
  char c;
  while (all.find("\r\n\r\n") == std::string::npos) {
    if (platform::Receive(s, &c, 1) != 1) break;
    all.push_back(c);
  }
  return all;
}

// A client socket connected to the server on `port`; receives time out after
// 20 s so that a broken server fails the test instead of hanging it.
inline platform::Socket ConnectClient(std::uint16_t port) {
  EnsureSocketLibrary();
  platform::Socket s = platform::ConnectLoopback(port);
  if (s != platform::kInvalidSocket) platform::SetReceiveTimeout(s, 20000);
  return s;
}

inline void CloseClient(platform::Socket s) {
  platform::ShutdownBoth(s);
  platform::CloseSocket(s);
}

// Connects, sends `request`, reads the whole answer, closes.
inline std::string Exchange(std::uint16_t port, const std::string& request) {
  platform::Socket s = ConnectClient(port);
  if (s == platform::kInvalidSocket) return "<connect failed>";
  SendText(s, request);
  std::string answer = ReceiveAll(s);
  CloseClient(s);
  return answer;
}

struct Response {
  std::string head;  // up to and including the empty line
  std::string body;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> fields;  // in order

  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& f : fields) n += f.first == name ? 1 : 0;
    return n;
  }
  std::string Get(const std::string& name) const {
    for (const auto& f : fields) {
      if (f.first == name) return f.second;
    }
    return "";
  }
  // Position of the field among the header lines; -1 when absent.
  int IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].first == name) return static_cast<int>(i);
    }
    return -1;
  }
};

inline Response ParseResponse(const std::string& raw) {
  Response r;
  std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) {
    r.head = raw;
    return r;
  }
  r.head = raw.substr(0, end + 4);
  r.body = raw.substr(end + 4);
  std::size_t pos = 0;
  bool first = true;
  while (pos < end) {
    std::size_t eol = raw.find("\r\n", pos);
    std::string line = raw.substr(pos, eol - pos);
    pos = eol + 2;
    if (first) {
      r.statusLine = line;
      first = false;
      continue;
    }
    std::size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      r.fields.emplace_back(line, "");
    } else {
      r.fields.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
  }
  return r;
}

// True when `text` is `pattern` formatted for some second in [from, to].
inline bool IsTimeBetween(const std::string& text, const char* pattern, HttpTime from, HttpTime to) {
  for (HttpTime t = from; t <= to; ++t) {
    if (text == FormatHttpTime(t, pattern).CStr()) return true;
  }
  return false;
}

// Replaces the value of the first "Date: " line of `raw` by "<date>" after
// checking that it names a second in [from, to].
inline std::string MaskDate(const std::string& raw, HttpTime from, HttpTime to) {
  std::size_t start = raw.find("\r\nDate: ");
  if (start == std::string::npos) return raw;
  start += 8;
  std::size_t end = raw.find("\r\n", start);
  std::string value = raw.substr(start, end - start);
  EXPECT_TRUE(IsTimeBetween(value, kHttpDatePattern, from, to)) << value;
  return raw.substr(0, start) + "<date>" + raw.substr(end);
}

// The Set-Cookie line the server writes for `userIdText` at some second in
// [from, to], checked and replaced by "Set-Cookie: <cookie userIdText>".
inline std::string MaskCookie(const std::string& raw, const std::string& userIdText, HttpTime from, HttpTime to) {
  const std::string prefix = "Set-Cookie: UserID=" + userIdText + "; expires=";
  std::size_t start = raw.find(prefix);
  if (start == std::string::npos) return raw;
  std::size_t valueStart = start + prefix.size();
  std::size_t end = raw.find("; path=/;\r\n", valueStart);
  if (end == std::string::npos) return raw;
  std::string expires = raw.substr(valueStart, end - valueStart);
  EXPECT_TRUE(IsTimeBetween(expires, kCookieExpiryPattern, from + 2592000, to + 2592000)) << expires;
  return raw.substr(0, start) + "Set-Cookie: <cookie " + userIdText + ">" + raw.substr(end + 9);
}

// A connected pair of sockets made through a listener on a port the system
// chose. The listener stays open for the rest of the test program, so that
// many pairs can be made through it.
struct SocketPair {
  platform::Socket client = platform::kInvalidSocket;
  platform::Socket server = platform::kInvalidSocket;

  SocketPair() {
    static std::uint16_t port = 0;
    static const platform::Socket listener = ListenOnFreePort(&port, 16);
    if (listener == platform::kInvalidSocket) return;
    client = ConnectClient(port);
    std::string peer;
    if (client != platform::kInvalidSocket) server = platform::Accept(listener, &peer);
  }
  ~SocketPair() {
    if (client != platform::kInvalidSocket) CloseClient(client);
    if (server != platform::kInvalidSocket) CloseClient(server);
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  bool Ok() const { return client != platform::kInvalidSocket && server != platform::kInvalidSocket; }
  // Hands the server end to an owner that closes it.
  platform::Socket ReleaseServer() {
    platform::Socket s = server;
    server = platform::kInvalidSocket;
    return s;
  }
};

// A web root in a fresh folder under the system's temporary folder (a
// TempFolder), removed with its contents when the object goes. The root is
// written with the system's own separators, as a DJ would set it.
class TempWebRoot {
 public:
  TempWebRoot()
      : base_(std::filesystem::temp_directory_path()),
        root_(std::filesystem::path(base_.File("web")).make_preferred()) {
    std::filesystem::create_directories(root_);
  }
  TempWebRoot(const TempWebRoot&) = delete;
  TempWebRoot& operator=(const TempWebRoot&) = delete;

  // The web root itself, in the form the settings hold it.
  std::string Root() const { return root_.string(); }
  // `relative` (with "/" separators) inside the web root; folders are made.
  void Write(const std::string& relative, const std::string& bytes) const { WriteAt(root_ / relative, bytes); }
  // `name` beside the web root, outside it.
  void WriteOutside(const std::string& name, const std::string& bytes) const {
    WriteAt(std::filesystem::path(base_.File(name)).make_preferred(), bytes);
  }
  std::filesystem::path PathOf(const std::string& relative) const { return root_ / relative; }

 private:
  static void WriteAt(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    TempFolder::WriteBytes(path.string(), bytes);
  }
  TempFolder base_;
  std::filesystem::path root_;
};

// A running server with a web root, settings, cache and queue of its own,
// on a port the system chose: what the suites that talk to a server over
// loopback share. `playlistFile` is the skin file of the playlist page.
struct ServedSite {
  explicit ServedSite(const char* playlistFile) {
    settings.SetWebRoot(root.Root().c_str());
    settings.SetPlaylistFile(playlistFile);
  }
  // Starts the server; false when it cannot.
  bool Start() {
    if (!server.StartOnAnyPort()) return false;
    port = static_cast<std::uint16_t>(server.Port());
    return true;
  }

  TempWebRoot root;
  PluginSettings settings;
  PlaylistCache cache;
  RequestQueue queue{&cache};
  SiteHandler site{&queue, &settings};
  HttpServer server{site};
  std::uint16_t port = 0;
};

}  // namespace testing
}  // namespace ambervox
