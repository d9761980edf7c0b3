// Windows-only checks of the web root against what Windows itself does with
// a name: devices that open under any folder, folders, and 8.3 short names
// that spell a hidden folder without a dot.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "http/web_root.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

TEST(Win32WebRoot, OnlyDiskFilesAreFoundAndDevicesNeverOpen) {
  testing::TempWebRoot root;
  root.Write("style.css", "body {}");
  const std::string folder = root.Root();
  platform::FileInfo info;
  std::string longPath;
  ASSERT_TRUE(platform::FindRegularFile((folder + "\\style.css").c_str(), &info, &longPath));
  EXPECT_EQ(7u, info.size);
  EXPECT_EQ(folder + "\\style.css", longPath);
  // Devices exist in every folder, with any extension; a folder is no file.
  for (const char* name : {"\\NUL", "\\nul.txt", "\\CON", "\\aux.html", "\\COM1", "\\LPT1.css", ""}) {
    EXPECT_FALSE(platform::FindRegularFile((folder + name).c_str(), &info, &longPath)) << name;
  }
}

TEST(Win32WebRoot, AShortNameOfAHiddenFolderIsRefused) {
  testing::TempWebRoot root;
  root.Write(".git/config", "SECRET");
  const std::wstring hidden = root.PathOf(".git").wstring();
  wchar_t shortPath[MAX_PATH];
  const DWORD length = GetShortPathNameW(hidden.c_str(), shortPath, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  std::wstring shortName(shortPath, length);
  shortName = shortName.substr(shortName.find_last_of(L'\\') + 1);
  if (shortName == L".git") GTEST_SKIP() << "this volume gives no 8.3 names (the fuzzer checks the rule)";
  const std::string target = "/" + std::string(shortName.begin(), shortName.end()) + "/config";

  // The file is there under its short name, and comes back under its long one.
  platform::FileInfo info;
  std::string longPath;
  ASSERT_TRUE(platform::FindRegularFile(BuildFullPath(root.Root().c_str(), target.c_str()).CStr(), &info, &longPath));
  EXPECT_NE(std::string::npos, longPath.find("\\.git\\config")) << longPath;
  // The rules judge the long name: the spelling alone has no dot.
  ByteString fullPath;
  EXPECT_EQ(WebRootLookup::kRefused, FindWebRootFile(root.Root().c_str(), target.c_str(), true, &fullPath, &info))
      << target;
}

}  // namespace
}  // namespace ambervox
