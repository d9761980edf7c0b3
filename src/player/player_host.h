// PlayerHost: the operations on the player's main window, each one or two
// synchronous messages sent through the platform layer. A small value that
// holds the window and nothing else; it owns nothing and may be copied
// freely. Every operation may be called from any thread: the send blocks the
// caller until the player's user-interface thread has answered, so a caller
// must not hold a lock that the user-interface thread may wait for.
//
// Texts come back from the player as an address in its own memory, valid
// only until its next answer; they are copied at once. A host without a
// window (nullptr) sends nothing and every answer is 0.
#pragma once

#include "common/byte_string.h"
#include "platform/window.h"

namespace ambervox {

struct PlayingTime {
  int lengthSeconds = 0;  // length of the current song
  int positionMs = 0;     // play position within it
};

class PlayerHost {
 public:
  PlayerHost() = default;
  explicit PlayerHost(platform::WindowHandle window) : window_(window) {}

  platform::WindowHandle Window() const { return window_; }

  int GetPlaylistLength() const;
  int GetPlaylistPosition() const;
  // `text` := a copy of the entry's file path / display title, or the empty
  // string when the player answers no address. False only when memory ran
  // out while copying; `text` is then left untouched.
  bool GetPlaylistFile(int index, ByteString& text) const;
  bool GetPlaylistTitle(int index, ByteString& text) const;
  void SetPlaylistPosition(int index) const;
  // Asks the length first, then the position.
  PlayingTime GetPlayingTime() const;
  void PressPrevious() const;
  void PressPlay() const;
  void PressPause() const;
  void PressStop() const;
  void PressNext() const;
  // Sends the end-of-song notice to the player's window, as the player does
  // itself when a song ends.
  void NotifySongEnded() const;
  // SetPlaylistPosition(index), then PressPlay.
  void PlayIndex(int index) const;

 private:
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const;
  bool CopyText(std::intptr_t code, int index, ByteString& text) const;

  platform::WindowHandle window_ = nullptr;
};

}  // namespace ambervox
