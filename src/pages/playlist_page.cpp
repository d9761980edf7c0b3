// The playlist page: the query (ParsePlaylistParams), the choice of the rows
// (BuildPlaylistPage), and the expansion of its rows and navigation links.
#include "pages/playlist_page.h"

#include <cstdint>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/text_operations.h"
#include "http/http_connection.h"
#include "pages/admin_password.h"
#include "requests/playlist_cache.h"

namespace ambervox {
namespace {

void AppendDecimal(ByteString& text, long long value) { text.AppendFormat("%lld", value); }

// The query of a page link that starts at match number `start`. A leading
// text and a search word are not both carried: the search word wins.
ByteString PageQuery(const HttpConnection& connection, bool hasSearchWord, bool hasStartsWith, long long start) {
  ByteString query;
  if (hasSearchWord) {
    query = "psearch=";
    query.Append(UrlEncode(connection.searchWord));
  } else if (hasStartsWith) {
    query = "startswith=";
    query.Append(UrlEncode(connection.startsWith));
  }
  query.Append(query.IsEmpty() ? "current=" : "&current=");
  AppendDecimal(query, start);
  return query;
}

ByteString PageLink(const HttpConnection& connection, bool hasSearchWord, bool hasStartsWith, bool isAdmin,
                    long long start, const ByteString& text) {
  ByteString link;
  if (isAdmin) {
    link = "<a href=\"admin.cgi?pass=";
    link.Append(connection.settings->AdminPassword());
    link.Append("&");
  } else {
    link = "<a href=\"playlist.cgi?";
  }
  link.Append(PageQuery(connection, hasSearchWord, hasStartsWith, start));
  link.Append("\">");
  link.Append(text);
  link.Append("</a>");
  return link;
}

}  // namespace

void HttpConnection::ParsePlaylistParams(const ByteString& requestTarget, int* errorCode, int* isAdmin) {
  *isAdmin = 0;
  QueryParams query;
  ParseQueryString(requestTarget, &query);
  // An empty value counts as absent: the field keeps what it holds.
  if (IsAdminPassword(query.Get("pass"), settings->AdminPassword())) *isAdmin = 1;
  ByteString value = query.Get("errorCode");
  if (!value.IsEmpty()) *errorCode = ParseNumber(value.CStr());
  value = query.Get("current");
  if (!value.IsEmpty()) current = ParseNumber(value.CStr());
  value = query.Get("displayMode");
  if (!value.IsEmpty()) displayMode = ParseNumber(value.CStr());
  value = query.Get("psearch");
  if (!value.IsEmpty()) {
    searchWord = value;
    UrlDecode(&searchWord);
  }
  value = query.Get("startswith");
  if (!value.IsEmpty()) {
    startsWith = value;
    UrlDecode(&startsWith);
  }
}

void HttpConnection::BuildPlaylistPage(bool hasSearchWord, bool hasStartsWith) {
  pageRows.clear();
  if (playlistCache == nullptr) return;
  const int maxEntries = settings->MaxEntries();
  int added = 0;
  long long matched = 0;
  ByteString title;
  // The cache keeps every title lower-cased as well: only the search word
  // and the leading text are lower-cased here, once for the whole walk.
  ByteString lowerTitle;
  ByteString lowerWord = searchWord;
  lowerWord.MakeLowerMultibyte();
  ByteString lowerPrefix = startsWith;
  lowerPrefix.MakeLowerMultibyte();
  const bool filtered = hasSearchWord || hasStartsWith;
  // One title per lookup, no lock between them: a rebuild meanwhile only
  // shortens or lengthens the walk.
  for (int i = 0; filtered ? playlistCache->GetTitleAndLowerCase(i, title, lowerTitle)
                           : playlistCache->GetTitle(i, title);
       ++i) {
    bool match = true;
    if (hasSearchWord) match = ContainsLowerCase(lowerTitle, lowerWord);
    // The leading text, when given, decides alone.
    if (hasStartsWith) match = StartsWithLowerCase(lowerTitle, lowerPrefix, startsWith.Length());
    if (!match) continue;
    if (added >= maxEntries) {
      hasMorePages = 1;
      return;
    }
    if (matched >= current) {
      PageRow row;
      row.playlistIndex = i;
      row.title = title;
      pageRows.push_back(row);
      ++added;
    }
    ++matched;
  }
}

void AppendPlaylistRows(const HttpConnection& connection, const ByteString& line, bool isAdmin, ByteString& page) {
  if (connection.pageRows.empty()) return;
  ByteString suffix;
  if (isAdmin) {
    suffix = "&pass=";
    suffix.Append(UrlEncode(connection.settings->AdminPassword()));
  }
  for (const PageRow& row : connection.pageRows) {
    ByteString copy = line;
    // One after the other on the same copy: a title holding a later marker
    // gets it replaced too.
    copy.ReplaceAll("%%PLAYLISTENTRY%%", HtmlEscape(row.title));
    ByteString index = ByteString::Format("%d", row.playlistIndex);
    copy.ReplaceAll("%%PLAYLISTPOSVAL%%", index);
    copy.ReplaceAll("%%PLAYLISTPOS%%", isAdmin ? index + suffix : index);
    page.Append(copy);
  }
}

ByteString NextPageLink(const HttpConnection& connection, bool hasSearchWord, bool hasStartsWith, bool isAdmin) {
  if (connection.hasMorePages == 0) return ByteString();
  const long long start = static_cast<long long>(connection.current) + connection.settings->MaxEntries();
  return PageLink(connection, hasSearchWord, hasStartsWith, isAdmin, start, connection.settings->SkinPlaylistNext());
}

ByteString PreviousPageLink(const HttpConnection& connection, bool hasSearchWord, bool hasStartsWith, bool isAdmin) {
  const long long start = static_cast<long long>(connection.current) - connection.settings->MaxEntries();
  if (start < 0) return ByteString();
  return PageLink(connection, hasSearchWord, hasStartsWith, isAdmin, start, connection.settings->SkinPlaylistPrev());
}

}  // namespace ambervox
