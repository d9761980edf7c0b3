// PROVISIONAL: stand-ins for the page handlers until the pages (template
// engine, playlist, request and admin pages) land in src/pages/. This file
// is deleted then. They keep the router working through the handlers' real
// signatures: no admin command is answered, /request.cgi goes back to the
// playlist page, no playlist state is parsed or built, and no template line
// is expanded, so a template file is sent line for line.
#include "http/http_connection.h"
#include "http/http_status.h"

namespace ambervox {

bool HttpConnection::HandleAdminCommand(const ByteString&, int*) { return false; }

void HttpConnection::HandleRequestPage(const ByteString&) {
  WriteHeader(kStatusMovedTemporarily, ReasonPhrase(kStatusMovedTemporarily), "Location: /playlist.cgi", nullptr,
              -1);
}

void HttpConnection::ParsePlaylistParams(const ByteString&, int*, int*) {}

void HttpConnection::BuildPlaylistPage(bool, bool) {}

bool HttpConnection::RenderTemplateLine(const ByteString&, ByteString&, bool, bool, int, bool) { return false; }

}  // namespace ambervox
