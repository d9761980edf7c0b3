// ambervox-host: a stand-in for the media player that loads plug-ins and is
// driven from standard input.
//
//   ambervox-host --plugin PATH [--plugin PATH ...] [--playlist FILE]
//                 [--manual-clock] [--play] [--shutdown player|unload|session]
//                 [--dialog-parent main|none]
//
// Threads, as in the real player: the main thread owns the player's main
// window (a Unicode window of the player's class), runs init, config, quit,
// the plug-ins' hooks and the player itself in its message loop. The console
// thread reads one command per line and hands it to the main thread by a
// synchronous message to a command window; the main thread answers each
// with one line on standard output ("ready" comes first, once every init
// has returned). A song end is posted to the main window from a decoder
// thread, as the player's input plug-ins do; the console answers it once
// the main window has handled it. The ticker thread advances the clock in
// real time (unless --manual-clock), posts the end-of-song message when a
// song ends, and turns Ctrl-C into a quit. End of input quits as well.
//
// Besides the commands of HostSession: "song-end" (above), and "exit",
// which ends the process at once without any quit, as a player that dies
// leaves the plug-ins' process-wide objects to the runtime's exit.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_session.h"
#include "platform/scoped_thread.h"
#include "platform/threads.h"
#include "platform/window.h"
#include "player/player_messages.h"
#include "playlist_file.h"
#include "simulated_player.h"

