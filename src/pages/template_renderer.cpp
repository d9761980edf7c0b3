// RenderSkin: the template engine. One line of a skin at a time:
// the first marker family present on the line (in the order of the marker
// table below) is expanded, every occurrence of its markers replaced left to
// right; the row families repeat exactly that one line per row. Markers of
// later families on the same line stay as they are. The player's state is
// read once per page (Page::Player); everything else is read at the moment
// the line is rendered. No lock is held while text is built.
#include <cstdint>
#include <cstring>

#include "common/plugin_settings.h"
#include "common/text_operations.h"
#include "pages/admin_actions.h"
#include "pages/markers.h"
#include "pages/message_table.h"
#include "pages/page_handlers.h"
#include "pages/playlist_page.h"
#include "pages/site.h"
#include "pages/skin_cache.h"
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
constexpr const char kPlaylistPosVal[] = "%%PLAYLISTPOSVAL%%";
constexpr const char kPlaylistPos[] = "%%PLAYLISTPOS%%";
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

Progress ReadProgress(const Page& page) {
  const PlayingTime time = page.Player().time;
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

// Appends `line` with every `marker` replaced.
void AppendReplaced(const ByteString& line, const char* marker, const ByteString& replacement, ByteString& page) {
  page.AppendReplaced(line, marker, replacement);
}

// The expanders, in the order of the table.

void ExpandArtistRows(const Page& page, const ByteString& line, ByteString& out) {
  PlaylistCache* const cache = page.site.Cache();
  if (cache == nullptr) return;
  // One snapshot for the whole list, so that a rebuild meanwhile cannot mix
  // two playlists' artists. The page text is escaped like every other text
  // taken from titles: an artist such as "AC<DC" must not break the skin's
  // markup.
  const std::shared_ptr<const PlaylistSnapshot> snapshot = cache->Snapshot();
  for (const ByteString& artist : snapshot->shownArtists) AppendReplaced(line, kArtistSelect, artist, out);
}

void ExpandAdminControl(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kAdminControl,
                 page.state.isAdmin ? AdminControlPanel(UrlEncode(page.site.settings->AdminPassword())) : ByteString(),
                 out);
}

void ExpandAdminHiddenField(const Page& page, const ByteString& line, ByteString& out) {
  ByteString field;
  if (page.state.isAdmin) {
    field = "<input type=\"hidden\" name=\"pass\" value=\"";
    field.Append(HtmlEscape(page.site.settings->AdminPassword()));
    field.Append("\">");
  }
  AppendReplaced(line, kAdminHiddenField, field, out);
}

void ExpandAdminPassword(const Page& page, const ByteString& line, ByteString& out) {
  ByteString pass;
  if (page.state.isAdmin) {
    pass = "&pass=";
    pass.Append(UrlEncode(page.site.settings->AdminPassword()));
  }
  AppendReplaced(line, kAdminPassword, pass, out);
}

void ExpandError(const Page& page, const ByteString& line, ByteString& out) {
  const int errorCode = page.state.errorCode;
  const char* text = errorCode > 0 && errorCode < MessageTable::kCount ? MessageTable::Text(errorCode) : nullptr;
  AppendReplaced(line, kError, ByteString(text), out);
}

void ExpandReferrer(const Page& page, const ByteString& line, ByteString& out) {
  if (page.state.errorCode != 0) {
    // The Referer comes from the browser, which may have been sent here
    // by any page: escaped, it cannot bring markup into the skin.
    AppendReplaced(line, kReferrer, HtmlEscape(page.Request().referer), out);
  } else {
    // Without a message there is nowhere to go back to: a refresh header
    // "URL=%%HTTP_REFERRER%%" loses its target altogether.
    ByteString withoutUrl;
    withoutUrl.AppendReplaced(line, kReferrerUrl, ByteString());
    out.AppendReplaced(withoutUrl, kReferrer, ByteString());
  }
}

