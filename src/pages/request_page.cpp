// HandleRequestPage: /request.cgi, where a listener's
// browser asks for a song or withdraws one of its own queued requests. The
// queue decides; the answer is always a redirect back to where the browser
// came from, carrying the ResultCode as "errorCode".
#include <climits>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/result_code.h"
#include "pages/admin_password.h"
#include "pages/page_handlers.h"
#include "pages/redirect_location.h"
#include "pages/site.h"
#include "requests/request_queue.h"

namespace ambervox {

std::uint64_t LinkedSong(const ByteString& target) {
  QueryParams query;
  ParseQueryString(target, &query);
  SongId song = kNoSong;
  return ParseSongId(query.Get("song"), &song) ? song : kNoSong;
}

void HandleRequestPage(Page& page) {
  const HttpRequest& request = page.Request();
  const ByteString& requestTarget = request.target;
  RequestQueue* const requestQueue = page.site.queue;
  int result = 0;
  bool isAdmin = false;
  const ByteString password = page.site.settings->AdminPassword();

  if (requestTarget.StartsWith("/request.cgi")) {
    QueryParams query;
    ParseQueryString(requestTarget, &query);
    isAdmin = IsAdminRequest(page, query.Get("pass"));
    const ByteString listposText = query.Get("listpos");
    const bool hasListpos = !listposText.IsEmpty();
    const int listpos = hasListpos ? ParseNumber(listposText.CStr()) : 0;
    const bool cancel = query.Get("action").Equals("delete");  // "post" and anything else: a request
    // The song the link was drawn for ("%%PLAYLISTPOS%%"): requested
    // wherever it now stands. A value that names no song names none that
    // the playlist holds.
    const ByteString songText = query.Get("song");
    SongId song = kNoSong;
    const bool songNamed = !songText.IsEmpty();
    const bool songReadable = songNamed && ParseSongId(songText, &song);

    if (hasListpos) {
      if (!request.hasUserIdCookie) {
        // Without the cookie the browser cannot be told apart from others.
        result = kCookieInvalid;
      } else if (requestQueue == nullptr) {
        result = kInvalidPosition;
      } else if (!cancel && songNamed && !songReadable) {
        result = kInvalidPosition;
      } else if (!cancel) {
        // The operator's requests bypass the fairness limits.
        result = requestQueue->AddRequest(listpos, request.peerAddress, request.userId, !isAdmin, song);
      } else {
        // The queue rows show 1-based positions.
        result = requestQueue->DeleteAtForUser(listpos == INT_MIN ? -1 : listpos - 1, request.userId,
                                               LinkedRequest(requestTarget), songReadable ? song : kNoSong);
      }
    }
  }

  ByteString location;
  ByteString referer = request.referer;
  if (!referer.IsEmpty()) {
    // Going back to an operator page must not repeat its command.
    referer.ReplaceAll("action=", "actionx=");
    location = BackLocation(referer, result, nullptr);
  } else {
    location = BackLocation(referer, result, isAdmin ? &password : nullptr);
  }
  page.connection.SendRedirect(location);
}

}  // namespace ambervox
