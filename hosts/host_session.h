// HostSession: what ambervox-host does on its user-interface thread: loads
// the plug-in through its export, fills in the record, calls init, and then
// carries out the console commands one at a time (status, song-end, seek,
// commands, load, config, quit), as the player would.
//
// Owned by the host program's main thread, which owns the player's main
// window; every operation runs on that thread (the console thread hands the
// commands over by a synchronous message). The player it is given is not
// owned and is thread-safe itself; the clock thread advances it meanwhile.
#pragma once

#include <string>

#include "platform/system.h"
#include "platform/window.h"
#include "plugin/plugin_record.h"
#include "simulated_player.h"

namespace ambervox {

class HostSession {
 public:
  HostSession(SimulatedPlayer* player, platform::WindowHandle mainWindow);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads the module at `path`, asks it for its record, fills in the main
  // window and the module, and calls init. False with `error` set when the
  // module or its export cannot be found.
  bool LoadPlugin(const std::string& path, std::string* error);

  // One command line without its line end; returns its one answer line,
  // starting with "ok" or "error". After "quit" the message loop ends.
  std::string Execute(const std::string& line);
  // The quit entry and the unloading, once; then the message loop ends.
  void Quit();
  bool HasQuit() const { return quit_; }

 private:
  std::string Status() const;
  std::string SongEnd();
  std::string Seek(const std::string& argument);
  std::string TakeCommands();
  std::string Load(const std::string& argument);

  SimulatedPlayer* const player_;
  const platform::WindowHandle mainWindow_;
  platform::ModuleHandle module_ = nullptr;
  PluginRecord* record_ = nullptr;
  bool quit_ = false;
};

}  // namespace ambervox
