#include "pages/redirect_location.h"

#include "common/text_operations.h"

namespace ambervox {

ByteString BackLocation(const ByteString& referer, int result, const ByteString* password) {
  ByteString line("Location: ");
  if (!referer.IsEmpty()) {
    line.Append(referer);
    if (result != 0) {
      // A referer with a query gets one more parameter; one without gets a
      // query. "&" counts as a query too: "/&..." is the playlist page's.
      const bool hasQuery = referer.Contains("?") || referer.Contains("&");
      line.Append(hasQuery ? "&" : "?");
      line.AppendFormat("errorCode=%d", result);
    }
    return line;
  }
  line.Append("/playlist.cgi?");
  if (password != nullptr) {
    line.Append("pass=");
    line.Append(UrlEncode(*password));
    line.Append("&");
  }
  if (result != 0) line.AppendFormat("errorCode=%d&", result);
  int end = line.Length();
  while (end > 0 && (line.At(end - 1) == '?' || line.At(end - 1) == '&')) --end;
  line.Truncate(end);
  return line;
}

}  // namespace ambervox
