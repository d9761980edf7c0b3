// Files and time: a file's size and last-write time, reading in byte mode,
// and the local-time conversions (the time zone tests expect TZ=UTC, which
// ctest sets).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "support/temp_folder.h"

namespace ambervox {
namespace platform {
namespace {

using testing::TempFolder;

constexpr std::uint64_t kUnitsPerSecond = 10000000ULL;
constexpr std::int64_t kEpochOffset = 11644473600LL;  // 1601 to 1970 in seconds

std::int64_t FileTimeToUnix(std::uint64_t fileTime) {
  return static_cast<std::int64_t>(fileTime / kUnitsPerSecond) - kEpochOffset;
}

bool RunsInUtc() {
  const char* tz = std::getenv("TZ");
  return tz != nullptr && std::strcmp(tz, "UTC") == 0;
}

#define REQUIRE_UTC() \
  if (!RunsInUtc()) GTEST_SKIP() << "needs TZ=UTC (set by ctest)"

LocalFields Fields(int year, int month, int day, int hour, int minute, int second) {
  LocalFields f;
  f.year = year;
  f.month = month;
  f.day = day;
  f.hour = hour;
  f.minute = minute;
  f.second = second;
  return f;
}

TEST(Files, FindFileInfoGivesSizeAndLastWriteTime) {
  TempFolder folder;
  std::string path = folder.File("song.txt");
  std::int64_t before = CurrentTime();
  TempFolder::WriteBytes(path, std::string(1234, 'x'));
  std::int64_t after = CurrentTime();
  EXPECT_GT(before, 1577836800);  // the clock is past 2020

  FileInfo info;
  ASSERT_TRUE(FindFileInfo(path.c_str(), &info));
  EXPECT_EQ(info.size, 1234u);
  std::int64_t written = FileTimeToUnix(info.lastWriteTime);
  EXPECT_GE(written, before - 3);
  EXPECT_LE(written, after + 3);

  FileInfo untouched;
  untouched.size = 77;
  EXPECT_FALSE(FindFileInfo(folder.File("missing.txt").c_str(), &untouched));
}

TEST(Files, OpenForReadingIsByteExact) {
  TempFolder folder;
  std::string path = folder.File("bytes.bin");
  const std::string bytes("a\r\nb\n\x1A\x00z", 8);
  TempFolder::WriteBytes(path, bytes);
  std::FILE* file = OpenFileForReading(path.c_str());
  ASSERT_NE(file, nullptr);
  char buffer[16];
  std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
  std::fclose(file);
  EXPECT_EQ(std::string(buffer, n), bytes);
  EXPECT_EQ(OpenFileForReading(folder.File("missing.bin").c_str()), nullptr);
}

// A folder is found (as FindFirstFileA finds it) but never opened as a file,
// so the server answers 404 for it rather than an empty page.
TEST(Files, AFolderIsNotOpenedForReading) {
  TempFolder folder;
  std::string sub = folder.File("sub");
  std::filesystem::create_directories(sub);
  std::FILE* file = OpenFileForReading(sub.c_str());
  if (file != nullptr) std::fclose(file);
  EXPECT_EQ(file, nullptr);
}

TEST(Files, LastWriteTimeRoundTripsThroughLocalFields) {
  REQUIRE_UTC();
  TempFolder folder;
  std::string path = folder.File("page.html");
  TempFolder::WriteBytes(path, "<html></html>");
  FileInfo info;
  ASSERT_TRUE(FindFileInfo(path.c_str(), &info));
  LocalFields fields;
  ASSERT_TRUE(FileTimeToLocalFields(info.lastWriteTime, &fields));
  std::int64_t seconds = 0;
  ASSERT_TRUE(LocalFieldsToTime(fields, -1, &seconds));
  EXPECT_EQ(seconds, FileTimeToUnix(info.lastWriteTime));
}

TEST(Files, FileTimeToLocalFieldsInUtc) {
  REQUIRE_UTC();
  // 1994-11-06 08:49:37.5 UTC; the fraction is dropped.
  std::uint64_t fileTime = static_cast<std::uint64_t>(784111777 + kEpochOffset) * kUnitsPerSecond + 5000000;
  LocalFields fields;
  ASSERT_TRUE(FileTimeToLocalFields(fileTime, &fields));
  EXPECT_EQ(fields.year, 1994);
  EXPECT_EQ(fields.month, 11);
  EXPECT_EQ(fields.day, 6);
  EXPECT_EQ(fields.hour, 8);
  EXPECT_EQ(fields.minute, 49);
  EXPECT_EQ(fields.second, 37);
}

TEST(Files, LocalFieldsToTimeInUtcAndItsRange) {
  REQUIRE_UTC();
  std::int64_t t = -1;
  ASSERT_TRUE(LocalFieldsToTime(Fields(1994, 11, 6, 8, 49, 37), -1, &t));
  EXPECT_EQ(t, 784111777);
  ASSERT_TRUE(LocalFieldsToTime(Fields(1970, 1, 1, 0, 0, 0), -1, &t));
  EXPECT_EQ(t, 0);
  ASSERT_TRUE(LocalFieldsToTime(Fields(2040, 1, 1, 0, 0, 0), -1, &t));  // after 2038
  EXPECT_EQ(t, 2208988800LL);
  ASSERT_TRUE(LocalFieldsToTime(Fields(3000, 12, 31, 23, 59, 59), -1, &t));
  EXPECT_EQ(t, 32535215999LL);

  t = 12345;
  EXPECT_FALSE(LocalFieldsToTime(Fields(94, 11, 6, 8, 49, 37), -1, &t));  // a two-digit year
  EXPECT_FALSE(LocalFieldsToTime(Fields(1969, 12, 31, 23, 59, 59), -1, &t));
  EXPECT_FALSE(LocalFieldsToTime(Fields(1900, 1, 1, 0, 0, 0), -1, &t));
  EXPECT_FALSE(LocalFieldsToTime(Fields(3001, 1, 1, 0, 0, 0), -1, &t));
  EXPECT_EQ(t, 12345);  // untouched on failure
}

TEST(Files, StandardBiasIsZeroInUtc) {
  REQUIRE_UTC();
  EXPECT_EQ(StandardBiasMinutes(), 0);
}

TEST(Files, UtcBreakdown) {
  std::tm fields{};
  ASSERT_TRUE(UtcBreakdown(0, &fields));
  EXPECT_EQ(fields.tm_year, 70);
  EXPECT_EQ(fields.tm_mon, 0);
  EXPECT_EQ(fields.tm_mday, 1);
  EXPECT_EQ(fields.tm_hour, 0);
  EXPECT_EQ(fields.tm_wday, 4);  // a Thursday
  EXPECT_EQ(fields.tm_yday, 0);

  ASSERT_TRUE(UtcBreakdown(784111777, &fields));
  EXPECT_EQ(fields.tm_year, 94);
  EXPECT_EQ(fields.tm_mon, 10);
  EXPECT_EQ(fields.tm_mday, 6);
  EXPECT_EQ(fields.tm_hour, 8);
  EXPECT_EQ(fields.tm_min, 49);
  EXPECT_EQ(fields.tm_sec, 37);
  EXPECT_EQ(fields.tm_wday, 0);  // a Sunday

  ASSERT_TRUE(UtcBreakdown(2208988800LL, &fields));  // after 2038
  EXPECT_EQ(fields.tm_year, 140);
  EXPECT_EQ(fields.tm_mon, 0);
  EXPECT_EQ(fields.tm_mday, 1);
  EXPECT_EQ(fields.tm_wday, 0);
}

}  // namespace
}  // namespace platform
}  // namespace ambervox
