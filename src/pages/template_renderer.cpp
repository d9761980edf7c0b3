// HttpConnection::RenderTemplateLine: the template engine. One line of a
// skin at a time: the first marker family present on the line (in the fixed
// order below) is expanded, every occurrence of its markers replaced left to
// right; the row families repeat exactly that one line per row. Markers of
// later families on the same line stay as they are. Everything shown is read
// at the moment the line is rendered; no lock is held while text is built.
#include <cstdint>
#include <cstring>

#include "common/plugin_settings.h"
#include "common/text_operations.h"
#include "http/http_connection.h"
#include "pages/message_table.h"
#include "pages/playlist_page.h"
#include "player/player_host.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"

namespace ambervox {
namespace {

constexpr const char kArtistSelect[] = "%%ARTISTSELECT%%";
constexpr const char kAdminControl[] = "%%ADMINWINAMPCONTROL%%";
constexpr const char kAdminHiddenField[] = "%%ADMINHIDDENFIELD%%";
constexpr const char kAdminPassword[] = "%%ADMINPASSWORD%%";
constexpr const char kError[] = "%%ERROR%%";
constexpr const char kReferrer[] = "%%HTTP_REFERRER%%";
constexpr const char kReferrerUrl[] = "URL=%%HTTP_REFERRER%%";
constexpr const char kPlaylistEntry[] = "%%PLAYLISTENTRY%%";
constexpr const char kQueueEntry[] = "%%QUEUELISTENTRY%%";
constexpr const char kQueuePos[] = "%%QUEUELISTPOS%%";
constexpr const char kQueueUserCancel[] = "%%QUEUELISTUSERCANCEL%%";
constexpr const char kNavNext[] = "%%NAV_NEXT%%";
constexpr const char kNavPrev[] = "%%NAV_PREV%%";
constexpr const char kCurrentSong[] = "%%CURRENTSONG%%";
constexpr const char kDisplayMode[] = "%%DISPLAYMODE%%";
constexpr const char kContentRefresh[] = "%%CONTENT_REFRESH%%";
constexpr const char kSearchWord[] = "%%SEARCH_WORD%%";
constexpr const char kPercentLeft[] = "%%PCT_LEFT%%";
constexpr const char kSongLength[] = "%%SONG_LENGTH%%";

// The values derived from the player's progress, 32 bits wide like the
// player's own answers. The arithmetic is done in 64 bits so that no answer
// of the player can overflow it.
struct Progress {
  int lengthSeconds = 0;
  int secondsLeft = 0;
  int percentLeft = 0;
};

int Wrap32(std::int64_t value) {
  return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

Progress ReadProgress(const HttpConnection& connection) {
  const PlayingTime time =
      PlayerHost(connection.requestQueue != nullptr ? connection.requestQueue->HostWindow() : nullptr).GetPlayingTime();
  Progress progress;
  progress.lengthSeconds = time.lengthSeconds;
  const int positionSeconds = time.positionMs / 1000;
  progress.secondsLeft = Wrap32(static_cast<std::int64_t>(time.lengthSeconds) - positionSeconds);
  // A length of 0 (nothing loaded, a stream) would divide by zero: the
  // percentage is then 0.
  if (time.lengthSeconds != 0) {
    const double elapsed = static_cast<double>(positionSeconds) / time.lengthSeconds * 100.0;
    progress.percentLeft = 100 - static_cast<int>(elapsed);
  }
  return progress;
}

// True when "%%" occurs anywhere in `line` (at any byte, so a marker that
// Contains would find is never missed).
bool HasDoublePercent(const ByteString& line) {
  const char* at = line.Data();
  const char* const end = at + line.Length();
  while (at < end) {
    at = static_cast<const char*>(std::memchr(at, '%', static_cast<std::size_t>(end - at)));
    if (at == nullptr) return false;
    if (at + 1 < end && at[1] == '%') return true;
    ++at;
  }
  return false;
}

ByteString Decimal(long long value) { return ByteString::Format("%lld", value); }

// Replaces every `marker` of a copy of `line` and appends the copy.
void AppendReplaced(const ByteString& line, const char* marker, const ByteString& replacement, ByteString& page) {
  ByteString copy = line;
  copy.ReplaceAll(ByteString(marker), replacement);
  page.Append(copy);
}

// The operator's player controls; `pass` is the URL-encoded password.
ByteString ControlTable(const ByteString& pass) {
  ByteString table("<table bordercolor=white border=1><tr><td colspan=5>Winamp Admin Control</td></tr>");
  const struct {
    const char* before;
    const char* action;
    const char* after;
  } kLinks[] = {
      {"<tr><td><a href=\"admin.cgi?pass=", "prev", "\">Prev</td>"},
      {"<td><a href=\"admin.cgi?pass=", "play", "\">Play</td>"},
      {"<td><a href=\"admin.cgi?pass=", "pause", "\">Pause</td>"},
      {"<td><a href=\"admin.cgi?pass=", "stop", "\">Stop</td>"},
      {"<td><a href=\"admin.cgi?pass=", "next", "\">Next</td></tr>"},
      {"<tr><td colspan=5><a href=\"admin.cgi?pass=", "clearrequest", "\">Clear Request Queue</a></td></tr>"},
      {"<tr><td colspan=5><a href=\"admin.cgi?pass=", "refreshcache", "\">Refresh Playlist Cache</td></tr>"},
  };
  for (const auto& link : kLinks) {
    table.Append(link.before);
    table.Append(pass);
    table.Append("&action=");
    table.Append(link.action);
    table.Append(link.after);
  }
  table.Append("</table>");
  return table;
}

void AppendArtistRows(const HttpConnection& connection, const ByteString& line, ByteString& page) {
  if (connection.playlistCache == nullptr) return;
  const int count = connection.playlistCache->ArtistCount();
  ByteString artist;
  for (int i = 0; i < count; ++i) {
    // The list may shrink meanwhile (a rebuild): the rows end there.
    if (!connection.playlistCache->GetArtist(i, artist)) break;
    // Escaped like every other text taken from titles: an artist such as
    // "AC<DC" must not break the skin's markup.
    AppendReplaced(line, kArtistSelect, HtmlEscape(artist), page);
  }
}

void AppendQueueRows(const HttpConnection& connection, const ByteString& line, bool isAdmin, ByteString& page) {
  RequestQueue* queue = connection.requestQueue;
  if (queue == nullptr) return;
  const ByteString password = isAdmin ? connection.settings->AdminPassword() : ByteString();
  const ByteString cancelText = isAdmin ? ByteString() : connection.settings->SkinUserCancel();
  // The count is read afresh after every row: requests may come and go while
  // the rows are built.
  for (int position = 1; position <= queue->RequestCount(); ++position) {
    ByteString title;
    RequestEntry entry;
    // A request that vanished, or whose index the cache no longer holds,
    // gets no row.
    if (!queue->GetEntry(position - 1, title, entry)) continue;
    ByteString copy = line;
    copy.ReplaceAll(ByteString(kQueueEntry), HtmlEscape(title));
    ByteString shownPosition;
    if (isAdmin) {
      shownPosition = "<a href=\"admin.cgi?pass=";
      shownPosition.Append(password);
      shownPosition.AppendFormat("&action=delete&listpos=%d\">Delete</a>&nbsp;%d", position, position);
    } else {
      shownPosition = Decimal(position);
    }
    copy.ReplaceAll(ByteString(kQueuePos), shownPosition);
    ByteString cancel;
    if (isAdmin) {
      cancel = "<font size=\"-1\">";
      cancel.Append(entry.requesterAddress);
      cancel.Append(" / ");
      cancel.Append(entry.userId.ToText());
      cancel.Append("</font>");
    } else if (entry.userId == connection.userId) {
      // Only the browser that made the request may withdraw it.
      cancel = ByteString::Format("<a href=\"request.cgi?action=delete&listpos=%d\">", position);
      cancel.Append(cancelText);
      cancel.Append("</a>");
    }
    copy.ReplaceAll(ByteString(kQueueUserCancel), cancel);
    page.Append(copy);
  }
}

}  // namespace

bool HttpConnection::RenderTemplateLine(const ByteString& line, ByteString& page, bool hasSearchWord,
                                        bool hasStartsWith, int errorCode, bool isAdmin) {
  // Every marker begins with "%%": most lines of a skin hold none, and are
  // then declined after one scan instead of one search per marker.
  if (!HasDoublePercent(line)) return false;
  if (line.Contains(kArtistSelect)) {
    AppendArtistRows(*this, line, page);
    return true;
  }
  if (line.Contains(kAdminControl)) {
    AppendReplaced(line, kAdminControl, isAdmin ? ControlTable(UrlEncode(settings->AdminPassword())) : ByteString(),
                   page);
    return true;
  }
  if (line.Contains(kAdminHiddenField)) {
    ByteString field;
    if (isAdmin) {
      field = "<input type=\"hidden\" name=\"pass\" value=\"";
      field.Append(settings->AdminPassword());
      field.Append("\">");
    }
    AppendReplaced(line, kAdminHiddenField, field, page);
    return true;
  }
  if (line.Contains(kAdminPassword)) {
    ByteString pass;
    if (isAdmin) {
      pass = "&pass=";
      pass.Append(UrlEncode(settings->AdminPassword()));
    }
    AppendReplaced(line, kAdminPassword, pass, page);
    return true;
  }
  if (line.Contains(kError)) {
    const char* text = errorCode > 0 && errorCode < MessageTable::kCount ? MessageTable::Text(errorCode) : nullptr;
    AppendReplaced(line, kError, ByteString(text), page);
    return true;
  }
  if (line.Contains(kReferrer)) {
    if (errorCode != 0) {
      // The Referer comes from the browser, which may have been sent here
      // by any page: escaped, it cannot bring markup into the skin.
      AppendReplaced(line, kReferrer, HtmlEscape(referer), page);
    } else {
      // Without a message there is nowhere to go back to: a refresh header
      // "URL=%%HTTP_REFERRER%%" loses its target altogether.
      ByteString copy = line;
      copy.ReplaceAll(kReferrerUrl, "");
      copy.ReplaceAll(kReferrer, "");
      page.Append(copy);
    }
    return true;
  }
  if (line.Contains(kPlaylistEntry)) {
    AppendPlaylistRows(*this, line, isAdmin, page);
    return true;
  }
  if (line.Contains(kQueueEntry)) {
    AppendQueueRows(*this, line, isAdmin, page);
    return true;
  }
  if (line.Contains(kNavNext)) {
    AppendReplaced(line, kNavNext, NextPageLink(*this, hasSearchWord, hasStartsWith, isAdmin), page);
    return true;
  }
  if (line.Contains(kNavPrev)) {
    AppendReplaced(line, kNavPrev, PreviousPageLink(*this, hasSearchWord, hasStartsWith, isAdmin), page);
    return true;
  }
  if (line.Contains(kCurrentSong)) {
    ByteString title;
    // No current title: the whole line is left out.
    if (playlistCache != nullptr && playlistCache->GetCurrentTitle(title)) {
      AppendReplaced(line, kCurrentSong, HtmlEscape(title), page);
    }
    return true;
  }
  if (line.Contains(kDisplayMode)) {
    AppendReplaced(line, kDisplayMode, Decimal(displayMode), page);
    return true;
  }
  if (line.Contains(kContentRefresh)) {
    AppendReplaced(line, kContentRefresh, Decimal(static_cast<long long>(ReadProgress(*this).secondsLeft) + 5), page);
    return true;
  }
  if (line.Contains(kSearchWord)) {
    AppendReplaced(line, kSearchWord, HtmlEscape(searchWord), page);
    return true;
  }
  if (line.Contains(kPercentLeft)) {
    AppendReplaced(line, kPercentLeft, Decimal(ReadProgress(*this).percentLeft), page);
    return true;
  }
  if (line.Contains(kSongLength)) {
    AppendReplaced(line, kSongLength, Decimal(ReadProgress(*this).lengthSeconds), page);
    return true;
  }
  return false;
}

}  // namespace ambervox
