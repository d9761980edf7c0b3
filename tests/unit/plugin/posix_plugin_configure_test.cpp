// The config entry on POSIX, where the settings dialog's stand-in reloads
// plugin.ini: the reloaded values reach the server as after the dialog's OK,
// and the file they came from is not written. (On Windows the config entry
// shows the property sheet; the end-to-end suite drives that one.)
#include <gtest/gtest.h>

#include <string>

#include "unit/plugin/plugin_test_support.h"

namespace ambervox {
namespace {

using testing::FreePort;
using testing::Listening;
using testing::PluginTest;
using testing::TempFolder;

using PluginLifecycle = PluginTest;

TEST_F(PluginLifecycle, ConfigureAppliesTheReloadedSettingsToTheServer) {
  const int first = FreePort();
  int second = FreePort();
  while (second == first) second = FreePort();
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(first) + "\r\n");
  Init();
  ASSERT_TRUE(Listening(first));

  // A new port: stopped and started on it. The file is what the values came
  // from, so it is not written.
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(second) + "\r\ng_MaxQueueSize=7\r\n");
  const std::string before = TempFolder::ReadBytes(path_);
  Configure();
  EXPECT_TRUE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_TRUE(Listening(second));
  EXPECT_FALSE(Listening(first));
  EXPECT_EQ(testing::PluginProbe(plugin_).Queue().GetLimits().maxQueueSize, 7);
  EXPECT_EQ(TempFolder::ReadBytes(path_), before);

  // Disabled: stopped.
  WriteIni("bDisabled=TRUE\r\nPort=" + std::to_string(second) + "\r\n");
  Configure();
  EXPECT_FALSE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_FALSE(Listening(second));

  // Enabled again on the same port: started.
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(second) + "\r\n");
  Configure();
  EXPECT_TRUE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_TRUE(Listening(second));
}

}  // namespace
}  // namespace ambervox
