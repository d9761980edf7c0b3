// RenderSkin against a simulated player, a real cache and queue: the
// order of the marker families, the texts they insert, the rows they repeat
// and the lines they drop.
#include <gtest/gtest.h>

#include <string>

#include "pages/message_table.h"
#include "player/player_host.h"
#include "unit/pages/pages_test_support.h"

namespace ambervox {
namespace {

using testing::NumberedSongs;
using testing::PageTestBed;
using testing::Titled;

const std::string kCancelText = "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B";  // キャンセル in CP932

std::string Message(int code) { return MessageTable::Text(code); }

TEST(TemplateRendererTest, OnlyTheFirstFamilyOnALineIsExpanded) {
  PageTestBed bed(NumberedSongs(3));
  bed.page.state.searchWord = "word";
  EXPECT_EQ(bed.Line("<p>%%SEARCH_WORD%%: %%ERROR%%</p>\r\n", 1), "<p>%%SEARCH_WORD%%: " + Message(1) + "</p>\r\n");
  EXPECT_EQ(bed.Line("%%SEARCH_WORD%% %%SEARCH_WORD%%\n"), "word word\n");
  bed.page.state.displayMode = 7;
  EXPECT_EQ(bed.Line("%%DISPLAYMODE%% %%CURRENTSONG%%\n"), "%%DISPLAYMODE%% Artist 0 - Song 0\n");
  EXPECT_EQ(bed.Line("%%NAV_PREV%%%%ADMINPASSWORD%%\n", 0, false), "%%NAV_PREV%%\n");
}

TEST(TemplateRendererTest, ErrorShowsTheMessageOfCodesOneToFourteenOnly) {
  PageTestBed bed(NumberedSongs(1));
  for (int code : {0, -1, 15, 100}) EXPECT_EQ(bed.Line("[%%ERROR%%]\r\n", code), "[]\r\n") << code;
  EXPECT_EQ(bed.Line("[%%ERROR%%]\r\n", 13),
            "[\x81\x79\x83\x47\x83\x89\x81\x5B\x81\x7A \x83\x4E\x83\x62\x83\x4C\x81\x5B\x82\xAA\x96\xB3\x8C\xF8\x82"
            "\xC5\x82\xB7\x81\x42\x83\x75\x83\x89\x83\x45\x83\x55\x82\xCC\x90\xDD\x92\xE8\x82\xF0\x8C\xA9\x92\xBC\x82"
            "\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42]\r\n");
}

TEST(TemplateRendererTest, ReferrerIsShownOnlyWithAMessage) {
  PageTestBed bed(NumberedSongs(1));
  bed.connection.request.referer = "http://dj/playlist.cgi?current=25";
  const std::string line = "<meta http-equiv=\"refresh\" content=\"3;URL=%%HTTP_REFERRER%%\"> %%HTTP_REFERRER%%\r\n";
  EXPECT_EQ(bed.Line(line, 0), "<meta http-equiv=\"refresh\" content=\"3;\"> \r\n");
  EXPECT_EQ(bed.Line(line, 1),
            "<meta http-equiv=\"refresh\" content=\"3;URL=http://dj/playlist.cgi?current=25\"> "
            "http://dj/playlist.cgi?current=25\r\n");
}

TEST(TemplateRendererTest, ReferrerAndArtistsCannotBringMarkupIntoThePage) {
  PageTestBed bed(Titled({"<b>\"Q\"</b> - one"}));
  bed.connection.request.referer = "http://evil/?a=\"><script>x('1')</script>&b";
  EXPECT_EQ(bed.Line("<a href=\"%%HTTP_REFERRER%%\">\n", 1),
            "<a href=\"http://evil/?a=&quot;&gt;&lt;script&gt;x(&#39;1&#39;)&lt;/script&gt;&amp;b\">\n");
  EXPECT_EQ(bed.Line("<option value=\"%%ARTISTSELECT%%\">\n"), "<option value=\"&lt;b&gt;&quot;Q&quot;&lt;/b&gt;\">\n");
}

TEST(TemplateRendererTest, RowMarkersWithoutTheirFamilyAndOtherSpellingsStayText) {
  PageTestBed bed(NumberedSongs(2));
  bed.Queue(0, 1);
  for (const char* line : {"%%PLAYLISTPOS%% %%PLAYLISTPOSVAL%% %%QUEUELISTPOS%% %%QUEUELISTUSERCANCEL%%\r\n",
                           "%%error%% %%Error%% %ERROR% %%CURRENT_SONG%%\n", "plain\r\n", ""}) {
    EXPECT_EQ(bed.Line(line), "<not a marker line>") << line;
  }
}

TEST(TemplateRendererTest, EmptyListsAndNoCurrentSongDropTheLine) {
  PageTestBed bed(Titled({"no artist part", "nor here"}));
  EXPECT_EQ(bed.Line("<li>%%QUEUELISTENTRY%%</li> and more\r\n"), "");
  EXPECT_EQ(bed.Line("<option>%%ARTISTSELECT%%</option>\r\n"), "");
  EXPECT_EQ(bed.Line("Now: %%CURRENTSONG%%\r\n"), "Now: no artist part\r\n");
  bed.player.SetPosition(5);     // outside the cached playlist
  bed.page.state = PageState();  // the next page asks the player again
  EXPECT_EQ(bed.Line("Now: %%CURRENTSONG%% <b>%%DISPLAYMODE%%</b>\r\n"), "");
}

TEST(TemplateRendererTest, ArtistRowsRepeatTheLineInArtistOrder) {
  PageTestBed bed(Titled({"Beta - one", "alpha & co - two", "Beta - three", "untitled"}));
  EXPECT_EQ(bed.Line("<option>%%ARTISTSELECT%%|%%ARTISTSELECT%%</option>\n"),
            "<option>alpha &amp; co|alpha &amp; co</option>\n<option>Beta|Beta</option>\n");
}

TEST(TemplateRendererTest, QueueRowsCarryTheCancelLinkOnTheListenersOwnRowOnly) {
  PageTestBed bed(Titled({"A - <one>", "B - two", "C - three"}));
  bed.Queue(2, 5);
  bed.Queue(0, 1);  // the connection's own UserId
  bed.Queue(1, 6);
  const std::string line = "<tr>%%QUEUELISTPOS%%|%%QUEUELISTENTRY%%|%%QUEUELISTUSERCANCEL%%</tr>\r\n";
  // The links name each request by its index and its song.
  const auto song = [](const char* file) { return "&song=" + std::string(SongIdText(SongOfFile(file)).CStr()); };
  const std::string a = song("A - <one>.mp3"), b = song("B - two.mp3"), c = song("C - three.mp3");
  EXPECT_EQ(bed.Line(line),
            "<tr>1|C - three|</tr>\r\n<tr>2|A - &lt;one&gt;|<a href=\"request.cgi?action=delete&listpos=2&index=0" + a +
                "\">" + kCancelText + "</a></tr>\r\n<tr>3|B - two|</tr>\r\n");
  bed.settings.SetAdminPassword("p w&d");
  EXPECT_EQ(bed.Line(line, 0, true), "<tr><a href=\"admin.cgi?pass=p%20w%26d&action=delete&listpos=1&index=2" + c +
                                         "\">Delete</a>&nbsp;1|C - three|<font "
                                         "size=\"-1\">10.0.0.5 / A0000005-0B0C-0000-0000-000000000005</font></tr>\r\n"
                                         "<tr><a href=\"admin.cgi?pass=p%20w%26d&action=delete&listpos=2&index=0" +
                                         a +
                                         "\">Delete</a>&nbsp;2|A - "
                                         "&lt;one&gt;|<font "
                                         "size=\"-1\">10.0.0.1 / A0000001-0B0C-0000-0000-000000000001</font></tr>\r\n"
                                         "<tr><a href=\"admin.cgi?pass=p%20w%26d&action=delete&listpos=3&index=1" +
                                         b +
                                         "\">Delete</a>&nbsp;3|B - two|<font "
                                         "size=\"-1\">10.0.0.6 / A0000006-0B0C-0000-0000-000000000006</font></tr>\r\n");
  // A request whose song left the playlist keeps its row (and its title)
  // until the queue follows the playlist; then it leaves, and the rows are
  // numbered 1, 2 as the limits count them (issue 26, fault 4).
  bed.SetSongs(Titled({"A - <one>", "B - two"}));
  EXPECT_EQ(bed.Line("%%QUEUELISTPOS%% %%QUEUELISTENTRY%%\n"), "1 C - three\n2 A - &lt;one&gt;\n3 B - two\n");
  EXPECT_EQ(1, bed.queue.FollowPlaylist());
  EXPECT_EQ(bed.Line("%%QUEUELISTPOS%% %%QUEUELISTENTRY%%\n"), "1 A - &lt;one&gt;\n2 B - two\n");
}

TEST(TemplateRendererTest, OperatorMarkersAreEmptyForListeners) {
  PageTestBed bed(NumberedSongs(1));
  bed.settings.SetAdminPassword("p w&\"\x82\xA0");
  const std::string encoded = "p%20w%26%22%82%A0";
  for (const char* marker : {"%%ADMINWINAMPCONTROL%%", "%%ADMINHIDDENFIELD%%", "%%ADMINPASSWORD%%"}) {
    EXPECT_EQ(bed.Line(std::string("[") + marker + "]\n", 0, false), "[]\n") << marker;
  }
  EXPECT_EQ(bed.Line("<form>%%ADMINHIDDENFIELD%%</form>\n", 0, true),
            "<form><input type=\"hidden\" name=\"pass\" value=\"p w&amp;&quot;\x82\xA0\"></form>\n");
  EXPECT_EQ(bed.Line("<a href=\"x.cgi?a=1%%ADMINPASSWORD%%\">\n", 0, true),
            "<a href=\"x.cgi?a=1&pass=" + encoded + "\">\n");
  const std::string p = "<a href=\"admin.cgi?pass=" + encoded + "&action=";
  EXPECT_EQ(bed.Line("%%ADMINWINAMPCONTROL%%\n", 0, true),
            "<table bordercolor=white border=1><tr><td colspan=5>Winamp Admin Control</td></tr><tr><td>" + p +
                "prev\">Prev</td><td>" + p + "play\">Play</td><td>" + p + "pause\">Pause</td><td>" + p +
                "stop\">Stop</td><td>" + p + "next\">Next</td></tr><tr><td colspan=5>" + p +
                "clearrequest\">Clear Request Queue</a></td></tr><tr><td colspan=5>" + p +
                "refreshcache\">Refresh Playlist Cache</td></tr></table>\n");
}

// The player is asked once per page, by its first line that shows the
// current song or its progress: every line shows that moment.
TEST(TemplateRendererTest, PlayingTimeIsAskedOncePerPage) {
  std::vector<SimulatedEntry> songs = {{"a.mp3", "A - a", 200}, {"b.mp3", "B - b", 3}, {"c.mp3", "C - c", 0}};
  PageTestBed bed(songs);
  PlayerHost(bed.window.window()).PressPlay();  // a stopped player answers -1 for the position
  bed.player.SetElapsedMs(50999);
  const int before = bed.player.MessageCount();
  EXPECT_EQ(bed.Line("%%SONG_LENGTH%% %%PCT_LEFT%%\n"), "%%SONG_LENGTH%% 75\n");
  bed.player.SetPosition(1);
  bed.player.SetElapsedMs(1999);
  EXPECT_EQ(bed.Line("%%SONG_LENGTH%%\n"), "200\n");
  EXPECT_EQ(bed.Line("<meta content=\"%%CONTENT_REFRESH%%\">\n"), "<meta content=\"155\">\n");
  EXPECT_EQ(bed.Line("%%CURRENTSONG%%\n"), "A - a\n");
  // The current entry, the song's length and its position.
  EXPECT_EQ(bed.player.MessageCount(), before + 3);

  // A whole page with every marker that shows the player's state.
  const std::string skin =
      "<meta content=\"%%CONTENT_REFRESH%%\">\n<p>%%CURRENTSONG%%</p>\n%%PCT_LEFT%% %%CONTENT_REFRESH%%\n"
      "%%SONG_LENGTH%%\n%%PCT_LEFT%%|%%SONG_LENGTH%%\n%%CURRENTSONG%%\n";
  const int beforePage = bed.player.MessageCount();
  const ByteString page = bed.Render(skin);  // song 1 at 1 of 3 s: 33.3 % gone, truncated
  EXPECT_EQ(std::string(page.CStr()),
            "<meta content=\"7\">\n<p>B - b</p>\n%%PCT_LEFT%% 7\n3\n67|%%SONG_LENGTH%%\nB - b\n");
  EXPECT_EQ(bed.player.MessageCount(), beforePage + 3);

  // A length of 0 must not divide by it.
  bed.player.SetPosition(2);
  bed.player.SetElapsedMs(60000);
  bed.page.state = PageState();
  EXPECT_EQ(bed.Line("%%PCT_LEFT%%|%%PCT_LEFT%%\n"), "0|0\n");
  EXPECT_EQ(bed.Line("%%CONTENT_REFRESH%% %%SONG_LENGTH%%\n"), "-55 %%SONG_LENGTH%%\n");
}

TEST(TemplateRendererTest, EscapesTitlesAndSearchWordsButNotSkinTexts) {
  PageTestBed bed(Titled({"Tom & Jerry - <live> \"'"}));
  bed.page.state.searchWord = "a<b";
  EXPECT_EQ(bed.Line("%%CURRENTSONG%%\n"), "Tom &amp; Jerry - &lt;live&gt; &quot;&#39;\n");
  EXPECT_EQ(bed.Line("%%SEARCH_WORD%%\n"), "a&lt;b\n");
  bed.page.state.displayMode = -3;
  EXPECT_EQ(bed.Line("%%DISPLAYMODE%%\n"), "-3\n");
}

}  // namespace
}  // namespace ambervox
