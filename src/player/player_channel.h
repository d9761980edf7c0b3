// PlayerChannel: what the plug-in's threads and its hook on one player main
// window share, for that window. The plug-in makes one when it hooks the
// window and owns it for as long as the hook may answer; every PlayerHost
// made from it (PlayerHost(channel)) reaches it by pointer. A test that hooks
// a window of its own makes a channel for that window, so that two windows
// never share anything.
//
// It holds:
// - the text tickets: the player answers every file and title question in
//   one buffer, which its next such answer overwrites, whichever thread
//   asked (see PlayerHost::GetPlaylistFile);
// - the announced batches: the playlist batches whose senders wait for an
//   answer (player/playlist_batch.h);
// - the snapshot rounds, by which pages that want the player's state at the
//   same moment share one message (PlayerHost::GetPlayerSnapshot).
//
// The hook answers the two private messages with AnswerPlaylistBatch and
// AnswerPlayerSnapshot, on the thread that owns the window. A registered
// message can come from any process, with any lParam: each answer writes
// only where a sender of this channel is still waiting, and touches nothing
// otherwise.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>

#include "platform/lock.h"
#include "platform/thread_annotations.h"
#include "platform/window.h"
#include "player/playlist_batch.h"

namespace ambervox {

struct PlayingTime {
  int lengthSeconds = 0;  // length of the current song
  int positionMs = 0;     // play position within it
};

// The player's state as one page shows it: its current entry and that
// song's length and play position, asked for together, so that every line
// of the page shows the same moment.
struct PlayerSnapshot {
  int playlistPosition = -1;  // the current entry; -1 when unknown
  PlayingTime time;
};

class PlayerChannel {
 public:
  explicit PlayerChannel(platform::WindowHandle window) : window_(window) {}
  PlayerChannel(const PlayerChannel&) = delete;
  PlayerChannel& operator=(const PlayerChannel&) = delete;

  platform::WindowHandle Window() const { return window_; }

  // Answers the batch message whose lParam is `lParam` by asking the window
  // for each entry's file, title and, for a title holding "?", wide title,
  // and copying each answer into the batch at once. Allocates nothing and
  // throws nothing. Returns kPlaylistBatchAnswered; 0, touching nothing, for
  // an address that is not a batch announced here.
  std::intptr_t AnswerPlaylistBatch(std::intptr_t lParam);
  // Answers the snapshot message whose lParam is `lParam` by asking the
  // window directly. Allocates nothing and throws nothing. Returns
  // PlayerHost::kPlayerSnapshotAnswered; 0, touching nothing, when `lParam`
  // is not the ticket of the round whose sender is waiting.
  std::intptr_t AnswerPlayerSnapshot(std::intptr_t lParam) EXCLUDES(lock_);

 private:
  friend class PlayerHost;

  platform::WindowHandle const window_;

  // Each text question takes a ticket before it asks; a copy made after
  // another question took a ticket may hold that question's answer, and is
  // asked for again. The wide answers (213, 214) share another buffer.
  std::atomic<unsigned> textTickets_{0};
  std::atomic<unsigned> wideTextTickets_{0};

  // The batches whose senders wait for an answer: a few slots, taken without
  // a lock; a sender that finds none free asks entry by entry.
  static constexpr int kBatchSlots = 8;
  std::atomic<const PlaylistBatch*> announcedBatches_[kBatchSlots] = {};
  bool IsAnnounced(const PlaylistBatch* batch) const;

  // Snapshot rounds. Every ask takes the next number. One round at a time
  // is open: its sender sends the message, the others wait for its end. The
  // hook records the highest ask taken before its first question; the answer
  // serves every ask up to that number, because the state it reports was
  // read after each of those pages had begun. A page whose ask came later
  // sends the next round itself. Every message and question to the window
  // is sent without the lock.
  Lock lock_;
  // Signalled when an answer comes and when a round ends.
  std::condition_variable roundNews_;
  std::uint64_t asks_ GUARDED_BY(lock_) = 0;
  bool roundOpen_ GUARDED_BY(lock_) = false;
  // The open round's message ticket while its sender waits for the hook's
  // answer; 0 otherwise, when the hook writes nothing.
  std::uint32_t waitingTicket_ GUARDED_BY(lock_) = 0;
  std::uint32_t lastTicket_ GUARDED_BY(lock_) = 0;
  // The latest answer and the asks it serves.
  PlayerSnapshot answer_ GUARDED_BY(lock_);
  std::uint64_t answerCovers_ GUARDED_BY(lock_) = 0;
  // The asks that were waiting when a sender gave up on a stalled player.
  std::uint64_t gaveUpCovers_ GUARDED_BY(lock_) = 0;
  // Whether `lParam` is the ticket of a sender that still waits.
  bool IsWaitingFor(std::intptr_t lParam) const REQUIRES(lock_);

  // The sender's side of a round, for PlayerHost::GetPlayerSnapshot.
  enum class Turn { kServed, kGaveUp, kSend };
  // Takes the next ask, `*ask`, and waits while another page's round is
  // open (a limited page at most kAnswerLimitMs after its ask). kServed,
  // with `*answer`, when an answer begun after the ask has come; kGaveUp
  // when the sender of the round it waited for gave up on the player, or
  // the limit passed; kSend when the caller is to send the next round,
  // which is now open: it ends the round with a RoundEnd.
  Turn JoinRound(bool limited, std::uint64_t* ask, PlayerSnapshot* answer) EXCLUDES(lock_);
  // The open round's message ticket, which the hook answers until
  // TakeAnswer.
  std::uint32_t AwaitAnswer() EXCLUDES(lock_);
  // The message came back, `answered` by the hook or not: the hook writes
  // nothing for this round any more. True, with `*answer`, when the hook's
  // answer serves `ask`; else `*covers` := the last ask taken by now.
  bool TakeAnswer(std::uint64_t ask, bool answered, PlayerSnapshot* answer, std::uint64_t* covers) EXCLUDES(lock_);
  // Ends the open round when it goes out of scope, also when a send throws:
  // publishes the answer that the sender put in (asked singly), or marks
  // the pages asking so far as given up, and wakes the pages waiting.
  class RoundEnd {
   public:
    explicit RoundEnd(PlayerChannel& channel) : channel_(channel) {}
    ~RoundEnd();
    RoundEnd(const RoundEnd&) = delete;
    RoundEnd& operator=(const RoundEnd&) = delete;

    bool publish = false;  // `answer` serves the asks up to `covers`
    PlayerSnapshot answer;
    std::uint64_t covers = 0;
    bool gaveUp = false;  // the sender gave up on the player

   private:
    PlayerChannel& channel_;
  };
};

}  // namespace ambervox
