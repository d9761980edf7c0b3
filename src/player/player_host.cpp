#include "player/player_host.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/threads.h"
#include "player/player_messages.h"

namespace ambervox {
namespace {

// Set when a read-only question of this thread gave up on the player: the
// one per-thread state of the player's messages (see player_host.h).
thread_local bool playerStalled = false;

// Beyond this many tries of a text question the last copy is kept.
constexpr int kTextTries = 64;

// The snapshot message's name: private to this module, which both sends it
// and answers it (through the plug-in's hook).
constexpr const char kPlayerSnapshotMessageName[] = "Ambervox.PlayerSnapshot.1F6B2D40-8C3A-4E95-A7D2-3B9E0C51F6A4";

}  // namespace

void PlayerHost::ForgetStall() { playerStalled = false; }

bool PlayerHost::HasStalled() { return playerStalled; }

std::intptr_t PlayerHost::Ask(std::uintptr_t wParam, std::intptr_t code, std::intptr_t unknown) const {
  if (window_ == nullptr) return 0;
  if (patience_ == Patience::kWaitForAnswers)
    return platform::SendWindowMessage(window_, platform::kMsgUser, wParam, code);
  if (playerStalled) return unknown;
  std::intptr_t answer = 0;
  if (platform::SendWindowMessageTimeout(window_, platform::kMsgUser, wParam, code, kAnswerLimitMs, &answer)) {
    return answer;
  }
  playerStalled = true;
  return unknown;
}

std::intptr_t PlayerHost::Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const {
  if (window_ == nullptr) return 0;
  return platform::SendWindowMessage(window_, message, wParam, lParam);
}

int PlayerHost::GetPlaylistLength() const { return static_cast<int>(Ask(0, kIpcGetPlaylistLength, 0)); }

int PlayerHost::GetPlaylistPosition() const { return static_cast<int>(Ask(0, kIpcGetPlaylistPosition, -1)); }

namespace {

// The ticket a text question takes before it asks (0 without a channel).
unsigned TakeTicket(std::atomic<unsigned>* tickets) { return tickets != nullptr ? ++*tickets : 0; }

// Whether a copy made under `ticket` can be kept: no other text question
// took a ticket since. The player answers every file and title question in
// one buffer, whichever thread asked, so a later question may have
// overwritten it before the copy. This is sure for the way the plug-in asks:
// from the player's own thread (whose question is answered and copied before
// any other thread's can be answered) and from one other thread at a time
// (the cache rebuild). Without a channel there is no other asker to fear.
bool KeepCopy(std::atomic<unsigned>* tickets, unsigned ticket, int attempt) {
  return tickets == nullptr || tickets->load() == ticket || attempt == kTextTries;
}

}  // namespace

bool PlayerHost::CopyText(std::intptr_t code, int index, ByteString& text) const {
  std::atomic<unsigned>* tickets = channel_ != nullptr ? &channel_->textTickets_ : nullptr;
  for (int attempt = 1;; ++attempt) {
    const unsigned ticket = TakeTicket(tickets);
    const char* address = reinterpret_cast<const char*>(Ask(static_cast<std::uintptr_t>(index), code, 0));
    // The text belongs to the player and may change with its next answer, so
    // it is copied before anything else is asked.
    bool copied = true;
    try {
      text = ByteString(address);
    } catch (const std::bad_alloc&) {
      copied = false;
    }
    if (!copied) return false;
    if (KeepCopy(tickets, ticket, attempt)) return true;
  }
}

bool PlayerHost::GetPlaylistTitleWide(int index, std::u16string& text) const {
  std::atomic<unsigned>* tickets = channel_ != nullptr ? &channel_->wideTextTickets_ : nullptr;
  for (int attempt = 1;; ++attempt) {
    const unsigned ticket = TakeTicket(tickets);
    const char16_t* address =
        reinterpret_cast<const char16_t*>(Ask(static_cast<std::uintptr_t>(index), kIpcGetPlaylistTitleWide, 0));
    if (address == nullptr) return false;
    // Copied at once, as the narrow texts are.
    std::u16string copy(address);
    if (KeepCopy(tickets, ticket, attempt)) {
      text.swap(copy);
      return true;
    }
  }
}

bool PlayerHost::GetPlaylistFile(int index, ByteString& text) const {
  return CopyText(kIpcGetPlaylistFile, index, text);
}

bool PlayerHost::GetPlaylistTitle(int index, ByteString& text) const {
  return CopyText(kIpcGetPlaylistTitle, index, text);
}

std::uint32_t PlayerHost::PlaylistBatchMessage() {
  static const std::uint32_t message = platform::RegisterMessageName(kPlaylistBatchMessageName);
  return message;
}

bool PlayerHost::GetPlaylistBatch(PlaylistBatch& batch) const {
  batch.answered = 0;
  if (window_ == nullptr || channel_ == nullptr || patience_ != Patience::kWaitForAnswers) return false;
  // The batch's address means nothing in another process.
  if (!platform::IsWindowOfThisProcess(window_)) return false;
  const std::uint32_t message = PlaylistBatchMessage();
  if (message == 0) return false;
  std::atomic<const PlaylistBatch*>* slot = nullptr;
  for (auto& candidate : channel_->announcedBatches_) {
    const PlaylistBatch* expected = nullptr;
    if (candidate.compare_exchange_strong(expected, &batch)) {
      slot = &candidate;
      break;
    }
  }
  if (slot == nullptr) return false;
  const std::intptr_t answer = Send(message, 0, reinterpret_cast<std::intptr_t>(&batch));
  slot->store(nullptr);
  if (answer != kPlaylistBatchAnswered) return false;
  batch.answered = std::clamp(batch.answered, 0, std::min(batch.count, static_cast<int>(batch.entries.size())));
  return true;
}

void PlayerHost::SetPlaylistPosition(int index) const {
  Send(platform::kMsgUser, static_cast<std::uintptr_t>(index), kIpcSetPlaylistPosition);
}

PlayingTime PlayerHost::GetPlayingTime() const {
  PlayingTime time;
  time.lengthSeconds = static_cast<int>(Ask(kOutputTimeLengthSeconds, kIpcGetOutputTime, 0));
  time.positionMs = static_cast<int>(Ask(kOutputTimePositionMs, kIpcGetOutputTime, 0));
  return time;
}

PlayerSnapshot PlayerHost::AskPlayerSnapshot() const {
  PlayerSnapshot snapshot;
  snapshot.playlistPosition = GetPlaylistPosition();
  snapshot.time = GetPlayingTime();
  return snapshot;
}

std::uint32_t PlayerHost::PlayerSnapshotMessage() {
  static const std::uint32_t message = platform::RegisterMessageName(kPlayerSnapshotMessageName);
  return message;
}

PlayerSnapshot PlayerHost::GetPlayerSnapshot() const {
  const bool limited = patience_ == Patience::kLimited;
  // A stalled thread's questions answer "unknown" at once, as asked singly.
  // Without a channel there is no message and nothing to share. The
  // player's own thread calls its window directly, as the hook would, and
  // must never wait for another thread's message to it.
  if (window_ == nullptr || channel_ == nullptr || (limited && playerStalled) ||
      platform::IsWindowOfThisThread(window_)) {
    return AskPlayerSnapshot();
  }
  std::uint64_t ask = 0;
  PlayerSnapshot shared;
  switch (channel_->JoinRound(limited, &ask, &shared)) {
    case PlayerChannel::Turn::kServed:
      return shared;
    case PlayerChannel::Turn::kGaveUp:
      playerStalled = true;
      return PlayerSnapshot();
    case PlayerChannel::Turn::kSend:
      break;
  }
  return SendSnapshotRound(ask);
}

PlayerSnapshot PlayerHost::SendSnapshotRound(std::uint64_t ask) const {
  PlayerChannel::RoundEnd end(*channel_);
  const bool limited = patience_ == Patience::kLimited;
  std::intptr_t answer = 0;
  // Only this module's hook answers the message, and only in this process.
  const std::uint32_t message = PlayerSnapshotMessage();
  if (message != 0 && platform::IsWindowOfThisProcess(window_)) {
    const auto ticket = static_cast<std::intptr_t>(channel_->AwaitAnswer());
    if (!limited) {
      answer = platform::SendWindowMessage(window_, message, 0, ticket);
    } else if (!platform::SendWindowMessageTimeout(window_, message, 0, ticket, kAnswerLimitMs, &answer)) {
      // Gave up on the player, as a single question does: every value
      // unknown. The late answer finds no sender waiting and writes nothing.
      playerStalled = true;
      end.gaveUp = true;
      return PlayerSnapshot();
    }
  }
  PlayerSnapshot snapshot;
  if (channel_->TakeAnswer(ask, answer == kPlayerSnapshotAnswered, &snapshot, &end.covers)) return snapshot;
  // No hook on the window (or not any more): the questions one by one, begun
  // now, shared as the hook's answer is.
  snapshot = AskPlayerSnapshot();
  if (limited && playerStalled) {
    end.gaveUp = true;
  } else {
    end.publish = true;
    end.answer = snapshot;
  }
  return snapshot;
}

platform::WindowHandle PlayerHost::GetDialogParent() const {
  return reinterpret_cast<platform::WindowHandle>(Ask(0, kIpcGetDialogParent, 0));
}

void PlayerHost::PressPrevious() const { Send(platform::kMsgCommand, kCommandPrevious, 0); }
void PlayerHost::PressPlay() const { Send(platform::kMsgCommand, kCommandPlay, 0); }
void PlayerHost::PressPause() const { Send(platform::kMsgCommand, kCommandPause, 0); }
void PlayerHost::PressStop() const { Send(platform::kMsgCommand, kCommandStop, 0); }
void PlayerHost::PressNext() const { Send(platform::kMsgCommand, kCommandNext, 0); }

void PlayerHost::NotifySongEnded() const { Send(kMsgSongEnded, 0, 0); }

void PlayerHost::PlayIndex(int index) const {
  SetPlaylistPosition(index);
  PressPlay();
}

}  // namespace ambervox
