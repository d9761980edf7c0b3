#include "simulated_player.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/lock.h"
#include "player/player_messages.h"

namespace ambervox {

// The size of the shared text buffer, as the player's (MAX_PATH and more).
constexpr std::size_t kTextBufferSize = 4096;

// The state lives in a shared core so that a message being answered on the
// window's thread keeps it alive even if the player is destroyed meanwhile.
struct SimulatedPlayer::Core {
  mutable Lock lock;
  // Every playlist ever set, the current one last.
  std::vector<std::unique_ptr<const std::vector<SimulatedEntry>>> playlists GUARDED_BY(lock);
  const std::vector<SimulatedEntry>* current GUARDED_BY(lock) = nullptr;
  // The one buffer that every 211/212 answer is copied into, as the player
  // has: never freed, so a caller that copies late reads a newer text, never
  // freed memory.
  char sharedText[kTextBufferSize] = {};
  // The same for every 213/214 answer.
  char16_t sharedWideText[kTextBufferSize] = {};
  platform::WindowHandle dialogParent GUARDED_BY(lock) = nullptr;
  int position GUARDED_BY(lock) = 0;
  PlayState state GUARDED_BY(lock) = PlayState::kStopped;
  int elapsedMs GUARDED_BY(lock) = 0;
  std::vector<std::string> commands GUARDED_BY(lock);
  int messageCount GUARDED_BY(lock) = 0;
  Observer observer GUARDED_BY(lock);
  platform::WindowHandle window GUARDED_BY(lock) = nullptr;

  int Length() const REQUIRES(lock) { return static_cast<int>(current->size()); }
  bool HasEntry(int i) const REQUIRES(lock) { return i >= 0 && i < Length(); }
  void SetPlaylist(std::vector<SimulatedEntry> playlist) REQUIRES(lock);
  // Makes `playlist` current without touching position or state.
  void ReplaceEntries(std::vector<SimulatedEntry> playlist) REQUIRES(lock);
  // Copies `text` into the shared buffer; its address, or 0 without a text.
  std::intptr_t SharedText(const std::optional<std::string>& text) REQUIRES(lock);
  std::intptr_t SharedWideText(const std::optional<std::u16string>& text) REQUIRES(lock);
  // Moves one entry back or forward, wrapping at the ends.
  void Step(int direction) REQUIRES(lock);
  void SongEnded() REQUIRES(lock);
  std::intptr_t Answer(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) REQUIRES(lock);
};

namespace {

bool IsPlayerMessage(std::uint32_t message, std::uintptr_t wParam) {
  if (message == platform::kMsgUser || message == kMsgSongEnded) return true;
  return message == platform::kMsgCommand && wParam >= kCommandPrevious && wParam <= kCommandNext;
}

}  // namespace

// Which core answers which window. Process-wide because a window procedure
// receives nothing but the window.
class SimulatedPlayer::Registry {
 public:
  static Registry& Instance() {
    static Registry registry;
    return registry;
  }
  void Set(platform::WindowHandle window, const std::shared_ptr<Core>& core) {
    LockHolder hold(lock_);
    EraseIf([&](const Binding& b) { return b.first == window || b.second == core; });
    if (window != nullptr) bindings_.emplace_back(window, core);
  }
  void Remove(const Core* core) {
    LockHolder hold(lock_);
    EraseIf([&](const Binding& b) { return b.second.get() == core; });
  }
  std::shared_ptr<Core> Find(platform::WindowHandle window) {
    LockHolder hold(lock_);
    for (const auto& binding : bindings_) {
      if (binding.first == window) return binding.second;
    }
    return nullptr;
  }

 private:
  using Binding = std::pair<platform::WindowHandle, std::shared_ptr<Core>>;
  template <typename Predicate>
  void EraseIf(Predicate predicate) REQUIRES(lock_) {
    bindings_.erase(std::remove_if(bindings_.begin(), bindings_.end(), predicate), bindings_.end());
  }

