// The server limits of a test run: the product's, except where the
// environment sets one of these to a positive number. The load tests need
// more connections from their one address, and the end-to-end tests a
// lockout that ends within seconds, or a head time-out long enough that an
// emulated server fills every connection thread well within it. Built into the native module, and on
// Windows only into the test module gen_ambervox_seams, never into
// gen_ambervox.dll (which the test dll_imports_and_export checks).
#include <string>

#include "common/number.h"
#include "platform/system.h"
#include "plugin/process_limits.h"

namespace ambervox {
namespace {

constexpr const char kMaxConnectionsPerAddressVariable[] = "AMBERVOX_TEST_MAX_CONNECTIONS_PER_ADDRESS";
constexpr const char kAdminLockoutVariable[] = "AMBERVOX_TEST_ADMIN_LOCKOUT_MILLISECONDS";
constexpr const char kHeadTimeoutVariable[] = "AMBERVOX_TEST_HEAD_TIMEOUT_MILLISECONDS";

void OverrideFromEnvironment(const char* name, int* limit) {
  const std::string text = platform::EnvironmentValue(name);
  const int value = text.empty() ? 0 : ParseNumber(text.c_str());
  if (value > 0) *limit = value;
}

}  // namespace

ServerLimits ProcessServerLimits() {
  ServerLimits limits;
  OverrideFromEnvironment(kMaxConnectionsPerAddressVariable, &limits.maxConnectionsPerAddress);
  OverrideFromEnvironment(kAdminLockoutVariable, &limits.adminLockoutMilliseconds);
  OverrideFromEnvironment(kHeadTimeoutVariable, &limits.headTimeoutMilliseconds);
  return limits;
}

}  // namespace ambervox
