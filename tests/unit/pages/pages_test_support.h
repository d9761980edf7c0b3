// Helpers for the page tests: a simulated player on a window thread of its
// own, a real playlist cache and request queue, the settings, and a
// connection attached to them whose sends are captured (the page handlers
// are driven directly, without a socket).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/plugin_settings.h"
#include "common/user_id.h"
#include "http/http_connection.h"
#include "platform/window.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "simulated_player.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace testing {

inline UserId User(std::uint32_t n) {
  UserId id;
  id.data1 = 0xA0000000u + n;
  id.data2 = 0x0B0C;
  id.data4[7] = static_cast<std::uint8_t>(n);
  return id;
}

// "Artist i - Song i", 200 s each.
inline std::vector<SimulatedEntry> Songs(int count) {
  std::vector<SimulatedEntry> songs;
  for (int i = 0; i < count; ++i) {
    songs.push_back(
        {"song" + std::to_string(i) + ".mp3", "Artist " + std::to_string(i) + " - Song " + std::to_string(i), 200});
  }
  return songs;
}

inline std::vector<SimulatedEntry> Titled(const std::vector<std::string>& titles) {
  std::vector<SimulatedEntry> songs;
  for (const std::string& t : titles) songs.push_back({t + ".mp3", t, 100});
  return songs;
}

// What a capturing connection sent, by its (made-up) socket number.
inline std::mutex& SentLock() {
  static std::mutex lock;
  return lock;
}
inline std::map<platform::Socket, std::string>& SentBytes() {
  static std::map<platform::Socket, std::string> sent;
  return sent;
}
inline int CaptureSend(platform::Socket s, const char* data, int length) {
  std::lock_guard<std::mutex> hold(SentLock());
  SentBytes()[s].append(data, static_cast<std::size_t>(length));
  return length;
}

class PageTestBed {
 public:
  explicit PageTestBed(std::vector<SimulatedEntry> songs)
      : player(std::move(songs)),
        window("AmbervoxPagesPlayer", "Pages test player", &SimulatedPlayer::WindowProcedure),
        queue(&cache),
        connection(&settings, ServerLimits()) {
    player.Attach(window.window());
    cache.SetPlayerWindow(window.window());
    cache.Rebuild();
    queue.SetHostWindow(window.window());
    QueueLimits open;
    open.maxRequestsPerIP = 0;
    queue.SetLimits(open);
    static std::atomic<int> nextSocket{100000};
    fakeSocket_ = nextSocket++;
    connection.Attach(fakeSocket_, &queue, nullptr, 0, "192.168.0.7");
    connection.sendFunction = &CaptureSend;
    connection.userId = User(1);
    connection.hasUserIdCookie = 1;
    settings.SetAdminPassword("s3cret");
  }
  ~PageTestBed() { player.Detach(); }

  void SetSongs(std::vector<SimulatedEntry> songs) {
    player.SetPlaylist(std::move(songs));
    cache.Rebuild();
  }
  // Queues `index` for requester n (address 10.0.0.n, UserId n), no limits.
  void Queue(int index, int requester) {
    ASSERT_EQ(kAccepted, queue.AddRequest(index, ByteString::Format("10.0.0.%d", requester), User(requester), false));
  }

  // One template line through RenderTemplateLine: what it appended, or
  // "<not a marker line>" when it declined the line.
  std::string Line(const std::string& line, int errorCode = 0, bool isAdmin = false) {
    ByteString page("");
    bool handled = connection.RenderTemplateLine(ByteString(line.data(), static_cast<int>(line.size())), page,
                                                 !connection.searchWord.IsEmpty(), !connection.startsWith.IsEmpty(),
                                                 errorCode, isAdmin);
    return handled ? std::string(page.Data(), static_cast<std::size_t>(page.Length())) : "<not a marker line>";
  }
  // Parses `target` as the router does for the playlist page and builds the
  // rows, starting from the page state of a fresh connection; returns
  // isAdmin.
  int Playlist(const std::string& target, int* errorCode = nullptr) {
    connection.current = 0;
    connection.displayMode = 0;
    connection.searchWord.Clear();
    connection.startsWith.Clear();
    connection.hasMorePages = 0;
    int code = 0;
    int isAdmin = 0;
    connection.ParsePlaylistParams(target.c_str(), &code, &isAdmin);
    connection.BuildPlaylistPage(!connection.searchWord.IsEmpty(), !connection.startsWith.IsEmpty());
    if (errorCode != nullptr) *errorCode = code;
    return isAdmin;
  }
  std::vector<int> RowIndexes() const {
    std::vector<int> indexes;
    for (const PageRow& row : connection.pageRows) indexes.push_back(row.playlistIndex);
    return indexes;
  }
  std::string Sent() const {
    std::lock_guard<std::mutex> hold(SentLock());
    return SentBytes()[fakeSocket_];
  }

  SimulatedPlayer player;
  platform::WindowThread window;
  PlaylistCache cache;
  RequestQueue queue;
  PluginSettings settings;
  HttpConnection connection;

 private:
  platform::Socket fakeSocket_ = 0;
};

// The bytes of a redirect as a page handler sends it, the Date masked (see
// MaskDate) and without a Set-Cookie line.
inline std::string Redirect(const std::string& location) {
  return "HTTP/1.1 302 Moved Temporarily\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\nDate: "
         "<date>\r\nLocation: " +
         location + "\r\nConnection: close\r\n\r\n";
}

}  // namespace testing
}  // namespace ambervox