// One copy of `line` per page row, in playlist order: the title's page text
// (HTML-escaped), the bare index, and the index for request links, followed
// by "&song=" and the song's identity (SongIdText; none for an entry without
// a file), so that the link names the song it shows even after the DJ edits
// the playlist, and by "&pass=" and the URL-encoded password in the
// operator's view. No rows: nothing is appended.
void ExpandPlaylistRows(const Page& page, const ByteString& line, ByteString& out) {
  const bool isAdmin = page.state.isAdmin;
  if (page.state.rows.empty()) return;
  ByteString suffix;
  if (isAdmin) {
    suffix = "&pass=";
    suffix.Append(UrlEncode(page.site.settings->AdminPassword()));
  }
  // The markers are replaced one after the other, each in the result of the
  // one before: a title holding a later marker gets it replaced too. The
  // buffers keep their storage from row to row.
  ByteString withTitle;
  ByteString withIndex;
  ByteString index;
  ByteString position;
  for (const PageRow& row : page.state.rows) {
    index.Truncate(0);
    AppendDecimal(index, row.playlistIndex);
    position.Truncate(0);
    position.Append(index);
    if (row.song != kNoSong) {
      position.Append("&song=");
      position.Append(SongIdText(row.song));
    }
    position.Append(suffix);
    withTitle.Truncate(0);
    withTitle.AppendReplaced(line, kPlaylistEntry, row.shownTitle);
    withIndex.Truncate(0);
    withIndex.AppendReplaced(withTitle, kPlaylistPosVal, index);
    out.AppendReplaced(withIndex, kPlaylistPos, position);
  }
}

void ExpandQueueRows(const Page& page, const ByteString& line, ByteString& out) {
  RequestQueue* queue = page.site.queue;
  if (queue == nullptr) return;
  const bool isAdmin = page.state.isAdmin;
  const ByteString password = isAdmin ? UrlEncode(page.site.settings->AdminPassword()) : ByteString();
  const ByteString cancelText = isAdmin ? ByteString() : page.site.settings->SkinUserCancel();
  ByteString withTitle;
  ByteString withPosition;
  ByteString song;
  // The count is read afresh after every row: requests may come and go while
  // the rows are built.
  for (int position = 1; position <= queue->RequestCount(); ++position) {
    ByteString title;
    RequestEntry entry;
    // A request that vanished meanwhile gets no row. (One whose song left
    // the playlist has left the queue with the rebuild: FollowPlaylist.)
    if (!queue->GetEntry(position - 1, title, entry)) continue;
    // The links name the request by its index and its song.
    song.Truncate(0);
    if (!entry.filePath.IsEmpty()) {
      song.Append("&song=");
      song.Append(SongIdText(SongOfFile(entry.filePath)));
    }
    withTitle.Truncate(0);
    withTitle.AppendReplaced(line, kQueueEntry, title);
    ByteString shownPosition;
    if (isAdmin) {
      shownPosition = "<a href=\"admin.cgi?pass=";
      shownPosition.Append(password);
      shownPosition.AppendFormat("&action=delete&listpos=%d&index=%d", position, entry.playlistIndex);
      shownPosition.Append(song);
      shownPosition.AppendFormat("\">Delete</a>&nbsp;%d", position);
    } else {
      shownPosition = Decimal(position);
    }
    withPosition.Truncate(0);
    withPosition.AppendReplaced(withTitle, kQueuePos, shownPosition);
    ByteString cancel;
    if (isAdmin) {
      cancel = "<font size=\"-1\">";
      cancel.Append(entry.requesterAddress);
      cancel.Append(" / ");
      cancel.Append(entry.userId.ToText());
      cancel.Append("</font>");
    } else if (entry.userId == page.Request().userId) {
      // Only the browser that made the request may withdraw it.
      cancel =
          ByteString::Format("<a href=\"request.cgi?action=delete&listpos=%d&index=%d", position, entry.playlistIndex);
      cancel.Append(song);
      cancel.Append("\">");
      cancel.Append(cancelText);
      cancel.Append("</a>");
    }
    out.AppendReplaced(withPosition, kQueueUserCancel, cancel);
  }
}

void ExpandNavNext(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kNavNext, NextPageLink(page), out);
}

void ExpandNavPrev(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kNavPrev, PreviousPageLink(page), out);
}

