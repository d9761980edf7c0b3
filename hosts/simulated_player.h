// SimulatedPlayer: a stand-in for the media player, answering on its main
// window every message the plug-in sends (playlist length and position,
// file paths and titles, the playing time, the transport buttons, the
// playlist position) from an in-memory playlist, with a playing/paused/
// stopped state and an elapsed time that only changes when told to (the
// clock is driven from outside: tests set it, the host program advances it).
// When the end-of-song message reaches the player's own procedure (nothing
// intercepted it), the player advances to the next entry by itself.
//
// The answers follow the real player where a plug-in could notice: the
// position in ms is -1 while stopped; file paths and titles (211, 212) come
// from one shared buffer that the next such answer overwrites, and are
// NULL for an index outside the playlist; their UTF-16 forms (213, 214) come
// the same way from another shared buffer (NULL also for an entry without
// one, as from a player that does not know these questions); 365 names the dialog parent set
// here (0 when none).
// The playlist batch message (player/playlist_batch.h) is not the
// player's: like the real player, this one answers it 0; the plug-in's hook
// on the window answers it, asking the player entry by entry on the
// window's thread.
//
// Attach a window whose procedure is SimulatedPlayer::WindowProcedure: one
// made by platform::WindowThread (tests) or one created on the host
// program's main thread. The procedure runs on the window's thread; every
// other operation may be called from any thread (one internal lock guards the
// state; it is never held while the observer runs). The player may be
// destroyed while its window still exists: the window then answers as an
// ordinary window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace ambervox {

struct SimulatedEntry {
  SimulatedEntry() = default;
  SimulatedEntry(std::optional<std::string> path, std::optional<std::string> text, int seconds,
                 std::optional<std::u16string> widePath = std::nullopt,
                 std::optional<std::u16string> wideText = std::nullopt)
      : filePath(std::move(path)),
        title(std::move(text)),
        lengthSeconds(seconds),
        wideFilePath(std::move(widePath)),
        wideTitle(std::move(wideText)) {}

  std::optional<std::string> filePath;  // no value: the player answers no address
  std::optional<std::string> title;     // the same for the display title
  int lengthSeconds = 0;
  // The same texts in UTF-16, as the player holds them (213, 214).
  std::optional<std::u16string> wideFilePath;
  std::optional<std::u16string> wideTitle;
};

enum class PlayState { kStopped, kPlaying, kPaused };

class SimulatedPlayer {
 public:
  // Called on the window's thread for every message the player receives,
  // before the player answers it.
  using Observer = std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

  explicit SimulatedPlayer(std::vector<SimulatedEntry> playlist = {});
  ~SimulatedPlayer();
  SimulatedPlayer(const SimulatedPlayer&) = delete;
  SimulatedPlayer& operator=(const SimulatedPlayer&) = delete;

  // The player answers the messages of `window` from now on (one window per
  // player; attaching again moves it).
  void Attach(platform::WindowHandle window);
  void Detach();
  platform::WindowHandle Window() const;
  static std::intptr_t WindowProcedure(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t lParam);

  // Replaces the playlist: position 0, stopped, elapsed 0.
  void SetPlaylist(std::vector<SimulatedEntry> playlist);
  // Removes entry `index` / moves entry `from` to `to`; the current entry
  // stays current where it still exists. False for an index outside the
  // playlist.
  bool RemoveEntry(int index);
  bool MoveEntry(int from, int to);
  // What the player answers to 365 (nullptr: 0).
  void SetDialogParent(platform::WindowHandle window);
  int PlaylistLength() const;
  int Position() const;
  // Moves the current entry without it counting as a received position
  // change; any value, also one outside the playlist.
  void SetPosition(int position);
  PlayState State() const;
  int ElapsedMs() const;
  void SetElapsedMs(int elapsedMs);
  // Adds `ms` to the elapsed time while playing; true when the current song
  // has then reached its length (the host program then sends the end-of-song
  // message).
  bool AdvanceClock(int ms);
  // Length of the current entry in seconds, -1 without one.
  int CurrentLengthSeconds() const;

  // Transport commands and position changes received since the last
  // TakeCommands, in order: "prev", "play", "pause", "stop", "next",
  // "set-position:<i>".
  std::vector<std::string> TakeCommands();
  std::vector<std::string> Commands() const;
  // Messages of the player's protocol received so far (not counting other
  // window messages).
  int MessageCount() const;

  void SetObserver(Observer observer);

 private:
  struct Core;
  class Registry;
  std::shared_ptr<Core> core_;
};

}  // namespace ambervox
