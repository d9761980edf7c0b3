// Plugin: the plug-in's process-wide objects and what the player's entries
// do with them: init wires everything and starts the server, the config
// entry applies the settings dialog's outcome, quit stops and saves; the
// hook on the player's main window plays a waiting request when a song ends
// and answers the cache rebuild's playlist batches and the pages' player
// snapshots through the window's PlayerChannel, which the plug-in owns
// (player/player_channel.h, player/playlist_batch.h: one cross-thread send
// per batch of entries instead of two or three per entry); the cache is
// refreshed on a background thread on demand and whenever the player says
// its playlist changed.
//
// The library holds exactly one instance (plugin_export.cpp), constructed
// when the library is loaded and destroyed when it is unloaded; tests make
// their own, one at a time. The members are built in the order the web tier
// needs them (the player's channel, made by Init for the main window and
// reached by the PlayerHosts of the cache, the queue and the pages; settings
// with the skin texts, cache, queue given the cache, site given the queue
// and the settings, server given the site) and destroyed in reverse, after
// the destructor has stopped the server and joined any refresh thread, in
// case quit never ran.
//
// Threads: Init, Configure, Quit and MainWindowHook run on the player's
// user-interface thread (the thread that owns its main window).
// StartCacheRefresh is called from there (settings dialog) and from HTTP
// connection threads (admin page). `refreshLock_` guards the refresh record;
// it is held only for a few assignments and a thread start, never while a
// message is sent or a thread is waited for. The user-interface thread waits
// for a refresh thread only after that thread has finished its work (its
// completion message, then a plain join), or at quit while handling sent
// messages. Quit may come after the main window is gone (the player's own
// order) or from inside its procedure (session end); when another plug-in
// subclassed the window after us, the hook stays, passing messages on, and
// the module is pinned so that it stays callable.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "common/plugin_settings.h"
#include "http/http_server.h"
#include "pages/cache_refresher.h"
#include "pages/site_handler.h"
#include "platform/lock.h"
#include "platform/scoped_thread.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "player/player_channel.h"
#include "player/player_host.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"

namespace ambervox {

namespace testing {
class PluginProbe;
}  // namespace testing

// The registered window message that a finished refresh posts to the host
// main window.
constexpr const char kRefreshCompleteMessageName[] = "0E048D2B-9403-4c9d-9308-F0049B06EDA6";
// The settings dialog's reload button, enabled again when its refresh ends.
constexpr int kReloadButtonId = 1092;

class Plugin : public CacheRefresher {
 public:
  Plugin();
  ~Plugin() override;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // The init entry: `hostWindow` as the player put it into the record,
  // `settingsPath` the plugin.ini beside the library (SettingsPathOf its
  // module). Always 0; a server that cannot start is reported by a message
  // box.
  int Init(platform::WindowHandle hostWindow, const std::string& settingsPath);
  // The config entry: the settings dialog, then save, stop or restart as the
  // new values require.
  void Configure();
  // The quit entry: stop the server, wait for a running refresh, save, take
  // the hook off.
  void Quit();

  // Starts the background refresh of the cache; `notifyWindow` (may be null)
  // gets its reload button enabled when it has completed. False while one is
  // running or when no thread can be created. Any thread.
  bool StartCacheRefresh(platform::WindowHandle notifyWindow) override EXCLUDES(refreshLock_);
  // The procedure put in front of the host main window's own.
  static std::intptr_t MainWindowHook(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                      std::intptr_t lParam);

 private:
  // The tests look inside through PluginProbe
  // (tests/unit/plugin/plugin_test_support.h); nothing else needs to.
  friend class testing::PluginProbe;

  // True from a successful StartCacheRefresh until the hook has handled its
  // completion message. Any thread.
  bool IsRefreshRunning() const EXCLUDES(refreshLock_);
  // The player's main window through the plug-in's channel, as the cache,
  // the queue and the pages reach it (a host without a window before Init).
  PlayerHost Player(PlayerHost::Patience patience = PlayerHost::Patience::kLimited);
  static unsigned RefreshThread(void* plugin);
  void RunRefresh() EXCLUDES(refreshLock_);
  std::intptr_t HandleHostMessage(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam);
  // The completion message arrived: join and forget the thread, enable the
  // notify window's reload button, and start the next refresh when the
  // playlist changed after this one began reading it.
  void FinishCacheRefresh(std::intptr_t notifyWindow) EXCLUDES(refreshLock_);
  // The player's playlist changed: the cache is marked stale and a refresh
  // started unless one runs, which then starts the next when it completes.
  // A burst of notices costs one or two rebuilds. Never blocks.
  void PlaylistChanged() EXCLUDES(refreshLock_);
  // Quit and destruction: waits for a running refresh, handling the messages
  // it sends meanwhile, and forgets it.
  void WaitForRefresh() EXCLUDES(refreshLock_);
  // Starts the server on the configured port, as a 16-bit number; the
  // start-failure message box when it cannot.
  void StartServer();
  // The window that owns our dialogs: the one the player names for them,
  // else its main window.
  platform::WindowHandle DialogOwner();
  // Takes the hook off the main window, or, when another subclass sits on
  // top, leaves it passing messages on and pins this module.
  void ReleaseHook();

  // Marks the config entry as running for its scope.
  class ConfigureGuard {
   public:
    explicit ConfigureGuard(bool* flag) : flag_(flag) { *flag_ = true; }
    ~ConfigureGuard() { *flag_ = false; }
    ConfigureGuard(const ConfigureGuard&) = delete;
    ConfigureGuard& operator=(const ConfigureGuard&) = delete;

   private:
    bool* flag_;
  };

  // Made by Init for the player's main window, before the hook is installed;
  // lives until every thread that may send through it has ended.
  std::optional<PlayerChannel> channel_;
  PluginSettings settings_;
  PlaylistCache cache_;
  RequestQueue queue_;
  SiteHandler site_;
  HttpServer server_;

  // Set by Init, before any other thread of the plug-in exists.
  platform::WindowHandle hostWindow_ = nullptr;
  std::string settingsPath_;
  std::uint32_t refreshCompleteMessage_ = 0;
  // The playlist batch message, answered by the hook.
  std::uint32_t playlistBatchMessage_ = 0;
  // The pages' player-snapshot message, answered by the hook.
  std::uint32_t playerSnapshotMessage_ = 0;
  platform::WindowSubclass hook_;  // user-interface thread only
  bool configuring_ = false;       // user-interface thread only
  // Set when quit had to leave the hook in place: it then only passes
  // messages on.
  std::atomic<bool> forwardOnly_{false};
  // Set by a playlist-changed notice, cleared by the refresh that begins
  // reading the playlist after it.
  std::atomic<bool> playlistChanged_{false};
  // From quit on, playlist changes start no refresh.
  std::atomic<bool> quitting_{false};

  mutable Lock refreshLock_;
  bool refreshRunning_ GUARDED_BY(refreshLock_) = false;
  platform::ScopedThread refreshThread_ GUARDED_BY(refreshLock_);
  platform::WindowHandle refreshNotifyWindow_ GUARDED_BY(refreshLock_) = nullptr;

  // The instance whose hook is installed: a window procedure receives
  // nothing but the window.
  static std::atomic<Plugin*> hooked_;
};

}  // namespace ambervox
