// The request page: what it asks of the queue and the redirect it answers
// with, byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include <string>

#include "http/http_time.h"
#include "platform/files.h"
#include "unit/pages/pages_test_support.h"

namespace ambervox {
namespace {

using testing::MaskCookie;
using testing::MaskDate;
using testing::NumberedSongs;
using testing::PageTestBed;
using testing::Redirect;
using testing::User;

// Runs the handler for `target` with `referer` and returns what this call
// sent (not the bed's earlier answers, whose Date may be an earlier
// second), the Date masked.
std::string Ask(PageTestBed& bed, const std::string& target, const std::string& referer = "") {
  bed.connection.request.referer = referer.c_str();
  const std::size_t earlier = bed.Sent().size();
  HttpTime before = platform::CurrentTime();
  bed.connection.request.target = target.c_str();
  HandleRequestPage(bed.page);
  return MaskDate(bed.Sent().substr(earlier), before, platform::CurrentTime());
}

struct RedirectCase {
  std::string target, referer, location;
  int queued;  // requests waiting afterwards
};

TEST(RequestPageTest, RedirectsBackToTheRefererWithTheResult) {
  const RedirectCase cases[] = {
      {"/request.cgi?listpos=3", "http://dj/playlist.cgi", "http://dj/playlist.cgi?errorCode=1", 1},
      {"/request.cgi?listpos=3&action=post", "http://dj/playlist.cgi?current=25",
       "http://dj/playlist.cgi?current=25&errorCode=1", 1},
      {"/request.cgi", "http://dj/admin.cgi?pass=s3cret&action=next&xaction=1",
       "http://dj/admin.cgi?pass=s3cret&actionx=next&xactionx=1", 0},
      {"/request.cgi?listpos=", "http://dj/index.cgi", "http://dj/index.cgi", 0},
      {"/request.cgi?action=delete", "", "/playlist.cgi", 0},
      {"/request.cgi?listpos=2&pass=wrong", "", "/playlist.cgi?errorCode=1", 1},
      {"/request.cgi?listpos=2&pass=s3cret", "", "/playlist.cgi?pass=s3cret&errorCode=1", 1},
      {"/request.cgi?pass=s3cret", "", "/playlist.cgi?pass=s3cret", 0},
      {"/request.cgi?listpos=0", "http://dj/", "http://dj/?errorCode=1", 1},
      // A rendered page: a query of its own, or one more parameter.
      {"/request.cgi?listpos=0", "http://dj/index.html", "http://dj/index.html?errorCode=1", 1},
      {"/request.cgi?listpos=0", "http://dj/index.html?v=2", "http://dj/index.html?v=2&errorCode=1", 1},
      {"/request.cgi?listpos=0", "http://dj/&current=25", "http://dj/&current=25&errorCode=1", 1},
      {"/request.cgi?listpos=10", "http://dj/x.cgi", "http://dj/x.cgi?errorCode=12", 0},
      {"/request.cgi?listpos=-1", "", "/playlist.cgi?errorCode=12", 0},
      {"/request.cgi?listpos=1&action=delete", "", "/playlist.cgi?errorCode=12", 0},
      {"/request.cgix?listpos=4", "", "/playlist.cgi?errorCode=1", 1},
      {"/playlist.cgi?listpos=4", "http://dj/p.cgi", "http://dj/p.cgi", 0},
  };
  for (const RedirectCase& c : cases) {
    PageTestBed bed(NumberedSongs(10));
    EXPECT_EQ(Ask(bed, c.target, c.referer), Redirect(c.location)) << c.target;
    EXPECT_EQ(bed.queue.RequestCount(), c.queued) << c.target;
  }
}

TEST(RequestPageTest, RequestIsForThePlaylistIndexFromThisBrowser) {
  PageTestBed bed(NumberedSongs(10));
  Ask(bed, "/request.cgi?listpos=5");
  ByteString title;
  RequestEntry entry;
  ASSERT_TRUE(bed.queue.GetEntry(0, title, entry));
  EXPECT_EQ(entry.playlistIndex, 5);
  EXPECT_EQ(entry.requesterAddress, ByteString("192.168.0.7"));
  EXPECT_TRUE(entry.userId == User(1));
  EXPECT_EQ(title, ByteString("Artist 5 - Song 5"));
}

TEST(RequestPageTest, WithoutTheCookieNothingIsQueuedAndTheAnswerCarriesOne) {
  PageTestBed bed(NumberedSongs(10));
  bed.connection.request.hasUserIdCookie = 0;
  HttpTime before = platform::CurrentTime();
  bed.connection.request.target = "/request.cgi?listpos=3";
  HandleRequestPage(bed.page);
  HttpTime after = platform::CurrentTime();
  EXPECT_EQ(MaskCookie(MaskDate(bed.Sent(), before, after), User(1).ToText().CStr(), before, after),
            "HTTP/1.1 302 Moved Temporarily\r\nServer: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\nDate: "
            "<date>\r\nSet-Cookie: <cookie A0000001-0B0C-0000-0000-000000000001>\r\nLocation: "
            "/playlist.cgi?errorCode=13\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(bed.queue.RequestCount(), 0);
}

TEST(RequestPageTest, OnlyTheRequestingBrowserMayCancel) {
  PageTestBed bed(NumberedSongs(10));
  bed.Queue(4, 2);  // another browser's
  bed.Queue(6, 1);  // this browser's
  EXPECT_EQ(Ask(bed, "/request.cgi?action=delete&listpos=1", "http://dj/playlist.cgi"),
            Redirect("http://dj/playlist.cgi?errorCode=14"));
  EXPECT_EQ(bed.queue.RequestCount(), 2);
  PageTestBed own(NumberedSongs(10));
  own.Queue(4, 2);
  own.Queue(6, 1);
  EXPECT_EQ(Ask(own, "/request.cgi?action=delete&listpos=2"), Redirect("/playlist.cgi?errorCode=11"));
  ByteString title;
  RequestEntry entry;
  ASSERT_EQ(own.queue.RequestCount(), 1);
  ASSERT_TRUE(own.queue.GetEntry(0, title, entry));
  EXPECT_EQ(entry.playlistIndex, 4);
  PageTestBed zero(NumberedSongs(10));
  zero.Queue(6, 1);
  EXPECT_EQ(Ask(zero, "/request.cgi?action=delete&listpos=0"), Redirect("/playlist.cgi?errorCode=12"));
  // A link naming the request: the listener's own wherever it now stands;
  // another's is not touched.
  for (const char* target :
       {"/request.cgi?action=delete&listpos=1&index=4", "/request.cgi?action=delete&listpos=1&index=6"}) {
    PageTestBed moved(NumberedSongs(10));
    moved.Queue(4, 2);
    moved.Queue(6, 1);
    const bool own = target[std::strlen(target) - 1] == '6';
    EXPECT_EQ(Ask(moved, target), Redirect(own ? "/playlist.cgi?errorCode=11" : "/playlist.cgi?errorCode=14"));
    EXPECT_EQ(moved.queue.RequestCount(), own ? 1 : 2);
  }
}

TEST(RequestPageTest, TheOperatorBypassesTheLimitsButNotThePlaylistBounds) {
  QueueLimits none;
  none.maxQueueSize = 0;  // admits nothing
  const struct {
    const char* password;
    const char* target;
    const char* location;
  } cases[] = {
      {"s3cret", "/request.cgi?listpos=1", "/playlist.cgi?errorCode=9"},
      {"s3cret", "/request.cgi?listpos=1&pass=s3cret", "/playlist.cgi?pass=s3cret&errorCode=1"},
      {"s3cret", "/request.cgi?listpos=10&pass=s3cret", "/playlist.cgi?pass=s3cret&errorCode=12"},
      // Percent-encoded by the browser: the decoded value matches too.
      {"a b&=%", "/request.cgi?listpos=1&pass=a+b%26%3D%25", "/playlist.cgi?pass=a%20b%26%3D%25&errorCode=1"},
      {"a+b", "/request.cgi?listpos=1&pass=a+b", "/playlist.cgi?pass=a%2Bb&errorCode=1"},
      {"", "/request.cgi?listpos=1&pass=", "/playlist.cgi?errorCode=9"},
      {"", "/request.cgi?listpos=1&pass=%00", "/playlist.cgi?errorCode=9"},
      {"", "/request.cgi?listpos=1&pass=%", "/playlist.cgi?errorCode=9"},
  };
  for (const auto& c : cases) {
    PageTestBed bed(NumberedSongs(10));
    bed.queue.SetLimits(none);
    bed.settings.SetAdminPassword(c.password);
    EXPECT_EQ(Ask(bed, c.target), Redirect(c.location)) << c.target;
  }
}

// A request link names its song (issue 26, fault 1): after the DJ removed,
// moved or replaced songs, the link requests the song it showed wherever it
// now stands, or answers 12 when it left; without an identity the index
// decides, as before.
TEST(RequestPageTest, ALinkRequestsTheSongItShowedOrNothing) {
  const std::string five = "&song=" + std::string(SongIdText(SongOfFile(ByteString("song5.mp3"))).CStr());
  const struct {
    const char* edit;
    std::string target;
    const char* location;
    const char* queued;  // the title queued, or null
  } cases[] = {
      {"none", "/request.cgi?listpos=5" + five, "/playlist.cgi?errorCode=1", "Artist 5 - Song 5"},
      {"remove 0", "/request.cgi?listpos=5" + five, "/playlist.cgi?errorCode=1", "Artist 5 - Song 5"},
      {"remove 0", "/request.cgi?listpos=5", "/playlist.cgi?errorCode=1", "Artist 6 - Song 6"},
      {"remove 5", "/request.cgi?listpos=5" + five, "/playlist.cgi?errorCode=12", nullptr},
      {"none", "/request.cgi?listpos=5&song=AAAAAAAAAA", "/playlist.cgi?errorCode=12", nullptr},
      {"remove 0", "/request.cgi?listpos=99&pass=s3cret" + five, "/playlist.cgi?pass=s3cret&errorCode=1",
       "Artist 5 - Song 5"},
  };
  for (const auto& c : cases) {
    PageTestBed bed(NumberedSongs(10));
    bed.settings.SetAdminPassword("s3cret");
    std::vector<SimulatedEntry> songs = NumberedSongs(10);
    if (std::string(c.edit) == "remove 0") songs.erase(songs.begin());
    if (std::string(c.edit) == "remove 5") songs.erase(songs.begin() + 5);
    bed.SetSongs(songs);
    EXPECT_EQ(Ask(bed, c.target), Redirect(c.location)) << c.edit << " " << c.target;
    ByteString title;
    RequestEntry entry;
    ASSERT_EQ(bed.queue.RequestCount(), c.queued != nullptr ? 1 : 0) << c.edit << " " << c.target;
    if (c.queued == nullptr) continue;
    ASSERT_TRUE(bed.queue.GetEntry(0, title, entry));
    EXPECT_EQ(title, ByteString(c.queued)) << c.edit << " " << c.target;
  }
}

}  // namespace
}  // namespace ambervox
