#include "requests/request_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "platform/window.h"
#include "player/player_messages.h"
#include "simulated_player.h"
#include "support/expect_finishes.h"
#include "support/test_data.h"

namespace ambervox {
namespace {

using testing::ExpectFinishes;
using testing::Songs;
using testing::User;

// What a test that does not finish suggests.
constexpr const char kSuspect[] = "the queue and the cache or the player wait for each other";

ByteString Address(int n) { return ByteString::Format("192.168.0.%d", n); }

QueueLimits Limits(int maxQueueSize, int maxRequestsPerIP, int maxConsecutivePerIP, int recentlyPlayedQueueSize) {
  QueueLimits limits;
  limits.maxQueueSize = maxQueueSize;
  limits.maxRequestsPerIP = maxRequestsPerIP;
  limits.maxConsecutivePerIP = maxConsecutivePerIP;
  limits.recentlyPlayedQueueSize = recentlyPlayedQueueSize;
  return limits;
}

class RequestQueueTest : public ::testing::Test {
 protected:
  RequestQueueTest()
      : player_(Songs(10)),
        thread_("AmbervoxTestPlayer", "Test player", &SimulatedPlayer::WindowProcedure),
        queue_(&cache_) {
    player_.Attach(thread_.window());
    // One channel for both, as the plug-in gives them: the player's thread
    // (PlayNext) and a rebuild ask for texts at the same time.
    cache_.SetPlayer(PlayerHost(channel_));
    cache_.Rebuild();
    queue_.SetPlayer(PlayerHost(channel_));
  }

  // Requester n: address 192.168.0.n, UserId n.
  ResultCode Add(int index, int requester, bool checkLimits = true) {
    return queue_.AddRequest(index, Address(requester), User(requester), checkLimits);
  }
  ResultCode Check(int index, int requester) { return queue_.CheckRequest(index, Address(requester), User(requester)); }
  // Queues `index` for `requester` (no limits) and plays it at once.
  void Play(int index, int requester) {
    ASSERT_EQ(0, queue_.RequestCount());
    ASSERT_EQ(kAccepted, Add(index, requester, false));
    ASSERT_TRUE(queue_.PlayNext());
  }
  std::vector<int> QueuedIndexes() {
    std::vector<int> indexes;
    for (int i = 0; i < queue_.RequestCount(); ++i) {
      ByteString title;
      RequestEntry entry;
      EXPECT_TRUE(queue_.GetEntry(i, title, entry));
      indexes.push_back(entry.playlistIndex);
    }
    return indexes;
  }

