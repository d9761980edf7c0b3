// The Windows plug-in runs with the product's limits, whatever its
// environment says.
#include "plugin/process_limits.h"

namespace ambervox {

ServerLimits ProcessServerLimits() { return ServerLimits(); }

}  // namespace ambervox
