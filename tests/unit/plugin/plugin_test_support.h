// Shared by the plug-in tests: a plug-in with its host window and a settings
// folder, polling with a deadline, and free TCP ports.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/sockets.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "player/player_messages.h"
#include "plugin/plugin.h"
#include "support/free_port.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "unit/plugin/host_window.h"

namespace ambervox {
namespace testing {

// True when something accepts connections on 127.0.0.1:port.
inline bool Listening(int port) {
  platform::Socket s = platform::ConnectLoopback(static_cast<std::uint16_t>(port));
  if (s == platform::kInvalidSocket) return false;
  platform::ShutdownBoth(s);
  platform::CloseSocket(s);
  return true;
}

// What the tests look at inside a plug-in: its objects, its refresh and its
// registered completion message.
class PluginProbe {
 public:
  explicit PluginProbe(Plugin& plugin) : plugin_(plugin) {}
  PluginSettings& Settings() { return plugin_.settings_; }
  PlaylistCache& Cache() { return plugin_.cache_; }
  RequestQueue& Queue() { return plugin_.queue_; }
  HttpServer& Server() { return plugin_.server_; }
  PlayerHost Player(PlayerHost::Patience patience = PlayerHost::Patience::kLimited) { return plugin_.Player(patience); }
  bool IsRefreshRunning() const { return plugin_.IsRefreshRunning(); }
  std::uint32_t RefreshCompleteMessage() const { return plugin_.refreshCompleteMessage_; }

 private:
  Plugin& plugin_;
};

// The plug-in as the player has it: its host window on a user-interface
// thread of its own, plugin.ini in a fresh folder. Quits the plug-in at the
// end if the test did not.
class PluginTest : public ::testing::Test {
 protected:
  PluginTest() : host_(Songs(10)), path_(folder_.File("plugin.ini")) {
    std::string error;
    platform::SocketsStartup(&error);
  }
  ~PluginTest() override {
    if (initialized_ && !quit_) Quit();
    platform::SocketsCleanup();
  }

  void WriteIni(const std::string& body) { TempFolder::WriteBytes(path_, "[HTTP Request]\r\n" + body); }
  void Init() {
    host_.RunOnUi([this] { plugin_.Init(host_.window(), path_); });
    initialized_ = true;
  }
  void Configure() {
    host_.RunOnUi([this] { plugin_.Configure(); });
  }
  void Quit() {
    host_.RunOnUi([this] { plugin_.Quit(); });
    quit_ = true;
  }
  // The player's end-of-song notice, sent as the player sends it.
  std::intptr_t SongEnded() { return platform::SendWindowMessage(host_.window(), kMsgSongEnded, 0, 0); }
  ResultCode Request(int index) {
    UserId user;
    user.data1 = static_cast<std::uint32_t>(index) + 1;
    return testing::PluginProbe(plugin_).Queue().AddRequest(index, "10.0.0.1", user, false);
  }
  // The refresh is recorded as over while the user-interface thread still
  // handles its completion, before the message is passed on to the player:
  // a message sent to that thread afterwards runs only once that handling
  // is done, so the player has seen the completion when this returns.
  bool RefreshFinished() {
    const bool finished = WaitUntil([this] { return !testing::PluginProbe(plugin_).IsRefreshRunning(); });
    host_.RunOnUi([] {});
    return finished;
  }

  TempFolder folder_;
  HostWindow host_;
  std::string path_;
  Plugin plugin_;
  bool initialized_ = false;
  bool quit_ = false;
};

}  // namespace testing
}  // namespace ambervox
