// HandleAdminCommand: /admin.cgi with a query. With the operator's password
// and a known action it carries the action out (admin_actions.cpp) and
// redirects; with the password and no known action it leaves the request to
// the site, which renders the operator's view of the playlist page; without
// the password, or from an address locked out for guessing it (AdminLockout),
// it sends the browser to the playlist page with ResultCode 10.
#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/result_code.h"
#include "common/text_operations.h"
#include "pages/admin_actions.h"
#include "pages/admin_password.h"
#include "pages/page_handlers.h"
#include "pages/redirect_location.h"
#include "pages/site.h"

namespace ambervox {

bool HandleAdminCommand(Page& page) {
  page.state.isAdmin = false;
  QueryParams query;
  ParseQueryString(page.Request().target, &query);
  const ByteString password = page.site.settings->AdminPassword();
  const ByteString listposText = query.Get("listpos");
  const int listpos = listposText.IsEmpty() ? 0 : ParseNumber(listposText.CStr());
  const AdminAction* action = FindAdminAction(query.Get("action"));

  if (!IsAdminRequest(page, query.Get("pass"))) {
    page.connection.SendRedirect(ByteString::Format("Location: /playlist.cgi?errorCode=%d", kBadAdminPassword));
    return true;
  }
  page.state.isAdmin = true;
  if (action == nullptr) return false;

  const AdminOutcome outcome = action->perform(page, listpos);
  ByteString location;
  if (outcome.back) {
    location = BackLocation(page.Request().referer, outcome.result, &password);
  } else {
    location = "Location: /admin.cgi?pass=";
    location.Append(UrlEncode(password));
  }
  page.connection.SendRedirect(location);
  return true;
}

}  // namespace ambervox