  Lock lock_;
  std::vector<Binding> bindings_ GUARDED_BY(lock_);
};

void SimulatedPlayer::Core::SetPlaylist(std::vector<SimulatedEntry> playlist) {
  playlists.push_back(std::make_unique<const std::vector<SimulatedEntry>>(std::move(playlist)));
  current = playlists.back().get();
  position = 0;
  state = PlayState::kStopped;
  elapsedMs = 0;
}

void SimulatedPlayer::Core::ReplaceEntries(std::vector<SimulatedEntry> playlist) {
  playlists.push_back(std::make_unique<const std::vector<SimulatedEntry>>(std::move(playlist)));
  current = playlists.back().get();
}

std::intptr_t SimulatedPlayer::Core::SharedText(const std::optional<std::string>& text) {
  if (!text) return 0;
  const std::size_t length = std::min(text->size(), kTextBufferSize - 1);
  std::memcpy(sharedText, text->data(), length);
  sharedText[length] = '\0';
  return reinterpret_cast<std::intptr_t>(sharedText);
}

std::intptr_t SimulatedPlayer::Core::SharedWideText(const std::optional<std::u16string>& text) {
  if (!text) return 0;
  const std::size_t length = std::min(text->size(), kTextBufferSize - 1);
  std::copy(text->data(), text->data() + length, sharedWideText);
  sharedWideText[length] = u'\0';
  return reinterpret_cast<std::intptr_t>(sharedWideText);
}

void SimulatedPlayer::Core::Step(int direction) {
  const int n = Length();
  if (n == 0) return;
  int from = HasEntry(position) ? position : 0;
  position = ((from + direction) % n + n) % n;
  elapsedMs = 0;
}

void SimulatedPlayer::Core::SongEnded() {
  elapsedMs = 0;
  if (HasEntry(position + 1)) {
    ++position;
    state = PlayState::kPlaying;
  } else {
    state = PlayState::kStopped;
  }
}

std::intptr_t SimulatedPlayer::Core::Answer(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  ++messageCount;
  const int index = static_cast<int>(wParam);
  if (message == kMsgSongEnded) {
    SongEnded();
    return 0;
  }
  if (message == platform::kMsgCommand) {
    switch (wParam) {
      case kCommandPrevious:
        commands.push_back("prev");
        Step(-1);
        break;
      case kCommandPlay:
        commands.push_back("play");
        if (HasEntry(position)) {
          state = PlayState::kPlaying;
          elapsedMs = 0;
        }
        break;
      case kCommandPause:
        commands.push_back("pause");
        if (state == PlayState::kPlaying) {
          state = PlayState::kPaused;
        } else if (state == PlayState::kPaused) {
          state = PlayState::kPlaying;
        }
        break;
      case kCommandStop:
        commands.push_back("stop");
        state = PlayState::kStopped;
        elapsedMs = 0;
        break;
      case kCommandNext:
        commands.push_back("next");
        Step(1);
        break;
    }
    return 0;
  }
  switch (lParam) {
    case kIpcGetPlaylistLength:
      return Length();
    case kIpcGetPlaylistPosition:
      return position;
    case kIpcGetPlaylistFile:
      return HasEntry(index) ? SharedText((*current)[index].filePath) : 0;
    case kIpcGetPlaylistTitle:
      return HasEntry(index) ? SharedText((*current)[index].title) : 0;
    case kIpcGetPlaylistFileWide:
      return HasEntry(index) ? SharedWideText((*current)[index].wideFilePath) : 0;
    case kIpcGetPlaylistTitleWide:
      return HasEntry(index) ? SharedWideText((*current)[index].wideTitle) : 0;
    case kIpcGetDialogParent:
      return reinterpret_cast<std::intptr_t>(dialogParent);
    case kIpcSetPlaylistPosition:
      // The position moves only to an entry that exists; the request is
      // recorded either way, so that what was asked can be checked.
      commands.push_back("set-position:" + std::to_string(index));
      if (HasEntry(index)) position = index;
      return 0;
    case kIpcGetOutputTime:
      if (wParam == kOutputTimeLengthSeconds) return HasEntry(position) ? (*current)[position].lengthSeconds : -1;
      if (wParam == kOutputTimeLengthMs) return HasEntry(position) ? (*current)[position].lengthSeconds * 1000 : -1;
      if (wParam == kOutputTimePositionMs) return state == PlayState::kStopped ? -1 : elapsedMs;
      return -1;
    default:
      return 0;
  }
}

SimulatedPlayer::SimulatedPlayer(std::vector<SimulatedEntry> playlist) : core_(std::make_shared<Core>()) {
  LockHolder hold(core_->lock);
  core_->SetPlaylist(std::move(playlist));
}

SimulatedPlayer::~SimulatedPlayer() { Detach(); }

void SimulatedPlayer::Attach(platform::WindowHandle window) {
  Registry::Instance().Set(window, core_);
  LockHolder hold(core_->lock);
  core_->window = window;
}

void SimulatedPlayer::Detach() {
  Registry::Instance().Remove(core_.get());
  LockHolder hold(core_->lock);
  core_->window = nullptr;
}

platform::WindowHandle SimulatedPlayer::Window() const {
  LockHolder hold(core_->lock);
  return core_->window;
}

std::intptr_t SimulatedPlayer::WindowProcedure(platform::WindowHandle window, std::uint32_t message,
                                               std::uintptr_t wParam, std::intptr_t lParam) {
  std::shared_ptr<Core> core;
  if (IsPlayerMessage(message, wParam)) core = Registry::Instance().Find(window);
  if (!core) return platform::DefaultWindowProc(window, message, wParam, lParam);
  // No exception may leave a window procedure: a message that cannot be
  // answered (memory exhausted while recording it) is answered 0.
  try {
    Observer observer;
    {
      LockHolder hold(core->lock);
      observer = core->observer;
    }
    // Without the lock: an observer may read the player's state, or wait for
    // something that a sender holds (which is what some tests look for).
    if (observer) observer(message, wParam, lParam);
    LockHolder hold(core->lock);
    return core->Answer(message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

void SimulatedPlayer::SetPlaylist(std::vector<SimulatedEntry> playlist) {
  LockHolder hold(core_->lock);
  core_->SetPlaylist(std::move(playlist));
}

bool SimulatedPlayer::RemoveEntry(int index) {
  LockHolder hold(core_->lock);
  if (!core_->HasEntry(index)) return false;
  std::vector<SimulatedEntry> entries = *core_->current;
  entries.erase(entries.begin() + index);
  core_->ReplaceEntries(std::move(entries));
  if (index < core_->position) --core_->position;
  if (!core_->HasEntry(core_->position)) {
    core_->position = 0;
    core_->state = PlayState::kStopped;
    core_->elapsedMs = 0;
  }
  return true;
}

bool SimulatedPlayer::MoveEntry(int from, int to) {
  LockHolder hold(core_->lock);
  if (!core_->HasEntry(from) || !core_->HasEntry(to)) return false;
  std::vector<SimulatedEntry> entries = *core_->current;
  SimulatedEntry moved = std::move(entries[static_cast<std::size_t>(from)]);
  entries.erase(entries.begin() + from);
  entries.insert(entries.begin() + to, std::move(moved));
  core_->ReplaceEntries(std::move(entries));
  int& position = core_->position;
  if (position == from) {
    position = to;
  } else if (from < position && to >= position) {
    --position;
  } else if (from > position && to <= position) {
    ++position;
  }
  return true;
}

void SimulatedPlayer::SetDialogParent(platform::WindowHandle window) {
  LockHolder hold(core_->lock);
  core_->dialogParent = window;
}

int SimulatedPlayer::PlaylistLength() const {
  LockHolder hold(core_->lock);
  return core_->Length();
}

int SimulatedPlayer::Position() const {
  LockHolder hold(core_->lock);
  return core_->position;
}

void SimulatedPlayer::SetPosition(int position) {
  LockHolder hold(core_->lock);
  core_->position = position;
}

PlayState SimulatedPlayer::State() const {
  LockHolder hold(core_->lock);
  return core_->state;
}

int SimulatedPlayer::ElapsedMs() const {
  LockHolder hold(core_->lock);
  return core_->elapsedMs;
}

void SimulatedPlayer::SetElapsedMs(int elapsedMs) {
  LockHolder hold(core_->lock);
  core_->elapsedMs = elapsedMs;
}

bool SimulatedPlayer::AdvanceClock(int ms) {
  LockHolder hold(core_->lock);
  if (core_->state != PlayState::kPlaying || !core_->HasEntry(core_->position)) return false;
  core_->elapsedMs += ms;
  return core_->elapsedMs >= (*core_->current)[core_->position].lengthSeconds * 1000;
}

int SimulatedPlayer::CurrentLengthSeconds() const {
  LockHolder hold(core_->lock);
  return core_->HasEntry(core_->position) ? (*core_->current)[core_->position].lengthSeconds : -1;
}

std::vector<std::string> SimulatedPlayer::TakeCommands() {
  LockHolder hold(core_->lock);
  std::vector<std::string> taken;
  taken.swap(core_->commands);
  return taken;
}

std::vector<std::string> SimulatedPlayer::Commands() const {
  LockHolder hold(core_->lock);
  return core_->commands;
}

int SimulatedPlayer::MessageCount() const {
  LockHolder hold(core_->lock);
  return core_->messageCount;
}

void SimulatedPlayer::SetObserver(Observer observer) {
  LockHolder hold(core_->lock);
  core_->observer = std::move(observer);
}

}  // namespace ambervox
