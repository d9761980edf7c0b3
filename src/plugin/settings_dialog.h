// ShowSettingsDialog: what the config entry shows before it applies the
// settings. One implementation per platform (src/plugin/win32/,
// src/plugin/posix/, picked by the build): Windows shows the four-page
// property sheet (SettingsSheet), POSIX, which has no dialogs, reloads
// plugin.ini instead. The config entry's sequence around it (save, stop,
// restart) is the same everywhere.
//
// Runs modally on the host's user-interface thread. It changes the settings
// and the queue limits in memory only; writing them to the file is the
// config entry's business, and depends on where the values came from.
#pragma once

#include <string>

#include "common/plugin_settings.h"
#include "pages/cache_refresher.h"
#include "platform/window.h"
#include "requests/request_queue.h"

namespace ambervox {

// What the dialog works on; nothing of it is owned.
struct SettingsDialogContext {
  platform::WindowHandle owner = nullptr;  // the host main window
  PluginSettings* settings = nullptr;
  RequestQueue* queue = nullptr;        // limits, and the clear button
  CacheRefresher* refresher = nullptr;  // the reload button
  std::string settingsPath;             // plugin.ini
};

// Where the settings in memory came from when the dialog ended with OK.
enum class SettingsSource {
  kEditedInDialog,    // the user edited them: the config entry saves them
  kReloadedFromFile,  // read back from plugin.ini: the file already holds them
};

// True when the dialog ended with OK (`source` then says where the values
// came from), false when it was canceled and nothing in memory changed.
bool ShowSettingsDialog(const SettingsDialogContext& context, SettingsSource* source);

}  // namespace ambervox
