// PlayerHost: the operations on the player's main window, each one or two
// synchronous messages sent through the platform layer. A small value that
// holds the window, the patience, and a pointer to the window's
// PlayerChannel (player/player_channel.h), which the plug-in owns for the
// window it hooks; the host owns nothing and may be copied freely. A host
// without a channel (one made from a bare window: a window without the
// plug-in's hook, or a test's) sends no batch or snapshot message and asks
// every question singly. Every operation may be called from any thread:
// the send blocks the caller until the player's user-interface thread has
// answered, so a caller must not hold a lock that the user-interface thread
// may wait for.
//
// The player's user-interface thread can stop answering for seconds (it
// opens a stream). A page must not hang with it: with the default patience
// (kLimited) a read-only question gives up after kAnswerLimitMs, and once
// one has given up on a thread, the following read-only questions of that
// thread answer "unknown" at once (a connection thread builds one page, so
// a page waits for a stalled player at most once; ForgetStall starts over).
// Unknown is 0, a position of -1, an empty text. kWaitForAnswers (the cache
// rebuild, which must read the whole playlist) always waits, and so does
// every command that changes the player's state.
//
// That stall latch is the one piece of per-thread state here. It belongs to
// the page being built, but a page's questions are also asked by the request
// queue and the playlist cache on its behalf, which take no page; the
// connection thread, which builds one page at a time, stands for the page.
//
// Texts come back from the player as an address in its own memory, valid
// only until its next text answer to any thread; they are copied at once,
// and, through a channel, asked for again when another thread's text
// question may have overwritten them before the copy. A host without a
// window (nullptr) sends nothing and every answer is 0.
//
// Many entries at once: GetPlaylistBatch sends the private batch message
// (player/playlist_batch.h), which the plug-in's hook on the player's main
// window answers on the user-interface thread through the channel
// (PlayerChannel::AnswerPlaylistBatch): one cross-thread send for up to
// PlaylistBatch::kMaxEntries entries, each answer copied on the player's own
// thread right after it was given, so no other thread's question can
// overwrite it first. When nothing answers the message (no hook, or a window
// of another process) the caller asks entry by entry as above.
//
// A page's player state (GetPlayerSnapshot) comes the same way: one private
// message that the hook answers on the user-interface thread with the three
// questions asked by direct calls (PlayerChannel::AnswerPlayerSnapshot),
// instead of three cross-thread round trips, with the same patience and
// stall latch as a single question. Pages asking at the same time share one
// message per round through the channel; the message carries no address but
// the round's ticket, and the hook writes only into the round whose sender
// still waits.
#pragma once

#include <cstdint>
#include <string>

#include "common/byte_string.h"
#include "platform/window.h"
#include "player/player_channel.h"
#include "player/playlist_batch.h"

namespace ambervox {

class PlayerHost {
 public:
  enum class Patience { kLimited, kWaitForAnswers };
  static constexpr unsigned kAnswerLimitMs = 2000;

  PlayerHost() = default;
  // A window without a channel: every question asked singly.
  explicit PlayerHost(platform::WindowHandle window, Patience patience = Patience::kLimited)
      : window_(window), patience_(patience) {}
  // The channel's window, through the channel.
  explicit PlayerHost(PlayerChannel& channel, Patience patience = Patience::kLimited)
      : window_(channel.Window()), patience_(patience), channel_(&channel) {}

  // The same window and channel with another patience.
  PlayerHost WithPatience(Patience patience) const {
    PlayerHost host = *this;
    host.patience_ = patience;
    return host;
  }

  // Lets the calling thread's next read-only question wait again.
  static void ForgetStall();
  // Whether a read-only question of the calling thread has given up.
  static bool HasStalled();

  platform::WindowHandle Window() const { return window_; }

  int GetPlaylistLength() const;
  int GetPlaylistPosition() const;
  // `text` := a copy of the entry's file path / display title, or the empty
  // string when the player answers no address. False only when memory ran
  // out while copying; `text` is then left untouched.
  bool GetPlaylistFile(int index, ByteString& text) const;
  bool GetPlaylistTitle(int index, ByteString& text) const;
  // The entry's title as the player holds it, in UTF-16 (214), from the
  // player's wide buffer. False when the player answers no address (an old
  // player that does not know the question, a bad index, a stalled player);
  // `text` is then left untouched. Throws std::bad_alloc when memory runs
  // out while copying.
  bool GetPlaylistTitleWide(int index, std::u16string& text) const;
  // Sends the batch message for entries [batch.first, batch.first +
  // batch.count) and waits for the answer. True when the hook answered:
  // batch.answered entries are then filled (fewer than asked when their
  // texts filled the room; 0 when not even the first entry fitted). False,
  // with nothing sent, for a host without a channel or without
  // kWaitForAnswers (a send that gives up may be answered after the batch is
  // gone) or a window that is not of this process; false also when the
  // window does not answer the message.
  bool GetPlaylistBatch(PlaylistBatch& batch) const;
  // The batch message's id in this process (0 when it cannot be registered).
  static std::uint32_t PlaylistBatchMessage();
  void SetPlaylistPosition(int index) const;
  // Asks the length first, then the position.
  PlayingTime GetPlayingTime() const;
  // The current entry, then GetPlayingTime: with one send when the plug-in's
  // hook answers the snapshot message, else with three questions. The same
  // answers either way; a player that does not answer within the limit
  // stalls the calling thread as one question does (every value unknown).
  // Through a channel, pages asking at the same time share a message whose
  // answer was begun after each of them asked; when its sender gives up on
  // a stalled player, every page waiting for it gives up too. The player's
  // own thread asks singly (direct calls): it never waits for another
  // thread's message.
  PlayerSnapshot GetPlayerSnapshot() const;
  // The snapshot message's id in this process (0 when it cannot be
  // registered).
  static std::uint32_t PlayerSnapshotMessage();
  static constexpr std::intptr_t kPlayerSnapshotAnswered = 0x41565331;  // "AVS1"
  // The window the player wants dialogs and message boxes owned by; nullptr
  // when it does not say.
  platform::WindowHandle GetDialogParent() const;
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
  // A read-only question (IPC `code`), with the patience of this host.
  std::intptr_t Ask(std::uintptr_t wParam, std::intptr_t code, std::intptr_t unknown) const;
  bool CopyText(std::intptr_t code, int index, ByteString& text) const;
  // GetPlayerSnapshot by three questions.
  PlayerSnapshot AskPlayerSnapshot() const;
  // GetPlayerSnapshot's round, sent by the caller whose ask is `ask` once
  // the channel has opened the round to it: the message, or the three
  // questions when nothing answers it. The round ends, and its outcome
  // reaches the pages waiting, when this returns.
  PlayerSnapshot SendSnapshotRound(std::uint64_t ask) const;

  platform::WindowHandle window_ = nullptr;
  Patience patience_ = Patience::kLimited;
  PlayerChannel* channel_ = nullptr;
};

}  // namespace ambervox
