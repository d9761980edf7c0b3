// The page handlers: what the routes of the site (site.cpp) call, each
// defined in the file named beside it. Each runs on the connection's own
// thread with the Page it was given.
#pragma once

#include <cstdint>

#include "common/byte_string.h"
#include "pages/site.h"

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
// template_renderer.cpp: expands the markers of one skin line into `out`.
// False, appending nothing, when the line holds no marker.
bool RenderTemplateLine(const Page& page, const ByteString& line, ByteString& out);

}  // namespace ambervox
