#include "plugin/companion_window.h"

#include <string>

#include "platform/window.h"

namespace ambervox {
namespace {

constexpr int kWindowTextBufferSize = 1024;

}  // namespace

bool RestoreCompanionWindow() {
  for (platform::WindowHandle window = platform::FirstTopLevelWindow(); window != nullptr;
       window = platform::NextTopLevelWindow(window)) {
    if (!platform::IsWindowOfThisProcess(window)) continue;
    if (platform::GetWindowTitle(window, kWindowTextBufferSize) != kCompanionWindowTitle) continue;
    if (platform::GetWindowClass(window, kWindowTextBufferSize) != kDialogWindowClass) continue;
    platform::SendWindowMessage(window, platform::kMsgCommand, kCompanionRestoreCommand, 0);
    return true;
  }
  return false;
}

}  // namespace ambervox
