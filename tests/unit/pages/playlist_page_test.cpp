// The playlist page: the query, the choice of rows (paging, search word,
// leading text), the rows and the navigation links.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "unit/pages/pages_test_support.h"

namespace ambervox {
namespace {

using testing::NumberedSongs;
using testing::PageTestBed;
using testing::Titled;

const std::string kNext = "\x8E\x9F\x82\xD6...&gt;";  // 次へ...&gt;
const std::string kPrev = "&lt;...\x96\xDF\x82\xE9";  // &lt;...戻る

std::vector<int> Range(int first, int last) {
  std::vector<int> v(static_cast<std::size_t>(last - first + 1));
  std::iota(v.begin(), v.end(), first);
  return v;
}

std::string Link(const std::string& query, const std::string& text) {
  return "<a href=\"playlist.cgi?" + query + "\">" + text + "</a>";
}

struct PagingCase {
  int titles;
  std::string target;
  int firstRow, lastRow;   // lastRow < firstRow: no rows
  std::string next, prev;  // link queries; "" for no link
};

TEST(PlaylistPageTest, PagesOfMaxEntriesWithTheirLinks) {
  const PagingCase cases[] = {
      {60, "/playlist.cgi", 0, 24, "current=25", ""},
      {60, "/playlist.cgi?current=50", 50, 59, "", "current=25"},
      {50, "/playlist.cgi?current=25", 25, 49, "", "current=0"},
      {25, "/playlist.cgi?current=0", 0, 24, "", ""},
      {60, "/playlist.cgi?current=10", 10, 34, "current=35", ""},
      {60, "/playlist.cgi?current=30", 30, 54, "current=55", "current=5"},
      {60, "/playlist.cgi?current=-5", 0, 24, "current=20", ""},
      {60, "/playlist.cgi?current=25x", 25, 49, "current=50", "current=0"},
      {60, "/playlist.cgi?current=abc", 0, 24, "current=25", ""},
      {0, "/playlist.cgi", 0, -1, "", ""},
  };
  for (const PagingCase& c : cases) {
    PageTestBed bed(NumberedSongs(c.titles));
    bed.Playlist(c.target);
    EXPECT_EQ(bed.RowIndexes(), c.lastRow >= c.firstRow ? Range(c.firstRow, c.lastRow) : std::vector<int>())
        << c.target;
    EXPECT_EQ(bed.Line("[%%NAV_NEXT%%]\n"), "[" + (c.next.empty() ? "" : Link(c.next, kNext)) + "]\n") << c.target;
    EXPECT_EQ(bed.Line("[%%NAV_PREV%%]\n"), "[" + (c.prev.empty() ? "" : Link(c.prev, kPrev)) + "]\n") << c.target;
  }
}

TEST(PlaylistPageTest, NoEntriesPerPageShowsNoRowsAndLinksToTheSamePage) {
  PageTestBed bed(NumberedSongs(5));
  bed.settings.SetMaxEntries(0);
  bed.Playlist("/playlist.cgi?current=3");
  EXPECT_TRUE(bed.page.state.rows.empty());
  EXPECT_EQ(bed.Line("%%NAV_NEXT%%\n"), Link("current=3", kNext) + "\n");
  EXPECT_EQ(bed.Line("<tr>%%PLAYLISTENTRY%%</tr>\n"), "");
}

TEST(PlaylistPageTest, SearchWordIsDecodedAndMatchedCharacterByCharacter) {
  // 0x83 0x82 is one character (モ): the 0x82 0xA0 after its lead byte is no あ.
  PageTestBed bed(Titled({"\x82\xA0\x82\xA2 - Song", "\x83\x82\xA0 - Trap", "Plain - x", "X - \x82\xA0"}));
  bed.settings.SetMaxEntries(1);
  bed.Playlist("/playlist.cgi?psearch=%82%A0");
  EXPECT_EQ(bed.page.state.searchWord, ByteString("\x82\xA0"));
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0}));
  EXPECT_EQ(bed.Line("%%NAV_NEXT%%\n"), Link("psearch=%82%A0&current=1", kNext) + "\n");
  bed.Playlist("/playlist.cgi?psearch=%82%A0&current=1");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({3}));
  EXPECT_EQ(bed.Line("%%NAV_NEXT%%\n"), "\n");
}

TEST(PlaylistPageTest, CapitalsMatchSmallLettersAlsoFullWidth) {
  // ａｂｃ in a title, ＡＢ in the search word.
  PageTestBed bed(Titled({"The Beatles - Help", "x - \x82\x81\x82\x82\x82\x83", "Queen - Bohemian", "the who - beat"}));
  bed.Playlist("/playlist.cgi?psearch=BEAT");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0, 3}));
  PageTestBed wide(Titled({"The Beatles - Help", "x - \x82\x81\x82\x82\x82\x83"}));
  wide.Playlist("/playlist.cgi?psearch=%82%60%82%61");
  EXPECT_EQ(wide.RowIndexes(), std::vector<int>({1}));
  PageTestBed lead(Titled({"The Beatles - Help", "Beat It - x", "THE WHO - y"}));
  lead.Playlist("/playlist.cgi?startswith=the+");
  EXPECT_EQ(lead.RowIndexes(), std::vector<int>({0, 2}));
}

