// What the plug-in tells the user and a debugger, where the POSIX platform
// writes it (standard error): the start-failure message box and the line of
// a completed refresh, both as code page 932 bytes.
#include <gtest/gtest.h>

#include <string>

#include "plugin/plugin_record.h"
#include "unit/plugin/plugin_test_support.h"

namespace ambervox {
namespace {

using testing::FreePort;
using testing::Listening;
using testing::PluginTest;

// "サーバーの起動に失敗しました" and "プレイリストキャッシュ再構築完了" in code page 932.
const char kStartFailure[] =
    "\x83\x54\x81\x5B\x83\x6F\x81\x5B\x82\xCC\x8B\x4E\x93\xAE\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
const char kRefreshDone[] =
    "\x83\x76\x83\x8C\x83\x43\x83\x8A\x83\x58\x83\x67\x83\x4C\x83\x83\x83\x62\x83\x56\x83\x85\x8D\xC4\x8D\x5C\x92\x7A"
    "\x8A\xAE\x97\xB9";

using PluginOutput = PluginTest;

TEST_F(PluginOutput, AServerThatCannotStartIsReportedAndTheNextConfigureTriesAgain) {
  const int port = FreePort();
  ASSERT_NE(port, 0);
  platform::Socket taken = platform::ListenTcp(static_cast<std::uint16_t>(port), 1);
  ASSERT_NE(taken, platform::kInvalidSocket);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(port) + "\r\n");

  ::testing::internal::CaptureStderr();
  Init();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kPluginDescription) + ": " + kStartFailure + "\n");
  EXPECT_FALSE(testing::PluginProbe(plugin_).Server().IsRunning());
  // The plug-in stays loaded with its hook and its queue working.
  ASSERT_EQ(Request(5), kAccepted);
  EXPECT_EQ(SongEnded(), 1);
  EXPECT_EQ(host_.player().Position(), 5);

  platform::CloseSocket(taken);
  Configure();
  EXPECT_TRUE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_TRUE(Listening(port));
}

TEST_F(PluginOutput, APortSettingOutsideTheTcpRangeIsReportedAndOpensNoPort) {
  // 65536 more than a free port: cut to 16 bits it would name that port.
  const int port = FreePort();
  ASSERT_NE(port, 0);
  WriteIni("bDisabled=FALSE\r\nPort=" + std::to_string(65536 + port) + "\r\n");

  ::testing::internal::CaptureStderr();
  Init();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kPluginDescription) + ": " + kStartFailure + "\n");
  EXPECT_FALSE(testing::PluginProbe(plugin_).Server().IsRunning());
  EXPECT_FALSE(Listening(port));
}

TEST_F(PluginOutput, ACompletedRefreshWritesOneDebuggerLine) {
  Init();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(plugin_.StartCacheRefresh(nullptr));
  ASSERT_TRUE(RefreshFinished());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kRefreshDone) + "\n");
}

}  // namespace
}  // namespace ambervox
