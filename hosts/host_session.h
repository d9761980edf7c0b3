// HostSession: what ambervox-host does on its user-interface thread: loads
// the plug-ins through their export, fills in each record, calls init in
// load order, carries out the console commands one at a time (status, seek,
// commands, load, remove, move, caption, stall, config, quit), and at the
// end shuts down in the order the command line chose.
//
// Quit never runs nested inside a message: the quit command only marks the
// session as quitting and ends the message loop, and the shutdown runs from
// the top of the program once the loop has returned, when no frame of a
// plug-in can be on the stack. (A quit run nested inside a plug-in's hook,
// unloading the plug-in, returned into unmapped code.)
//
// Owned by the host program's main thread, which owns the player's main
// window; every operation runs on that thread (the console thread hands the
// commands over by a synchronous message). The player it is given is not
// owned and is thread-safe itself; the clock thread advances it meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/window.h"
#include "plugin/plugin_record.h"
#include "simulated_player.h"

namespace ambervox {

// WM_ENDSESSION: Windows is ending the session; the player quits its
// plug-ins from inside its main window's procedure.
constexpr std::uint32_t kMsgEndSession = 0x0016;

enum class ShutdownOrder {
  kPlayer,   // destroy the main window, end the loop, quit in reverse, never unload
  kUnload,   // quit in reverse with the window alive, unload in reverse, one more song end, destroy
  kSession,  // quit in reverse from inside the main window's procedure (session end), never unload
};

class HostSession {
 public:
  HostSession(SimulatedPlayer* player, platform::WindowHandle mainWindow, ShutdownOrder order);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads the module at `path`, asks it for its record, fills in the main
  // window and the module, and calls init. False with `error` set when the
  // module or its export cannot be found. A plug-in whose init answers
  // non-zero is unloaded at once, as the player does (true all the same).
  bool LoadPlugin(const std::string& path, std::string* error);

  // One command line without its line end; returns its one answer line,
  // starting with "ok" or "error". After "quit" the message loop ends.
  std::string Execute(const std::string& line);
  // Milliseconds that the last command asked this thread to stall for,
  // taken once; the caller answers first, then sleeps.
  unsigned TakeStall();
  // Marks the session as quitting and ends the message loop (session end:
  // first runs the quit entries from inside the main window's procedure).
  void RequestQuit();
  bool IsQuitting() const { return quitting_; }
  // From the main window's procedure on session end: each quit, in reverse.
  void QuitFromWindowProcedure();
  // After the message loop has returned: the shutdown in the chosen order.
  // Destroys the main window.
  void Shutdown();

 private:
  struct LoadedPlugin {
    platform::ModuleHandle module = nullptr;
    PluginRecord* record = nullptr;
  };

  std::string Status() const;
  std::string Seek(const std::string& argument);
  std::string TakeCommands();
  std::string Load(const std::string& argument);
  std::string Remove(const std::string& argument);
  std::string Move(const std::string& argument);
  std::string Caption(const std::string& line, const std::string& argument);
  std::string Stall(const std::string& argument);
  // Tells the main window that the playlist changed, as the player does.
  void PlaylistModified();
  void QuitPlugins();
  void UnloadPlugins();

  SimulatedPlayer* const player_;
  platform::WindowHandle mainWindow_;
  const ShutdownOrder order_;
  std::vector<LoadedPlugin> plugins_;  // load order
  bool quitting_ = false;
  bool quitCalled_ = false;
  bool shutDown_ = false;
  unsigned stallMs_ = 0;
};

}  // namespace ambervox