  SimulatedPlayer player_;
  platform::WindowThread thread_;
  PlayerChannel channel_{thread_.window()};
  PlaylistCache cache_;
  RequestQueue queue_;
};

TEST_F(RequestQueueTest, LimitsStartAtTheirDefaultsAndTravelAsOneRecordInOrder) {
  const QueueLimits initial = queue_.GetLimits();
  EXPECT_EQ(50, initial.maxQueueSize);
  EXPECT_EQ(3, initial.maxRequestsPerIP);
  EXPECT_EQ(0, initial.maxConsecutivePerIP);
  EXPECT_EQ(0, initial.recentlyPlayedQueueSize);
  queue_.SetLimits(QueueLimits{7, -2, 9, 4});
  const QueueLimits set = queue_.GetLimits();
  EXPECT_EQ(7, set.maxQueueSize);
  EXPECT_EQ(-2, set.maxRequestsPerIP);
  EXPECT_EQ(9, set.maxConsecutivePerIP);
  EXPECT_EQ(4, set.recentlyPlayedQueueSize);
  EXPECT_EQ(&cache_, queue_.Cache());
}

TEST_F(RequestQueueTest, AnIndexOutsideTheCacheIsInvalidBeforeAnyLimit) {
  queue_.SetLimits(Limits(0, 3, 0, 0));
  EXPECT_EQ(kInvalidPosition, Add(-1, 1));
  EXPECT_EQ(kInvalidPosition, Add(10, 1));
  EXPECT_EQ(kInvalidPosition, Add(-1, 1, false));
  EXPECT_EQ(kInvalidPosition, Add(10, 1, false));
  EXPECT_EQ(kQueueFull, Add(9, 1));
  EXPECT_EQ(0, queue_.RequestCount());
}

TEST_F(RequestQueueTest, QueueSizeLimit) {
  queue_.SetLimits(Limits(0, 3, 0, 0));
  EXPECT_EQ(kQueueFull, Add(0, 1));
  EXPECT_EQ(kAccepted, Add(0, 1, false)) << "the admin password bypasses every limit";
  EXPECT_EQ(1, queue_.RequestCount());
  queue_.ClearAll();

  queue_.SetLimits(Limits(3, 0, 0, 0));
  EXPECT_EQ(kAccepted, Add(0, 1));
  EXPECT_EQ(kAccepted, Add(1, 2));
  EXPECT_EQ(kAccepted, Check(2, 3));
  EXPECT_EQ(2, queue_.RequestCount()) << "a check changes nothing";
  EXPECT_EQ(kAccepted, Add(2, 3));
  EXPECT_EQ(kQueueFull, Add(3, 4)) << "even from a requester with nothing queued";
  EXPECT_EQ(kQueueFull, Add(0, 1)) << "queue size is checked before a duplicate";

  queue_.ClearAll();
  queue_.SetLimits(Limits(-1, 3, 0, 0));
  EXPECT_EQ(kQueueFull, Add(0, 1));
}

TEST_F(RequestQueueTest, RequestersAreCountedByAddressOrElseByUserId) {
  queue_.SetLimits(Limits(50, 3, 0, 0));
  // One address, three browsers.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(kAccepted, queue_.AddRequest(i, Address(1), User(100 + i), true));
  EXPECT_EQ(kTooManyFromRequester, queue_.AddRequest(3, Address(1), User(200), true));
  queue_.ClearAll();

  // One browser, three addresses.
  ASSERT_EQ(kAccepted, queue_.AddRequest(0, Address(1), User(7), true));
  ASSERT_EQ(kAccepted, queue_.AddRequest(1, Address(1), User(7), true));
  ASSERT_EQ(kAccepted, queue_.AddRequest(2, Address(2), User(7), true));
  EXPECT_EQ(kTooManyFromRequester, queue_.AddRequest(3, Address(3), User(7), true));
  EXPECT_EQ(kAccepted, queue_.AddRequest(3, Address(3), User(8), true));
  queue_.ClearAll();

  // A request matching by both address and UserId counts once.
  queue_.SetLimits(Limits(50, 2, 0, 0));
  ASSERT_EQ(kAccepted, Add(0, 1));
  EXPECT_EQ(kAccepted, Add(1, 1));
  EXPECT_EQ(kTooManyFromRequester, Add(2, 1));
  queue_.ClearAll();

  queue_.SetLimits(Limits(5, 0, 0, 0));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(kAccepted, Add(i, 1)) << "no per-requester limit";
  EXPECT_EQ(kQueueFull, Add(5, 1));
  queue_.ClearAll();

  queue_.SetLimits(Limits(5, -1, 0, 0));
  EXPECT_EQ(kTooManyFromRequester, Add(0, 1));
}

TEST_F(RequestQueueTest, ASongWaitsOnceButTheRequesterLimitIsToldFirst) {
  queue_.SetLimits(Limits(50, 1, 0, 0));
  ASSERT_EQ(kAccepted, Add(4, 1));
  EXPECT_EQ(kAlreadyQueued, Add(4, 2));
  ASSERT_EQ(kAccepted, Add(5, 2));
  EXPECT_EQ(kTooManyFromRequester, Add(4, 2));
  EXPECT_EQ(kAccepted, Add(4, 3, false)) << "the admin may queue a song twice";
  EXPECT_EQ((std::vector<int>{4, 5, 4}), QueuedIndexes());
}

TEST_F(RequestQueueTest, RecentlyPlayedLooksAtTheLastPlaysFromAnybody) {
  queue_.SetLimits(Limits(50, 0, 0, 2));
  Play(0, 1);
  Play(1, 2);
  Play(2, 3);
  EXPECT_EQ(kRecentlyPlayed, Check(2, 4));
  EXPECT_EQ(kRecentlyPlayed, Check(1, 1));
  EXPECT_EQ(kAccepted, Check(0, 1)) << "the third most recent play is out of the window";
  EXPECT_EQ(kAccepted, Add(2, 4, false)) << "the admin may queue it anyway";
}

TEST_F(RequestQueueTest, ConsecutiveRuleOnlyRefusesTheSameRequester) {
  queue_.SetLimits(Limits(50, 0, 5, 0));
  Play(0, 1);
  EXPECT_EQ(kAccepted, Check(0, 2));
  EXPECT_EQ(kRecentlyPlayed, Check(0, 1));
  EXPECT_EQ(kRecentlyPlayed, queue_.CheckRequest(0, Address(9), User(1))) << "same browser elsewhere";
  EXPECT_EQ(kRecentlyPlayed, queue_.CheckRequest(0, Address(1), User(9))) << "same address, other browser";
  EXPECT_EQ(kAccepted, Check(1, 1));
  for (int i = 1; i <= 4; ++i) Play(i, 2);
  EXPECT_EQ(kRecentlyPlayed, Check(0, 1)) << "fifth most recent play";
  Play(5, 2);
  EXPECT_EQ(kAccepted, Check(0, 1)) << "sixth most recent play";
}

TEST_F(RequestQueueTest, WithBothHistoryLimitsZeroNothingIsRemembered) {
  queue_.SetLimits(Limits(50, 0, 0, 0));
  Play(3, 1);
  EXPECT_EQ(kAccepted, Check(3, 1));
  // Switching the rules on now finds an empty history.
  queue_.SetLimits(Limits(50, 0, 5, 5));
  EXPECT_EQ(kAccepted, Check(3, 1));
  EXPECT_EQ(kAccepted, Check(3, 2));
}

TEST_F(RequestQueueTest, HistoryKeepsTheLargerOfTheTwoWindows) {
  queue_.SetLimits(Limits(50, 0, 3, 1));
  Play(0, 1);
  Play(1, 1);
  Play(2, 1);
  EXPECT_EQ(kAccepted, Check(0, 2)) << "only the last play counts for other requesters";
  EXPECT_EQ(kRecentlyPlayed, Check(2, 2));
  EXPECT_EQ(kRecentlyPlayed, Check(0, 1)) << "three plays count for the requester";
  Play(3, 2);
  EXPECT_EQ(kAccepted, Check(0, 1));
  EXPECT_EQ(kRecentlyPlayed, Check(1, 1));
}

TEST_F(RequestQueueTest, NewLimitsTrimTheHistoryOnlyAtTheNextPlay) {
  queue_.SetLimits(Limits(50, 0, 0, 3));
  Play(0, 1);
  Play(1, 1);
  Play(2, 1);
  queue_.SetLimits(Limits(50, 0, 0, 1));
  EXPECT_EQ(kAccepted, Check(0, 2));
  queue_.SetLimits(Limits(50, 0, 0, 3));
  EXPECT_EQ(kRecentlyPlayed, Check(0, 2)) << "SetLimits must not trim the history";
  queue_.SetLimits(Limits(50, 0, 0, 1));
  Play(3, 1);
  queue_.SetLimits(Limits(50, 0, 0, 3));
  EXPECT_EQ(kAccepted, Check(2, 2));
  EXPECT_EQ(kRecentlyPlayed, Check(3, 2));
}

TEST_F(RequestQueueTest, NegativeHistoryLimitsSwitchTheRulesOff) {
  queue_.SetLimits(Limits(50, 0, -5, -1));
  Play(3, 1);
  Play(4, 1);
  EXPECT_EQ(kAccepted, Check(3, 1));
  EXPECT_EQ(kAccepted, Check(4, 2));
  queue_.SetLimits(Limits(50, 0, 5, 5));
  EXPECT_EQ(kAccepted, Check(4, 1)) << "the history was emptied";
}

TEST_F(RequestQueueTest, DeleteAtForUserComparesOnlyTheUserId) {
  ASSERT_EQ(kAccepted, Add(0, 1));
  ASSERT_EQ(kAccepted, Add(1, 2));
  ASSERT_EQ(kAccepted, Add(2, 3));
  EXPECT_EQ(kInvalidPosition, queue_.DeleteAtForUser(3, User(3)));
  EXPECT_EQ(kInvalidPosition, queue_.DeleteAtForUser(-1, User(1)));
  EXPECT_EQ(kNotRequester, queue_.DeleteAtForUser(1, User(1)));
  EXPECT_EQ(kNotRequester, queue_.DeleteAtForUser(1, User(2 + 256))) << "all 16 bytes count";
  EXPECT_EQ((std::vector<int>{0, 1, 2}), QueuedIndexes());
  // Another address, the same browser: its own request.
  EXPECT_EQ(kRequestDeleted, queue_.DeleteAtForUser(1, User(2)));
  EXPECT_EQ((std::vector<int>{0, 2}), QueuedIndexes());
}

TEST_F(RequestQueueTest, DeleteAtRemovesThatPositionOnly) {
  for (int i = 0; i < 4; ++i) ASSERT_EQ(kAccepted, Add(i, i));
  EXPECT_FALSE(queue_.DeleteAt(4));
  EXPECT_FALSE(queue_.DeleteAt(-1));
  EXPECT_TRUE(queue_.DeleteAt(2));
  EXPECT_TRUE(queue_.DeleteAt(0));
  EXPECT_EQ((std::vector<int>{1, 3}), QueuedIndexes());
}

TEST_F(RequestQueueTest, ClearAllAlsoForgetsTheHistory) {
  queue_.SetLimits(Limits(50, 3, 0, 5));
  Play(6, 1);
  ASSERT_EQ(kAccepted, Add(7, 1));
  EXPECT_EQ(kRecentlyPlayed, Add(6, 2));
  queue_.ClearAll();
  EXPECT_EQ(0, queue_.RequestCount());
  EXPECT_EQ(kAccepted, Add(6, 2));
}

TEST_F(RequestQueueTest, PlayNextOnAnEmptyQueueSendsNothing) {
  const int before = player_.MessageCount();
  EXPECT_FALSE(queue_.PlayNext());
  EXPECT_EQ(before, player_.MessageCount());
  EXPECT_TRUE(player_.Commands().empty());
}

TEST_F(RequestQueueTest, PlayNextStartsTheOldestRequest) {
  ASSERT_EQ(kAccepted, Add(3, 1));
  ASSERT_EQ(kAccepted, Add(1, 2));
  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_EQ((std::vector<std::string>{"set-position:3", "play"}), player_.TakeCommands());
  EXPECT_EQ(3, player_.Position());
  EXPECT_EQ(PlayState::kPlaying, player_.State());
  EXPECT_EQ((std::vector<int>{1}), QueuedIndexes());
  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_EQ((std::vector<std::string>{"set-position:1", "play"}), player_.TakeCommands());
  EXPECT_FALSE(queue_.PlayNext());
}

TEST_F(RequestQueueTest, GetEntryCopiesTheRequestAndItsTitle) {
  ASSERT_EQ(kAccepted, Add(8, 5));
  ByteString title("untouched");
  RequestEntry entry;
  entry.playlistIndex = -7;
  EXPECT_FALSE(queue_.GetEntry(1, title, entry));
  EXPECT_FALSE(queue_.GetEntry(-1, title, entry));
  EXPECT_EQ(-7, entry.playlistIndex);
  EXPECT_TRUE(title.Equals("untouched"));
  ASSERT_TRUE(queue_.GetEntry(0, title, entry));
  EXPECT_EQ(8, entry.playlistIndex);
  EXPECT_TRUE(entry.requesterAddress.Equals("192.168.0.5"));
  EXPECT_EQ(User(5), entry.userId);
  EXPECT_TRUE(title.Equals("Artist 8 - Song"));
}

// The DJ edits the playlist while requests wait: each request plays the song
// that was asked for, wherever it went, and one whose song left is dropped.
TEST_F(RequestQueueTest, ARequestPlaysItsSongWhereverTheDjMovedItAndIsDroppedWhenItLeft) {
  queue_.SetLimits(Limits(10, 0, 0, 10));
  ASSERT_EQ(kAccepted, Add(8, 1));
  ASSERT_EQ(kAccepted, Add(2, 2));
  ASSERT_EQ(kAccepted, Add(5, 3));
  ASSERT_TRUE(player_.MoveEntry(8, 0));  // song8 now at 0, song2 at 3
  ASSERT_TRUE(player_.RemoveEntry(6));   // song5 (then at 6) leaves
  ASSERT_TRUE(cache_.Rebuild());
  // The rows show the songs asked for, not what their old indexes now hold.
  ByteString title;
  RequestEntry entry;
  ASSERT_TRUE(queue_.GetEntry(0, title, entry));
  EXPECT_TRUE(title.Equals("Artist 8 - Song")) << title.CStr();
  // Until the queue follows the playlist, the request whose song left is
  // shown with the title it had.
  ASSERT_TRUE(queue_.GetEntry(2, title, entry));
  EXPECT_TRUE(title.Equals("Artist 5 - Song")) << title.CStr();

  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_EQ((std::vector<std::string>{"set-position:0", "play"}), player_.TakeCommands());
  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_EQ((std::vector<std::string>{"set-position:3", "play"}), player_.TakeCommands());
  // The last one's song is gone: nothing is played, so the player advances
  // by itself, and the request is not remembered as played.
  const int messages = player_.MessageCount();
  EXPECT_FALSE(queue_.PlayNext());
  EXPECT_TRUE(player_.TakeCommands().empty());
  EXPECT_EQ(0, queue_.RequestCount());
  EXPECT_GT(player_.MessageCount(), messages) << "the player was asked for the file";
  // The history holds the two songs at the indexes they were played from.
  EXPECT_EQ(kRecentlyPlayed, Check(3, 4));
  EXPECT_EQ(kAccepted, Check(5, 4)) << "the dropped request is not in the history";
}

// An unchanged playlist costs PlayNext one question before it plays.
TEST_F(RequestQueueTest, PlayNextAsksOnceWhenTheSongHasNotMoved) {
  ASSERT_EQ(kAccepted, Add(4, 1));
  const int before = player_.MessageCount();
  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_EQ(before + 3, player_.MessageCount()) << "the file, the position, play";
}

// A file listed twice: the first copy at or after the request's index wins,
// then the first before it.
TEST_F(RequestQueueTest, AFileListedTwiceIsPlayedFromTheFirstCopyAtOrAfterTheRequestsIndex) {
  std::vector<SimulatedEntry> songs = Songs(6);
  songs[1].filePath = songs[4].filePath = std::string("twice.mp3");
  player_.SetPlaylist(songs);
  ASSERT_TRUE(cache_.Rebuild());
  ASSERT_EQ(kAccepted, Add(1, 1, false));
  ASSERT_EQ(kAccepted, Add(4, 2, false));
  ASSERT_TRUE(player_.RemoveEntry(0));  // the copies now at 0 and 3
  ASSERT_TRUE(queue_.PlayNext());       // asked at 1: the copy at 3
  EXPECT_EQ((std::vector<std::string>{"set-position:3", "play"}), player_.TakeCommands());
  ASSERT_TRUE(queue_.PlayNext());  // asked at 4: none after, the one at 0
  EXPECT_EQ((std::vector<std::string>{"set-position:0", "play"}), player_.TakeCommands());
}

// Links drawn for a queue that has moved on: "Delete" on song 12 at position
// 2, then song 11 ends; the link removes song 12, not song 13 that now
// stands there, and a link whose request already played removes nothing.
TEST_F(RequestQueueTest, ALinkNamingItsRequestRemovesThatRequestOrNothing) {
  for (int requester : {1, 2, 3}) ASSERT_EQ(kAccepted, Add(requester + 3, requester));
  ASSERT_TRUE(queue_.PlayNext());
  EXPECT_TRUE(queue_.DeleteAt(1, 5));
  EXPECT_EQ((std::vector<int>{6}), QueuedIndexes());
  EXPECT_FALSE(queue_.DeleteAt(0, 4)) << "index 4 already played";
  EXPECT_EQ(kInvalidPosition, queue_.DeleteAtForUser(0, User(1), 4));
  EXPECT_EQ(kNotRequester, queue_.DeleteAtForUser(0, User(1), 6));
  EXPECT_EQ((std::vector<int>{6}), QueuedIndexes());
  EXPECT_EQ(kRequestDeleted, queue_.DeleteAtForUser(5, User(3), 6));
  EXPECT_EQ(0, queue_.RequestCount());

  // After an edit two requests may share the index they were made at; the
  // links name the song as well, so a stale one removes only its own.
  ASSERT_EQ(kAccepted, Add(5, 1));  // song5
  ASSERT_TRUE(player_.RemoveEntry(0));
  ASSERT_TRUE(cache_.Rebuild());
  ASSERT_EQ(kAccepted, Add(5, 2));  // song6, also at index 5
  ASSERT_TRUE(queue_.PlayNext());   // song5 plays; song6 now first
  const SongId song5 = SongOfFile(ByteString("song5.mp3"));
  const SongId song6 = SongOfFile(ByteString("song6.mp3"));
  EXPECT_FALSE(queue_.DeleteAt(0, 5, song5)) << "song5's link, drawn when it was first";
  EXPECT_EQ(kInvalidPosition, queue_.DeleteAtForUser(0, User(1), 5, song5));
  EXPECT_EQ(kNotRequester, queue_.DeleteAtForUser(1, User(1), 5, song6));
  EXPECT_EQ(1, queue_.RequestCount());
  EXPECT_EQ(kRequestDeleted, queue_.DeleteAtForUser(1, User(2), 5, song6));
  EXPECT_EQ(0, queue_.RequestCount());
}

// The player answers PlayNext's messages on its own thread, where the window
// hook uses the queue: the messages must go out without the queue's lock.
TEST_F(RequestQueueTest, PlayNextSendsToThePlayerWithoutTheLock) {
  ASSERT_EQ(kAccepted, Add(2, 1));
  ASSERT_EQ(kAccepted, Add(5, 2));
  std::vector<int> countsSeen;
  player_.SetObserver([&](std::uint32_t message, std::uintptr_t, std::intptr_t) {
    if (message == platform::kMsgUser || message == platform::kMsgCommand) countsSeen.push_back(queue_.RequestCount());
  });
  ExpectFinishes("PlayNext", kSuspect, [this] { queue_.PlayNext(); });
  player_.SetObserver(nullptr);
  EXPECT_EQ((std::vector<int>{1, 1, 1}), countsSeen);
}

// A song ends while a rebuild waits for the player's thread: PlayNext, run
// there, finds the moved song where the player holds it now, which the
// cache does not know yet.
TEST_F(RequestQueueTest, PlayNextDuringARebuildFindsTheMovedSongWithoutTheCache) {
  ASSERT_EQ(kAccepted, Add(7, 1));
  ASSERT_TRUE(player_.MoveEntry(7, 2));
  bool played = false;
  player_.SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::kMsgUser || lParam != kIpcGetPlaylistTitle || wParam != 5 || played) return;
    played = true;
    EXPECT_TRUE(queue_.PlayNext());
  });
  ExpectFinishes("Rebuild with PlayNext", kSuspect, [this] { cache_.Rebuild(); });
  player_.SetObserver(nullptr);
  ASSERT_TRUE(played);
  EXPECT_EQ((std::vector<std::string>{"set-position:2", "play"}), player_.TakeCommands());
}

