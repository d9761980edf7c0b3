#include "host_session.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "player/player_messages.h"
#include "playlist_file.h"

namespace ambervox {
namespace {

const char* StateName(PlayState state) {
  switch (state) {
    case PlayState::kPlaying:
      return "playing";
    case PlayState::kPaused:
      return "paused";
    case PlayState::kStopped:
      break;
  }
  return "stopped";
}

// A whole decimal number, with an optional sign; false for anything else.
bool ParseWholeNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || !std::isdigit(static_cast<unsigned char>(text.back()))) return false;
  *value = parsed;
  return true;
}

// Two whole numbers separated by one space.
bool ParseTwoNumbers(const std::string& text, long long* first, long long* second) {
  std::string::size_type space = text.find(' ');
  return space != std::string::npos && ParseWholeNumber(text.substr(0, space), first) &&
         ParseWholeNumber(text.substr(space + 1), second);
}

}  // namespace

HostSession::HostSession(SimulatedPlayer* player, platform::WindowHandle mainWindow, ShutdownOrder order)
    : player_(player), mainWindow_(mainWindow), order_(order) {}

HostSession::~HostSession() {
  // Normally Shutdown ran; after a failed start only the quit entries run.
  QuitPlugins();
}

bool HostSession::LoadPlugin(const std::string& path, std::string* error) {
  LoadedPlugin plugin;
  plugin.module = platform::LoadModule(path.c_str());
  if (plugin.module == nullptr) {
    *error = "cannot load the plug-in " + path;
    return false;
  }
  auto getRecord =
      reinterpret_cast<GetPluginRecordFunction>(platform::FindModuleSymbol(plugin.module, kPluginExportName));
  plugin.record = getRecord != nullptr ? getRecord() : nullptr;
  if (plugin.record == nullptr) {
    *error = std::string("the plug-in has no ") + kPluginExportName;
    platform::UnloadModule(plugin.module);
    return false;
  }
  plugin.record->hostWindow = mainWindow_;
  plugin.record->libraryInstance = plugin.module;
  if (plugin.record->init() != 0) {
    // The player drops a plug-in that refuses to start, without quit.
    std::fprintf(stderr, "ambervox-host: the init of %s failed; unloaded\n", path.c_str());
    platform::UnloadModule(plugin.module);
    return true;
  }
  plugins_.push_back(plugin);
  return true;
}

void HostSession::RequestQuit() {
  if (quitting_) return;
  quitting_ = true;
  if (order_ == ShutdownOrder::kSession) {
    // Handled at the top of the message loop, inside the main window's
    // procedure (below every subclass of it), which then ends the loop.
    if (platform::PostWindowMessage(mainWindow_, kMsgEndSession, 1, 0)) return;
  }
  platform::PostQuitMessage(0);
}

void HostSession::QuitFromWindowProcedure() {
  QuitPlugins();
  platform::PostQuitMessage(0);
}

void HostSession::QuitPlugins() {
  if (quitCalled_) return;
  quitCalled_ = true;
  for (auto it = plugins_.rbegin(); it != plugins_.rend(); ++it) it->record->quit();
}

void HostSession::UnloadPlugins() {
  for (auto it = plugins_.rbegin(); it != plugins_.rend(); ++it) platform::UnloadModule(it->module);
  plugins_.clear();
}

void HostSession::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  switch (order_) {
    case ShutdownOrder::kPlayer:
      // The player's own order: the window goes first (its last messages
      // pass every subclass), then each quit finds it gone.
      platform::DestroyTopLevelWindow(mainWindow_);
      QuitPlugins();
      break;
    case ShutdownOrder::kUnload:
      QuitPlugins();
      UnloadPlugins();
      // Whatever is still on the window's chain must be callable now.
      platform::SendWindowMessage(mainWindow_, kMsgSongEnded, 0, 0);
      platform::DestroyTopLevelWindow(mainWindow_);
      break;
    case ShutdownOrder::kSession:
      QuitPlugins();  // already done inside the window procedure
      platform::DestroyTopLevelWindow(mainWindow_);
      break;
  }
  mainWindow_ = nullptr;
}

