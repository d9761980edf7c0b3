// The admin page's commands: the password check, what each command does to
// the player, the queue and the cache refresh, and the redirect it answers
// with, byte for byte.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "http/http_time.h"
#include "pages/admin_lockout.h"
#include "pages/cache_refresher.h"
#include "platform/files.h"
#include "player/player_messages.h"
#include "unit/pages/pages_test_support.h"

namespace ambervox {
namespace {

using testing::MaskDate;
using testing::NumberedSongs;
using testing::PageTestBed;
using testing::Redirect;

class CountingRefresher : public CacheRefresher {
 public:
  bool StartCacheRefresh(platform::WindowHandle notifyWindow) override {
    ++calls;
    lastWindowWasNull = notifyWindow == nullptr;
    return true;
  }
  int calls = 0;
  bool lastWindowWasNull = false;
};

struct Answer {
  bool answered;
  int isAdmin;
  std::string sent;  // Date masked
};

Answer Ask(PageTestBed& bed, const std::string& target, const std::string& referer = "") {
  bed.connection.request.referer = referer.c_str();
  int isAdmin = -1;
  const std::size_t earlier = bed.Sent().size();
  HttpTime before = platform::CurrentTime();
  bed.connection.request.target = target.c_str();
  bool answered = HandleAdminCommand(bed.page);
  isAdmin = bed.page.state.isAdmin ? 1 : 0;
  return {answered, isAdmin, MaskDate(bed.Sent().substr(earlier), before, platform::CurrentTime())};
}

TEST(AdminPageTest, WithoutThePasswordNothingIsDoneAndTheAnswerIsCode10) {
  const struct {
    const char* setting;
    const char* target;
  } cases[] = {
      {"s3cret", "/admin.cgi?"},
      {"s3cret", "/admin.cgix"},
      {"s3cret", "/admin.cgi?action=stop"},
      {"s3cret", "/admin.cgi?pass=S3CRET&action=stop"},
      {"s3cret", "/admin.cgi?pass=s3cret%20&action=stop"},
      {"", "/admin.cgi?pass=&action=stop"},
      {"", "/admin.cgi?pass=%00&action=clearrequest"},
      {"", "/admin.cgi?pass=%&action=clearrequest"},
  };
  for (const auto& c : cases) {
    PageTestBed bed(NumberedSongs(3));
    bed.Queue(1, 2);
    bed.settings.SetAdminPassword(c.setting);
    Answer a = Ask(bed, c.target, "http://dj/admin.cgi");
    EXPECT_TRUE(a.answered) << c.target;
    EXPECT_EQ(a.isAdmin, 0) << c.target;
    EXPECT_EQ(a.sent, Redirect("/playlist.cgi?errorCode=10")) << c.target;
    EXPECT_TRUE(bed.player.TakeCommands().empty()) << c.target;
    EXPECT_EQ(bed.queue.RequestCount(), 1) << c.target;
  }
}

TEST(AdminPageTest, WithThePasswordAndNoCommandTheRouterRendersTheOperatorsView) {
  for (const char* target : {"/admin.cgi?pass=s3cret", "/admin.cgi?pass=s3cret&action=Play",
                             "/admin.cgi?pass=s3cret&action=", "/admin.cgi?current=25&pass=s3cret&action=reboot"}) {
    PageTestBed bed(NumberedSongs(3));
    Answer a = Ask(bed, target);
    EXPECT_FALSE(a.answered) << target;
    EXPECT_EQ(a.isAdmin, 1) << target;
    EXPECT_EQ(a.sent, "") << target;
    EXPECT_TRUE(bed.player.TakeCommands().empty()) << target;
  }
}

TEST(AdminPageTest, TransportCommandsGoToThePlayerAndBackToTheOperatorsView) {
  const struct {
    const char* action;
    const char* command;
  } cases[] = {{"play", "play"}, {"prev", "prev"}, {"pause", "pause"}, {"stop", "stop"}, {"next", "next"}};
  for (const auto& c : cases) {
    PageTestBed bed(NumberedSongs(3));
    bed.settings.SetAdminPassword("a b&c");
    Answer a = Ask(bed, std::string("/admin.cgi?pass=a+b%26c&action=") + c.action, "http://dj/playlist.cgi");
    EXPECT_TRUE(a.answered);
    EXPECT_EQ(a.sent, Redirect("/admin.cgi?pass=a%20b%26c")) << c.action;
    EXPECT_EQ(bed.player.TakeCommands(), std::vector<std::string>({c.command})) << c.action;
  }
}

TEST(AdminPageTest, NextSendsTheEndOfSongNoticeOnlyWhenRequestsWait) {
  for (bool waiting : {false, true}) {
    PageTestBed bed(NumberedSongs(5));
    if (waiting) bed.Queue(3, 2);
    std::mutex lock;
    std::vector<std::uint32_t> messages;
    bed.player.SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
      std::lock_guard<std::mutex> hold(lock);
      if (message == platform::kMsgCommand && wParam == kCommandNext) messages.push_back(message);
      if (message == kMsgSongEnded) messages.push_back(message);
    });
    Ask(bed, "/admin.cgi?pass=s3cret&action=next");
    bed.player.SetObserver(nullptr);
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(messages, waiting ? std::vector<std::uint32_t>({platform::kMsgCommand, 1026u})
                                : std::vector<std::uint32_t>({platform::kMsgCommand}));
  }
}

