// ambervox-host: a stand-in for the media player that loads the plug-in and
// is driven from standard input.
//
//   ambervox-host --plugin PATH [--playlist FILE] [--manual-clock] [--play]
//
// Threads, as in the real player: the main thread owns the player's main
// window, runs init, config, quit, the plug-in's hook and the player itself
// in its message loop. The console thread reads one command per line and
// hands it to the main thread by a synchronous message to a command window;
// the main thread answers each with one line on standard output ("ready"
// comes first, once init has returned). The ticker thread advances the
// clock in real time (unless --manual-clock) and sends the end-of-song
// message to the main window when a song ends; it also turns Ctrl-C into a
// quit. End of input quits as well.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_session.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "player/player_messages.h"
#include "playlist_file.h"
#include "simulated_player.h"

namespace ambervox {
namespace {

constexpr char kMainWindowClass[] = "AmbervoxHostPlayer";
constexpr char kMainWindowTitle[] = "Ambervox host player";
constexpr char kCommandWindowClass[] = "AmbervoxHostCommands";
// Sent to the command window: lParam points at a Command.
constexpr std::uint32_t kMsgRunCommand = platform::kMsgUser + 0x100;
constexpr unsigned kTickMilliseconds = 50;

struct Options {
  std::string pluginPath;
  std::string playlistPath;
  bool manualClock = false;
  bool play = false;
};

struct Command {
  std::string line;
  bool answer = true;  // false for the quit that end of input or Ctrl-C makes
};

HostSession* theSession = nullptr;   // main thread only
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

std::intptr_t CommandWindowProc(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  if (message != kMsgRunCommand) return platform::DefaultWindowProc(window, message, wParam, lParam);
  const Command* command = reinterpret_cast<const Command*>(lParam);
  std::string answer = theSession != nullptr ? theSession->Execute(command->line) : "error the host is quitting";
  if (command->answer) {
    std::fputs(answer.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return 1;
}

struct Threads {
  platform::WindowHandle mainWindow = nullptr;
  platform::WindowHandle commandWindow = nullptr;
  SimulatedPlayer* player = nullptr;
  bool manualClock = false;
  std::atomic<bool> stopTicker{false};
};

void SendCommand(Threads* threads, const std::string& line, bool answer) {
  Command command;
  command.line = line;
  command.answer = answer;
  platform::SendWindowMessage(threads->commandWindow, kMsgRunCommand, 0, reinterpret_cast<std::intptr_t>(&command));
}

unsigned ConsoleThread(void* parameter) {
  Threads* threads = static_cast<Threads*>(parameter);
  std::string line;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    line += buffer;
    if (line.empty() || line.back() != '\n') continue;  // the rest of a long line follows
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    bool quit = line == "quit";
    SendCommand(threads, line, true);
    line.clear();
    if (quit) return 0;
  }
  if (!line.empty()) SendCommand(threads, line, true);
  SendCommand(threads, "quit", false);
  return 0;
}

unsigned TickerThread(void* parameter) {
  Threads* threads = static_cast<Threads*>(parameter);
  bool quitSent = false;
  while (!threads->stopTicker.load()) {
    platform::SleepMilliseconds(kTickMilliseconds);
    if (interrupted != 0 && !quitSent) {
      quitSent = true;
      SendCommand(threads, "quit", false);
      continue;
    }
    // A song of unknown length (0) plays until something else ends it.
    if (!threads->manualClock && threads->player->AdvanceClock(kTickMilliseconds) &&
        threads->player->CurrentLengthSeconds() > 0) {
      platform::SendWindowMessage(threads->mainWindow, kMsgSongEnded, 0, 0);
    }
  }
  return 0;
}

void PrintUsage() {
  std::fputs("usage: ambervox-host --plugin PATH [--playlist FILE] [--manual-clock] [--play]\n", stderr);
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--plugin") == 0 && i + 1 < argc) {
      options->pluginPath = argv[++i];
    } else if (std::strcmp(arg, "--playlist") == 0 && i + 1 < argc) {
      options->playlistPath = argv[++i];
    } else if (std::strcmp(arg, "--manual-clock") == 0) {
      options->manualClock = true;
    } else if (std::strcmp(arg, "--play") == 0) {
      options->play = true;
    } else {
      return false;
    }
  }
  return !options->pluginPath.empty();
}

int Run(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    PrintUsage();
    return 2;
  }
  std::vector<SimulatedEntry> playlist;
  if (!options.playlistPath.empty() && !ReadPlaylistFile(options.playlistPath, &playlist)) {
    std::fprintf(stderr, "ambervox-host: cannot read the playlist %s\n", options.playlistPath.c_str());
    return 1;
  }

  SimulatedPlayer player(std::move(playlist));
  Threads threads;
  threads.player = &player;
  threads.manualClock = options.manualClock;
  threads.mainWindow = platform::CreateTopLevelWindow(kMainWindowClass, kMainWindowTitle,
                                                      &SimulatedPlayer::WindowProcedure);
  threads.commandWindow = platform::CreateTopLevelWindow(kCommandWindowClass, "", &CommandWindowProc);
  if (threads.mainWindow == nullptr || threads.commandWindow == nullptr) {
    std::fputs("ambervox-host: cannot create the player's windows\n", stderr);
    return 1;
  }
  player.Attach(threads.mainWindow);

  int exitCode = 0;
  {
    HostSession session(&player, threads.mainWindow);
    std::string error;
    if (!session.LoadPlugin(options.pluginPath, &error)) {
      std::fprintf(stderr, "ambervox-host: %s\n", error.c_str());
      exitCode = 1;
    } else {
      theSession = &session;
      if (options.play) {
        platform::SendWindowMessage(threads.mainWindow, platform::kMsgCommand, kCommandPlay, 0);
        player.TakeCommands();  // the host's own start is not a command the plug-in gave
      }
      std::signal(SIGINT, &OnInterrupt);
      std::fputs("ready\n", stdout);
      std::fflush(stdout);

      platform::ThreadHandle ticker = platform::StartThread(&TickerThread, &threads, false, nullptr);
      platform::ThreadHandle console = platform::StartThread(&ConsoleThread, &threads, false, nullptr);
      if (ticker == nullptr || console == nullptr) {
        std::fputs("ambervox-host: cannot start its threads\n", stderr);
        session.Quit();
        exitCode = 1;
      }
      platform::RunMessageLoop();
      threads.stopTicker.store(true);
      if (ticker != nullptr) {
        // The ticker may be sending to the main window right now.
        platform::JoinThreadHandlingMessages(ticker);
        platform::CloseThreadHandle(ticker);
      }
      // The console thread has sent its last command, or (after Ctrl-C) is
      // still blocked reading; either way it is left to end with the process.
      if (console != nullptr) platform::CloseThreadHandle(console);
      theSession = nullptr;
    }
  }
  player.Detach();
  platform::DestroyTopLevelWindow(threads.commandWindow);
  platform::DestroyTopLevelWindow(threads.mainWindow);
  return exitCode;
}

}  // namespace
}  // namespace ambervox

int main(int argc, char** argv) {
  try {
    return ambervox::Run(argc, argv);
  } catch (...) {
    std::fputs("ambervox-host: out of memory\n", stderr);
    return 1;
  }
}
