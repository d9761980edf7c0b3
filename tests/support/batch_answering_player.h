// The simulated player's window procedure with the plug-in's private
// messages answered in front of it, as the plug-in's hook answers them on
// the real player's window (PlayerChannel::AnswerPlaylistBatch and
// AnswerPlayerSnapshot), for the cache and player tests and the benchmark,
// which do without the whole plug-in. The answers go through the channel of
// the window, which an AnsweringChannel makes and owns, as the plug-in does
// for the player's window; a window without one answers the messages 0.
//
// Counts the batches it answered; after BatchAnswerLimit() batches it stops
// answering (0, as a window without the hook does), negative: never. With
// BatchRoomAtMost() not negative, a batch's room for texts is cut to that
// many bytes before it is answered, so that the answer stops where the room
// is full.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/window.h"
#include "player/player_channel.h"
#include "player/player_host.h"
#include "simulated_player.h"

namespace ambervox {
namespace testing {

inline std::atomic<int>& BatchesAnswered() {
  static std::atomic<int> count{0};
  return count;
}

inline std::atomic<int>& BatchAnswerLimit() {
  static std::atomic<int> limit{-1};
  return limit;
}

inline std::atomic<int>& BatchRoomAtMost() {
  static std::atomic<int> most{-1};
  return most;
}

// The channel of each window that has an AnsweringChannel. The lock is held
// while a channel answers, so that one is never destroyed in the middle.
struct AnsweringChannels {
  std::mutex lock;
  std::map<platform::WindowHandle, PlayerChannel*> byWindow;

  static AnsweringChannels& Instance() {
    static AnsweringChannels channels;
    return channels;
  }
};

// A channel for `window`, which BatchAnsweringPlayerProcedure answers
// through for as long as this lives. Made and destroyed while the window
// exists.
class AnsweringChannel {
 public:
  explicit AnsweringChannel(platform::WindowHandle window) : channel_(window) {
    AnsweringChannels& channels = AnsweringChannels::Instance();
    std::lock_guard<std::mutex> hold(channels.lock);
    channels.byWindow[window] = &channel_;
  }
  ~AnsweringChannel() {
    AnsweringChannels& channels = AnsweringChannels::Instance();
    std::lock_guard<std::mutex> hold(channels.lock);
    channels.byWindow.erase(channel_.Window());
  }
  AnsweringChannel(const AnsweringChannel&) = delete;
  AnsweringChannel& operator=(const AnsweringChannel&) = delete;

  // The window through this channel, as the plug-in hands it out.
  PlayerHost Host(PlayerHost::Patience patience = PlayerHost::Patience::kLimited) {
    return PlayerHost(channel_, patience);
  }

 private:
  PlayerChannel channel_;
};

inline std::intptr_t BatchAnsweringPlayerProcedure(platform::WindowHandle window, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam) {
  const bool batch = message != 0 && message == PlayerHost::PlaylistBatchMessage();
  const bool snapshot = message != 0 && message == PlayerHost::PlayerSnapshotMessage();
  if (!batch && !snapshot) return SimulatedPlayer::WindowProcedure(window, message, wParam, lParam);
  AnsweringChannels& channels = AnsweringChannels::Instance();
  std::lock_guard<std::mutex> hold(channels.lock);
  const auto found = channels.byWindow.find(window);
  if (found == channels.byWindow.end()) return 0;
  if (snapshot) return found->second->AnswerPlayerSnapshot(lParam);
  const int limit = BatchAnswerLimit().load();
  if (limit >= 0 && BatchesAnswered().load() >= limit) return 0;
  ++BatchesAnswered();
  auto* asked = reinterpret_cast<PlaylistBatch*>(lParam);
  const int most = BatchRoomAtMost().load();
  if (asked != nullptr && most >= 0 && asked->text.size() > static_cast<std::size_t>(most)) {
    asked->text.resize(static_cast<std::size_t>(most));
  }
  return found->second->AnswerPlaylistBatch(lParam);
}

}  // namespace testing
}  // namespace ambervox
