// The playlist page: the query (ParsePlaylistParams), the choice of the rows
// (BuildPlaylistPage), and the expansion of its rows and navigation links,
// all on the Page's state.
#include "pages/playlist_page.h"

#include <cstdint>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "common/text_operations.h"
#include "pages/admin_password.h"
#include "pages/page_handlers.h"
#include "pages/site.h"
#include "requests/playlist_cache.h"

namespace ambervox {
namespace {

// The query of a page link that starts at match number `start`. A leading
// text and a search word are not both carried: the search word wins.
ByteString PageQuery(const PageState& state, long long start) {
  ByteString query;
  if (state.HasSearchWord()) {
    query = "psearch=";
    query.Append(UrlEncode(state.searchWord));
  } else if (state.HasStartsWith()) {
    query = "startswith=";
    query.Append(UrlEncode(state.startsWith));
  }
  query.Append(query.IsEmpty() ? "current=" : "&current=");
  AppendDecimal(query, start);
  return query;
}

ByteString PageLink(const Page& page, long long start, const ByteString& text) {
  ByteString link;
  if (page.state.isAdmin) {
    link = "<a href=\"admin.cgi?pass=";
    link.Append(UrlEncode(page.site.settings->AdminPassword()));
    link.Append("&");
  } else {
    link = "<a href=\"playlist.cgi?";
  }
  link.Append(PageQuery(page.state, start));
  link.Append("\">");
  link.Append(text);
  link.Append("</a>");
  return link;
}

}  // namespace

void ParsePlaylistParams(Page& page, const ByteString& requestTarget) {
  PageState& state = page.state;
  ByteString& searchWord = state.searchWord;
  ByteString& startsWith = state.startsWith;
  QueryParams query;
  ParseQueryString(requestTarget, &query);
  // An empty value counts as absent: the field keeps what it holds.
  state.isAdmin = IsAdminRequest(page, query.Get("pass"));
  ByteString value = query.Get("errorCode");
  if (!value.IsEmpty()) state.errorCode = ParseNumber(value.CStr());
  value = query.Get("current");
  if (!value.IsEmpty()) state.current = ParseNumber(value.CStr());
  value = query.Get("displayMode");
  if (!value.IsEmpty()) state.displayMode = ParseNumber(value.CStr());
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

void BuildPlaylistPage(Page& page) {
  PageState& state = page.state;
  const ByteString& searchWord = state.searchWord;
  const ByteString& startsWith = state.startsWith;
  const bool hasSearchWord = state.HasSearchWord();
  const bool hasStartsWith = state.HasStartsWith();
  state.rows.clear();
  PlaylistCache* const playlistCache = page.site.Cache();
  if (playlistCache == nullptr) return;
  const int maxEntries = page.site.settings->MaxEntries();
  int added = 0;
  long long matched = 0;
  // The cache keeps every title's display form lower-cased as well: only the
  // search word and the leading text are lower-cased here, once for the
  // whole walk. A browser sends what its form's code page cannot hold as
  // "&#N;", which is how the display form writes it too.
  ByteString lowerWord = searchWord;
  lowerWord.MakeLowerMultibyte();
  ByteString lowerPrefix = startsWith;
  lowerPrefix.MakeLowerMultibyte();
  const int prefixLength = startsWith.Length();
  playlistCache->ScanTitles(
      [&](int index, const ByteString& shownTitle, const char* lowerTitle, int lowerLength, SongId song) {
        // The leading text, when given, decides alone.
        const bool match = hasStartsWith ? StartsWithLowerCase(lowerTitle, lowerPrefix, prefixLength)
                                         : !hasSearchWord || ContainsLowerCase(lowerTitle, lowerLength, lowerWord);
        if (!match) return true;
        if (added >= maxEntries) {
          state.hasMorePages = true;
          return false;
        }
        if (matched >= state.current) {
          PageRow row;
          row.playlistIndex = index;
          row.shownTitle = shownTitle;
          row.song = song;
          state.rows.push_back(row);
          ++added;
        }
        ++matched;
        return true;
      });
}

ByteString NextPageLink(const Page& page) {
  if (!page.state.hasMorePages) return ByteString();
  const long long start = static_cast<long long>(page.state.current) + page.site.settings->MaxEntries();
  return PageLink(page, start, page.site.settings->SkinPlaylistNext());
}

ByteString PreviousPageLink(const Page& page) {
  const long long start = static_cast<long long>(page.state.current) - page.site.settings->MaxEntries();
  if (start < 0) return ByteString();
  return PageLink(page, start, page.site.settings->SkinPlaylistPrev());
}

}  // namespace ambervox