TEST(PlaylistPageTest, SearchAndLeadingTextFollowTheCacheAcrossARebuild) {
  PageTestBed bed(Titled({"Alpha - One", "BETA - Two", "alpha - Three"}));
  bed.Playlist("/playlist.cgi?psearch=ALPHA");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0, 2}));
  bed.SetSongs(Titled({"Gamma - One", "ALPHA BETA - Two", "Beta - Three"}));
  bed.Playlist("/playlist.cgi?psearch=alpha");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({1}));
  bed.Playlist("/playlist.cgi?startswith=BETA");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({2}));
  // The rows show the titles as the player has them, not lower-cased.
  ASSERT_EQ(bed.page.state.rows.size(), 1u);
  EXPECT_EQ(bed.page.state.rows[0].shownTitle, ByteString("Beta - Three"));
}

// Matches spread over a long list, some next to each other, are counted
// once and in order, page after page.
TEST(PlaylistPageTest, SearchCountsMatchesAcrossALongList) {
  const int slice = 4096;
  const std::vector<int> needles = {0, slice - 1, slice, 2 * slice - 1, 2 * slice, 2 * slice + 3};
  std::vector<std::string> titles;
  for (int i = 0; i <= 2 * slice + 5; ++i) titles.push_back("Artist - Song " + std::to_string(i));
  for (int i : needles) titles[static_cast<std::size_t>(i)] += " Needle";
  PageTestBed bed(Titled(titles));
  bed.settings.SetMaxEntries(2);
  const std::string base = "/playlist.cgi?psearch=needle&current=";
  for (std::size_t first = 0; first < needles.size(); first += 2) {
    bed.Playlist(base + std::to_string(first));
    EXPECT_EQ(bed.RowIndexes(), std::vector<int>({needles[first], needles[first + 1]})) << first;
    EXPECT_EQ(bed.Line("%%NAV_NEXT%%\n") == "\n", first + 2 == needles.size()) << first;
  }
}

// A Shift_JIS form sends what it cannot hold as "&#N;": such a search, or
// an artist chosen from the list, finds the titles whose characters lie
// outside the code page; the rows, the artists and the current song show
// them as references.
TEST(PlaylistPageTest, TitlesOutsideTheCodePageAreFoundAndShown) {
  PageTestBed bed(testing::UnicodeSongs(testing::ScriptTitles()));
  // 봄, as a browser sends it: in the Korean title, the kana one and the
  // literal one.
  bed.Playlist("/playlist.cgi?psearch=%26%2348388%3B");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0, 3, 4}));
  // "&#65;" typed as text only finds the title that holds it as text.
  bed.Playlist("/playlist.cgi?psearch=%26%2365%3B");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({4}));
  bed.Playlist("/playlist.cgi?psearch=BRIGHT+%26%23127775%3B");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({2}));
  EXPECT_EQ(bed.Line("<li>%%PLAYLISTENTRY%%</li>\n"), "<li>" + testing::ScriptPageTexts()[2] + "</li>\n");
  // The two Korean artists are told apart by their leading texts.
  bed.Playlist("/playlist.cgi?startswith=%26%2348169%3B%26%2353444%3B%26%2349548%3B%26%2345380%3B%26%2345800%3B");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0}));
  bed.Playlist("/playlist.cgi?startswith=%26%2348660%3B");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({6}));
  bed.Playlist("/playlist.cgi");
  std::string rows;
  for (std::size_t i = 0; i < testing::ScriptPageTexts().size(); ++i) {
    rows += "[" + testing::ScriptPageTexts()[i] + "]";
  }
  EXPECT_EQ(bed.Line("[%%PLAYLISTENTRY%%]"), rows);
  const std::string artists = bed.Line("<%%ARTISTSELECT%%>");
  EXPECT_NE(artists.find("<&#48169;&#53444;&#49548;&#45380;&#45800;>"), std::string::npos) << artists;
  EXPECT_NE(artists.find("<&#48660;&#47001;&#54609;&#53356;>"), std::string::npos) << artists;
  EXPECT_NE(artists.find("<Tom &amp; Jerry &amp;#65;>"), std::string::npos) << artists;
  bed.player.SetPosition(3);
  EXPECT_EQ(bed.Line("%%CURRENTSONG%%"), testing::ScriptPageTexts()[3]);
  bed.Queue(0, 2);
  EXPECT_EQ(bed.Line("%%QUEUELISTENTRY%%"), testing::ScriptPageTexts()[0]);
}

