// The playlist page's markers, expanded by RenderTemplateLine from the page
// state that ParsePlaylistParams and BuildPlaylistPage (playlist_page.cpp)
// leave in the Page: the rows ("%%PLAYLISTENTRY%%"
// with "%%PLAYLISTPOSVAL%%" and "%%PLAYLISTPOS%%") and the links to the next
// and the previous page. Run on the connection's own thread; the settings are
// read once per call, as copies.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

struct Page;

// Appends one copy of `line` per page row, in playlist order: the title
// (HTML-escaped), the bare index, and the index for request links (followed
// by "&pass=" and the URL-encoded password in the operator's view). No rows:
// nothing is appended.
void AppendPlaylistRows(const Page& page, const ByteString& line, ByteString& out);

// The link to the page that starts `g_MaxEntries` matches later ("" when no
// match follows this page) and to the one that starts `g_MaxEntries`
// matches earlier ("" when that would lie before the first match). The
// operator's links lead to admin.cgi with the password.
ByteString NextPageLink(const Page& page);
ByteString PreviousPageLink(const Page& page);

}  // namespace ambervox
