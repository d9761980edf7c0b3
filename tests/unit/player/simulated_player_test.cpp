#include "simulated_player.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/window.h"
#include "player/player_host.h"
#include "player/player_messages.h"
#include "support/test_data.h"

namespace ambervox {
namespace {

// One artist; each song 100 + i seconds long.
std::vector<SimulatedEntry> Songs(int count) {
  return testing::Songs(
      count, [](int i) { return "Artist - Song " + std::to_string(i); }, "", [](int i) { return 100 + i; });
}

class SimulatedPlayerTest : public ::testing::Test {
 protected:
  SimulatedPlayerTest()
      : player_(Songs(3)), thread_("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure) {
    player_.Attach(thread_.window());
    host_ = PlayerHost(thread_.window());
  }
  SimulatedPlayer player_;
  platform::WindowThread thread_;
  PlayerHost host_;
};

TEST_F(SimulatedPlayerTest, PlayPauseAndStopChangeStateAndClock) {
  EXPECT_EQ(PlayState::kStopped, player_.State());
  host_.PressPause();  // nothing to pause
  EXPECT_EQ(PlayState::kStopped, player_.State());
  host_.PressPlay();
  EXPECT_EQ(PlayState::kPlaying, player_.State());
  player_.SetElapsedMs(5000);
  host_.PressPause();
  EXPECT_EQ(PlayState::kPaused, player_.State());
  EXPECT_FALSE(player_.AdvanceClock(1000000)) << "a paused song does not run";
  EXPECT_EQ(5000, player_.ElapsedMs());
  host_.PressPause();
  EXPECT_EQ(PlayState::kPlaying, player_.State());
  EXPECT_EQ(5000, host_.GetPlayingTime().positionMs);
  host_.PressPlay();  // restarts the song
  EXPECT_EQ(0, player_.ElapsedMs());
  host_.PressStop();
  EXPECT_EQ(PlayState::kStopped, player_.State());
  EXPECT_EQ(-1, host_.GetPlayingTime().positionMs) << "nothing plays";
}

TEST_F(SimulatedPlayerTest, PreviousAndNextWrapAndRestartTheClock) {
  host_.PressPlay();
  player_.SetElapsedMs(700);
  host_.PressPrevious();
  EXPECT_EQ(2, player_.Position());
  EXPECT_EQ(0, player_.ElapsedMs());
  EXPECT_EQ(PlayState::kPlaying, player_.State());
  host_.PressNext();
  host_.PressNext();
  EXPECT_EQ(1, player_.Position());
  EXPECT_EQ(101, player_.CurrentLengthSeconds());
}

TEST_F(SimulatedPlayerTest, ClockReachesTheEndOfTheSong) {
  host_.PlayIndex(1);
  EXPECT_FALSE(player_.AdvanceClock(100999));
  EXPECT_TRUE(player_.AdvanceClock(1));
  EXPECT_EQ(101000, player_.ElapsedMs());
}

TEST_F(SimulatedPlayerTest, PositionChangesAreRecordedButOnlyValidOnesMove) {
  host_.SetPlaylistPosition(2);
  host_.SetPlaylistPosition(3);
  host_.SetPlaylistPosition(-1);
  EXPECT_EQ(2, player_.Position());
  EXPECT_EQ((std::vector<std::string>{"set-position:2", "set-position:3", "set-position:-1"}), player_.Commands());
  EXPECT_EQ(3u, player_.TakeCommands().size());
  EXPECT_TRUE(player_.TakeCommands().empty());

  // A position set from outside is not a received command.
  player_.SetPosition(9);
  EXPECT_EQ(9, host_.GetPlaylistPosition());
  EXPECT_EQ(-1, host_.GetPlayingTime().lengthSeconds);
  EXPECT_TRUE(player_.Commands().empty());
}

TEST_F(SimulatedPlayerTest, TextsHandedOutStayReadableAfterThePlaylistIsReplaced) {
  const char* title = reinterpret_cast<const char*>(
      platform::SendWindowMessage(thread_.window(), platform::kMsgUser, 0, kIpcGetPlaylistTitle));
  ASSERT_NE(nullptr, title);
  player_.SetPlaylist({{std::string("new.mp3"), std::string("New - Song"), 1}});
  EXPECT_STREQ("Artist - Song 0", title);
  ByteString now;
  host_.GetPlaylistTitle(0, now);
  EXPECT_TRUE(now.Equals("New - Song"));
  EXPECT_EQ(1, host_.GetPlaylistLength());
}

TEST_F(SimulatedPlayerTest, CountsOnlyThePlayersMessages) {
  const int before = player_.MessageCount();
  platform::SendWindowMessage(thread_.window(), platform::kMsgCommand, 1234, 0);  // not a button of the player
  EXPECT_EQ(before, player_.MessageCount());
  host_.GetPlaylistLength();
  host_.PressStop();
  EXPECT_EQ(before + 2, player_.MessageCount());
}

TEST(SimulatedPlayerLifetimeTest, AWindowOutlivingItsPlayerAnswersAsAPlainWindow) {
  platform::WindowThread thread("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure);
  PlayerHost host(thread.window());
  {
    SimulatedPlayer player(Songs(4));
    player.Attach(thread.window());
    EXPECT_EQ(4, host.GetPlaylistLength());
  }
  EXPECT_EQ(0, host.GetPlaylistLength());
}

// A hook in front of the player's procedure, as the plug-in installs one:
// it swallows the end-of-song notice.
platform::WindowSubclass* g_subclass = nullptr;
int g_intercepted = 0;

std::intptr_t SwallowSongEnd(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  if (message == kMsgSongEnded) {
    ++g_intercepted;
    return 0;
  }
  return g_subclass->CallPrevious(window, message, wParam, lParam);
}

TEST(SimulatedPlayerOnOwnThreadTest, AdvancesOnSongEndOnlyWhenNothingInterceptsIt) {
  // The window belongs to this thread, as the host program's main window
  // does; sends from here call the procedure directly.
  platform::WindowHandle window =
      platform::CreateTopLevelWindow("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure);
  ASSERT_NE(nullptr, window);
  {
    SimulatedPlayer player(Songs(3));
    player.Attach(window);
    PlayerHost host(window);
    host.PlayIndex(0);

    platform::WindowSubclass subclass;
    g_subclass = &subclass;
    ASSERT_TRUE(subclass.Install(window, &SwallowSongEnd));
    host.NotifySongEnded();
    EXPECT_EQ(1, g_intercepted);
    EXPECT_EQ(0, player.Position());
    EXPECT_EQ(3, host.GetPlaylistLength()) << "other messages pass the hook";

    subclass.Restore();
    host.NotifySongEnded();
    EXPECT_EQ(1, g_intercepted);
    EXPECT_EQ(1, player.Position());
    EXPECT_EQ(PlayState::kPlaying, player.State());
    g_subclass = nullptr;
  }
  platform::DestroyTopLevelWindow(window);
}

}  // namespace
}  // namespace ambervox
