#include "player/player_channel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "player/player_host.h"
#include "player/player_messages.h"

namespace ambervox {
namespace {

// Copies `bytes` bytes into the batch's text after `*used`; false, copying
// nothing, when they do not fit.
bool PutText(PlaylistBatch& batch, std::size_t* used, const void* data, std::size_t bytes, std::uint32_t* offset) {
  if (bytes > batch.text.size() - *used) return false;
  if (bytes > 0) std::memcpy(batch.text.data() + *used, data, bytes);
  *offset = static_cast<std::uint32_t>(*used);
  *used += bytes;
  return true;
}

// One entry's answers into the batch; false when they do not fit.
bool AnswerEntry(platform::WindowHandle window, int index, PlaylistBatch& batch, std::size_t* used,
                 PlaylistBatchEntry& entry) {
  entry = PlaylistBatchEntry();
  // The player's window belongs to this thread: each question is a direct
  // call, and its answer is copied before anything else is asked.
  const auto ask = [&](std::intptr_t code) {
    return platform::SendWindowMessage(window, platform::kMsgUser, static_cast<std::uintptr_t>(index), code);
  };
  if (const char* file = reinterpret_cast<const char*>(ask(kIpcGetPlaylistFile))) {
    const std::size_t length = std::strlen(file);
    if (!PutText(batch, used, file, length, &entry.fileOffset)) return false;
    entry.fileLength = static_cast<std::uint32_t>(length);
  }
  const char* title = reinterpret_cast<const char*>(ask(kIpcGetPlaylistTitle));
  if (title == nullptr) return true;
  const std::size_t length = std::strlen(title);
  if (!PutText(batch, used, title, length, &entry.titleOffset)) return false;
  entry.titleLength = static_cast<std::uint32_t>(length);
  // "?" stands for a character the code page lacks: only then is the wide
  // title needed.
  if (std::memchr(title, '?', length) == nullptr) return true;
  if (const char16_t* wide = reinterpret_cast<const char16_t*>(ask(kIpcGetPlaylistTitleWide))) {
    std::size_t units = 0;
    while (wide[units] != u'\0') ++units;
    if (!PutText(batch, used, wide, units * sizeof(char16_t), &entry.wideTitleOffset)) return false;
    entry.wideTitleLength = static_cast<std::uint32_t>(units);
  }
  return true;
}

}  // namespace

bool PlayerChannel::IsWaitingFor(std::intptr_t lParam) const {
  return waitingTicket_ != 0 && lParam == static_cast<std::intptr_t>(waitingTicket_);
}

bool PlayerChannel::IsAnnounced(const PlaylistBatch* batch) const {
  for (const auto& slot : announcedBatches_) {
    if (slot.load() == batch) return true;
  }
  return false;
}

std::intptr_t PlayerChannel::AnswerPlaylistBatch(std::intptr_t lParam) {
  auto* batch = reinterpret_cast<PlaylistBatch*>(lParam);
  if (batch == nullptr || !IsAnnounced(batch)) return 0;
  batch->answered = 0;
  // The answers below overwrite the player's shared buffers: another
  // thread's question answered before this batch and not yet copied is
  // asked again.
  ++textTickets_;
  ++wideTextTickets_;
  const int wanted = std::clamp(batch->count, 0, static_cast<int>(batch->entries.size()));
  std::size_t used = 0;
  for (int k = 0; k < wanted; ++k) {
    // An entry that does not fit whole is left to the next batch.
    if (!AnswerEntry(window_, batch->first + k, *batch, &used, batch->entries[static_cast<std::size_t>(k)])) break;
    batch->answered = k + 1;
  }
  return kPlaylistBatchAnswered;
}

std::intptr_t PlayerChannel::AnswerPlayerSnapshot(std::intptr_t lParam) {
  std::uint64_t covers = 0;
  {
    LockHolder hold(lock_);
    if (!IsWaitingFor(lParam)) return 0;
    // Every page that has asked so far began before the first question below.
    covers = asks_;
  }
  // The window belongs to this thread: each question is a direct call, asked
  // in the order of PlayerHost::GetPlayerSnapshot's single questions, and
  // without the lock, because it runs every procedure on the window.
  const auto ask = [this](std::uintptr_t wParam, std::intptr_t ipc) {
    return static_cast<int>(platform::SendWindowMessage(window_, platform::kMsgUser, wParam, ipc));
  };
  PlayerSnapshot snapshot;
  snapshot.playlistPosition = ask(0, kIpcGetPlaylistPosition);
  snapshot.time.lengthSeconds = ask(kOutputTimeLengthSeconds, kIpcGetOutputTime);
  snapshot.time.positionMs = ask(kOutputTimePositionMs, kIpcGetOutputTime);
  LockHolder hold(lock_);
  // Its sender may have given up meanwhile: then nobody waits for this.
  if (!IsWaitingFor(lParam)) return 0;
  if (covers > answerCovers_) {
    answer_ = snapshot;
    answerCovers_ = covers;
  }
  // The pages this answer serves need not wait for the sender's wake-up.
  roundNews_.notify_all();
  return PlayerHost::kPlayerSnapshotAnswered;
}

PlayerChannel::Turn PlayerChannel::JoinRound(bool limited, std::uint64_t* ask, PlayerSnapshot* answer) {
  LockHolder hold(lock_);
  *ask = ++asks_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PlayerHost::kAnswerLimitMs);
  for (;;) {
    if (answerCovers_ >= *ask) {
      *answer = answer_;
      return Turn::kServed;
    }
    // A host that waits for every answer has no give-up to share: it sends
    // the next round itself.
    if (limited && gaveUpCovers_ >= *ask) return Turn::kGaveUp;
    if (!roundOpen_) break;
    if (!limited) {
      hold.Wait(roundNews_);
    } else if (!hold.WaitUntil(roundNews_, deadline)) {
      // The round's sender has not had an answer within the limit either.
      return Turn::kGaveUp;
    }
  }
  roundOpen_ = true;
  return Turn::kSend;
}

std::uint32_t PlayerChannel::AwaitAnswer() {
  LockHolder hold(lock_);
  // Each round a new ticket, so that a message of an earlier round (its
  // sender gave up) does not match; it fits lParam as a positive number,
  // also where lParam has 32 bits, and 0 is never a ticket.
  do {
    lastTicket_ = (lastTicket_ + 1) & 0x7FFFFFFFu;
  } while (lastTicket_ == 0);
  waitingTicket_ = lastTicket_;
  return waitingTicket_;
}

bool PlayerChannel::TakeAnswer(std::uint64_t ask, bool answered, PlayerSnapshot* answer, std::uint64_t* covers) {
  LockHolder hold(lock_);
  waitingTicket_ = 0;
  if (answered && answerCovers_ >= ask) {
    *answer = answer_;
    return true;
  }
  *covers = asks_;
  return false;
}

PlayerChannel::RoundEnd::~RoundEnd() {
  LockHolder hold(channel_.lock_);
  channel_.waitingTicket_ = 0;
  if (gaveUp) {
    // Every page waiting now would wait for the same stalled player.
    channel_.gaveUpCovers_ = channel_.asks_;
  } else if (publish && covers > channel_.answerCovers_) {
    channel_.answer_ = answer;
    channel_.answerCovers_ = covers;
  }
  channel_.roundOpen_ = false;
  channel_.roundNews_.notify_all();
}

}  // namespace ambervox
