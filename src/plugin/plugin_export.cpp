// The library's face to the player: the one plug-in record, its three
// entries, the export that hands the record out, and the process-wide Plugin
// behind them. This file is linked into the library itself (not into the
// plug-in's static library), so that tests linking that library get no
// process-wide objects and the export is always part of the module.
//
// The Plugin is a namespace-scope object: constructed when the library is
// loaded, destroyed when it is unloaded. Nothing else in the library runs
// code at load time, so its construction order is just its members' order.
#include "platform/export.h"
#include "plugin/plugin.h"
#include "plugin/plugin_record.h"
#include "plugin/settings_store.h"

namespace ambervox {
namespace {

Plugin thePlugin;

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
