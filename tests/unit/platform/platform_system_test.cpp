// Process services: GUIDs and loadable modules.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/system.h"

namespace ambervox {
namespace platform {
namespace {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

TEST(System, CreateGuidGivesNewRandomGuids) {
  Guid a;
  Guid b;
  ASSERT_TRUE(CreateGuid(&a.data1, &a.data2, &a.data3, a.data4));
  ASSERT_TRUE(CreateGuid(&b.data1, &b.data2, &b.data3, b.data4));
  EXPECT_FALSE(a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && std::memcmp(a.data4, b.data4, 8) == 0);
  for (const Guid* g : {&a, &b}) {
    EXPECT_EQ(g->data3 >> 12, 4);         // version 4: random
    EXPECT_EQ(g->data4[0] & 0xC0, 0x80);  // the RFC 4122 variant
  }
}

std::string LastComponent(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

TEST(System, LoadedModuleHasItsFilePathAndSymbols) {
  // A system library that every machine of either build has, with one of
  // its functions.
  struct Candidate {
    const char* name;
    const char* symbol;
  };
  const Candidate candidates[] = {{"kernel32.dll", "GetTickCount"}, {"libc.so.6", "strlen"}};
  int loaded = 0;
  for (const Candidate& candidate : candidates) {
    ModuleHandle module = LoadModule(candidate.name);
    if (module == nullptr) continue;
    ++loaded;
    EXPECT_NE(FindModuleSymbol(module, candidate.symbol), nullptr);
    EXPECT_EQ(FindModuleSymbol(module, "AmbervoxNoSuchSymbol"), nullptr);

    std::string path = ModuleFilePath(module, 260);
    EXPECT_TRUE(SameTextIgnoringCase(LastComponent(path), candidate.name)) << path;
    EXPECT_NE(path.find_first_of("/\\"), std::string::npos) << path;  // a full path
    FileInfo info;
    EXPECT_TRUE(FindFileInfo(path.c_str(), &info)) << path;
    EXPECT_GT(info.size, 0u);
    // A short buffer cuts the path to its size less one.
    EXPECT_EQ(ModuleFilePath(module, 6), path.substr(0, 5));
    UnloadModule(module);
  }
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(LoadModule("ambervox-no-such-module"), nullptr);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
