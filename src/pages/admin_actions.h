// The operator's actions: the "action" words of /admin.cgi, what each does,
// and the links of the operator's control panel (%%ADMINWINAMPCONTROL%%),
// in one table (admin_actions.cpp). A new action is one row of that table,
// its function and its test. Constant data; any thread.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

struct Page;

// Where an action sends the browser afterwards, and the ResultCode it shows.
struct AdminOutcome {
  // True: back to the referring page (or the playlist page); false: to the
  // operator's view of the playlist page.
  bool back = false;
  int result = 0;
};

struct AdminAction {
  // The exact, case-sensitive word of the "action" query value.
  const char* word;
  // Carries the action out; `listpos` is the "listpos" query value (0 when
  // absent, INT_MIN when it is no number).
  AdminOutcome (*perform)(const Page& page, int listpos);
  // The action's link on the control panel: the markup before the password
  // and after the action word; null for an action with no link.
  const char* linkBefore;
  const char* linkAfter;
};

// The action named `word`, or null.
const AdminAction* FindAdminAction(const ByteString& word);

// The operator's control panel: a table with one link per action that has
// one, in the table's order. `pass` is the URL-encoded password.
ByteString AdminControlPanel(const ByteString& pass);

}  // namespace ambervox
