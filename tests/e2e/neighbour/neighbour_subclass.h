// What the neighbour plug-in does to the player's main window, one
// implementation per platform: it subclasses the window after ours, as
// another plug-in of the same player would (Win32: with the wide functions,
// written against user32 directly as a third party writes it).
#pragma once

#include <string>

#include "platform/window.h"

namespace neighbour {

// Puts the neighbour's procedure on top of the window's chain.
bool Subclass(ambervox::platform::WindowHandle window);
// Sets the window's procedure back to the one it replaced, whatever is on
// top by now.
void RestoreBlindly(ambervox::platform::WindowHandle window);
// The file name of this module, without its folder.
std::string ModuleFileName();
// Keeps this module mapped for good.
void PinSelf();

}  // namespace neighbour