TEST(AdminPageTest, DeleteAndClearGoBackWithTheirResult) {
  const struct {
    const char* target;
    const char* referer;
    const char* location;
    std::vector<int> left;  // playlist indexes still queued
  } cases[] = {
      {"/admin.cgi?pass=s3cret&action=delete&listpos=1",
       "http://dj/admin.cgi?pass=s3cret",
       "http://dj/admin.cgi?pass=s3cret&errorCode=11",
       {5, 6}},
      {"/admin.cgi?pass=s3cret&action=delete&listpos=3",
       "http://dj/admin.cgi",
       "http://dj/admin.cgi?errorCode=11",
       {4, 5}},
      {"/admin.cgi?pass=s3cret&action=delete&listpos=0",
       "http://dj/admin.cgi?pass=s3cret",
       "http://dj/admin.cgi?pass=s3cret&errorCode=12",
       {4, 5, 6}},
      {"/admin.cgi?pass=s3cret&action=delete&listpos=4", "", "/playlist.cgi?pass=s3cret&errorCode=12", {4, 5, 6}},
      {"/admin.cgi?pass=s3cret&action=delete", "", "/playlist.cgi?pass=s3cret&errorCode=12", {4, 5, 6}},
      // A link that names its request: that one wherever it stands, or none.
      {"/admin.cgi?pass=s3cret&action=delete&listpos=1&index=5", "", "/playlist.cgi?pass=s3cret&errorCode=11", {4, 6}},
      {"/admin.cgi?pass=s3cret&action=delete&listpos=2&index=9",
       "",
       "/playlist.cgi?pass=s3cret&errorCode=12",
       {4, 5, 6}},
      {"/admin.cgi?pass=s3cret&action=delete&listpos=1&index=4x",
       "",
       "/playlist.cgi?pass=s3cret&errorCode=12",
       {4, 5, 6}},
      // The referer keeps its command words here.
      {"/admin.cgi?pass=s3cret&action=clearrequest",
       "http://dj/admin.cgi?pass=s3cret&action=next",
       "http://dj/admin.cgi?pass=s3cret&action=next&errorCode=11",
       {}},
      {"/admin.cgi?pass=s3cret&action=clearrequest", "", "/playlist.cgi?pass=s3cret&errorCode=11", {}},
  };
  for (const auto& c : cases) {
    PageTestBed bed(NumberedSongs(10));
    bed.Queue(4, 2);
    bed.Queue(5, 3);
    bed.Queue(6, 4);
    EXPECT_EQ(Ask(bed, c.target, c.referer).sent, Redirect(c.location)) << c.target;
    std::vector<int> left;
    for (int i = 0; i < bed.queue.RequestCount(); ++i) {
      ByteString title;
      RequestEntry entry;
      if (bed.queue.GetEntry(i, title, entry)) left.push_back(entry.playlistIndex);
    }
    EXPECT_EQ(left, c.left) << c.target;
  }
}

