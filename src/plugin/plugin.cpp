#include "plugin/plugin.h"

#include <string>
#include <utility>

#include "common/number.h"
#include "platform/system.h"
#include "player/player_host.h"
#include "player/player_messages.h"
#include "plugin/plugin_record.h"
#include "plugin/process_limits.h"
#include "plugin/settings_dialog.h"
#include "plugin/settings_store.h"

namespace ambervox {
namespace {

// "サーバーの起動に失敗しました" in code page 932.
constexpr const char kStartFailureText[] =
    "\x83\x54\x81\x5b\x83\x6f\x81\x5b\x82\xcc\x8b\x4e\x93\xae\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5"
    "\x82\xbd";
// "プレイリストキャッシュ再構築完了\n" in code page 932.
constexpr const char kRefreshDoneText[] =
    "\x83\x76\x83\x8c\x83\x43\x83\x8a\x83\x58\x83\x67\x83\x4c\x83\x83\x83\x62\x83\x56\x83\x85\x8d\xc4\x8d\x5c"
    "\x92\x7a\x8a\xae\x97\xb9\n";

constexpr const char kDialogWindowClass[] = "#32770";
constexpr int kWindowTextBufferSize = 256;

// The settings sheet or message box that an earlier config entry still
// shows: a dialog window of this process with the plug-in's caption.
platform::WindowHandle FindOpenDialog() {
  for (platform::WindowHandle window = platform::FirstTopLevelWindow(); window != nullptr;
       window = platform::NextTopLevelWindow(window)) {
    if (!platform::IsWindowOfThisProcess(window)) continue;
    if (platform::GetWindowTitle(window, kWindowTextBufferSize) != kPluginDescription) continue;
    if (platform::GetWindowClass(window, kWindowTextBufferSize) != kDialogWindowClass) continue;
    return window;
  }
  return nullptr;
}

}  // namespace

std::atomic<Plugin*> Plugin::hooked_{nullptr};

Plugin::Plugin()
    : queue_(&cache_), site_(&queue_, &settings_, ProcessServerLimits()), server_(site_, ProcessServerLimits()) {
  // The admin page's "refreshcache" starts this plug-in's refresh.
  site_.SetCacheRefresher(this);
}

Plugin::~Plugin() {
  // Quit normally did all of this; a library unloaded without quit must
  // still not leave threads running on the objects about to go.
  quitting_.store(true);
  try {
    server_.Stop();
  } catch (...) {
  }
  WaitForRefresh();
  ReleaseHook();
}

int Plugin::Init(platform::WindowHandle hostWindow, const std::string& settingsPath) {
  hostWindow_ = hostWindow;
  channel_.emplace(hostWindow);
  queue_.SetPlayer(Player());
  cache_.SetPlayer(Player());
  refreshCompleteMessage_ = platform::RegisterMessageName(kRefreshCompleteMessageName);
  playlistBatchMessage_ = PlayerHost::PlaylistBatchMessage();
  playerSnapshotMessage_ = PlayerHost::PlayerSnapshotMessage();
  settingsPath_ = settingsPath;
  LoadSettings(settings_, queue_, settingsPath_);
  hooked_.store(this);
  hook_.Install(hostWindow, &Plugin::MainWindowHook);
  cache_.Rebuild();
  if (!server_.IsRunning() && !settings_.Disabled()) StartServer();
  return 0;
}

PlayerHost Plugin::Player(PlayerHost::Patience patience) {
  return channel_.has_value() ? PlayerHost(*channel_, patience) : PlayerHost();
}

platform::WindowHandle Plugin::DialogOwner() {
  // A player with the modern skin keeps its main window off-screen and names
  // the window that dialogs belong to; one that does not know the question
  // answers 0.
  platform::WindowHandle parent = Player().GetDialogParent();
  return parent != nullptr && platform::IsWindowValid(parent) ? parent : hostWindow_;
}

void Plugin::Configure() {
  // The player's preferences stay usable while the sheet is open, so the
  // entry can be called again from inside the sheet's own message loop: the
  // open sheet comes to the front instead of a second one.
  if (configuring_) {
    if (platform::WindowHandle open = FindOpenDialog()) platform::BringWindowToFront(open);
    return;
  }
  ConfigureGuard guard(&configuring_);
  const int notedPort = settings_.Port();
  SettingsDialogContext context;
  context.owner = DialogOwner();
  context.settings = &settings_;
  context.queue = &queue_;
  context.refresher = this;
  context.settingsPath = settingsPath_;
  SettingsSource source = SettingsSource::kEditedInDialog;
  if (!ShowSettingsDialog(context, &source)) return;
  if (source == SettingsSource::kEditedInDialog) SaveSettings(settings_, queue_, settingsPath_);
  if (settings_.Disabled()) {
    server_.Stop();
    return;
  }
  if (settings_.Port() != notedPort) server_.Stop();
  if (server_.IsRunning()) return;
  StartServer();
}

void Plugin::Quit() {
  quitting_.store(true);
  server_.Stop();
  // No connection is left to start a refresh; one that is still running
  // sends messages to this thread's window until it ends.
  WaitForRefresh();
  SaveSettings(settings_, queue_, settingsPath_);
  ReleaseHook();
}

void Plugin::ReleaseHook() {
  if (hook_.Restore()) {
    Plugin* self = this;
    hooked_.compare_exchange_strong(self, nullptr);
    return;
  }
  // Another plug-in subclassed the window after us and calls our hook as
  // its previous procedure: the hook stays reachable and only passes
  // messages on, and this module must never be unmapped under it.
  forwardOnly_.store(true);
  platform::PinModuleOf(reinterpret_cast<const void*>(&Plugin::MainWindowHook));
}

void Plugin::StartServer() {
  if (!server_.Start(settings_.Port())) {
    platform::ShowErrorMessageBox(DialogOwner(), kStartFailureText, kPluginDescription);
  }
}

bool Plugin::StartCacheRefresh(platform::WindowHandle notifyWindow) {
  LockHolder hold(refreshLock_);
  if (refreshRunning_) return false;
  // Recorded as running before the thread exists, and the handle recorded
  // before the lock is released: a refresh that completes at once still
  // finds itself recorded when the hook handles its completion, because the
  // thread takes this lock before it posts.
  refreshRunning_ = true;
  refreshNotifyWindow_ = notifyWindow;
  platform::ThreadHandle thread = platform::StartThread(&Plugin::RefreshThread, this, false, nullptr);
  if (thread == nullptr) {
    refreshRunning_ = false;
    refreshNotifyWindow_ = nullptr;
    return false;
  }
  refreshThread_ = platform::ScopedThread(thread);
  return true;
}

bool Plugin::IsRefreshRunning() const {
  LockHolder hold(refreshLock_);
  return refreshRunning_;
}

unsigned Plugin::RefreshThread(void* plugin) {
  static_cast<Plugin*>(plugin)->RunRefresh();
  return 0;
}

void Plugin::RunRefresh() {
  // Notices that come while this rebuild reads the playlist may not be in
  // what it reads: they mark the cache stale again for the next refresh.
  playlistChanged_.store(false);
  try {
    // Requests whose song left the playlist leave the queue with it.
    if (cache_.Rebuild()) queue_.FollowPlaylist();
  } catch (...) {
    // The previous content stays; the completion is reported all the same
    // so that the thread is joined and the button comes back.
  }
  platform::DebugOutput(kRefreshDoneText);
  platform::WindowHandle notifyWindow = nullptr;
  {
    LockHolder hold(refreshLock_);
    notifyWindow = refreshNotifyWindow_;
  }
  platform::PostWindowMessage(hostWindow_, refreshCompleteMessage_, 0, reinterpret_cast<std::intptr_t>(notifyWindow));
}

void Plugin::FinishCacheRefresh(std::intptr_t notifyWindow) {
  platform::ScopedThread thread;
  {
    LockHolder hold(refreshLock_);
    // Taken out of the record at once, so that a second completion message
    // handled while this one waits finds nothing to join.
    thread = std::move(refreshThread_);
  }
  if (!thread) return;
  // The thread has posted its completion, its last act: this wait is short
  // and needs no message handling. Handling sent messages here would let
  // anything run nested inside this hook, down to the player quitting and
  // unloading this module under our feet.
  thread.Join();
  {
    LockHolder hold(refreshLock_);
    refreshRunning_ = false;
    refreshNotifyWindow_ = nullptr;
  }
  auto window = reinterpret_cast<platform::WindowHandle>(notifyWindow);
  if (window != nullptr && platform::IsWindowValid(window)) {
    platform::EnableChildControl(window, kReloadButtonId, true);
  }
  if (playlistChanged_.load() && !quitting_.load()) StartCacheRefresh(nullptr);
}

void Plugin::PlaylistChanged() {
  if (quitting_.load()) return;
  playlistChanged_.store(true);
  // While a refresh runs this starts nothing; its completion does.
  StartCacheRefresh(nullptr);
}

void Plugin::WaitForRefresh() {
  platform::ScopedThread thread;
  {
    LockHolder hold(refreshLock_);
    thread = std::move(refreshThread_);
  }
  thread.JoinHandlingMessages();
  LockHolder hold(refreshLock_);
  refreshRunning_ = false;
  refreshNotifyWindow_ = nullptr;
}

std::intptr_t Plugin::MainWindowHook(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
  Plugin* self = hooked_.load();
  if (self == nullptr) return platform::DefaultWindowProc(window, message, wParam, lParam);
  return self->HandleHostMessage(window, message, wParam, lParam);
}

std::intptr_t Plugin::HandleHostMessage(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                        std::intptr_t lParam) {
  if (forwardOnly_.load()) return hook_.CallPrevious(window, message, wParam, lParam);
  try {
    if (message == kMsgSongEnded) {
      // Answered here, the player does not advance by itself.
      if (!settings_.Disabled() && queue_.PlayNext()) return 1;
    } else if (message == platform::kMsgUser && lParam == kIpcPlaylistModified) {
      PlaylistChanged();
    } else if (refreshCompleteMessage_ != 0 && message == refreshCompleteMessage_) {
      FinishCacheRefresh(lParam);
    } else if (playlistBatchMessage_ != 0 && message == playlistBatchMessage_) {
      // A cache rebuild (the refresh thread, or this thread at init) wants
      // many entries at once. Answered here, on the player's own thread,
      // into the batch the rebuild is waiting on.
      if (channel_.has_value()) return channel_->AnswerPlaylistBatch(lParam);
    } else if (playerSnapshotMessage_ != 0 && message == playerSnapshotMessage_) {
      // A page wants the player's state: three questions asked here in one
      // go instead of three round trips from the page's thread.
      if (channel_.has_value()) return channel_->AnswerPlayerSnapshot(lParam);
    }
  } catch (...) {
    // Nothing may unwind into the player; the message goes on as usual.
  }
  return hook_.CallPrevious(window, message, wParam, lParam);
}

}  // namespace ambervox
