// POSIX has no settings dialog. Its stand-in reloads plugin.ini, storing the
// values into memory exactly as the dialog's OK stores the edited ones, and
// counts as OK; a developer changes the settings by editing the file. The
// file already holds the values, so the config entry does not write it back.
#include "plugin/settings_dialog.h"
#include "plugin/settings_store.h"

namespace ambervox {

bool ShowSettingsDialog(const SettingsDialogContext& context, SettingsSource* source) {
  LoadSettings(*context.settings, *context.queue, context.settingsPath);
  *source = SettingsSource::kReloadedFromFile;
  return true;
}

}  // namespace ambervox
