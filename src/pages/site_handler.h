// SiteHandler: the site as the server's RequestHandler. It owns what every
// connection's pages share beyond the objects they are given (the admin
// password's lockout) and hands each connection a Site with them, then
// serves the connection (ServeConnection, pages/site.h).
//
// Owned by the plug-in beside the server it is handed to (tests make their
// own); it outlives the server. AnswerConnection runs on connection threads,
// many at once; SetCacheRefresher on any thread.
#pragma once

#include <atomic>

#include "http/http_connection.h"
#include "http/request_handler.h"
#include "http/server_limits.h"
#include "pages/admin_lockout.h"

namespace ambervox {

class CacheRefresher;
class PluginSettings;
class RequestQueue;

class SiteHandler : public RequestHandler {
 public:
  // `queue` and `settings` are not owned; every connection's Site gets both.
  // `limits` gives the admin lockout's.
  SiteHandler(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits = ServerLimits());
  SiteHandler(const SiteHandler&) = delete;
  SiteHandler& operator=(const SiteHandler&) = delete;

  // What the admin page's "refreshcache" command starts (not owned; may be
  // null, the command then only redirects). Every connection served
  // afterwards gets it. The plug-in sets it before the server starts.
  void SetCacheRefresher(CacheRefresher* refresher) { cacheRefresher_.store(refresher); }

  void AnswerConnection(HttpConnection& connection) override;

 private:
  RequestQueue* const queue_;
  PluginSettings* const settings_;
  std::atomic<CacheRefresher*> cacheRefresher_{nullptr};
  // Shared by every connection, kept across the server's Stop and Start.
  AdminLockout adminLockout_;
};

}  // namespace ambervox
