// The Location lines with which the request and admin pages send the
// browser back after a change, carrying the ResultCode as "errorCode" so
// that the page shows its message. Stateless; any thread.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

// Back to the page the browser came from, or to the playlist page when it
// sent no referer:
// - `referer` not empty: the referer, and for a non-zero `result`
//   "&errorCode=N" when it has a query (it holds "?", or "&" as in "/&..."),
//   "?errorCode=N" otherwise (so that a rendered .html page, a static
//   target, gets a query it can read);
// - `referer` empty: "/playlist.cgi?", then "pass=P&" when `password` is
//   given (URL-encoded), then "errorCode=N&" for a non-zero result,
//   with every trailing "?" and "&" removed.
// The result is the whole header line ("Location: ..."), without line end.
ByteString BackLocation(const ByteString& referer, int result, const ByteString* password);

}  // namespace ambervox
