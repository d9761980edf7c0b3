// The page handlers: what the routes of the site (site.cpp) call, each
// defined in the file named beside it. Each runs on the connection's own
// thread with the Page it was given.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_string.h"
#include "pages/site.h"
#include "pages/skin_cache.h"

namespace ambervox {

// admin_page.cpp: /admin.cgi with a query. True when it answered (a
// redirect); false when the operator's password came without a command, so
// that the caller shows the operator's view of the playlist page.
bool HandleAdminCommand(Page& page);
// request_page.cpp: /request.cgi, a request or a withdrawal, answered with
// a redirect back.
void HandleRequestPage(Page& page);
// request_page.cpp: the song (SongId) that a request, delete or cancel link
// names by its "song" value; 0 (kNoSong) when it names none or its value is
// no song's identity.
std::uint64_t LinkedSong(const ByteString& target);
// playlist_page.cpp: the query of the playlist and admin pages into
// page.state, and the rows it asks for.
void ParsePlaylistParams(Page& page, const ByteString& target);
void BuildPlaylistPage(Page& page);
// template_renderer.cpp: appends a skin's pieces (SplitSkin) to `out`, each
// piece whose line holds a marker expanded with the page's state, the others
// as they stand. The one way a skin becomes a page: the site sends what it
// renders from its cached pieces; tests and benchmarks render the same way.
void RenderSkin(const Page& page, const std::vector<SkinPiece>& pieces, ByteString& out);

}  // namespace ambervox
