// The plug-in's lifecycle and its hook, driven as the player drives them:
// entries on the host window's thread, the end-of-song notice sent to the
// host window, refreshes started from the user-interface thread and from
// other threads.
#include "plugin/plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/player_host.h"
#include "player/playlist_batch.h"
#include "support/playlist_cache_reads.h"
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
  EXPECT_TRUE(testing::PluginProbe(plugin_).Settings().Disabled());
  EXPECT_FALSE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_EQ(testing::EntryCount(testing::PluginProbe(plugin_).Cache()), 10) << "init fills the cache";
  ASSERT_EQ(Request(4), kAccepted);

  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 1) << "the player advanced by itself";
  EXPECT_TRUE(host_.player().Commands().empty());
  EXPECT_EQ(testing::PluginProbe(plugin_).Queue().RequestCount(), 1) << "a disabled plug-in plays no request";
  EXPECT_EQ(host_.Received(kMsgSongEnded), 1);
}

TEST_F(PluginLifecycle, InitStartsTheServerOnTheConfiguredPortAndQuitStopsAndSaves) {
  const int port = FreePort();
  ASSERT_NE(port, 0);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n");
  Init();
  EXPECT_TRUE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_TRUE(Listening(port));
  ASSERT_EQ(Request(2), kAccepted);

  Quit();
  EXPECT_FALSE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_FALSE(Listening(port));
  std::string saved = TempFolder::ReadBytes(path_);
  EXPECT_NE(saved.find("\r\nbDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\ng_RecentlyPlayedQueueSize=0\r\n"), std::string::npos) << saved;
  // The hook is off: the notice goes straight to the player, the request waits.
  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 1);
  EXPECT_EQ(testing::PluginProbe(plugin_).Queue().RequestCount(), 1);
}

TEST_F(PluginHook, SongEndPlaysTheOldestWaitingRequestInsteadOfAdvancing) {
  Init();
  testing::PluginProbe(plugin_).Settings().SetDisabled(false);  // read live by the hook

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
  EXPECT_EQ(testing::PluginProbe(plugin_).Queue().RequestCount(), 1);

  // Disabled again: the notice passes and the request keeps waiting.
  testing::PluginProbe(plugin_).Settings().SetDisabled(true);
  EXPECT_EQ(SongEnded(), 0);
  EXPECT_EQ(host_.player().Position(), 8);
  EXPECT_EQ(testing::PluginProbe(plugin_).Queue().RequestCount(), 1);
}

TEST_F(PluginHook, PassesEveryOtherMessageOnWithItsResult) {
  Init();
  const int before = host_.Received(platform::kMsgUser);
  EXPECT_GT(before, 0) << "init's rebuild asked the player through the hook";
  // A player query through the hook gets the player's own answer.
  EXPECT_EQ(platform::SendWindowMessage(host_.window(), platform::kMsgUser, 0, kIpcGetPlaylistLength), 10);
  EXPECT_EQ(host_.Received(platform::kMsgUser), before + 1);
}

// The cache rebuild's batch message is answered by the hook on the player's
// thread, with the player's own answers, for as long as the hook is on.
TEST_F(PluginHook, AnswersPlaylistBatchesUntilQuit) {
  const std::vector<SimulatedEntry> songs = testing::UnicodeSongs(testing::ScriptTitles());
  host_.player().SetPlaylist(songs);
  Init();
  PlaylistBatch batch;
  batch.entries.resize(3);
  batch.text.resize(PlaylistBatch::kTextCapacity);
  batch.first = 4;
  batch.count = 3;
  const PlayerHost player = testing::PluginProbe(plugin_).Player(PlayerHost::Patience::kWaitForAnswers);
  ASSERT_TRUE(player.GetPlaylistBatch(batch));
  ASSERT_EQ(batch.answered, 3);
  const auto text = [&batch](std::uint32_t offset, std::uint32_t length) {
    return std::string(batch.text.data() + offset, length);
  };
  for (int k = 0; k < 3; ++k) {
    const SimulatedEntry& song = songs[static_cast<std::size_t>(4 + k)];
    const PlaylistBatchEntry& entry = batch.entries[static_cast<std::size_t>(k)];
    EXPECT_EQ(text(entry.fileOffset, entry.fileLength), *song.filePath) << k;
    EXPECT_EQ(text(entry.titleOffset, entry.titleLength), *song.title) << k;
    if (song.title->find('?') == std::string::npos) {
      EXPECT_EQ(entry.wideTitleLength, kNoPlayerText) << "asked only for a title holding \"?\"";
    } else {
      ASSERT_EQ(entry.wideTitleLength, song.wideTitle->size()) << k;
      std::u16string wide(entry.wideTitleLength, u'\0');
      std::memcpy(&wide[0], batch.text.data() + entry.wideTitleOffset, wide.size() * sizeof(char16_t));
      EXPECT_TRUE(wide == *song.wideTitle) << k;
    }
  }

  // Any process can send the registered message, with any address: only a
  // batch that a sender of this process waits on is written to.
  PlaylistBatch stranger = batch;
  stranger.answered = -7;
  EXPECT_EQ(platform::SendWindowMessage(host_.window(), PlayerHost::PlaylistBatchMessage(), 0,
                                        reinterpret_cast<std::intptr_t>(&stranger)),
            0);
  EXPECT_EQ(stranger.answered, -7);

  Quit();
  EXPECT_FALSE(player.GetPlaylistBatch(batch)) << "without the hook nothing answers";
}

