// The library's face to the player: the one plug-in record, its three
// entries, the export that hands the record out, and the process-wide Plugin
// behind them. This file is linked into the library itself (not into the
// plug-in's static library), so that tests linking that library get no
// process-wide objects and the export is always part of the module.
//
// The Plugin is constructed when the library is loaded and destroyed when
// it is unloaded, but not when the process ends: on Windows every other
// thread has then been ended wherever it stood, maybe holding a lock of the
// server or the queue, and a destructor that stops the server would wait for
// it for ever. The system reclaims the sockets and memory itself. Nothing
// else in the library runs code at load time, so its construction order is
// just its members' order.
#include <new>

#include "platform/export.h"
#include "platform/threads.h"
#include "plugin/plugin.h"
#include "plugin/plugin_record.h"
#include "plugin/settings_store.h"

namespace ambervox {
namespace {

alignas(Plugin) unsigned char pluginStorage[sizeof(Plugin)];
Plugin& thePlugin = *new (pluginStorage) Plugin;

struct PluginUnloader {
  ~PluginUnloader() {
    if (!platform::IsProcessExiting()) thePlugin.~Plugin();
  }
} thePluginUnloader;

int InitEntry();
void ConfigEntry();
void QuitEntry();

PluginRecord theRecord = {
    kPluginRecordVersion, kPluginDescription, &InitEntry, &ConfigEntry, &QuitEntry, nullptr, nullptr,
};

// No exception may unwind into the player: an entry that fails (memory
// exhausted) ends its work there.
int InitEntry() {
  try {
    thePlugin.Init(theRecord.hostWindow, SettingsPathOf(theRecord.libraryInstance));
  } catch (...) {
  }
  return 0;
}

void ConfigEntry() {
  try {
    thePlugin.Configure();
  } catch (...) {
  }
}

void QuitEntry() {
  try {
    thePlugin.Quit();
  } catch (...) {
  }
}

}  // namespace
}  // namespace ambervox

AMBERVOX_EXPORT ambervox::PluginRecord* winampGetGeneralPurposePlugin() { return &ambervox::theRecord; }
