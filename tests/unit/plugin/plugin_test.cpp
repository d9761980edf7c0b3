// The plug-in's lifecycle and its hook, driven as the player drives them:
// entries on the host window's thread, the end-of-song notice sent to the
// host window, refreshes started from the user-interface thread and from
// other threads.
#include "plugin/plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "unit/plugin/plugin_test_support.h"

namespace ambervox {
namespace {

using testing::FreePort;
using testing::Listening;
using testing::PluginTest;
using testing::Songs;
using testing::TempFolder;
using testing::WaitUntil;

using PluginLifecycle = PluginTest;
using PluginHook = PluginTest;
using PluginRefresh = PluginTest;

TEST_F(PluginLifecycle, FreshInstallStaysDisabledAndSongEndsReachThePlayer) {
  Init();
  EXPECT_TRUE(plugin_.Settings().Disabled());
  EXPECT_FALSE(plugin_.Server().IsRunning());
  EXPECT_EQ(plugin_.Cache().EntryCount(), 10) << "init fills the cache";
  ASSERT_EQ(Request(4), kAccepted);

  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 1) << "the player advanced by itself";
  EXPECT_TRUE(host_.player().Commands().empty());
  EXPECT_EQ(plugin_.Queue().RequestCount(), 1) << "a disabled plug-in plays no request";
  EXPECT_EQ(host_.Received(kMsgSongEnded), 1);
}

TEST_F(PluginLifecycle, InitStartsTheServerOnTheConfiguredPortAndQuitStopsAndSaves) {
  const int port = FreePort();
  ASSERT_NE(port, 0);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n");
  Init();
  EXPECT_TRUE(plugin_.Server().IsRunning());
  EXPECT_TRUE(Listening(port));
  ASSERT_EQ(Request(2), kAccepted);

  Quit();
  EXPECT_FALSE(plugin_.Server().IsRunning());
  EXPECT_FALSE(Listening(port));
  std::string saved = TempFolder::ReadBytes(path_);
  EXPECT_NE(saved.find("\r\nbDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\ng_RecentlyPlayedQueueSize=0\r\n"), std::string::npos) << saved;
  // The hook is off: the notice goes straight to the player, the request waits.
  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 1);
  EXPECT_EQ(plugin_.Queue().RequestCount(), 1);
}

TEST_F(PluginHook, SongEndPlaysTheOldestWaitingRequestInsteadOfAdvancing) {
  Init();
  plugin_.Settings().SetDisabled(false);  // read live by the hook

  EXPECT_EQ(SongEnded(), 0) << "an empty queue leaves the song end to the player";
  EXPECT_EQ(host_.player().Position(), 1);
  EXPECT_EQ(host_.Received(kMsgSongEnded), 1);

  ASSERT_EQ(Request(7), kAccepted);
  ASSERT_EQ(Request(3), kAccepted);
  EXPECT_EQ(SongEnded(), 1);
  EXPECT_EQ(host_.player().Position(), 7);
  EXPECT_EQ(host_.player().State(), PlayState::kPlaying);
  EXPECT_EQ(host_.player().TakeCommands(), (std::vector<std::string>{"set-position:7", "play"}));
  EXPECT_EQ(host_.Received(kMsgSongEnded), 1) << "an answered notice is not passed on";
  EXPECT_EQ(plugin_.Queue().RequestCount(), 1);

  // Disabled again: the notice passes and the request keeps waiting.
  plugin_.Settings().SetDisabled(true);
  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 8);
  EXPECT_EQ(plugin_.Queue().RequestCount(), 1);
}

TEST_F(PluginHook, PassesEveryOtherMessageOnWithItsResult) {
  Init();
  const int before = host_.Received(platform::kMsgUser);
  EXPECT_GT(before, 0) << "init's rebuild asked the player through the hook";
  // A player query through the hook gets the player's own answer.
  EXPECT_EQ(platform::SendWindowMessage(host_.window(), platform::kMsgUser, 0, kIpcGetPlaylistLength), 10);
  EXPECT_EQ(host_.Received(platform::kMsgUser), before + 1);
}

TEST_F(PluginRefresh, OneAtATimeAndAgainAfterItsCompletion) {
  Init();
  host_.player().SetPlaylist(Songs(20));
  bool first = false;
  bool second = true;
  // On the user-interface thread the completion cannot be handled in
  // between: the second start certainly meets the first one running.
  host_.RunOnUi([&] {
    first = plugin_.StartCacheRefresh(nullptr);
    second = plugin_.StartCacheRefresh(nullptr);
  });
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  ASSERT_TRUE(RefreshFinished());
  EXPECT_EQ(plugin_.Cache().EntryCount(), 20);
  EXPECT_EQ(host_.Received(plugin_.RefreshCompleteMessage()), 1) << "the completion is passed on";

  host_.player().SetPlaylist(Songs(3));
  EXPECT_TRUE(plugin_.StartCacheRefresh(nullptr)) << "from another thread, as the admin page starts it";
  ASSERT_TRUE(RefreshFinished());
  EXPECT_EQ(plugin_.Cache().EntryCount(), 3);
  EXPECT_EQ(host_.Received(plugin_.RefreshCompleteMessage()), 2);
}

TEST_F(PluginRefresh, StartedFromManyThreadsAtOnceRunsOnce) {
  Init();
  std::atomic<int> started{0};
  host_.RunOnUi([&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&] {
        if (plugin_.StartCacheRefresh(nullptr)) ++started;
      });
    }
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(started.load(), 1);
  ASSERT_TRUE(RefreshFinished());
  EXPECT_EQ(host_.Received(plugin_.RefreshCompleteMessage()), 1);
}

TEST_F(PluginRefresh, ACompletionWithoutARecordedRefreshIsOnlyPassedOn) {
  Init();
  const std::uint32_t complete = plugin_.RefreshCompleteMessage();
  ASSERT_NE(complete, 0u);
  platform::SendWindowMessage(host_.window(), complete, 0, 0);
  EXPECT_EQ(host_.Received(complete), 1);
  EXPECT_TRUE(plugin_.StartCacheRefresh(nullptr));
  ASSERT_TRUE(RefreshFinished());
}

TEST_F(PluginRefresh, QuitWaitsForARefreshThatIsStillRunning) {
  Init();
  host_.player().SetPlaylist(Songs(30));
  bool started = false;
  bool runningAfterQuit = true;
  int entries = 0;
  // The refresh cannot get an answer from the user-interface thread before
  // Quit runs there, so Quit finds it running and must answer it while it
  // waits.
  host_.RunOnUi([&] {
    started = plugin_.StartCacheRefresh(nullptr);
    plugin_.Quit();
    runningAfterQuit = plugin_.IsRefreshRunning();
    entries = plugin_.Cache().EntryCount();
  });
  quit_ = true;
  EXPECT_TRUE(started);
  EXPECT_FALSE(runningAfterQuit);
  EXPECT_EQ(entries, 30);
  // Its completion arrives after the hook is gone and reaches the player.
  EXPECT_TRUE(WaitUntil([&] { return host_.Received(plugin_.RefreshCompleteMessage()) == 1; }));
}

}  // namespace
}  // namespace ambervox
