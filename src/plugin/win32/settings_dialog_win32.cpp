// The Windows build's settings dialog. Until the property sheet exists this
// behaves as the POSIX stand-in: it reloads plugin.ini into memory as the
// sheet's OK would store edited values, counts as OK, and leaves the file as
// it is.
#include "plugin/settings_dialog.h"
#include "plugin/settings_store.h"

namespace ambervox {

bool ShowSettingsDialog(const SettingsDialogContext& context, SettingsSource* source) {
  LoadSettings(*context.settings, *context.queue, context.settingsPath);
  *source = SettingsSource::kReloadedFromFile;
  return true;
}

}  // namespace ambervox
