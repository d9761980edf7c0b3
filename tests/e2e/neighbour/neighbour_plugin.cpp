// gen_neighbour: a second general-purpose plug-in for the end-to-end tests,
// loaded after ours by ambervox-host, that subclasses the player's main
// window after ours and passes every message on. Its file name picks how it
// leaves:
//   ...keep...   never takes its subclass off. Our hook then cannot be
//                removed at quit. (It keeps its own module mapped, so that
//                it is our module whose unloading the test exercises.)
//   ...blind...  at quit puts back the procedure it replaced, without
//                looking whether it is still on top.
//   otherwise    leaves like the blind one, but only while it is on top.
#include <string>

#include "neighbour_subclass.h"
#include "platform/export.h"
#include "plugin/plugin_record.h"

namespace neighbour {
namespace {

enum class Leaving { kKeep, kBlind };

int InitEntry();
void ConfigEntry() {}
void QuitEntry();

ambervox::PluginRecord theRecord = {
    ambervox::kPluginRecordVersion, "Neighbour test plug-in", &InitEntry, &ConfigEntry, &QuitEntry, nullptr, nullptr,
};

Leaving Variant() { return ModuleFileName().find("keep") != std::string::npos ? Leaving::kKeep : Leaving::kBlind; }

int InitEntry() {
  if (Variant() == Leaving::kKeep) PinSelf();
  Subclass(theRecord.hostWindow);
  return 0;
}

void QuitEntry() {
  if (Variant() == Leaving::kBlind) RestoreBlindly(theRecord.hostWindow);
}

}  // namespace
}  // namespace neighbour

AMBERVOX_EXPORT ambervox::PluginRecord* winampGetGeneralPurposePlugin() { return &neighbour::theRecord; }
