#include "host_session.h"

#include <cctype>
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

}  // namespace

HostSession::HostSession(SimulatedPlayer* player, platform::WindowHandle mainWindow)
    : player_(player), mainWindow_(mainWindow) {}

HostSession::~HostSession() { Quit(); }

bool HostSession::LoadPlugin(const std::string& path, std::string* error) {
  module_ = platform::LoadModule(path.c_str());
  if (module_ == nullptr) {
    *error = "cannot load the plug-in " + path;
    return false;
  }
  auto getRecord = reinterpret_cast<GetPluginRecordFunction>(platform::FindModuleSymbol(module_, kPluginExportName));
  record_ = getRecord != nullptr ? getRecord() : nullptr;
  if (record_ == nullptr) {
    *error = std::string("the plug-in has no ") + kPluginExportName;
    platform::UnloadModule(module_);
    module_ = nullptr;
    return false;
  }
  record_->hostWindow = mainWindow_;
  record_->libraryInstance = module_;
  record_->init();
  return true;
}

void HostSession::Quit() {
  if (quit_) return;
  quit_ = true;
  if (record_ != nullptr) record_->quit();
  record_ = nullptr;
  if (module_ != nullptr) platform::UnloadModule(module_);
  module_ = nullptr;
  platform::PostQuitMessage(0);
}

std::string HostSession::Execute(const std::string& line) {
  if (quit_) return "error the host is quitting";
  std::string::size_type space = line.find(' ');
  std::string command = line.substr(0, space);
  std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
  if (command == "status") return Status();
  if (command == "song-end") return SongEnd();
  if (command == "seek") return Seek(argument);
  if (command == "commands") return TakeCommands();
  if (command == "load") return Load(argument);
  if (command == "config") {
    if (record_ != nullptr) record_->config();
    return "ok";
  }
  if (command == "quit") {
    Quit();
    return "ok";
  }
  if (command.empty()) return "error empty command";
  return "error unknown command " + command;
}

std::string HostSession::Status() const {
  return "ok position " + std::to_string(player_->Position()) + " state " + StateName(player_->State()) +
         " elapsed-ms " + std::to_string(player_->ElapsedMs()) + " length-s " +
         std::to_string(player_->CurrentLengthSeconds());
}

std::string HostSession::SongEnd() {
  // As the player does: the notice goes to its own main window, where the
  // plug-in's hook sees it first.
  platform::SendWindowMessage(mainWindow_, kMsgSongEnded, 0, 0);
  return "ok position " + std::to_string(player_->Position());
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

std::string HostSession::Load(const std::string& argument) {
  std::vector<SimulatedEntry> playlist;
  if (argument.empty()) return "error load needs a playlist file";
  if (!ReadPlaylistFile(argument, &playlist)) return "error cannot read " + argument;
  const std::size_t count = playlist.size();
  player_->SetPlaylist(std::move(playlist));
  return "ok " + std::to_string(count) + " entries";
}

}  // namespace ambervox
