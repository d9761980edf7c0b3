// Windows-only checks of files and time: times after 2038 although time_t is
// 32 bits in this runtime, and file times exactly as the file system keeps
// them. The tests run with TZ=UTC.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"

namespace ambervox {
namespace platform {
namespace {

std::string TempPath(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

// 2007-06-15 12:34:56 UTC as a FILETIME value.
constexpr std::uint64_t kFileTime2007 = (1181910896ULL + 11644473600ULL) * 10000000ULL;

TEST(Win32FilesTest, FindFileInfoGivesTheFileSystemsTimeAndSize) {
  const std::string path = TempPath("ambervox-win32-files-test.bin");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::fwrite("0123456789", 1, 10, f);
  std::fclose(f);
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(kFileTime2007);
  ft.dwHighDateTime = static_cast<DWORD>(kFileTime2007 >> 32);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
  CloseHandle(h);

  FileInfo info;
  ASSERT_TRUE(FindFileInfo(path.c_str(), &info));
  EXPECT_EQ(10u, info.size);
  EXPECT_EQ(kFileTime2007, info.lastWriteTime);

  LocalFields fields;
  ASSERT_TRUE(FileTimeToLocalFields(info.lastWriteTime, &fields));
  EXPECT_EQ(2007, fields.year);
  EXPECT_EQ(6, fields.month);
  EXPECT_EQ(15, fields.day);
  EXPECT_EQ(12, fields.hour);
  EXPECT_EQ(34, fields.minute);
  EXPECT_EQ(56, fields.second);

  // Byte mode: no CR/LF translation, the whole file as written.
  std::FILE* in = OpenFileForReading(path.c_str());
  ASSERT_NE(nullptr, in);
  char buffer[16];
  EXPECT_EQ(10u, std::fread(buffer, 1, sizeof buffer, in));
  std::fclose(in);
  // FindFirstFileA would take these as wildcards and find the file.
  EXPECT_FALSE(FindFileInfo(TempPath("ambervox-win32-files-tes?.bin").c_str(), &info));
  EXPECT_FALSE(FindFileInfo(TempPath("ambervox-win32-files-*").c_str(), &info));
  DeleteFileA(path.c_str());
  EXPECT_FALSE(FindFileInfo(path.c_str(), &info));
}

TEST(Win32FilesTest, TimesAfter2038WorkBothWays) {
  LocalFields fields;
  fields.year = 2100;
  fields.month = 1;
  fields.day = 1;
  std::int64_t time = 0;
  ASSERT_TRUE(LocalFieldsToTime(fields, -1, &time));
  EXPECT_EQ(4102444800LL, time);
  std::tm broken = {};
  ASSERT_TRUE(UtcBreakdown(4102444800LL + 3661, &broken));
  EXPECT_EQ(200, broken.tm_year);
  EXPECT_EQ(0, broken.tm_mon);
  EXPECT_EQ(1, broken.tm_mday);
  EXPECT_EQ(1, broken.tm_hour);
  EXPECT_EQ(1, broken.tm_min);
  EXPECT_EQ(1, broken.tm_sec);
  EXPECT_EQ(5, broken.tm_wday);  // a Friday
  EXPECT_GT(CurrentTime(), 1600000000LL);
}

TEST(Win32FilesTest, TheRuntimesRangeIsKept) {
  LocalFields last;
  last.year = 3000;
  last.month = 12;
  last.day = 31;
  last.hour = 23;
  last.minute = 59;
  last.second = 59;
  std::int64_t time = 0;
  ASSERT_TRUE(LocalFieldsToTime(last, -1, &time));
  EXPECT_EQ(32535215999LL, time);
  last.second = 60;  // 3001-01-01 00:00:00
  time = 7;
  EXPECT_FALSE(LocalFieldsToTime(last, -1, &time));
  EXPECT_EQ(7, time);
  LocalFields early;
  early.year = 1969;
  early.month = 12;
  early.day = 31;
  early.hour = 23;
  early.minute = 59;
  early.second = 59;
  EXPECT_FALSE(LocalFieldsToTime(early, -1, &time));
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