void ExpandCurrentSong(const Page& page, const ByteString& line, ByteString& out) {
  ByteString title;
  PlaylistCache* const cache = page.site.Cache();
  // No current title: the whole line is left out.
  if (cache != nullptr && cache->GetShownTitle(page.Player().playlistPosition, title)) {
    AppendReplaced(line, kCurrentSong, title, out);
  }
}

void ExpandDisplayMode(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kDisplayMode, Decimal(page.state.displayMode), out);
}

void ExpandContentRefresh(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kContentRefresh, Decimal(static_cast<std::int64_t>(ReadProgress(page).secondsLeft) + 5), out);
}

void ExpandSearchWord(const Page& page, const ByteString& line, ByteString& out) {
  // Written back into the search field, a word with characters the code
  // page lacks shows them as the listener typed them.
  AppendReplaced(line, kSearchWord, HtmlEscapeFormText(page.state.searchWord), out);
}

void ExpandPercentLeft(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kPercentLeft, Decimal(ReadProgress(page).percentLeft), out);
}

void ExpandSongLength(const Page& page, const ByteString& line, ByteString& out) {
  AppendReplaced(line, kSongLength, Decimal(ReadProgress(page).lengthSeconds), out);
}

const Marker kMarkers[] = {
    {kArtistSelect, MarkerFamily::kArtistSelect, &ExpandArtistRows},
    {kAdminControl, MarkerFamily::kAdminControl, &ExpandAdminControl},
    {kAdminHiddenField, MarkerFamily::kAdminHiddenField, &ExpandAdminHiddenField},
    {kAdminPassword, MarkerFamily::kAdminPassword, &ExpandAdminPassword},
    {kError, MarkerFamily::kError, &ExpandError},
    {kReferrer, MarkerFamily::kReferrer, &ExpandReferrer},
    {kPlaylistEntry, MarkerFamily::kPlaylistRows, &ExpandPlaylistRows},
    {kPlaylistPosVal, MarkerFamily::kPlaylistRows, nullptr},
    {kPlaylistPos, MarkerFamily::kPlaylistRows, nullptr},
    {kQueueEntry, MarkerFamily::kQueueRows, &ExpandQueueRows},
    {kQueuePos, MarkerFamily::kQueueRows, nullptr},
    {kQueueUserCancel, MarkerFamily::kQueueRows, nullptr},
    {kNavNext, MarkerFamily::kNavNext, &ExpandNavNext},
    {kNavPrev, MarkerFamily::kNavPrev, &ExpandNavPrev},
    {kCurrentSong, MarkerFamily::kCurrentSong, &ExpandCurrentSong},
    {kDisplayMode, MarkerFamily::kDisplayMode, &ExpandDisplayMode},
    {kContentRefresh, MarkerFamily::kContentRefresh, &ExpandContentRefresh},
    {kSearchWord, MarkerFamily::kSearchWord, &ExpandSearchWord},
    {kPercentLeft, MarkerFamily::kPercentLeft, &ExpandPercentLeft},
    {kSongLength, MarkerFamily::kSongLength, &ExpandSongLength},
};

}  // namespace

MarkerList Markers() { return MarkerList(); }
const Marker* MarkerList::begin() const { return kMarkers; }
const Marker* MarkerList::end() const { return kMarkers + sizeof kMarkers / sizeof kMarkers[0]; }

const Marker* LineMarker(const ByteString& line) {
  // Every marker begins with "%%": most lines of a skin hold none, and are
  // then declined after one scan instead of one search per marker.
  // ("%%" is looked for at any byte, so a marker that Contains would find
  // is never missed.)
  if (!HasDoublePercent(line.Data(), line.Data() + line.Length())) return nullptr;
  for (const Marker& marker : kMarkers) {
    if (marker.expand != nullptr && line.Contains(marker.text)) return &marker;
  }
  return nullptr;
}

void RenderSkin(const Page& page, const std::vector<SkinPiece>& pieces, ByteString& out) {
  for (const SkinPiece& piece : pieces) {
    if (piece.marker != nullptr) {
      piece.marker->expand(page, piece.text, out);
    } else {
      out.Append(piece.text);
    }
  }
}

}  // namespace ambervox
