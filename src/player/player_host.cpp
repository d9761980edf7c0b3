#include "player/player_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <new>

#include "platform/lock.h"
#include "platform/threads.h"
#include "player/player_messages.h"

namespace ambervox {
namespace {

// Set when a read-only question of this thread gave up on the player.
thread_local bool playerStalled = false;

// The player answers every file and title question in one buffer, which the
// next such answer overwrites, whichever thread asked. Each question takes a
// ticket before it asks; a copy made after another question took a ticket
// may hold that question's answer, and is asked for again. This is sure for
// the way the plug-in asks: from the player's own thread (whose question is
// answered and copied before any other thread's can be answered) and from
// one other thread at a time (the cache rebuild).
std::atomic<unsigned> textTickets{0};
// The same for the wide answers (213, 214), which share another buffer.
std::atomic<unsigned> wideTextTickets{0};
// Beyond this many tries the last copy is kept.
constexpr int kTextTries = 64;

// The batches whose senders wait for an answer. The batch message carries an
// address, and any process can send a registered message to the player's
// window: the answerer writes only into a batch announced here, so a message
// from elsewhere, with whatever lParam, is answered 0 and touches nothing.
// A few slots, taken without a lock; a sender that finds none free asks
// entry by entry.
constexpr int kBatchSlots = 8;
std::atomic<const PlaylistBatch*> announcedBatches[kBatchSlots] = {};

bool IsAnnounced(const PlaylistBatch* batch) {
  for (const auto& slot : announcedBatches) {
    if (slot.load() == batch) return true;
  }
  return false;
}

// The snapshot message's name: private to this module, which both sends it
// and answers it (through the plug-in's hook).
constexpr const char kPlayerSnapshotMessageName[] =
    "Ambervox.PlayerSnapshot.1F6B2D40-8C3A-4E95-A7D2-3B9E0C51F6A4";

// Where the hook puts a snapshot for the thread that asked. A slot's state is
// one word, (ticket << 2) | phase, or 0 when the slot is free; each claim
// takes a new ticket, so a message meant for an earlier claim of the same
// slot (a sender that gave up and went on) no longer matches. The answer is
// written only between kSnapshotAnswering and kSnapshotAnswered, by the one
// thread whose compare-exchange took the slot from kSnapshotWaiting, and read
// by the sender only after it saw kSnapshotAnswered.
enum SnapshotPhase : std::uint32_t { kSnapshotWaiting = 1, kSnapshotAnswering = 2, kSnapshotAnswered = 3 };
struct SnapshotSlot {
  std::atomic<std::uint32_t> word{0};
  PlayerSnapshot answer;
  // The answer was begun after every ask up to this number (snapshotAsks).
  std::uint64_t covers = 0;
};
constexpr int kSnapshotSlotBits = 3;
constexpr int kSnapshotSlots = 1 << kSnapshotSlotBits;
// Tickets fit into lParam beside the slot number, also where it has 32
// bits, and into the word beside the phase.
constexpr std::uint32_t kSnapshotTicketMask = (1u << 28) - 1;
SnapshotSlot snapshotSlots[kSnapshotSlots];
std::atomic<std::uint32_t> snapshotTickets{0};

std::uint32_t SnapshotWord(std::uint32_t ticket, SnapshotPhase phase) { return (ticket << 2) | phase; }

// Pages that want the player's state at the same moment share one message.
// Every ask takes the next number; an answer records the highest number
// taken before its first question was asked, and serves every ask up to it:
// the state it reports was read after each of those pages had begun. An ask
// that comes while another page's message is on its way waits for that
// answer, and sends the next message itself when the answer was begun too
// early for it. So the player's thread answers one message per round however
// many pages ask, and each page still shows the state after it began.
std::atomic<std::uint64_t> snapshotAsks{0};
struct SnapshotSharing {
  Lock lock;
  std::condition_variable answered;
  // A page's message is on its way, to `window`.
  bool sending GUARDED_BY(lock) = false;
  platform::WindowHandle window GUARDED_BY(lock) = nullptr;
  // The last answer from `window`, and the asks it serves.
  PlayerSnapshot answer GUARDED_BY(lock);
  std::uint64_t answerCovers GUARDED_BY(lock) = 0;
  // The asks that were waiting when a sender gave up on a stalled player.
  std::uint64_t gaveUpCovers GUARDED_BY(lock) = 0;
};
// Made once and never destroyed: connection threads may still ask while the
// process ends.
SnapshotSharing& Sharing() {
  static SnapshotSharing* sharing = new SnapshotSharing;
  return *sharing;
}

// Frees a claimed slot. If the hook took it meanwhile (it answers a message
// that came late, or one a stranger sent with this slot's number and
// ticket), its answer is being written: the slot is freed when it is done.
void ReleaseSnapshotSlot(SnapshotSlot& slot, std::uint32_t ticket) {
  std::uint32_t expected = SnapshotWord(ticket, kSnapshotWaiting);
  if (slot.word.compare_exchange_strong(expected, 0)) return;
  while (slot.word.load() != SnapshotWord(ticket, kSnapshotAnswered)) platform::SleepMilliseconds(1);
  slot.word.store(0);
}

}  // namespace

void PlayerHost::ForgetStall() { playerStalled = false; }

bool PlayerHost::HasStalled() { return playerStalled; }

std::intptr_t PlayerHost::Ask(std::uintptr_t wParam, std::intptr_t code, std::intptr_t unknown) const {
  if (window_ == nullptr) return 0;
  if (patience_ == Patience::kWaitForAnswers) return platform::SendWindowMessage(window_, platform::kMsgUser, wParam, code);
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

bool PlayerHost::CopyText(std::intptr_t code, int index, ByteString& text) const {
  for (int attempt = 1;; ++attempt) {
    const unsigned ticket = ++textTickets;
    const char* address = reinterpret_cast<const char*>(Ask(static_cast<std::uintptr_t>(index), code, 0));
    // The text belongs to the player and may change with its next answer, so
    // it is copied before anything else is asked.
    bool copied = true;
    try {
      text = ByteString(address);
    } catch (const ByteStringError&) {
      copied = false;
    } catch (const std::bad_alloc&) {
      copied = false;
    }
    if (!copied) return false;
    if (textTickets.load() == ticket || attempt == kTextTries) return true;
  }
}

bool PlayerHost::GetPlaylistTitleWide(int index, std::u16string& text) const {
  for (int attempt = 1;; ++attempt) {
    const unsigned ticket = ++wideTextTickets;
    const char16_t* address =
        reinterpret_cast<const char16_t*>(Ask(static_cast<std::uintptr_t>(index), kIpcGetPlaylistTitleWide, 0));
    if (address == nullptr) return false;
    // Copied at once, as the narrow texts are.
    std::u16string copy(address);
    if (wideTextTickets.load() == ticket || attempt == kTextTries) {
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
  if (window_ == nullptr || patience_ != Patience::kWaitForAnswers) return false;
  // The batch's address means nothing in another process.
  if (!platform::IsWindowOfThisProcess(window_)) return false;
  const std::uint32_t message = PlaylistBatchMessage();
  if (message == 0) return false;
  std::atomic<const PlaylistBatch*>* slot = nullptr;
  for (auto& candidate : announcedBatches) {
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

std::intptr_t PlayerHost::AnswerPlaylistBatch(platform::WindowHandle playerWindow, std::intptr_t lParam) {
  auto* batch = reinterpret_cast<PlaylistBatch*>(lParam);
  if (batch == nullptr || !IsAnnounced(batch)) return 0;
  batch->answered = 0;
  // The answers below overwrite the player's shared buffers: another
  // thread's question answered before this batch and not yet copied is
  // asked again.
  ++textTickets;
  ++wideTextTickets;
  const int wanted = std::clamp(batch->count, 0, static_cast<int>(batch->entries.size()));
  std::size_t used = 0;
  for (int k = 0; k < wanted; ++k) {
    // An entry that does not fit whole is left to the next batch.
    if (!AnswerEntry(playerWindow, batch->first + k, *batch, &used, batch->entries[static_cast<std::size_t>(k)])) break;
    batch->answered = k + 1;
  }
  return kPlaylistBatchAnswered;
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
  // A stalled thread's questions answer "unknown" at once, as asked singly.
  if (window_ == nullptr || (patience_ == Patience::kLimited && playerStalled)) return AskPlayerSnapshot();
  // The player's own thread calls the window directly and must never wait for
  // another thread's message to it; a host that waits for every answer has
  // no give-up to share.
  if (patience_ == Patience::kWaitForAnswers || platform::IsWindowOfThisThread(window_)) {
    return SendPlayerSnapshot(nullptr);
  }
  SnapshotSharing& sharing = Sharing();
  LockHolder hold(sharing.lock);
  const std::uint64_t ask = ++snapshotAsks;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerLimitMs);
  while (sharing.sending) {
    if (sharing.window != window_) {
      // Another player window's message (tests have several): no sharing.
      hold.Unlock();
      PlayerSnapshot alone = SendPlayerSnapshot(nullptr);
      hold.Relock();
      return alone;
    }
    if (!hold.WaitUntil(sharing.answered, deadline)) {
      // The sender has not had an answer within the limit either.
      playerStalled = true;
      return PlayerSnapshot();
    }
    if (sharing.window != window_) continue;
    if (sharing.answerCovers >= ask) return sharing.answer;
    if (sharing.gaveUpCovers >= ask) {
      playerStalled = true;
      return PlayerSnapshot();
    }
  }
  if (sharing.window != window_) {
    sharing.window = window_;
    sharing.answerCovers = 0;
    sharing.gaveUpCovers = 0;
  }
  sharing.sending = true;
  hold.Unlock();
  std::uint64_t covers = 0;
  PlayerSnapshot snapshot;
  try {
    snapshot = SendPlayerSnapshot(&covers);
  } catch (...) {
    hold.Relock();
    sharing.sending = false;
    sharing.answered.notify_all();
    throw;
  }
  hold.Relock();
  sharing.sending = false;
  if (playerStalled) {
    // Every page waiting now would wait for the same stalled player.
    sharing.gaveUpCovers = snapshotAsks.load();
  } else if (covers > sharing.answerCovers) {
    sharing.answer = snapshot;
    sharing.answerCovers = covers;
  }
  sharing.answered.notify_all();
  return snapshot;
}

PlayerSnapshot PlayerHost::SendPlayerSnapshot(std::uint64_t* covers) const {
  std::uint64_t unused = 0;
  if (covers == nullptr) covers = &unused;
  // Asked one by one, the answer is begun now.
  *covers = snapshotAsks.load();
  // Only this module's hook answers the message, and only in this process.
  const std::uint32_t message = PlayerSnapshotMessage();
  if (message == 0 || !platform::IsWindowOfThisProcess(window_)) return AskPlayerSnapshot();
  std::uint32_t ticket = 0;
  while (ticket == 0) ticket = ++snapshotTickets & kSnapshotTicketMask;
  int slotNumber = 0;
  for (; slotNumber < kSnapshotSlots; ++slotNumber) {
    std::uint32_t expected = 0;
    if (snapshotSlots[slotNumber].word.compare_exchange_strong(expected, SnapshotWord(ticket, kSnapshotWaiting))) {
      break;
    }
  }
  // Every slot is taken by other pages: this one asks singly.
  if (slotNumber == kSnapshotSlots) return AskPlayerSnapshot();
  SnapshotSlot& slot = snapshotSlots[slotNumber];
  const auto code = static_cast<std::intptr_t>((ticket << kSnapshotSlotBits) | static_cast<std::uint32_t>(slotNumber));
  std::intptr_t answer = 0;
  if (patience_ == Patience::kWaitForAnswers) {
    answer = platform::SendWindowMessage(window_, message, 0, code);
  } else if (!platform::SendWindowMessageTimeout(window_, message, 0, code, kAnswerLimitMs, &answer)) {
    // Gave up on the player, as a single question does: every value unknown.
    // A late answer finds the slot no longer waiting and writes nothing.
    playerStalled = true;
    ReleaseSnapshotSlot(slot, ticket);
    return PlayerSnapshot();
  }
  if (answer == kPlayerSnapshotAnswered && slot.word.load() == SnapshotWord(ticket, kSnapshotAnswered)) {
    const PlayerSnapshot snapshot = slot.answer;
    *covers = slot.covers;
    slot.word.store(0);
    return snapshot;
  }
  // No hook on the window (or not any more): the questions one by one.
  ReleaseSnapshotSlot(slot, ticket);
  *covers = snapshotAsks.load();
  return AskPlayerSnapshot();
}

std::intptr_t PlayerHost::AnswerPlayerSnapshot(platform::WindowHandle playerWindow, std::intptr_t lParam) {
  const auto code = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam));
  const std::uint32_t ticket = (code >> kSnapshotSlotBits) & kSnapshotTicketMask;
  SnapshotSlot& slot = snapshotSlots[code & (kSnapshotSlots - 1)];
  std::uint32_t expected = SnapshotWord(ticket, kSnapshotWaiting);
  if (ticket == 0 || !slot.word.compare_exchange_strong(expected, SnapshotWord(ticket, kSnapshotAnswering))) return 0;
  // Every page that has asked so far began before the first question below.
  slot.covers = snapshotAsks.load();
  // The player's window belongs to this thread: each question is a direct
  // call, asked in the order of AskPlayerSnapshot.
  const auto ask = [playerWindow](std::uintptr_t wParam, std::intptr_t ipc) {
    return static_cast<int>(platform::SendWindowMessage(playerWindow, platform::kMsgUser, wParam, ipc));
  };
  slot.answer.playlistPosition = ask(0, kIpcGetPlaylistPosition);
  slot.answer.time.lengthSeconds = ask(kOutputTimeLengthSeconds, kIpcGetOutputTime);
  slot.answer.time.positionMs = ask(kOutputTimePositionMs, kIpcGetOutputTime);
  slot.word.store(SnapshotWord(ticket, kSnapshotAnswered));
  return kPlayerSnapshotAnswered;
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
