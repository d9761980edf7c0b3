// RestoreCompanionWindow: asks the companion program's dialog ("VelmaroV3",
// a dialog-class window of this process) to come back, by its command 40009.
// What the dialog then does is its own business. Stateless; user-interface
// thread (the settings dialog's control page).
#pragma once

namespace ambervox {

constexpr const char kCompanionWindowTitle[] = "VelmaroV3";
constexpr const char kDialogWindowClass[] = "#32770";
constexpr int kCompanionRestoreCommand = 40009;

// Sends WM_COMMAND 40009 to the first top-level window, from the top of the
// z-order, of this process whose title and class are exactly the above.
// True when one was found.
bool RestoreCompanionWindow();

}  // namespace ambervox