namespace ambervox {
namespace {

// The real player's main window class; its caption is the player's own.
constexpr char kMainWindowClass[] = "Winamp v1.x";
constexpr char kMainWindowTitle[] = "Ambervox host player";
constexpr char kCommandWindowClass[] = "AmbervoxHostCommands";
// Sent to the command window: lParam points at a Command.
constexpr std::uint32_t kMsgRunCommand = platform::kMsgUser + 0x100;
// Posted to the command window after a song end: lParam points at the
// console's flag, set once the answer is out.
constexpr std::uint32_t kMsgSongEndHandled = platform::kMsgUser + 0x101;
constexpr unsigned kTickMilliseconds = 50;

struct Options {
  std::vector<std::string> pluginPaths;
  std::string playlistPath;
  bool manualClock = false;
  bool play = false;
  ShutdownOrder shutdown = ShutdownOrder::kPlayer;
  bool dialogParent = true;
};

struct Command {
  std::string line;
  bool answer = true;  // false for the quit that end of input or Ctrl-C makes
};

HostSession* theSession = nullptr;     // main thread only
SimulatedPlayer* thePlayer = nullptr;  // main thread only
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::intptr_t CommandWindowProc(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  if (message == kMsgSongEndHandled) {
    PrintLine("ok position " + std::to_string(thePlayer != nullptr ? thePlayer->Position() : 0));
    reinterpret_cast<std::atomic<bool>*>(lParam)->store(true);
    return 0;
  }
  if (message != kMsgRunCommand) return platform::DefaultWindowProc(window, message, wParam, lParam);
  const Command* command = reinterpret_cast<const Command*>(lParam);
  if (command->line == "exit") {
    PrintLine("ok");
    std::exit(0);
  }
  std::string answer = theSession != nullptr ? theSession->Execute(command->line) : "error the host is quitting";
  if (command->answer) PrintLine(answer);
  // A stall: answered first, then this thread handles nothing at all.
  if (theSession != nullptr) {
    if (unsigned ms = theSession->TakeStall()) platform::SleepMilliseconds(ms);
  }
  return 1;
}

// The main window's procedure: the simulated player, which on session end
// quits the plug-ins from right here.
std::intptr_t MainWindowProc(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  if (message == kMsgEndSession && wParam != 0 && theSession != nullptr && theSession->IsQuitting()) {
    theSession->QuitFromWindowProcedure();
    return 0;
  }
  return SimulatedPlayer::WindowProcedure(window, message, wParam, lParam);
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

// A decoder thread's last act: the end of its song, posted.
unsigned DecoderThread(void* parameter) {
  Threads* threads = static_cast<Threads*>(parameter);
  platform::PostWindowMessage(threads->mainWindow, kMsgSongEnded, 0, 0);
  return 0;
}

// song-end: the end is posted from a decoder thread; the marker posted to
// the command window after it (one queue, so handled after it) answers.
void SongEnd(Threads* threads) {
  platform::ScopedThread decoder(platform::StartThread(&DecoderThread, threads, false, nullptr));
  if (!decoder) {
    PrintLine("error cannot start a decoder thread");
    return;
  }
  decoder.Join();
  std::atomic<bool> answered{false};
  if (!platform::PostWindowMessage(threads->commandWindow, kMsgSongEndHandled, 0,
                                   reinterpret_cast<std::intptr_t>(&answered))) {
    PrintLine("error the host is quitting");
    return;
  }
  while (!answered.load()) platform::SleepMilliseconds(1);
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
    if (line == "song-end") {
      SongEnd(threads);
    } else {
      SendCommand(threads, line, true);
    }
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
      platform::PostWindowMessage(threads->mainWindow, kMsgSongEnded, 0, 0);
    }
  }
  return 0;
}

void PrintUsage() {
  std::fputs(
      "usage: ambervox-host --plugin PATH [--plugin PATH ...] [--playlist FILE] [--manual-clock] [--play]\n"
      "                     [--shutdown player|unload|session] [--dialog-parent main|none]\n",
      stderr);
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(arg, "--plugin") == 0 && hasValue) {
      options->pluginPaths.push_back(argv[++i]);
    } else if (std::strcmp(arg, "--playlist") == 0 && hasValue) {
      options->playlistPath = argv[++i];
    } else if (std::strcmp(arg, "--manual-clock") == 0) {
      options->manualClock = true;
    } else if (std::strcmp(arg, "--play") == 0) {
      options->play = true;
    } else if (std::strcmp(arg, "--shutdown") == 0 && hasValue) {
      std::string order = argv[++i];
      if (order == "player") {
        options->shutdown = ShutdownOrder::kPlayer;
      } else if (order == "unload") {
        options->shutdown = ShutdownOrder::kUnload;
      } else if (order == "session") {
        options->shutdown = ShutdownOrder::kSession;
      } else {
        return false;
      }
    } else if (std::strcmp(arg, "--dialog-parent") == 0 && hasValue) {
      std::string parent = argv[++i];
      if (parent != "main" && parent != "none") return false;
      options->dialogParent = parent == "main";
    } else {
      return false;
    }
  }
  return !options->pluginPaths.empty();
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
  thePlayer = &player;
  Threads threads;
  threads.player = &player;
  threads.manualClock = options.manualClock;
  threads.mainWindow = platform::CreateUnicodeTopLevelWindow(kMainWindowClass, kMainWindowTitle, &MainWindowProc);
  threads.commandWindow = platform::CreateTopLevelWindow(kCommandWindowClass, "", &CommandWindowProc);
  if (threads.mainWindow == nullptr || threads.commandWindow == nullptr) {
    std::fputs("ambervox-host: cannot create the player's windows\n", stderr);
    return 1;
  }
  player.Attach(threads.mainWindow);
  if (options.dialogParent) player.SetDialogParent(threads.mainWindow);

  int exitCode = 0;
  {
    HostSession session(&player, threads.mainWindow, options.shutdown);
    std::string error;
    bool loaded = true;
    for (const std::string& path : options.pluginPaths) {
      if (!session.LoadPlugin(path, &error)) {
        std::fprintf(stderr, "ambervox-host: %s\n", error.c_str());
        loaded = false;
        break;
      }
    }
    if (!loaded) {
      exitCode = 1;
    } else {
      theSession = &session;
      if (options.play) {
        platform::SendWindowMessage(threads.mainWindow, platform::kMsgCommand, kCommandPlay, 0);
        player.TakeCommands();  // the host's own start is not a command the plug-in gave
      }
      std::signal(SIGINT, &OnInterrupt);
      PrintLine("ready");

      platform::ScopedThread ticker(platform::StartThread(&TickerThread, &threads, false, nullptr));
      platform::ScopedThread console(platform::StartThread(&ConsoleThread, &threads, false, nullptr));
      if (!ticker || !console) {
        std::fputs("ambervox-host: cannot start its threads\n", stderr);
        session.RequestQuit();
        exitCode = 1;
      }
      platform::RunMessageLoop();
      // The top of the program: no plug-in code is on this stack now.
      threads.stopTicker.store(true);
      // The ticker may be posting to the main window right now.
      ticker.JoinHandlingMessages();
      session.Shutdown();
      // The console thread has sent its last command, or (after Ctrl-C) is
      // still blocked reading; either way it is left to end with the process.
      console.Detach();
      theSession = nullptr;
    }
  }
  player.Detach();
  thePlayer = nullptr;
  platform::DestroyTopLevelWindow(threads.commandWindow);
  if (platform::IsWindowValid(threads.mainWindow)) platform::DestroyTopLevelWindow(threads.mainWindow);
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
