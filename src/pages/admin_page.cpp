// HttpConnection::HandleAdminCommand: /admin.cgi with a query. With the
// operator's password and a command it drives the player, the request queue
// or the cache refresh and redirects; with the password and no command it
// leaves the request to the router, which renders the operator's view of
// the playlist page; without the password it sends the browser to the
// playlist page with ResultCode 10.
#include <climits>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/result_code.h"
#include "http/http_connection.h"
#include "http/http_status.h"
#include "pages/admin_password.h"
#include "pages/cache_refresher.h"
#include "pages/redirect_location.h"
#include "player/player_host.h"
#include "requests/request_queue.h"

namespace ambervox {
namespace {

enum class AdminCommand { kNone, kDelete, kPlay, kPrev, kPause, kStop, kNext, kRefreshCache, kClearRequest };

// Exact, case-sensitive words, tried in this order.
AdminCommand CommandOf(const ByteString& action) {
  static const struct {
    const char* word;
    AdminCommand command;
  } kCommands[] = {
      {"delete", AdminCommand::kDelete},
      {"play", AdminCommand::kPlay},
      {"prev", AdminCommand::kPrev},
      {"pause", AdminCommand::kPause},
      {"stop", AdminCommand::kStop},
      {"next", AdminCommand::kNext},
      {"refreshcache", AdminCommand::kRefreshCache},
      {"clearrequest", AdminCommand::kClearRequest},
  };
  for (const auto& entry : kCommands) {
    if (action.Equals(entry.word)) return entry.command;
  }
  return AdminCommand::kNone;
}

}  // namespace

bool HttpConnection::HandleAdminCommand(const ByteString& requestTarget, int* isAdmin) {
  *isAdmin = 0;
  QueryParams query;
  ParseQueryString(requestTarget, &query);
  const ByteString password = settings->AdminPassword();
  const ByteString listposText = query.Get("listpos");
  const int listpos = listposText.IsEmpty() ? 0 : ParseNumber(listposText.CStr());
  const AdminCommand command = CommandOf(query.Get("action"));

  if (!IsAdminPassword(query.Get("pass"), password)) {
    ByteString location = ByteString::Format("Location: /playlist.cgi?errorCode=%d", kBadAdminPassword);
    WriteHeader(kStatusMovedTemporarily, ReasonPhrase(kStatusMovedTemporarily), location.CStr(), nullptr, -1);
    return true;
  }
  *isAdmin = 1;
  if (command == AdminCommand::kNone) return false;

  const PlayerHost player(requestQueue != nullptr ? requestQueue->HostWindow() : nullptr);
  bool back = false;  // back to the referring page, or to the operator's view
  int result = 0;
  switch (command) {
    case AdminCommand::kDelete:
      back = true;
      // The queue rows show 1-based positions.
      result = requestQueue != nullptr && listpos != INT_MIN && requestQueue->DeleteAt(listpos - 1) ? kRequestDeleted
                                                                                                    : kInvalidPosition;
      break;
    case AdminCommand::kPlay:
      player.PressPlay();
      break;
    case AdminCommand::kPrev:
      player.PressPrevious();
      break;
    case AdminCommand::kPause:
      player.PressPause();
      break;
    case AdminCommand::kStop:
      player.PressStop();
      break;
    case AdminCommand::kNext:
      player.PressNext();
      // With requests waiting, the end-of-song notice makes the window hook
      // start the oldest one now instead of the player's next entry.
      if (requestQueue != nullptr && requestQueue->RequestCount() > 0) player.NotifySongEnded();
      break;
    case AdminCommand::kRefreshCache:
      if (cacheRefresher != nullptr) cacheRefresher->StartCacheRefresh(nullptr);
      break;
    case AdminCommand::kClearRequest:
      back = true;
      if (requestQueue != nullptr) requestQueue->ClearAll();
      result = kRequestDeleted;
      break;
    case AdminCommand::kNone:
      break;
  }

  ByteString location;
  if (back) {
    location = BackLocation(referer, result, &password);
  } else {
    location = "Location: /admin.cgi?pass=";
    location.Append(password);
  }
  WriteHeader(kStatusMovedTemporarily, ReasonPhrase(kStatusMovedTemporarily), location.CStr(), nullptr, -1);
  return true;
}

}  // namespace ambervox
