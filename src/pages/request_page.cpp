// HttpConnection::HandleRequestPage: /request.cgi, where a listener's
// browser asks for a song or withdraws one of its own queued requests. The
// queue decides; the answer is always a redirect back to where the browser
// came from, carrying the ResultCode as "errorCode".
#include <climits>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/result_code.h"
#include "http/http_connection.h"
#include "http/http_status.h"
#include "pages/admin_password.h"
#include "pages/redirect_location.h"
#include "requests/request_queue.h"

namespace ambervox {

void HttpConnection::HandleRequestPage(const ByteString& requestTarget) {
  int result = 0;
  bool isAdmin = false;
  const ByteString password = settings->AdminPassword();

  if (requestTarget.StartsWith("/request.cgi")) {
    QueryParams query;
    ParseQueryString(requestTarget, &query);
    isAdmin = IsAdminPassword(query.Get("pass"), password);
    const ByteString listposText = query.Get("listpos");
    const bool hasListpos = !listposText.IsEmpty();
    const int listpos = hasListpos ? ParseNumber(listposText.CStr()) : 0;
    const bool cancel = query.Get("action").Equals("delete");  // "post" and anything else: a request

    if (hasListpos) {
      if (hasUserIdCookie == 0) {
        // Without the cookie the browser cannot be told apart from others.
        result = kCookieInvalid;
      } else if (requestQueue == nullptr) {
        result = kInvalidPosition;
      } else if (!cancel) {
        // The operator's requests bypass the fairness limits.
        result = requestQueue->AddRequest(listpos, peerAddress, userId, !isAdmin);
      } else {
        // The queue rows show 1-based positions.
        result = requestQueue->DeleteAtForUser(listpos == INT_MIN ? -1 : listpos - 1, userId);
      }
    }
  }

  ByteString location;
  if (!referer.IsEmpty()) {
    // Going back to an operator page must not repeat its command.
    referer.ReplaceAll("action=", "actionx=");
    location = BackLocation(referer, result, nullptr);
  } else {
    location = BackLocation(referer, result, isAdmin ? &password : nullptr);
  }
  WriteHeader(kStatusMovedTemporarily, ReasonPhrase(kStatusMovedTemporarily), location.CStr(), nullptr, -1);
}

}  // namespace ambervox
