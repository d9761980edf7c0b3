// The numbers of the messages the plug-in and the player exchange through the
// player's main window: the player's IPC codes (sent as WM_USER with the code
// in lParam), the transport buttons (sent as WM_COMMAND with the id in
// wParam) and the end-of-song notice. The player and anything that stands in
// for it must agree on exactly these values.
#pragma once

#include <cstdint>

#include "platform/threads.h"

namespace ambervox {

// IPC codes: message kMsgUser, the code in lParam, an argument in wParam.
constexpr std::intptr_t kIpcGetPlaylistLength = 124;     // -> number of entries
constexpr std::intptr_t kIpcGetPlaylistPosition = 125;   // -> 0-based current entry
constexpr std::intptr_t kIpcGetPlaylistFile = 211;       // wParam entry -> address of its path, or 0
constexpr std::intptr_t kIpcGetPlaylistTitle = 212;      // wParam entry -> address of its title, or 0
constexpr std::intptr_t kIpcSetPlaylistPosition = 121;   // wParam entry
constexpr std::intptr_t kIpcGetOutputTime = 105;         // see the kOutputTime* arguments
constexpr std::intptr_t kIpcGetPlaylistFileWide = 213;   // as 211, UTF-16, from another shared buffer
constexpr std::intptr_t kIpcGetPlaylistTitleWide = 214;  // as 212, UTF-16, from another shared buffer
constexpr std::intptr_t kIpcGetDialogParent = 365;       // -> the window that owns dialogs, or 0
constexpr std::intptr_t kIpcPlaylistModified = 3002;     // sent by the player after any playlist change

constexpr std::uintptr_t kOutputTimePositionMs = 0;     // -> position in ms, -1 when nothing plays
constexpr std::uintptr_t kOutputTimeLengthSeconds = 1;  // -> length in s, -1 when unknown
constexpr std::uintptr_t kOutputTimeLengthMs = 2;       // -> length in ms

// Transport buttons: message kMsgCommand, the id in wParam, lParam 0.
constexpr std::uintptr_t kCommandPrevious = 40044;
constexpr std::uintptr_t kCommandPlay = 40045;
constexpr std::uintptr_t kCommandPause = 40046;
constexpr std::uintptr_t kCommandStop = 40047;
constexpr std::uintptr_t kCommandNext = 40048;

// What the player sends to its own main window when a song ends (WM_USER + 2).
constexpr std::uint32_t kMsgSongEnded = platform::kMsgUser + 2;

}  // namespace ambervox
