// Files and time on POSIX. Paths given to this layer may use backslashes as
// folder separators; they are turned into slashes before use.
#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <string>

#include "platform/files.h"

namespace ambervox {
namespace platform {
namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 11644473600LL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000LL;
// 3000-12-31 23:59:59 UTC, the last time the 64-bit Win32 runtime accepts.
constexpr std::int64_t kLastConvertibleTime = 32535215999LL;

std::string NativePath(const char* path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

// The offset of local time from UTC in seconds now (east positive).
long CurrentUtcOffset() {
  time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

}  // namespace

bool FindFileInfo(const char* path, FileInfo* out) {
  if (path == nullptr || out == nullptr || *path == '\0') return false;
  struct stat status {};
  if (stat(NativePath(path).c_str(), &status) != 0) return false;
  out->size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
  std::int64_t seconds = static_cast<std::int64_t>(status.st_mtim.tv_sec) + kFileTimeEpochOffset;
  out->lastWriteTime = static_cast<std::uint64_t>(seconds * kFileTimeUnitsPerSecond + status.st_mtim.tv_nsec / 100);
  return true;
}

bool FindRegularFile(const char* path, FileInfo* info, std::string* longPath) {
  if (path == nullptr || info == nullptr || longPath == nullptr || *path == '\0') return false;
  struct stat status {};
  if (stat(NativePath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  info->size = static_cast<std::uint64_t>(status.st_size);
  std::int64_t seconds = static_cast<std::int64_t>(status.st_mtim.tv_sec) + kFileTimeEpochOffset;
  info->lastWriteTime = static_cast<std::uint64_t>(seconds * kFileTimeUnitsPerSecond + status.st_mtim.tv_nsec / 100);
  *longPath = path;
  return true;
}

std::FILE* OpenFileForReading(const char* path) {
  if (path == nullptr) return nullptr;
  std::FILE* file = std::fopen(NativePath(path).c_str(), "rb");
  // fopen opens a folder on POSIX, where Windows refuses it: refuse it too,
  // so that a folder is never served as an empty file.
  struct stat info;
  if (file != nullptr && (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool FileTimeToLocalFields(std::uint64_t fileTime, LocalFields* out) {
  if (out == nullptr || fileTime >= 0x8000000000000000ULL) return false;
  // As FileTimeToLocalFileTime does, the offset in effect now is applied,
  // not the one in effect at that time.
  std::int64_t seconds =
      static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerSecond) - kFileTimeEpochOffset + CurrentUtcOffset();
  time_t value = static_cast<time_t>(seconds);
  tm fields{};
  if (gmtime_r(&value, &fields) == nullptr) return false;
  out->year = fields.tm_year + 1900;
  out->month = fields.tm_mon + 1;
  out->day = fields.tm_mday;
  out->hour = fields.tm_hour;
  out->minute = fields.tm_min;
  out->second = fields.tm_sec;
  return true;
}

bool LocalFieldsToTime(const LocalFields& fields, int isDst, std::int64_t* out) {
  if (out == nullptr || fields.year < 1970 || fields.year > 3000) return false;
  tm local{};
  local.tm_year = fields.year - 1900;
  local.tm_mon = fields.month - 1;
  local.tm_mday = fields.day;
  local.tm_hour = fields.hour;
  local.tm_min = fields.minute;
  local.tm_sec = fields.second;
  local.tm_isdst = isDst;
  time_t result = mktime(&local);
  // mktime answers -1 on failure; -1 is also before 1970, which is refused.
  if (result < 0 || static_cast<std::int64_t>(result) > kLastConvertibleTime) return false;
  *out = static_cast<std::int64_t>(result);
  return true;
}

int StandardBiasMinutes() {
  // The offset of a date without daylight saving: now, or else mid-January
  // or mid-July of this year, whichever has none.
  time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  if (local.tm_isdst > 0) {
    for (int month : {0, 6}) {
      tm probe{};
      probe.tm_year = local.tm_year;
      probe.tm_mon = month;
      probe.tm_mday = 15;
      probe.tm_hour = 12;
      probe.tm_isdst = -1;
      time_t t = mktime(&probe);
      tm other{};
      if (t != static_cast<time_t>(-1) && localtime_r(&t, &other) != nullptr && other.tm_isdst == 0) {
        return static_cast<int>(-other.tm_gmtoff / 60);
      }
    }
  }
  return static_cast<int>(-local.tm_gmtoff / 60);
}

bool UtcBreakdown(std::int64_t time, std::tm* out) {
  if (out == nullptr) return false;
  time_t value = static_cast<time_t>(time);
  if (static_cast<std::int64_t>(value) != time) return false;
  return gmtime_r(&value, out) != nullptr;
}

std::int64_t CurrentTime() { return static_cast<std::int64_t>(time(nullptr)); }

}  // namespace platform
}  // namespace ambervox
