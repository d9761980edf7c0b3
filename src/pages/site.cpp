// ServeConnection and the table of routes: which page or file answers which
// request target.
//
// A new page is one more row of kRoutes and its handler. The rows are tried
// in order and the first whose rule matches the target answers it; the last
// row takes every target, as a file below the web root.
#include "pages/site.h"

#include <cstdio>
#include <cstring>

#include "common/number.h"
#include "common/plugin_settings.h"
#include "common/query_params.h"
#include "http/http_status.h"
#include "http/mime_table.h"
#include "http/web_root.h"
#include "pages/page_handlers.h"
#include "pages/skin_cache.h"
#include "platform/files.h"
#include "requests/request_queue.h"

namespace ambervox {
namespace {

constexpr const char kInternalErrorDetail[] =
    "The server encountered an internal error or misconfiguration and was unable to complete your request.";

// How a route's path is compared with the request target.
enum class PathRule {
  kExact,   // the whole target equals the path
  kPrefix,  // the target begins with the path (an empty path: every target)
};

struct Route {
  PathRule rule;
  const char* path;
  // Answers the request.
  void (*answer)(Page& page);
};

bool Matches(const Route& route, const ByteString& target) {
  return route.rule == PathRule::kExact ? target.Equals(route.path) : target.StartsWith(route.path);
}

// A skin file (text/html) rendered piece by piece with the page's state,
// then sent compressed as the browser allows.
void SendTemplatePage(Page& page, const ParsedSkin& skin) {
  HttpConnection& connection = page.connection;
  BuildPlaylistPage(page);
  ByteString text;
  RenderSkin(page, skin.pieces, text);
  int encoding = kEncodingNone;
  if (page.Request().acceptedEncodings & kAcceptsGzip) {
    encoding = kEncodingGzip;
  } else if (page.Request().acceptedEncodings & kAcceptsDeflate) {
    encoding = kEncodingDeflate;
  }
  // The zero byte after the text is part of the body (see SendErrorPage).
  if (!connection.SendCompressed(text.Data(), text.Length() + 1, encoding)) {
    connection.SendErrorPage(kStatusInternalServerError, nullptr, kInternalErrorDetail);
  }
}

// A file below the web root: `filePath` as the target names it or, for the
// playlist and admin pages, the skin file. Templates (text/html) are
// rendered, everything else is sent as it is.
void SendWebRootFile(Page& page, const ByteString& filePath, bool fromTarget, const char* contentType) {
  HttpConnection& connection = page.connection;
  const ByteString& target = page.Request().target;
  const ByteString webRoot = page.site.settings->WebRoot();
  // The name as sent first (a file may have "%20" in its name); when nothing
  // is there and the name holds escapes, as a browser writes a space or a
  // Japanese name, the name they spell. Every rule judges the name looked up.
  ByteString name = filePath;
  ByteString fullPath;
  platform::FileInfo info;
  WebRootLookup found = FindWebRootFile(webRoot, name, fromTarget, &fullPath, &info);
  if (found == WebRootLookup::kMissing && fromTarget && name.Contains("%")) {
    name = DecodePercentEscapes(filePath);
    found = FindWebRootFile(webRoot, name, fromTarget, &fullPath, &info);
  }
  if (found == WebRootLookup::kBadPath) {
    SendBadPath(connection, name);
    return;
  }
  // A file named by the target takes its type from its own name; a page
  // named by the settings keeps the type it was given unless the target's
  // spelling names another.
  if (const char* byExtension = MimeTable::ContentTypeForTarget(fromTarget ? name : target)) {
    contentType = byExtension;
  }
  const bool isTemplate = contentType != nullptr && std::strcmp(contentType, "text/html") == 0;
  std::shared_ptr<const ParsedSkin> skin;
  std::shared_ptr<const KeptFile> kept;
  platform::ScopedFile file;
  if (found == WebRootLookup::kFound && isTemplate) {
    skin = SharedSkinCache().Get(fullPath, info);
  } else if (found == WebRootLookup::kFound && info.size <= SkinCache::kMaxFileBytes) {
    // A small file comes from memory while it is unchanged on disk.
    kept = SharedSkinCache().GetFile(fullPath, info);
  } else if (found == WebRootLookup::kFound) {
    file.reset(platform::OpenFileForReading(fullPath.CStr()));
  }
  if (skin == nullptr && kept == nullptr && file == nullptr) {
    ByteString detail = ByteString::Format("The requested URL %s was not found on this server.", target.CStr());
    connection.SendErrorPage(kStatusNotFound, nullptr, detail.CStr());
    return;
  }
  if (skin != nullptr) {
    SendTemplatePage(page, *skin);
  } else if (kept != nullptr) {
    SendStaticBytes(connection, kept->bytes, contentType, info);
  } else {
    SendStaticFile(connection, file.get(), contentType, info);
  }
}

void RedirectToPlaylist(Page& page) {
  page.connection.WriteHeader(kStatusMovedTemporarily, "Location: /playlist.cgi", nullptr, -1);
}

void SendPasswordForm(Page& page) {
  ByteString form("<html><head></head><body>");
  form.Append(
      "<form method=\"GET\" action=\"admin.cgi\">Enter Admin Password <input type=text name=pass> <input "
      "type=Submit></form>");
  form.Append("</body></html>");
  page.connection.WriteHeaderAndBody(kStatusOk, "", "text/html", form.Length() + 1, form.Data(), form.Length() + 1);
}

// The playlist page: the skin file named by the Playlistfile setting,
// rendered with the query's page state.
void ServePlaylistPage(Page& page) {
  ParsePlaylistParams(page, page.Request().target);
  SendWebRootFile(page, page.site.settings->PlaylistFile(), false, "text/html");
}

// An operator's command, or with the password alone the operator's view of
// the playlist page.
void ServeAdminPage(Page& page) {
  if (!HandleAdminCommand(page)) ServePlaylistPage(page);
}

// A file below the web root. The query part ("?" and what follows, as a
// browser adds to bust its cache) is never part of the name: "?" cannot
// occur in a Windows file name, so no file that exists is lost by this.
void ServeFile(Page& page) {
  const ByteString& target = page.Request().target;
  const int query = target.Find("?");
  // A rendered page shows the message a request sent it back with; the
  // rest of its query it does not read.
  if (query != ByteString::kNotFound) {
    QueryParams params;
    ParseQueryString(target, &params);
    const ByteString errorCode = params.Get("errorCode");
    if (!errorCode.IsEmpty()) page.state.errorCode = ParseNumber(errorCode.CStr());
  }
  SendWebRootFile(page, query == ByteString::kNotFound ? target : target.Left(query), true, nullptr);
}

// In order of precedence.
constexpr Route kRoutes[] = {
    {PathRule::kExact, "", &RedirectToPlaylist},
    {PathRule::kExact, "/", &RedirectToPlaylist},
    {PathRule::kExact, "/admin.cgi", &SendPasswordForm},
    {PathRule::kPrefix, "/admin.cgi", &ServeAdminPage},
    {PathRule::kPrefix, "/request.cgi", &HandleRequestPage},
    {PathRule::kPrefix, "/playlist.cgi", &ServePlaylistPage},
    {PathRule::kPrefix, "", &ServeFile},
};

}  // namespace

const PlayerSnapshot& Page::Player() const {
  if (!state.player.has_value()) {
    const PlayerHost player = site.queue != nullptr ? site.queue->Player() : PlayerHost();
    state.player = player.GetPlayerSnapshot();
  }
  return *state.player;
}

long long LinkedRequest(const ByteString& target) {
  QueryParams query;
  ParseQueryString(target, &query);
  const ByteString text = query.Get("index");
  if (text.IsEmpty()) return RequestQueue::kNoIdentity;
  for (int i = 0; i < text.Length(); ++i) {
    if (text.At(i) < '0' || text.At(i) > '9') return -2;
  }
  return ParseNumber(text.CStr());
}

PlaylistCache* Site::Cache() const { return queue != nullptr ? queue->Cache() : nullptr; }

void ServeConnection(HttpConnection& connection, const Site& site) {
  HttpRequest& request = connection.request;
  connection.StartAnswer();

  HeadResult head = connection.ReadRequest(request.method, request.target);
  if (head == HeadResult::kIncomplete) return;
  if (head != HeadResult::kComplete) {
    // Nothing of this head is interpreted; the answer still identifies the
    // browser like every other answer does.
    request.userId.CreateNew();
    const char* detail = head == HeadResult::kTooLarge ? "Request header too large." : "Invalid request header.";
    connection.SendErrorPage(kStatusBadRequest, nullptr, detail);
    return;
  }
  connection.InterpretHead();

  if (!request.method.Equals("GET")) {
    connection.WriteHeader(kStatusNotImplemented, nullptr, nullptr, -1);
    return;
  }
  // "/?query" and "/&query" are the playlist page with that query.
  if (request.target.StartsWith("/?") || request.target.StartsWith("/&")) {
    request.target = ByteString("/playlist.cgi?") + request.target.Mid(2);
  }

  Page page(connection, site);
  for (const Route& route : kRoutes) {
    if (Matches(route, request.target)) {
      route.answer(page);
      return;
    }
  }
  // Not reached: the last route takes every target.
}

}  // namespace ambervox
