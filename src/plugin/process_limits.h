// The server limits of this process: the product's (server_limits.h). The
// native build, which runs the load and end-to-end tests, also takes two of
// them from the environment of a test run; the Windows plug-in does not, so
// whoever sets the player's environment cannot lift the password brake or
// the per-address limit (the Windows tests load a module of their own that
// does, see tests/e2e/CMakeLists.txt). Any thread.
#pragma once

#include "http/server_limits.h"

namespace ambervox {

ServerLimits ProcessServerLimits();

}  // namespace ambervox
