// Many connection threads add requests while the user-interface side plays
// them and the refresh side rebuilds the cache. Every accepted request must
// end up either still queued, played exactly once or, when its song had left
// the playlist, dropped, and the queue must
// never hold more than its limits admit. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "player/player_host.h"
#include "player/player_messages.h"
#include "requests/request_queue.h"
#include "simulated_player.h"
#include "support/test_data.h"

namespace ambervox {
namespace {

constexpr int kAdders = 8;
constexpr int kRequesters = 24;
constexpr int kRounds = 12;
constexpr long kPlaysPerRound = 40;
constexpr int kLongPlaylist = 48;
constexpr int kShortPlaylist = 40;
constexpr int kIndexRange = 50;  // some requests lie outside every playlist

// Seven artists, so that the per-artist limits come into play.
std::vector<SimulatedEntry> Songs(int count) {
  return testing::Songs(count, [](int i) { return testing::ArtistAndSong(i % 7); });
}

// The requester's number is the whole of its identity's first field, which
// the checks below read back.
UserId User(int requester) {
  UserId id;
  id.data1 = static_cast<std::uint32_t>(requester);
  return id;
}

ByteString Address(int requester) { return ByteString::Format("10.0.0.%d", requester); }

// The waiting requests; only called while no other thread uses the queue.
std::vector<RequestEntry> Walk(const RequestQueue& queue) {
  std::vector<RequestEntry> entries;
  for (int i = 0; i < queue.RequestCount(); ++i) {
    ByteString title;
    RequestEntry entry;
    entry.playlistIndex = -1;
    queue.GetEntry(i, title, entry);
    entries.push_back(entry);
  }
  return entries;
}

TEST(RequestQueueConcurrencyTest, AddingPlayingAndRebuildingTogetherLosesNothingAndKeepsTheLimits) {
  SimulatedPlayer player(Songs(kLongPlaylist));
  platform::WindowThread thread("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure);
  player.Attach(thread.window());
  // One channel for both, as the plug-in gives them: the player's thread
  // (PlayNext) and the rebuilds ask for texts at the same time.
  PlayerChannel channel(thread.window());
  PlaylistCache cache;
  cache.SetPlayer(PlayerHost(channel));
  ASSERT_TRUE(cache.Rebuild());
  RequestQueue queue(&cache);
  queue.SetPlayer(PlayerHost(channel));
  QueueLimits limits;
  limits.maxQueueSize = 16;
  limits.maxRequestsPerIP = 2;
  limits.maxConsecutivePerIP = 4;
  limits.recentlyPlayedQueueSize = 3;
  queue.SetLimits(limits);

  std::vector<long> accepted(kIndexRange, 0);
  std::map<int, long> results;
  long plays = 0;
  std::atomic<int> overfull{0};

  for (int round = 0; round < kRounds; ++round) {
    // A round lasts until the player has been told to play kPlaysPerRound
    // requests; the adders keep the queue at its limits meanwhile.
    std::atomic<bool> roundDone{false};
    std::vector<std::vector<long>> acceptedBy(kAdders, std::vector<long>(kIndexRange, 0));
    std::vector<std::map<int, long>> resultsBy(kAdders);
    std::vector<std::thread> adders;
    for (int a = 0; a < kAdders; ++a) {
      adders.emplace_back([&, a] {
        std::minstd_rand random(static_cast<unsigned>(round * kAdders + a + 1));
        while (!roundDone.load()) {
          const int index = static_cast<int>(random() % kIndexRange);
          const int requester = static_cast<int>(random() % kRequesters);
          const ResultCode result = queue.AddRequest(index, Address(requester), User(requester), true);
          ++resultsBy[a][result];
          if (result == kAccepted) ++acceptedBy[a][index];
          std::this_thread::yield();
        }
      });
    }
    // Requests are played where the plug-in plays them: on the player's
    // thread, when a song ends.
    std::atomic<long> roundPlays{0};
    player.SetObserver([&](std::uint32_t message, std::uintptr_t, std::intptr_t) {
      if (message == kMsgSongEnded && queue.PlayNext()) ++roundPlays;
    });
    std::thread playing([&] {
      while (roundPlays.load() < kPlaysPerRound) PlayerHost(thread.window()).NotifySongEnded();
      roundDone = true;
    });
    std::thread rebuilding([&] {
      bool shortList = (round % 2) == 0;
      while (!roundDone.load()) {
        player.SetPlaylist(Songs(shortList ? kShortPlaylist : kLongPlaylist));
        // As the refresh thread does: requests whose song left go with it.
        if (cache.Rebuild()) queue.FollowPlaylist();
        shortList = !shortList;
      }
    });
    std::thread watching([&] {
      while (!roundDone.load()) {
        if (queue.RequestCount() > limits.maxQueueSize) ++overfull;
        ByteString title;
        RequestEntry entry;
        for (int i = 0; queue.GetEntry(i, title, entry) || i < queue.RequestCount(); ++i) {
        }
        std::this_thread::yield();
      }
    });
    playing.join();
    for (std::thread& adder : adders) adder.join();
    rebuilding.join();
    watching.join();
    player.SetObserver(nullptr);

    plays += roundPlays.load();
    for (int a = 0; a < kAdders; ++a) {
      for (int i = 0; i < kIndexRange; ++i) accepted[static_cast<std::size_t>(i)] += acceptedBy[a][i];
      for (const auto& result : resultsBy[a]) results[result.first] += result.second;
    }

    // With everything quiet, the queue must hold what the limits admit.
    const std::vector<RequestEntry> queued = Walk(queue);
    ASSERT_LE(static_cast<int>(queued.size()), limits.maxQueueSize) << "round " << round;
    std::map<int, int> perRequester;
    std::map<int, int> perIndex;
    for (const RequestEntry& entry : queued) {
      ++perRequester[static_cast<int>(entry.userId.data1)];
      ++perIndex[entry.playlistIndex];
      EXPECT_TRUE(entry.requesterAddress == Address(static_cast<int>(entry.userId.data1)));
    }
    for (const auto& count : perRequester) {
      EXPECT_LE(count.second, limits.maxRequestsPerIP) << "requester " << count.first << ", round " << round;
    }
    for (const auto& count : perIndex) {
      EXPECT_EQ(1, count.second) << "index " << count.first << " queued twice, round " << round;
    }
  }
  EXPECT_EQ(0, overfull.load());

  // Every accepted request is either still queued or was played once.
  std::vector<long> played(kIndexRange, 0);
  long playCommands = 0;
  for (const std::string& command : player.TakeCommands()) {
    if (command == "play") {
      ++playCommands;
    } else if (command.rfind("set-position:", 0) == 0) {
      const int index = std::stoi(command.substr(13));
      ASSERT_TRUE(index >= 0 && index < kIndexRange) << command;
      ++played[static_cast<std::size_t>(index)];
    }
  }
  EXPECT_EQ(plays, playCommands);
  std::vector<long> waiting(kIndexRange, 0);
  for (const RequestEntry& entry : Walk(queue)) {
    ASSERT_TRUE(entry.playlistIndex >= 0 && entry.playlistIndex < kLongPlaylist);
    ++waiting[static_cast<std::size_t>(entry.playlistIndex)];
  }
  // The songs beyond the short playlist come and go: a request for one that
  // was gone when its turn came, or when the queue followed a rebuild, was
  // dropped, not played.
  for (int i = 0; i < kIndexRange; ++i) {
    const long accounted = played[static_cast<std::size_t>(i)] + waiting[static_cast<std::size_t>(i)];
    if (i < kShortPlaylist) {
      EXPECT_EQ(accepted[static_cast<std::size_t>(i)], accounted) << "index " << i;
    } else {
      EXPECT_LE(accounted, accepted[static_cast<std::size_t>(i)]) << "index " << i;
    }
  }
  for (int i = kLongPlaylist; i < kIndexRange; ++i) EXPECT_EQ(0, accepted[static_cast<std::size_t>(i)]);

  // The run must have exercised the contended paths, not just one of them.
  EXPECT_EQ(kRounds * kPlaysPerRound, plays);
  EXPECT_GT(results[kInvalidPosition], 0);
  EXPECT_GT(results[kTooManyFromRequester] + results[kQueueFull], 0);
  EXPECT_GT(results[kAlreadyQueued] + results[kRecentlyPlayed], 0);
}

}  // namespace
}  // namespace ambervox