TEST(AdminPageTest, RefreshCacheStartsTheRefreshWithoutASettingsWindow) {
  PageTestBed bed(NumberedSongs(3));
  EXPECT_EQ(Ask(bed, "/admin.cgi?pass=s3cret&action=refreshcache").sent, Redirect("/admin.cgi?pass=s3cret"));
  CountingRefresher refresher;
  PageTestBed wired(NumberedSongs(3));
  wired.site.refresher = &refresher;
  EXPECT_EQ(Ask(wired, "/admin.cgi?pass=s3cret&action=refreshcache").sent, Redirect("/admin.cgi?pass=s3cret"));
  EXPECT_EQ(refresher.calls, 1);
  EXPECT_TRUE(refresher.lastWindowWasNull);
}

AdminLockout::Clock::time_point g_lockoutNow;
AdminLockout::Clock::time_point LockoutNow() { return g_lockoutNow; }

// Ten wrong passwords within a minute, through any page, lock their address
// out for a minute: the right password then counts as wrong there, and
// commands are refused; other addresses and the listeners' pages go on.
TEST(AdminPageTest, AnAddressThatGuessesIsLockedOutForAMinute) {
  using std::chrono::seconds;
  g_lockoutNow = AdminLockout::Clock::time_point();
  AdminLockout lockout{ServerLimits(), &LockoutNow};
  PageTestBed bed(NumberedSongs(3));
  bed.site.lockout = &lockout;
  auto from = [&bed](const char* address) { bed.connection.request.peerAddress = address; };
  auto guess = [&bed, &from](const char* address, int times) {
    from(address);
    for (int i = 0; i < times; ++i) {
      if (i % 2 == 0) {
        EXPECT_EQ(Ask(bed, "/admin.cgi?pass=guess&action=stop").isAdmin, 0);
      } else {
        EXPECT_EQ(bed.Playlist("/playlist.cgi?pass=guess"), 0);
      }
    }
  };
  auto isAdmin = [&bed, &from](const char* address) {
    from(address);
    return Ask(bed, "/admin.cgi?pass=s3cret&action=stop").isAdmin;
  };

  // Nine failures, and failures older than a minute, lock nothing.
  guess("10.0.0.1", 9);
  g_lockoutNow += seconds(61);
  guess("10.0.0.1", 9);
  EXPECT_EQ(isAdmin("10.0.0.1"), 1);
  EXPECT_EQ(bed.player.TakeCommands(), std::vector<std::string>({"stop"}));

  guess("10.0.0.1", 1);
  EXPECT_EQ(isAdmin("10.0.0.1"), 0);
  EXPECT_NE(bed.Sent().rfind("\r\nLocation: /playlist.cgi?errorCode=10\r\n"), std::string::npos);
  EXPECT_EQ(bed.Playlist("/playlist.cgi?pass=s3cret"), 0);
  EXPECT_TRUE(bed.player.TakeCommands().empty());
  // The listener's page is the same as ever; the operator elsewhere is
  // unaffected.
  EXPECT_EQ(bed.Playlist("/playlist.cgi"), 0);
  EXPECT_EQ(bed.RowIndexes(), std::vector<int>({0, 1, 2}));
  EXPECT_EQ(isAdmin("10.0.0.2"), 1);

  g_lockoutNow += seconds(59);
  EXPECT_EQ(isAdmin("10.0.0.1"), 0);
  g_lockoutNow += seconds(1);
  EXPECT_EQ(isAdmin("10.0.0.1"), 1);
}

}  // namespace
}  // namespace ambervox
