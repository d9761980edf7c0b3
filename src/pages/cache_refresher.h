// CacheRefresher: how the admin page's "refreshcache" command reaches the
// plug-in's background refresh of the playlist cache. The plug-in implements
// it (one refresh at a time); the pages only call it. StartCacheRefresh may
// be called from any connection thread.
#pragma once

#include "platform/window.h"

namespace ambervox {

class CacheRefresher {
 public:
  virtual ~CacheRefresher() = default;
  // Starts a refresh; `notifyWindow` (may be null) gets its reload control
  // enabled when the refresh has completed. False when a refresh is already
  // running or none could be started.
  virtual bool StartCacheRefresh(platform::WindowHandle notifyWindow) = 0;
};

}  // namespace ambervox
