// The links of the playlist page to its next and its previous page, which
// the template engine shows for %%NAV_NEXT%% and %%NAV_PREV%%, from the page
// state that ParsePlaylistParams and BuildPlaylistPage (playlist_page.cpp)
// leave in the Page. Run on the connection's own thread; the settings are
// read once per call, as copies.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

struct Page;

// The link to the page that starts `g_MaxEntries` matches later ("" when no
// match follows this page) and to the one that starts `g_MaxEntries`
// matches earlier ("" when that would lie before the first match). The
// operator's links lead to admin.cgi with the password.
ByteString NextPageLink(const Page& page);
ByteString PreviousPageLink(const Page& page);

}  // namespace ambervox