// A page's player state is one message, answered by the hook on the
// player's thread with the player's own answers. A message that names no
// waiting sender (a stranger's, or one that comes after its sender gave up
// on a stalled player) writes nothing; without the hook the page asks
// question by question and gets the same answers.
TEST_F(PluginHook, AnswersPlayerSnapshotsAndWritesNothingForASenderThatGaveUp) {
  Init();
  const PlayerHost player = testing::PluginProbe(plugin_).Player();
  player.PlayIndex(6);
  host_.player().SetElapsedMs(83000);
  const int length = host_.player().CurrentLengthSeconds();
  ASSERT_GT(length, 0);
  const auto expectState = [length](const PlayerSnapshot& snapshot, const char* when) {
    EXPECT_EQ(snapshot.playlistPosition, 6) << when;
    EXPECT_EQ(snapshot.time.lengthSeconds, length) << when;
    EXPECT_EQ(snapshot.time.positionMs, 83000) << when;
  };
  const int asked = host_.Received(platform::kMsgUser);
  expectState(player.GetPlayerSnapshot(), "through the hook");
  EXPECT_EQ(host_.Received(platform::kMsgUser) - asked, 3) << "the hook asks the player's three questions";

  for (std::intptr_t stranger : {std::intptr_t{0}, std::intptr_t{1}, std::intptr_t{(12345 << 3) | 2}}) {
    EXPECT_EQ(platform::SendWindowMessage(host_.window(), PlayerHost::PlayerSnapshotMessage(), 0, stranger), 0);
  }

  // The player's thread is busy past the limit: the snapshot gives up with
  // every value unknown, and the late message must not fill the slot that a
  // later page has taken meanwhile. Pages asking meanwhile share this page's
  // message, and give up with it. The player's thread stays busy until every
  // page has given up, however slowly this machine runs the pages.
  std::mutex busyLock;
  std::condition_variable busyChanged;
  bool busyStarted = false;
  bool released = false;
  std::thread busy([&] {
    host_.RunOnUi([&] {
      std::unique_lock<std::mutex> hold(busyLock);
      busyStarted = true;
      busyChanged.notify_all();
      // A page that never gave up fails the test below instead of hanging it.
      busyChanged.wait_for(hold, std::chrono::seconds(60), [&] { return released; });
    });
  });
  {
    std::unique_lock<std::mutex> hold(busyLock);
    busyChanged.wait(hold, [&] { return busyStarted; });
  }
  std::atomic<int> othersGaveUp{0};
  std::vector<std::thread> others;
  for (int i = 0; i < 3; ++i) {
    others.emplace_back([&] {
      const PlayerSnapshot other = player.GetPlayerSnapshot();
      if (other.playlistPosition == -1 && other.time.lengthSeconds == 0 && PlayerHost::HasStalled()) ++othersGaveUp;
    });
  }
  const PlayerSnapshot gaveUp = player.GetPlayerSnapshot();
  EXPECT_EQ(gaveUp.playlistPosition, -1);
  EXPECT_EQ(gaveUp.time.lengthSeconds, 0);
  EXPECT_TRUE(PlayerHost::HasStalled());
  PlayerHost::ForgetStall();
  for (std::thread& other : others) other.join();
  EXPECT_EQ(othersGaveUp.load(), 3);
  {
    std::lock_guard<std::mutex> hold(busyLock);
    released = true;
  }
  busyChanged.notify_all();
  busy.join();
  expectState(player.GetPlayerSnapshot(), "after the stall");

  Quit();
  expectState(player.GetPlayerSnapshot(), "without the hook");
}

