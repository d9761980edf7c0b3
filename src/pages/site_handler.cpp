#include "pages/site_handler.h"

#include "pages/site.h"

namespace ambervox {

SiteHandler::SiteHandler(RequestQueue* queue, PluginSettings* settings, const ServerLimits& limits)
    : queue_(queue), settings_(settings), adminLockout_(limits) {}

void SiteHandler::AnswerConnection(HttpConnection& connection) {
  Site site;
  site.settings = settings_;
  site.queue = queue_;
  site.refresher = cacheRefresher_.load();
  site.lockout = &adminLockout_;
  ServeConnection(connection, site);
}

}  // namespace ambervox