TEST(PlaylistPageTest, LeadingTextDecidesTheRowsButLinksCarryOnlyTheSearchWord) {
  PageTestBed bed(Titled({"The Beatles - Help", "Beat It - x", "The Doors - Riders", "the beat - y"}));
  bed.settings.SetMaxEntries(1);
  bed.Playlist("/playlist.cgi?psearch=beat&startswith=The");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0}));
  EXPECT_EQ(bed.Line("%%NAV_NEXT%%\n"), Link("psearch=beat&current=1", kNext) + "\n");
  bed.Playlist("/playlist.cgi?psearch=beat&startswith=The&current=1");
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({2}));  // no "beat" in it: the search word is not applied
  PageTestBed lead(Titled({"A b - 1", "A c - 2"}));
  lead.settings.SetMaxEntries(1);
  lead.Playlist("/playlist.cgi?startswith=a%20");
  EXPECT_EQ(lead.Line("%%NAV_NEXT%%\n"), Link("startswith=a%20&current=1", kNext) + "\n");
}

TEST(PlaylistPageTest, RowsRepeatTheLineAndTheOperatorsCarryThePassword) {
  PageTestBed bed(Titled({"Weird %%PLAYLISTPOS%% - <b>", "Normal - x"}));
  bed.settings.SetAdminPassword("p w&d");
  const std::string line =
      "<a href=\"request.cgi?listpos=%%PLAYLISTPOS%%\">%%PLAYLISTENTRY%%</a> #%%PLAYLISTPOSVAL%%\n";
  ASSERT_EQ(bed.Playlist("/playlist.cgi"), 0);
  // Each request link names its song by the song's file.
  const std::string weird =
      "&song=" + std::string(SongIdText(SongOfFile(ByteString("Weird %%PLAYLISTPOS%% - <b>.mp3"))).CStr());
  const std::string normal = "&song=" + std::string(SongIdText(SongOfFile(ByteString("Normal - x.mp3"))).CStr());
  EXPECT_EQ(bed.Line(line), "<a href=\"request.cgi?listpos=0" + weird + "\">Weird 0" + weird +
                                " - &lt;b&gt;</a> #0\n"
                                "<a href=\"request.cgi?listpos=1" +
                                normal + "\">Normal - x</a> #1\n");
  ASSERT_EQ(bed.Playlist("/playlist.cgi?pass=p+w%26d"), 1);
  EXPECT_EQ(bed.Line(line, 0, true), "<a href=\"request.cgi?listpos=0" + weird + "&pass=p%20w%26d\">Weird 0" + weird +
                                         "&pass=p%20w%26d - &lt;b&gt;</a> #0\n"
                                         "<a href=\"request.cgi?listpos=1" +
                                         normal + "&pass=p%20w%26d\">Normal - x</a> #1\n");
  bed.settings.SetMaxEntries(1);
  bed.Playlist("/playlist.cgi?pass=p+w%26d&current=1");
  EXPECT_EQ(bed.Line("%%NAV_PREV%%\n", 0, true), "<a href=\"admin.cgi?pass=p%20w%26d&current=0\">" + kPrev + "</a>\n");
}

TEST(PlaylistPageTest, QueryFillsOnlyWhatItCarries) {
  PageTestBed bed(NumberedSongs(3));
  bed.page.state.errorCode = -7;
  bed.page.state.isAdmin = true;
  bed.page.state.displayMode = 4;
  bed.page.state.current = 9;
  ParsePlaylistParams(bed.page, "/playlist.cgi?errorCode=12&displayMode=&psearch=a+b%41");
  EXPECT_EQ(bed.page.state.errorCode, 12);
  EXPECT_FALSE(bed.page.state.isAdmin);
  EXPECT_EQ(bed.page.state.displayMode, 4);
  EXPECT_EQ(bed.page.state.current, 9);
  EXPECT_EQ(bed.page.state.searchWord, ByteString("a bA"));
  ParsePlaylistParams(bed.page, "/playlist.cgi?displayMode=-2&errorCode=&current= +7");
  EXPECT_EQ(bed.page.state.errorCode, 12);
  EXPECT_EQ(bed.page.state.displayMode, -2);
  EXPECT_EQ(bed.page.state.current, 7);
}

TEST(PlaylistPageTest, PasswordMatchesRawOrDecodedAndNeverAnEmptySetting) {
  PageTestBed bed(NumberedSongs(1));
  bed.settings.SetAdminPassword("a b&c=%\x82\xA0");
  for (const char* target : {"/playlist.cgi?pass=a+b%26c%3D%25%82%A0", "/playlist.cgi?pass=a%20b%26c%3D%25%82%A0"}) {
    EXPECT_EQ(bed.Playlist(target), 1) << target;
  }
  bed.settings.SetAdminPassword("x%41+y");
  EXPECT_EQ(bed.Playlist("/playlist.cgi?pass=x%41+y"), 1);  // as stored, as the operator's links carry it
  EXPECT_EQ(bed.Playlist("/playlist.cgi?pass=xA+y"), 0);
  EXPECT_EQ(bed.Playlist("/playlist.cgi?pass=X%41+y"), 0);
  bed.settings.SetAdminPassword("");
  for (const char* target :
       {"/playlist.cgi?pass=", "/playlist.cgi?pass=%", "/playlist.cgi?pass=%00", "/playlist.cgi?pass"}) {
    EXPECT_EQ(bed.Playlist(target), 0) << target;
  }
}

}  // namespace
}  // namespace ambervox