// Pages asking at once share the hook's answers, yet every page shows the
// player as it was after that page began: a change made just before an ask
// is in its answer, never an answer begun before it.
TEST_F(PluginHook, PagesAskingAtOnceShareSnapshotsNeverOlderThanTheirAsk) {
  Init();
  const PlayerHost player = testing::PluginProbe(plugin_).Player();
  player.PlayIndex(2);
  constexpr int kPages = 8;
  constexpr int kAsks = 200;
  std::mutex clockLock;
  int clock = 0;  // the play position, moved forward only
  std::atomic<int> older{0};
  const int asked = host_.Received(platform::kMsgUser);
  std::vector<std::thread> pages;
  for (int t = 0; t < kPages; ++t) {
    pages.emplace_back([&] {
      for (int i = 0; i < kAsks; ++i) {
        int now = 0;
        {
          std::lock_guard<std::mutex> hold(clockLock);
          now = ++clock;
          host_.player().SetElapsedMs(now);
        }
        const PlayerSnapshot snapshot = player.GetPlayerSnapshot();
        if (snapshot.time.positionMs < now || snapshot.playlistPosition != 2) ++older;
      }
    });
  }
  for (std::thread& page : pages) page.join();
  EXPECT_EQ(older.load(), 0);
  const int snapshots = (host_.Received(platform::kMsgUser) - asked) / 3;
  EXPECT_LT(snapshots, kPages * kAsks) << "no page shared another's answer";
  EXPECT_FALSE(PlayerHost::HasStalled());
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
  EXPECT_EQ(testing::EntryCount(testing::PluginProbe(plugin_).Cache()), 20);
  EXPECT_EQ(host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()), 1) << "the completion is passed on";

  host_.player().SetPlaylist(Songs(3));
  EXPECT_TRUE(plugin_.StartCacheRefresh(nullptr)) << "from another thread, as the admin page starts it";
  ASSERT_TRUE(RefreshFinished());
  EXPECT_EQ(testing::EntryCount(testing::PluginProbe(plugin_).Cache()), 3);
  EXPECT_EQ(host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()), 2);
}

// The player announces every playlist change; a DJ dragging 200 files in
// sends 200 notices. The cache follows with one rebuild for the burst, and
// one more for a change announced while that rebuild was reading.
TEST_F(PluginRefresh, APlaylistChangeBurstCostsOneRebuildAndALateChangeOneMore) {
  Init();
  host_.player().SetPlaylist(Songs(20));
  bool changedDuringRebuild = false;
  host_.player().SetObserver([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != platform::kMsgUser || lParam != kIpcGetPlaylistTitle || wParam != 5 || changedDuringRebuild) return;
    changedDuringRebuild = true;
    host_.player().SetPlaylist(Songs(3));
    platform::SendWindowMessage(host_.window(), platform::kMsgUser, 0, kIpcPlaylistModified);
  });
  host_.RunOnUi([&] {
    for (int i = 0; i < 200; ++i) {
      platform::SendWindowMessage(host_.window(), platform::kMsgUser, 0, kIpcPlaylistModified);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()) == 2; }));
  ASSERT_TRUE(RefreshFinished());
  // Time for a third rebuild, if one were wrongly started, to be counted.
  platform::SleepMilliseconds(200);
  host_.player().SetObserver(nullptr);
  EXPECT_TRUE(changedDuringRebuild);
  EXPECT_EQ(testing::EntryCount(testing::PluginProbe(plugin_).Cache()), 3);
  EXPECT_EQ(host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()), 2) << "no third rebuild";
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
  EXPECT_EQ(host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()), 1);
}

TEST_F(PluginRefresh, ACompletionWithoutARecordedRefreshIsOnlyPassedOn) {
  Init();
  const std::uint32_t complete = testing::PluginProbe(plugin_).RefreshCompleteMessage();
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
    runningAfterQuit = testing::PluginProbe(plugin_).IsRefreshRunning();
    entries = testing::EntryCount(testing::PluginProbe(plugin_).Cache());
  });
  quit_ = true;
  EXPECT_TRUE(started);
  EXPECT_FALSE(runningAfterQuit);
  EXPECT_EQ(entries, 30);
  // Its completion arrives after the hook is gone and reaches the player.
  EXPECT_TRUE(WaitUntil([&] { return host_.Received(testing::PluginProbe(plugin_).RefreshCompleteMessage()) == 1; }));
}

