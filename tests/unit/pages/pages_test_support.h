// Helpers for the page tests: the PageBed (tests/support/page_bed.h) with
// a connection whose sends are captured, so that the page handlers are
// driven directly, without a socket.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/page_bed.h"
#include "support/test_data.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace testing {

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

class PageTestBed : public PageBed {
 public:
  explicit PageTestBed(std::vector<SimulatedEntry> songs) : PageTestBed(std::move(songs), NextSocket()) {}

  void SetSongs(std::vector<SimulatedEntry> songs) {
    player.SetPlaylist(std::move(songs));
    cache.Rebuild();
  }
  // Queues `index` for requester n (address 10.0.0.n, UserId n), no limits.
  void Queue(int index, int requester) {
    ASSERT_EQ(kAccepted, queue.AddRequest(index, ByteString::Format("10.0.0.%d", requester), User(requester), false));
  }

  // One template line rendered as the site renders a skin, with `errorCode`
  // and `isAdmin` in the page state: what it became, or "<not a marker
  // line>" when no marker of it is expanded.
  std::string Line(const std::string& line, int errorCode = 0, bool isAdmin = false) {
    page.state.errorCode = errorCode;
    page.state.isAdmin = isAdmin;
    const std::vector<SkinPiece> pieces = SplitSkin(line.data(), line.size());
    if (pieces.size() != 1 || pieces[0].marker == nullptr) return "<not a marker line>";
    ByteString text("");
    RenderSkin(page, pieces, text);
    return std::string(text.Data(), static_cast<std::size_t>(text.Length()));
  }
  // Parses `target` as the site does for the playlist page and builds the
  // rows, starting from the page state of a fresh request; returns isAdmin.
  int Playlist(const std::string& target, int* errorCode = nullptr) {
    page.state = PageState();
    ParsePlaylistParams(page, target.c_str());
    BuildPlaylistPage(page);
    if (errorCode != nullptr) *errorCode = page.state.errorCode;
    return page.state.isAdmin ? 1 : 0;
  }
  std::vector<int> RowIndexes() const {
    std::vector<int> indexes;
    for (const PageRow& row : page.state.rows) indexes.push_back(row.playlistIndex);
    return indexes;
  }
  std::string Sent() const {
    std::lock_guard<std::mutex> hold(SentLock());
    return SentBytes()[fakeSocket_];
  }

 private:
  // Each bed sends through a socket number of its own, so that beds never
  // see each other's bytes.
  PageTestBed(std::vector<SimulatedEntry> songs, platform::Socket fakeSocket)
      : PageBed(std::move(songs), "s3cret", &CaptureSend, fakeSocket, "192.168.0.7"), fakeSocket_(fakeSocket) {
    connection.request.userId = User(1);
  }
  static platform::Socket NextSocket() {
    static std::atomic<int> next{100000};
    return ++next;
  }

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
