#include "player/player_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "platform/window.h"
#include "simulated_player.h"
#include "support/batch_answering_player.h"

namespace ambervox {
namespace {

struct Received {
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Received& o) const { return message == o.message && wParam == o.wParam && lParam == o.lParam; }
};

void PrintTo(const Received& r, std::ostream* os) {
  *os << "{" << r.message << ", " << r.wParam << ", " << r.lParam << "}";
}

std::vector<SimulatedEntry> ThreeSongs() {
  return {
      {std::string("C:\\music\\one.mp3"), std::string("Alpha - One"), 185},
      {std::string("C:\\music\\two.mp3"), std::nullopt, 242},
      {std::nullopt, std::string("Gamma - Three"), 60},
  };
}

// The player runs on a window thread of its own, as the real player's
// user-interface thread does; the test thread is the plug-in's sender.
class PlayerHostTest : public ::testing::Test {
 protected:
  PlayerHostTest()
      : player_(ThreeSongs()), thread_("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure) {
    player_.Attach(thread_.window());
    host_ = PlayerHost(thread_.window());
    player_.SetObserver([this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
      std::lock_guard<std::mutex> hold(mutex_);
      received_.push_back({message, wParam, lParam});
      threads_.push_back(platform::CurrentThreadId());
    });
  }

  std::vector<Received> TakeReceived() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Received> taken;
    taken.swap(received_);
    return taken;
  }

  std::mutex mutex_;
  std::vector<Received> received_;
  std::vector<platform::ThreadId> threads_;
  SimulatedPlayer player_;
  platform::WindowThread thread_;
  PlayerHost host_;
};

TEST_F(PlayerHostTest, EachOperationSendsThePlayersMessagesToItsWindowThread) {
  host_.GetPlaylistLength();
  host_.GetPlaylistPosition();
  ByteString text;
  host_.GetPlaylistFile(2, text);
  host_.GetPlaylistTitle(1, text);
  host_.SetPlaylistPosition(3);
  host_.GetPlayingTime();
  host_.PressPrevious();
  host_.PressPlay();
  host_.PressPause();
  host_.PressStop();
  host_.PressNext();
  host_.NotifySongEnded();
  host_.PlayIndex(1);
  const std::vector<Received> expected = {
      {1024, 0, 124},  {1024, 0, 125},  {1024, 2, 211},  {1024, 1, 212},  {1024, 3, 121},
      {1024, 1, 105},  {1024, 0, 105},  {273, 40044, 0}, {273, 40045, 0}, {273, 40046, 0},
      {273, 40047, 0}, {273, 40048, 0}, {1026, 0, 0},    {1024, 1, 121},  {273, 40045, 0},
  };
  EXPECT_EQ(expected, TakeReceived());
  std::lock_guard<std::mutex> hold(mutex_);
  for (platform::ThreadId id : threads_) EXPECT_EQ(thread_.threadId(), id);
}

TEST_F(PlayerHostTest, AnswersAreThePlayersAndTextsAreCopiedAtOnce) {
  EXPECT_EQ(3, host_.GetPlaylistLength());
  player_.SetPosition(2);
  EXPECT_EQ(2, host_.GetPlaylistPosition());

  ByteString title("previous");
  ASSERT_TRUE(host_.GetPlaylistTitle(0, title));
  EXPECT_TRUE(title.Equals("Alpha - One"));
  const char* playerCopy = reinterpret_cast<const char*>(platform::SendWindowMessage(thread_.window(), 1024, 0, 212));
  ASSERT_NE(nullptr, playerCopy);
  EXPECT_NE(playerCopy, title.CStr()) << "the title must not point into the player's memory";

  ByteString path;
  ASSERT_TRUE(host_.GetPlaylistFile(0, path));
  EXPECT_TRUE(path.Equals("C:\\music\\one.mp3"));

  // No address from the player gives the empty string, also over old text.
  ASSERT_TRUE(host_.GetPlaylistTitle(1, title));
  EXPECT_TRUE(title.IsEmpty());
  ASSERT_TRUE(host_.GetPlaylistFile(2, path));
  EXPECT_TRUE(path.IsEmpty());
  title = "kept?";
  ASSERT_TRUE(host_.GetPlaylistTitle(7, title));
  EXPECT_TRUE(title.IsEmpty());
}

