// PageBed: what a page is rendered against outside a running server: a
// simulated player on a window thread of its own (as the player's window is
// to the plug-in), the playlist cache rebuilt from it, a request queue
// without fairness limits, the settings, and one connection with the Site
// and a Page on it. The page tests capture what the connection sends; the
// benchmarks drop it. Made and used on one thread.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/plugin_settings.h"
#include "common/user_id.h"
#include "http/http_connection.h"
#include "pages/page_handlers.h"
#include "pages/site.h"
#include "pages/skin_cache.h"
#include "platform/window.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "simulated_player.h"

namespace ambervox {
namespace testing {

class PageBed {
 public:
  // `socket` is a made-up socket number that `send` receives; it is never
  // closed.
  PageBed(std::vector<SimulatedEntry> songs, const char* password, HttpConnection::SendFunction send,
          platform::Socket socket, const char* peer)
      : player(std::move(songs)),
        window("AmbervoxPagesPlayer", "Pages test player", &SimulatedPlayer::WindowProcedure),
        queue(&cache),
        connection(ServerLimits(), send),
        page(connection, site) {
    player.Attach(window.window());
    cache.SetPlayer(PlayerHost(window.window()));
    cache.Rebuild();
    queue.SetPlayer(PlayerHost(window.window()));
    QueueLimits open;
    open.maxRequestsPerIP = 0;
    queue.SetLimits(open);
    settings.SetAdminPassword(password);
    site.settings = &settings;
    site.queue = &queue;
    connection.Attach(platform::ScopedSocket(socket), peer);
    connection.request.hasUserIdCookie = true;
  }
  ~PageBed() {
    connection.ReleaseSocket();  // made up: nothing to close
    player.Detach();
  }
  PageBed(const PageBed&) = delete;
  PageBed& operator=(const PageBed&) = delete;

  // The page as the site assembles a skin: the rows first, then the skin's
  // pieces (SplitSkin) through RenderSkin. Each call is a new page, which
  // asks the player afresh.
  ByteString Render(const std::vector<SkinPiece>& skin) {
    page.state.player.reset();
    BuildPlaylistPage(page);
    ByteString text;
    RenderSkin(page, skin, text);
    return text;
  }
  ByteString Render(const std::string& skin) { return Render(SplitSkin(skin.data(), skin.size())); }

  SimulatedPlayer player;
  platform::WindowThread window;
  PlaylistCache cache;
  RequestQueue queue;
  PluginSettings settings;
  Site site;
  HttpConnection connection;
  Page page;
};

// The default skin's playlist page in pieces, as the site keeps it; empty
// when the file cannot be read.
inline std::vector<SkinPiece> DefaultSkinPieces(const char* sourceDir) {
  std::string bytes;
  std::FILE* file = std::fopen((std::string(sourceDir) + "/skins/default/playlist.html").c_str(), "rb");
  if (file == nullptr) return {};
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
  std::fclose(file);
  return SplitSkin(bytes.data(), bytes.size());
}

}  // namespace testing
}  // namespace ambervox
