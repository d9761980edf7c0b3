// The site: what the server answers on every connection. ServeConnection reads
// the request head and hands the request to the page or file that its path
// names, through one table of routes (site.cpp). The pages are functions of
// a Page: the connection (the request as read, and the answer), the Site
// (the shared objects they read and change) and the PageState (what the
// query asked for and the rows chosen for it), which belongs to the page.
// The page handlers themselves are declared in pages/page_handlers.h.
//
// Threads: ServeConnection runs on a connection's own thread; a Page is made
// and used there and nowhere else. The Site's objects are shared by every
// connection and lock themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_string.h"
#include "http/http_connection.h"
#include "player/player_host.h"

namespace ambervox {

class AdminLockout;
class CacheRefresher;
class PlaylistCache;
class PluginSettings;
class RequestQueue;

// The objects the pages work with, none owned. SiteHandler hands one copy to
// each connection.
struct Site {
  // The password, the skin texts, g_MaxEntries, the web root and the skin
  // file. Never null.
  PluginSettings* settings = nullptr;
  // Null only in tests that never reach the queue or the playlist.
  RequestQueue* queue = nullptr;
  // What the admin page's "refreshcache" starts; null: the command only
  // redirects.
  CacheRefresher* refresher = nullptr;
  // Locks out an address that guesses the admin password; null (tests):
  // passwords are only compared.
  AdminLockout* lockout = nullptr;

  // The queue's playlist cache, or null without a queue.
  PlaylistCache* Cache() const;
};

// One row of the playlist page: a playlist index, the page text of its
// cached title (see PlaylistCache) and the song's identity (SongId, 0 for an
// entry without a file), which its request link carries.
struct PageRow {
  int playlistIndex = 0;
  ByteString shownTitle;
  std::uint64_t song = 0;
};

// The page's request state: what the query of the playlist and admin pages
// asked for (ParsePlaylistParams), whether the operator's password came
// with it, and the rows chosen for it (BuildPlaylistPage). Starts empty for
// every request; a query value that is absent or empty leaves its field as
// it is.
struct PageState {
  int current = 0;        // the match the page starts at ("current")
  int displayMode = 0;    // shown again by %%DISPLAYMODE%%
  ByteString searchWord;  // "psearch", decoded
  ByteString startsWith;  // "startswith", decoded
  int errorCode = 0;      // the ResultCode to show ("errorCode")
  bool isAdmin = false;   // the operator's password came with the request
  bool hasMorePages = false;
  std::vector<PageRow> rows;
  // Taken by Page::Player at the page's first need; empty until then.
  mutable std::optional<PlayerSnapshot> player;

  bool HasSearchWord() const { return !searchWord.IsEmpty(); }
  bool HasStartsWith() const { return !startsWith.IsEmpty(); }
};

// What every page handler receives.
struct Page {
  Page(HttpConnection& pageConnection, const Site& pageSite) : connection(pageConnection), site(pageSite) {}

  const HttpRequest& Request() const { return connection.request; }
  // The player's state for this page: asked for at the first call, the same
  // for every later call until `state` starts afresh.
  const PlayerSnapshot& Player() const;

  HttpConnection& connection;
  const Site& site;
  PageState state;
};

// The request that a delete or cancel link names by its "index" value (the
// playlist index it was drawn for): RequestQueue::kNoIdentity when the link
// carries none, -2 (no request's) when its value is no index.
long long LinkedRequest(const ByteString& target);

// What a connection's thread runs (through SiteHandler): reads the head,
// interprets it and answers it.
void ServeConnection(HttpConnection& connection, const Site& site);

}  // namespace ambervox
