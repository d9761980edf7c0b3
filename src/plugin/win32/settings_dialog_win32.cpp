// The Windows build's settings dialog: the four-page property sheet. Its OK
// has stored the edited values into memory; the config entry saves them.
#include "plugin/settings_dialog.h"
#include "plugin/settings_sheet.h"

namespace ambervox {

bool ShowSettingsDialog(const SettingsDialogContext& context, SettingsSource* source) {
  SettingsSheet sheet(context);
  *source = SettingsSource::kEditedInDialog;
  // A sheet that cannot be shown stores nothing, like Cancel.
  return sheet.Show() == platform::SheetResult::kOk;
}

}  // namespace ambervox