TEST_F(PlayerHostTest, PlayingTimeIsTheSongLengthAndThePosition) {
  host_.PlayIndex(1);
  player_.SetElapsedMs(61500);
  const PlayingTime time = host_.GetPlayingTime();
  EXPECT_EQ(242, time.lengthSeconds);
  EXPECT_EQ(61500, time.positionMs);
}

TEST_F(PlayerHostTest, TransportButtonsAndPlayIndexDriveThePlayer) {
  host_.PressPrevious();
  host_.PressPlay();
  host_.PressPause();
  host_.PressStop();
  host_.PressNext();
  EXPECT_EQ((std::vector<std::string>{"prev", "play", "pause", "stop", "next"}), player_.TakeCommands());

  host_.PlayIndex(2);
  EXPECT_EQ((std::vector<std::string>{"set-position:2", "play"}), player_.TakeCommands());
  EXPECT_EQ(2, player_.Position());
  EXPECT_EQ(PlayState::kPlaying, player_.State());

  // Nothing intercepts the end-of-song notice here, so the player goes on by
  // itself (and, past the last entry, stops).
  host_.PlayIndex(1);
  host_.NotifySongEnded();
  EXPECT_EQ(2, player_.Position());
  EXPECT_EQ(PlayState::kPlaying, player_.State());
  host_.NotifySongEnded();
  EXPECT_EQ(PlayState::kStopped, player_.State());
}

TEST(PlayerHostWithoutWindowTest, SendsNothingAndAnswersZero) {
  PlayerHost host;
  EXPECT_EQ(nullptr, host.Window());
  EXPECT_EQ(0, host.GetPlaylistLength());
  EXPECT_EQ(0, host.GetPlaylistPosition());
  ByteString title("old");
  EXPECT_TRUE(host.GetPlaylistTitle(0, title));
  EXPECT_TRUE(title.IsEmpty());
  const PlayingTime time = host.GetPlayingTime();
  EXPECT_EQ(0, time.lengthSeconds);
  EXPECT_EQ(0, time.positionMs);
  host.PlayIndex(3);
  host.NotifySongEnded();
}

// Each hooked window has a channel of its own: pages asking two players at
// the same time share answers only with pages asking the same player.
TEST(PlayerChannelTest, PagesAskingTwoPlayersAtOnceEachGetTheirOwnPlayersState) {
  SimulatedPlayer players[2] = {SimulatedPlayer(ThreeSongs()), SimulatedPlayer(ThreeSongs())};
  platform::WindowThread windows[2] = {
      {"AmbervoxTestPlayer", "First player", &testing::BatchAnsweringPlayerProcedure},
      {"AmbervoxTestPlayer", "Second player", &testing::BatchAnsweringPlayerProcedure}};
  for (int p = 0; p < 2; ++p) {
    players[p].Attach(windows[p].window());
    players[p].SetPosition(p + 1);
  }
  testing::AnsweringChannel first(windows[0].window());
  testing::AnsweringChannel second(windows[1].window());
  const PlayerHost hosts[2] = {first.Host(), second.Host()};
  std::atomic<int> wrong{0};
  std::vector<std::thread> pages;
  for (int t = 0; t < 8; ++t) {
    pages.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        if (hosts[t % 2].GetPlayerSnapshot().playlistPosition != t % 2 + 1) ++wrong;
      }
    });
  }
  for (std::thread& page : pages) page.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_FALSE(PlayerHost::HasStalled());
  for (SimulatedPlayer& player : players) player.Detach();
}

}  // namespace
}  // namespace ambervox
