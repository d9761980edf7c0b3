// PluginRecord: the general-purpose plug-in record that the player asks the
// library for through its export winampGetGeneralPurposePlugin, laid out as
// the player reads it: pointer-sized fields in this order, plain C function
// pointers with the default calling convention. The library owns the one
// record; the player fills in the last two fields before it calls init, and
// calls the three entries on its user-interface thread.
#pragma once

#include <cstddef>

#include "platform/system.h"
#include "platform/window.h"

namespace ambervox {

constexpr int kPluginRecordVersion = 16;
// The plug-in's name in the player's list; also the caption of its message
// boxes and of the settings dialog.
constexpr const char kPluginDescription[] = "Ambervox Plugin TOVA CUSTOM 4.4.0";

struct PluginRecord {
  int version;              // kPluginRecordVersion
  const char* description;  // kPluginDescription
  int (*init)();            // 0, whether or not the server started
  void (*config)();         // the settings dialog and what follows it
  void (*quit)();
  platform::WindowHandle hostWindow;       // filled in by the player: its main window
  platform::ModuleHandle libraryInstance;  // filled in by the player: this library's module
};
// The export: no arguments, the address of the record.
using GetPluginRecordFunction = PluginRecord* (*)();

// The player reads the record by offsets: every field sits in a slot of
// pointer size, as on the 32-bit build where int and pointers are both four
// bytes.
static_assert(offsetof(PluginRecord, description) == sizeof(void*), "version fills one pointer-sized slot");
static_assert(offsetof(PluginRecord, libraryInstance) == 6 * sizeof(void*), "seven pointer-sized slots");

// The export's undecorated name, as the player looks it up.
constexpr const char kPluginExportName[] = "winampGetGeneralPurposePlugin";

}  // namespace ambervox
