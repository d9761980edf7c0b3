// HostWindow: the player's main window for plug-in tests: a simulated player
// on a window thread of its own (the player's user-interface thread), plus a
// way to run test code on that thread, where the plug-in's entries and hook
// must run. Every message that reaches the window's own procedure (after the
// plug-in's hook, when one is installed) is counted by message number.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"
#include "simulated_player.h"
#include "support/test_data.h"

namespace ambervox {
namespace testing {

class HostWindow {
 public:
  explicit HostWindow(std::vector<SimulatedEntry> songs)
      : player_(std::move(songs)), thread_("AmbervoxTestHost", "Test host", &HostWindow::Procedure) {
    {
      std::lock_guard<std::mutex> hold(Lock());
      Current() = this;
    }
    player_.Attach(thread_.window());
  }
  ~HostWindow() {
    player_.Detach();
    std::lock_guard<std::mutex> hold(Lock());
    Current() = nullptr;
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  platform::WindowHandle window() const { return thread_.window(); }
  SimulatedPlayer& player() { return player_; }

  // Runs `work` on the window's thread and returns when it is done.
  void RunOnUi(std::function<void()> work) {
    platform::SendWindowMessage(window(), kMsgRunWork, 0, reinterpret_cast<std::intptr_t>(&work));
  }

  // How often `message` reached the window's own procedure.
  int Received(std::uint32_t message) {
    std::lock_guard<std::mutex> hold(Lock());
    return received_[message];
  }

 private:
  static constexpr std::uint32_t kMsgRunWork = platform::kMsgUser + 0x200;

  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static HostWindow*& Current() {
    static HostWindow* current = nullptr;
    return current;
  }

  static std::intptr_t Procedure(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    if (message == kMsgRunWork) {
      (*reinterpret_cast<std::function<void()>*>(lParam))();
      return 0;
    }
    {
      std::lock_guard<std::mutex> hold(Lock());
      if (Current() != nullptr) ++Current()->received_[message];
    }
    return SimulatedPlayer::WindowProcedure(window, message, wParam, lParam);
  }

  SimulatedPlayer player_;
  platform::WindowThread thread_;
  std::map<std::uint32_t, int> received_;  // guarded by Lock()
};

}  // namespace testing
}  // namespace ambervox
