// The settings store against real plugin.ini files: defaults, the read
// buffers, the flag and number rules, the limits' order on both sides, the
// exact bytes of a saved file, and where the file lives.
#include "plugin/settings_store.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"

namespace ambervox {
namespace {

using testing::TempFolder;

// Settings and a queue whose every value differs from the defaults, so that a
// load that forgets a key shows.
class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() : queue_(&cache_), path_(folder_.File("plugin.ini")) {
    settings_.SetWebRoot("D:\\old");
    settings_.SetPlaylistFile("old.html");
    settings_.SetAdminPassword("old");
    settings_.SetSkinPlaylistNext("n");
    settings_.SetSkinPlaylistPrev("p");
    settings_.SetSkinUserCancel("c");
    settings_.SetDisabled(false);
    settings_.SetPort(1);
    settings_.SetMaxEntries(2);
    QueueLimits limits;
    limits.maxQueueSize = 91;
    limits.maxRequestsPerIP = 92;
    limits.maxConsecutivePerIP = 93;
    limits.recentlyPlayedQueueSize = 94;
    queue_.SetLimits(limits);
  }

  void WriteIni(const std::string& body) { TempFolder::WriteBytes(path_, "[HTTP Request]\r\n" + body); }
  void Load() { LoadSettings(settings_, queue_, path_); }

  TempFolder folder_;
  PluginSettings settings_;
  PlaylistCache cache_;
  RequestQueue queue_;
  std::string path_;
};

TEST_F(SettingsStoreTest, MissingFileGivesEveryDefaultAndLeavesThePluginDisabled) {
  Load();
  EXPECT_EQ(std::string(settings_.WebRoot().CStr()), "c:\\");
  EXPECT_EQ(std::string(settings_.PlaylistFile().CStr()), "");
  EXPECT_EQ(std::string(settings_.AdminPassword().CStr()), "");
  EXPECT_EQ(std::string(settings_.SkinPlaylistNext().CStr()), kDefaultSkinPlaylistNext);
  EXPECT_EQ(std::string(settings_.SkinPlaylistPrev().CStr()), kDefaultSkinPlaylistPrev);
  EXPECT_EQ(std::string(settings_.SkinUserCancel().CStr()), kDefaultSkinUserCancel);
  EXPECT_TRUE(settings_.Disabled());
  EXPECT_EQ(settings_.Port(), 80);
  EXPECT_EQ(settings_.MaxEntries(), 25);
  QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 50);
  EXPECT_EQ(limits.maxRequestsPerIP, 3);
  EXPECT_EQ(limits.maxConsecutivePerIP, 0);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 0);
  EXPECT_FALSE(TempFolder::ReadBytes(path_).size() > 0) << "loading must not create the file";
}

TEST_F(SettingsStoreTest, OnlyTheExactUpperCaseFalseEnablesThePlugin) {
  const struct {
    const char* text;
    bool disabled;
  } cases[] = {{"FALSE", false}, {"false", true}, {"False", true}, {"0", true},
               {"FALSEX", true}, {"TRUE", true},  {"", true}};
  for (const auto& c : cases) {
    settings_.SetDisabled(!c.disabled);
    WriteIni(std::string("bDisabled=") + c.text + "\r\n");
    Load();
    EXPECT_EQ(settings_.Disabled(), c.disabled) << "bDisabled=" << c.text;
  }
}

TEST_F(SettingsStoreTest, NumbersFollowTheNumberRule) {
  WriteIni(
      "Port=http\r\ng_MaxEntries=  -12abc\r\ng_MaxQueueSize=+7\r\ng_MaxRequestsPerIP=x1\r\n"
      "g_MaxConsecutivePerIP=4 5\r\ng_RecentlyPlayedQueueSize=99999999999\r\n");
  Load();
  EXPECT_EQ(settings_.Port(), 0);
  EXPECT_EQ(settings_.MaxEntries(), -12);
  QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 7);
  EXPECT_EQ(limits.maxRequestsPerIP, 0);
  EXPECT_EQ(limits.maxConsecutivePerIP, 4);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 2147483647);
}

TEST_F(SettingsStoreTest, EachLimitKeyReachesItsOwnField) {
  // Load order and save order of the limits differ; a mix-up swaps values.
  WriteIni(
      "g_MaxRequestsPerIP=11\r\ng_MaxQueueSize=22\r\ng_MaxConsecutivePerIP=33\r\n"
      "g_RecentlyPlayedQueueSize=44\r\n");
  Load();
  QueueLimits limits = queue_.GetLimits();
  EXPECT_EQ(limits.maxRequestsPerIP, 11);
  EXPECT_EQ(limits.maxQueueSize, 22);
  EXPECT_EQ(limits.maxConsecutivePerIP, 33);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 44);
}

TEST_F(SettingsStoreTest, LongValuesAreCutToTheirReadBuffers) {
  const std::string password(300, 'p');
  const std::string folder(1500, 'w');
  const std::string next(2000, 'n');
  WriteIni("AdminPassword=" + password + "\r\nWebRoot=" + folder + "\r\nSkinPlaylistNext=" + next + "\r\n");
  Load();
  EXPECT_EQ(std::string(settings_.AdminPassword().CStr()), password.substr(0, 254));
  EXPECT_EQ(std::string(settings_.WebRoot().CStr()), folder.substr(0, 1023));
  EXPECT_EQ(std::string(settings_.SkinPlaylistNext().CStr()), next.substr(0, 1023));
}

