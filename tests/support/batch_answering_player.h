// The simulated player's window procedure with the playlist batch answered
// in front of it, as the plug-in's hook answers it on the real player's
// window (PlayerHost::AnswerPlaylistBatch), for the cache tests and the
// benchmark, which do without the whole plug-in. Counts the batches it
// answered; after BatchAnswerLimit() batches it stops answering (0, as a
// window without the hook does), negative: never. With BatchRoomAtMost()
// not negative, a batch's room for texts is cut to that many bytes before
// it is answered, so that the answer stops where the room is full.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/window.h"
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

inline std::intptr_t BatchAnsweringPlayerProcedure(platform::WindowHandle window, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam) {
  if (message != 0 && message == PlayerHost::PlaylistBatchMessage()) {
    const int limit = BatchAnswerLimit().load();
    if (limit >= 0 && BatchesAnswered().load() >= limit) return 0;
    ++BatchesAnswered();
    auto* batch = reinterpret_cast<PlaylistBatch*>(lParam);
    const int most = BatchRoomAtMost().load();
    if (batch != nullptr && most >= 0 && batch->text.size() > static_cast<std::size_t>(most)) {
      batch->text.resize(static_cast<std::size_t>(most));
    }
    return PlayerHost::AnswerPlaylistBatch(window, lParam);
  }
  return SimulatedPlayer::WindowProcedure(window, message, wParam, lParam);
}

}  // namespace testing
}  // namespace ambervox