// While a rebuild waits for the player, queue operations that read the
// cache answer from its previous content at once, without waiting for the
// rebuild: the player's thread, holding its answer, sees them done, and
// the queue is usable there meanwhile.
TEST_F(RequestQueueTest, QueueOperationsDuringARebuildNeverWaitForIt) {
  ASSERT_EQ(kAccepted, Add(1, 1));
  bool ran = false;
  int countSeen = -1;
  player_.SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::kMsgUser || lParam != kIpcGetPlaylistTitle || wParam != 0 || ran) return;
    ran = true;
    ExpectFinishes("queue operations during a rebuild", kSuspect, [this] {
      EXPECT_EQ(kAccepted, Add(4, 2));
      ByteString title;
      RequestEntry entry;
      EXPECT_TRUE(queue_.GetEntry(0, title, entry));
      EXPECT_STREQ("Artist 1 - Song", title.CStr());
    });
    countSeen = queue_.RequestCount();
  });
  ExpectFinishes("Rebuild", kSuspect, [this] { cache_.Rebuild(); });
  player_.SetObserver(nullptr);
  ASSERT_TRUE(ran);
  EXPECT_EQ(2, countSeen);
  EXPECT_EQ((std::vector<int>{1, 4}), QueuedIndexes());
}

// The DJ's night (issue 26, faults 2, 3 and 4): every rule compares the song
// (its file) wherever the playlist holds it now, not the row, and a song
// listed twice is one song; a request whose song left the playlist leaves
// the queue with the rebuild and stops counting.
TEST_F(RequestQueueTest, TheRulesCompareSongsNotRowsAndARequestLeavesWithItsSong) {
  queue_.SetLimits(Limits(10, 3, 0, 10));
  ASSERT_EQ(kAccepted, Add(0, 1));       // song0
  ASSERT_TRUE(player_.MoveEntry(0, 5));  // song0 to row 5, song1 to row 0
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(kAlreadyQueued, Add(5, 2)) << "song0, at its new row";
  EXPECT_EQ(kAccepted, Add(0, 2)) << "song1, never asked for";
  EXPECT_EQ(kAlreadyQueued, queue_.AddRequest(0, Address(3), User(3), true, SongOfFile(ByteString("song0.mp3"))))
      << "a link naming song0 with its old row";
  ASSERT_TRUE(queue_.PlayNext());  // song0, from row 5
  EXPECT_EQ((std::vector<std::string>{"set-position:5", "play"}), player_.TakeCommands());
  ASSERT_TRUE(queue_.PlayNext());  // song1
  player_.TakeCommands();

  // Recently played: song0 and song1; the DJ removes the first row (song1).
  ASSERT_TRUE(player_.RemoveEntry(0));  // rows: song2 song3 song4 song5 song0 song6 ...
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(kRecentlyPlayed, Check(4, 4)) << "song0, now at row 4";
  EXPECT_EQ(kAccepted, Check(5, 4)) << "song6, at the row song0 was played from";
  EXPECT_EQ(kAccepted, Check(0, 4)) << "song2, at the row song1 was played from";
  // The consecutive rule the same way.
  queue_.SetLimits(Limits(10, 3, 5, 0));
  EXPECT_EQ(kRecentlyPlayed, Check(4, 1)) << "song0 again from its requester";
  EXPECT_EQ(kAccepted, Check(4, 4)) << "song0 from another requester";
  EXPECT_EQ(kAccepted, Check(0, 2)) << "song2 from song1's requester, at song1's old row";
  EXPECT_EQ(kAccepted, Check(5, 1)) << "song6 from song0's requester, at song0's old row";

  // A file listed twice is one song.
  std::vector<SimulatedEntry> songs = Songs(6);
  songs[4].filePath = std::string("song1.mp3");
  player_.SetPlaylist(songs);
  ASSERT_TRUE(cache_.Rebuild());
  queue_.ClearAll();
  queue_.SetLimits(Limits(10, 3, 0, 10));
  ASSERT_EQ(kAccepted, Add(1, 1));
  EXPECT_EQ(kAlreadyQueued, Add(4, 2));

  // Three requests of one listener; the DJ loads another playlist holding
  // only one of their songs: the other two leave at once, and the listener
  // may ask again.
  queue_.ClearAll();
  for (int index : {0, 2, 3}) ASSERT_EQ(kAccepted, Add(index, 7));
  EXPECT_EQ(kTooManyFromRequester, Add(5, 7));
  std::vector<SimulatedEntry> tonight = Songs(4, testing::ArtistAndSong, "tonight/");
  tonight[1].filePath = std::string("song2.mp3");
  player_.SetPlaylist(tonight);
  ASSERT_TRUE(cache_.Rebuild());
  EXPECT_EQ(3, queue_.RequestCount()) << "nothing leaves before the queue follows";
  EXPECT_EQ(2, queue_.FollowPlaylist());
  EXPECT_EQ((std::vector<int>{2}), QueuedIndexes());
  ByteString title;
  RequestEntry entry;
  ASSERT_TRUE(queue_.GetEntry(0, title, entry));
  EXPECT_TRUE(title.Equals("Artist 1 - Song")) << "the title of its new row: " << title.CStr();
  EXPECT_EQ(kAccepted, Add(0, 7));
  EXPECT_EQ(0, queue_.FollowPlaylist());
}

}  // namespace
}  // namespace ambervox
