// SetWindowProcedure: the raw replacement of a POSIX window's procedure
// (SetWindowLongPtr with GWLP_WNDPROC), for test programs that play another
// program's code on a window (the neighbour plug-in of the end-to-end
// tests). The product subclasses through platform::WindowSubclass.
#pragma once

#include "platform/window.h"

namespace ambervox {
namespace platform {
namespace posix {

// Makes `proc` the window's procedure; returns the previous one, or nullptr
// when the window does not exist.
WindowProc SetWindowProcedure(WindowHandle window, WindowProc proc);

}  // namespace posix
}  // namespace platform
}  // namespace ambervox