// A subclass put on top of the plug-in's hook, as another plug-in's would
// be. When the refresh completion passes it, it first makes sure that a
// message sent by another thread waits for the user-interface thread (as the
// host's console quit did when the crash happened), then lets the plug-in
// handle the completion.
struct CompletionRace {
  static std::intptr_t Hook(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
    if (message == kProbe) {
      probeRanInsideCompletion = insideCompletion;
      probeHandled = true;
      return 1;
    }
    if (message != completeMessage) return top.CallPrevious(window, message, wParam, lParam);
    prober = std::thread([window] { platform::SendWindowMessage(window, kProbe, 0, 0); });
    for (int i = 0; i < 5000 && !platform::HasPendingSentMessages(); ++i) platform::SleepMilliseconds(1);
    probeWaiting = platform::HasPendingSentMessages();
    insideCompletion = true;
    std::intptr_t result = top.CallPrevious(window, message, wParam, lParam);
    insideCompletion = false;
    return result;
  }

  static constexpr std::uint32_t kProbe = platform::kMsgUser + 0x321;
  static platform::WindowSubclass top;
  static std::uint32_t completeMessage;
  static std::thread prober;
  static bool insideCompletion;
  static bool probeWaiting;
  static std::atomic<bool> probeHandled;
  static bool probeRanInsideCompletion;
};

platform::WindowSubclass CompletionRace::top;
std::uint32_t CompletionRace::completeMessage = 0;
std::thread CompletionRace::prober;
bool CompletionRace::insideCompletion = false;
bool CompletionRace::probeWaiting = false;
std::atomic<bool> CompletionRace::probeHandled{false};
bool CompletionRace::probeRanInsideCompletion = false;

// The ordering that crashed the host: the completion's join ran the sent
// messages waiting for the user-interface thread, among them the host's
// quit, which unloaded the plug-in under the hook. The join must run none.
TEST_F(PluginRefresh, TheCompletionRunsNoMessageSentMeanwhile) {
  Init();
  CompletionRace::completeMessage = testing::PluginProbe(plugin_).RefreshCompleteMessage();
  bool installed = false;
  host_.RunOnUi([&] { installed = CompletionRace::top.Install(host_.window(), &CompletionRace::Hook); });
  ASSERT_TRUE(installed);
  ASSERT_TRUE(plugin_.StartCacheRefresh(nullptr));
  ASSERT_TRUE(RefreshFinished());
  ASSERT_TRUE(WaitUntil([] { return CompletionRace::probeHandled.load(); }));
  CompletionRace::prober.join();
  EXPECT_TRUE(CompletionRace::probeWaiting) << "the probe was queued before the completion ran";
  EXPECT_FALSE(CompletionRace::probeRanInsideCompletion);
  bool removed = false;
  host_.RunOnUi([&] { removed = CompletionRace::top.Restore(); });
  EXPECT_TRUE(removed);
}

// Quit with another subclass on top of ours: our hook cannot come off, so it
// stays and passes every message on (the player still advances).
TEST_F(PluginHook, QuitUnderAnotherSubclassLeavesAHookThatOnlyPassesMessagesOn) {
  // A port that opens: a server that cannot start shows a modal message box.
  const int port = FreePort();
  ASSERT_NE(port, 0);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n");
  Init();
  static platform::WindowSubclass above;
  bool installed = false;
  host_.RunOnUi([&] {
    installed = above.Install(host_.window(), [](platform::WindowHandle w, std::uint32_t m, std::uintptr_t wp,
                                                 std::intptr_t lp) { return above.CallPrevious(w, m, wp, lp); });
  });
  ASSERT_TRUE(installed);
  Quit();
  const int before = host_.player().Position();
  platform::SendWindowMessage(host_.window(), kMsgSongEnded, 0, 0);
  EXPECT_EQ(host_.player().Position(), before + 1);
  bool removed = false;
  host_.RunOnUi([&] { removed = above.Restore(); });
  EXPECT_TRUE(removed) << "ours is left in place below, passing on";
  platform::SendWindowMessage(host_.window(), kMsgSongEnded, 0, 0);
  EXPECT_EQ(host_.player().Position(), before + 2);
}

}  // namespace
}  // namespace ambervox