std::string HostSession::Execute(const std::string& line) {
  if (quitting_) return "error the host is quitting";
  std::string::size_type space = line.find(' ');
  std::string command = line.substr(0, space);
  std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
  if (command == "status") return Status();
  if (command == "seek") return Seek(argument);
  if (command == "commands") return TakeCommands();
  if (command == "load") return Load(argument);
  if (command == "remove") return Remove(argument);
  if (command == "move") return Move(argument);
  if (command == "caption") return Caption(line, argument);
  if (command == "stall") return Stall(argument);
  if (command == "config") {
    // The config entry of the first plug-in (ours).
    if (!plugins_.empty()) plugins_.front().record->config();
    return "ok";
  }
  if (command == "quit") {
    RequestQuit();
    return "ok";
  }
  if (command.empty()) return "error empty command";
  return "error unknown command " + command;
}

unsigned HostSession::TakeStall() {
  unsigned ms = stallMs_;
  stallMs_ = 0;
  return ms;
}

std::string HostSession::Status() const {
  return "ok position " + std::to_string(player_->Position()) + " state " + StateName(player_->State()) +
         " elapsed-ms " + std::to_string(player_->ElapsedMs()) + " length-s " +
         std::to_string(player_->CurrentLengthSeconds());
}

std::string HostSession::Seek(const std::string& argument) {
  long long ms = 0;
  if (!ParseWholeNumber(argument, &ms) || ms < 0 || ms > 0x7FFFFFFF) {
    return "error seek needs a number of milliseconds";
  }
  player_->SetElapsedMs(static_cast<int>(ms));
  return "ok";
}

std::string HostSession::TakeCommands() {
  std::string answer = "ok";
  for (const std::string& command : player_->TakeCommands()) answer += " " + command;
  return answer;
}

void HostSession::PlaylistModified() {
  platform::SendWindowMessage(mainWindow_, platform::kMsgUser, 0, kIpcPlaylistModified);
}

std::string HostSession::Load(const std::string& argument) {
  std::vector<SimulatedEntry> playlist;
  if (argument.empty()) return "error load needs a playlist file";
  if (!ReadPlaylistFile(argument, &playlist)) return "error cannot read " + argument;
  const std::size_t count = playlist.size();
  player_->SetPlaylist(std::move(playlist));
  PlaylistModified();
  return "ok " + std::to_string(count) + " entries";
}

std::string HostSession::Remove(const std::string& argument) {
  long long index = 0;
  if (!ParseWholeNumber(argument, &index) || index < 0 || index > 0x7FFFFFFF ||
      !player_->RemoveEntry(static_cast<int>(index))) {
    return "error remove needs the index of an entry";
  }
  PlaylistModified();
  return "ok";
}

std::string HostSession::Move(const std::string& argument) {
  long long from = 0;
  long long to = 0;
  if (!ParseTwoNumbers(argument, &from, &to) || from < 0 || to < 0 || from > 0x7FFFFFFF || to > 0x7FFFFFFF ||
      !player_->MoveEntry(static_cast<int>(from), static_cast<int>(to))) {
    return "error move needs the indexes of two entries";
  }
  PlaylistModified();
  return "ok";
}

std::string HostSession::Caption(const std::string& line, const std::string& argument) {
  if (line == "caption") return "ok caption " + platform::GetWindowCaption(mainWindow_);
  if (!platform::SetWindowCaption(mainWindow_, argument)) return "error the caption is not UTF-8";
  return "ok";
}

std::string HostSession::Stall(const std::string& argument) {
  long long ms = 0;
  if (!ParseWholeNumber(argument, &ms) || ms < 0 || ms > 600000) return "error stall needs milliseconds";
  stallMs_ = static_cast<unsigned>(ms);
  return "ok";
}

}  // namespace ambervox