TEST_F(SettingsStoreTest, SavingTheDefaultsWritesTheThirteenKeysInSaveOrder) {
  PluginSettings defaults;  // as a fresh library has them
  RequestQueue queue(&cache_);
  SaveSettings(defaults, queue, path_);
  const std::string expected =
      "[HTTP Request]\r\n"
      "WebRoot=c:\\\r\n"
      "Playlistfile=\r\n"
      "AdminPassword=\r\n"
      "SkinPlaylistNext=\x8E\x9F\x82\xD6...&gt;\r\n"
      "SkinPlaylistPrev=&lt;...\x96\xDF\x82\xE9\r\n"
      "SkinUserCancel=\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B\r\n"
      "bDisabled=TRUE\r\n"
      "Port=80\r\n"
      "g_MaxEntries=25\r\n"
      "g_MaxRequestsPerIP=3\r\n"
      "g_MaxQueueSize=50\r\n"
      "g_MaxConsecutivePerIP=0\r\n"
      "g_RecentlyPlayedQueueSize=0\r\n";
  EXPECT_EQ(TempFolder::ReadBytes(path_), expected);
}

TEST_F(SettingsStoreTest, SaveThenLoadKeepsEveryValueAndRewritesAnExistingFileInPlace) {
  WriteIni("bDisabled=TRUE\r\nPort=1\r\n");
  // "表示" ends its first character on 0x5C, which must stay a plain byte.
  settings_.SetSkinUserCancel("\x95\x5C\x8E\xA6");
  settings_.SetDisabled(false);
  settings_.SetPort(8080);
  SaveSettings(settings_, queue_, path_);
  std::string saved = TempFolder::ReadBytes(path_);
  EXPECT_EQ(saved.find("bDisabled=FALSE\r\nPort=8080\r\n"), std::string("[HTTP Request]\r\n").size())
      << "existing keys keep their place";

  PluginSettings loaded;
  RequestQueue queue(&cache_);
  LoadSettings(loaded, queue, path_);
  EXPECT_EQ(std::string(loaded.WebRoot().CStr()), "D:\\old");
  EXPECT_EQ(std::string(loaded.PlaylistFile().CStr()), "old.html");
  EXPECT_EQ(std::string(loaded.AdminPassword().CStr()), "old");
  EXPECT_EQ(std::string(loaded.SkinPlaylistNext().CStr()), "n");
  EXPECT_EQ(std::string(loaded.SkinPlaylistPrev().CStr()), "p");
  EXPECT_EQ(std::string(loaded.SkinUserCancel().CStr()), "\x95\x5C\x8E\xA6");
  EXPECT_FALSE(loaded.Disabled());
  EXPECT_EQ(loaded.Port(), 8080);
  EXPECT_EQ(loaded.MaxEntries(), 2);
  QueueLimits limits = queue.GetLimits();
  EXPECT_EQ(limits.maxQueueSize, 91);
  EXPECT_EQ(limits.maxRequestsPerIP, 92);
  EXPECT_EQ(limits.maxConsecutivePerIP, 93);
  EXPECT_EQ(limits.recentlyPlayedQueueSize, 94);
}

// The profile reader drops outer blanks and one pair of quotes; values that
// have them are saved so that they read back exactly, save after save, and
// every other value is written as it is.
TEST_F(SettingsStoreTest, ValuesWithOuterBlanksOrQuotesReadBackExactly) {
  const std::string values[] = {"\" pw \"", " pw", "pw\t", "\"", "'a'", "\"x", "y'", "   ", "a \"b\" c"};
  for (const std::string& value : values) {
    settings_.SetAdminPassword(value.c_str());
    for (int cycle = 0; cycle < 2; ++cycle) {
      SaveSettings(settings_, queue_, path_);
      Load();
      EXPECT_EQ(std::string(settings_.AdminPassword().CStr()), value) << "cycle " << cycle;
    }
  }
  // Only the value that needs them gets quotes.
  EXPECT_NE(TempFolder::ReadBytes(path_).find("\r\nAdminPassword=a \"b\" c\r\n"), std::string::npos);
  settings_.SetAdminPassword(" pw ");
  SaveSettings(settings_, queue_, path_);
  EXPECT_NE(TempFolder::ReadBytes(path_).find("\r\nAdminPassword=\" pw \"\r\n"), std::string::npos);
}

TEST(SettingsPath, IsPluginIniInTheLibrarysFolderWhicheverSeparatorItUses) {
  EXPECT_EQ(SettingsPathBeside("C:\\Program Files\\Winamp\\Plugins\\gen_ambervox.dll"),
            "C:\\Program Files\\Winamp\\Plugins\\plugin.ini");
  EXPECT_EQ(SettingsPathBeside("/opt/ambervox/gen_ambervox.so"), "/opt/ambervox/plugin.ini");
  EXPECT_EQ(SettingsPathBeside("Z:/tmp\\plug/gen_ambervox.dll"), "Z:/tmp\\plug/plugin.ini");
  EXPECT_EQ(SettingsPathBeside("gen_ambervox.dll"), "plugin.ini");
  EXPECT_EQ(SettingsPathBeside(""), "plugin.ini");
  // 0x95 0x5C is one character of the module's name, not a character and
  // a backslash.
  EXPECT_EQ(SettingsPathBeside("C:\\Plugins\\gen_\x95\\.dll"), "C:\\Plugins\\plugin.ini");
  EXPECT_EQ(SettingsPathBeside("C:\\\x95\\\\gen_ambervox.dll"), "C:\\\x95\\\\plugin.ini");
}

}  // namespace
}  // namespace ambervox
