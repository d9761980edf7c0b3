#include "pages/admin_actions.h"

#include <climits>

#include "common/result_code.h"
#include "pages/cache_refresher.h"
#include "pages/page_handlers.h"
#include "pages/site.h"
#include "player/player_host.h"
#include "requests/request_queue.h"

namespace ambervox {
namespace {

PlayerHost PlayerOf(const Page& page) { return page.site.queue != nullptr ? page.site.queue->Player() : PlayerHost(); }

AdminOutcome DeleteRequest(const Page& page, int listpos) {
  RequestQueue* queue = page.site.queue;
  // The queue rows show 1-based positions; a link that names its request
  // removes that one or none.
  const bool deleted =
      queue != nullptr && queue->DeleteAt(listpos == INT_MIN ? -1 : listpos - 1, LinkedRequest(page.Request().target),
                                          LinkedSong(page.Request().target));
  return {true, deleted ? kRequestDeleted : kInvalidPosition};
}

AdminOutcome Play(const Page& page, int) {
  PlayerOf(page).PressPlay();
  return {};
}

AdminOutcome Previous(const Page& page, int) {
  PlayerOf(page).PressPrevious();
  return {};
}

AdminOutcome Pause(const Page& page, int) {
  PlayerOf(page).PressPause();
  return {};
}

AdminOutcome Stop(const Page& page, int) {
  PlayerOf(page).PressStop();
  return {};
}

AdminOutcome Next(const Page& page, int) {
  const PlayerHost player = PlayerOf(page);
  player.PressNext();
  // With requests waiting, the end-of-song notice makes the window hook
  // start the oldest one now instead of the player's next entry.
  if (page.site.queue != nullptr && page.site.queue->RequestCount() > 0) player.NotifySongEnded();
  return {};
}

AdminOutcome RefreshCache(const Page& page, int) {
  if (page.site.refresher != nullptr) page.site.refresher->StartCacheRefresh(nullptr);
  return {};
}

AdminOutcome ClearRequests(const Page& page, int) {
  if (page.site.queue != nullptr) page.site.queue->ClearAll();
  return {true, kRequestDeleted};
}

// The rows with a link are in the order of the control panel.
constexpr AdminAction kAdminActions[] = {
    {"prev", &Previous, "<tr><td><a href=\"admin.cgi?pass=", "\">Prev</td>"},
    {"play", &Play, "<td><a href=\"admin.cgi?pass=", "\">Play</td>"},
    {"pause", &Pause, "<td><a href=\"admin.cgi?pass=", "\">Pause</td>"},
    {"stop", &Stop, "<td><a href=\"admin.cgi?pass=", "\">Stop</td>"},
    {"next", &Next, "<td><a href=\"admin.cgi?pass=", "\">Next</td></tr>"},
    {"clearrequest", &ClearRequests,
     "<tr><td colspan=5><a href=\"admin.cgi?pass=", "\">Clear Request Queue</a></td></tr>"},
    {"refreshcache", &RefreshCache,
     "<tr><td colspan=5><a href=\"admin.cgi?pass=", "\">Refresh Playlist Cache</td></tr>"},
    // The queue rows of the operator's view link to it (see the template
    // engine's %%QUEUELISTPOS%%).
    {"delete", &DeleteRequest, nullptr, nullptr},
};

}  // namespace

const AdminAction* FindAdminAction(const ByteString& word) {
  for (const AdminAction& action : kAdminActions) {
    if (word.Equals(action.word)) return &action;
  }
  return nullptr;
}

ByteString AdminControlPanel(const ByteString& pass) {
  ByteString table("<table bordercolor=white border=1><tr><td colspan=5>Winamp Admin Control</td></tr>");
  for (const AdminAction& action : kAdminActions) {
    if (action.linkBefore == nullptr) continue;
    table.Append(action.linkBefore);
    table.Append(pass);
    table.Append("&action=");
    table.Append(action.word);
    table.Append(action.linkAfter);
  }
  table.Append("</table>");
  return table;
}

}  // namespace ambervox
