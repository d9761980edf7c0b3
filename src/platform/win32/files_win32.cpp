// Files and time. time_t is 32 bits in the i686 msvcrt runtime, so every time
// conversion uses the runtime's 64-bit functions (_mktime64, _gmtime64_s,
// _time64) and dates after 2038 work.
#include "platform/win32/win32_api.h"

#include <time.h>

#include <cstring>

#include "platform/files.h"

namespace ambervox {
namespace platform {

namespace {

// 3000-12-31 23:59:59 UTC, the last time the 64-bit runtime functions accept.
constexpr std::int64_t kLastRuntimeTime = 32535215999LL;

}  // namespace

bool FindFileInfo(const char* path, FileInfo* out) {
  // FindFirstFileA takes wildcards, but a path names one file: "*" or "?"
  // (never a trail byte in a double-byte code page) cannot be in a file name.
  if (!path || std::strpbrk(path, "*?")) return false;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  if (out) {
    out->size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    out->lastWriteTime = static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                         data.ftLastWriteTime.dwLowDateTime;
  }
  return true;
}

std::FILE* OpenFileForReading(const char* path) { return std::fopen(path, "rb"); }

bool FileTimeToLocalFields(std::uint64_t fileTime, LocalFields* out) {
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
  utc.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) return false;
  if (out) {
    out->year = fields.wYear;
    out->month = fields.wMonth;
    out->day = fields.wDay;
    out->hour = fields.wHour;
    out->minute = fields.wMinute;
    out->second = fields.wSecond;
  }
  return true;
}

bool LocalFieldsToTime(const LocalFields& fields, int isDst, std::int64_t* out) {
  struct tm local = {};
  local.tm_year = fields.year - 1900;
  local.tm_mon = fields.month - 1;
  local.tm_mday = fields.day;
  local.tm_hour = fields.hour;
  local.tm_min = fields.minute;
  local.tm_sec = fields.second;
  local.tm_isdst = isDst;
  __time64_t time = _mktime64(&local);
  // The runtime answers -1 outside its range; the bounds are checked as well
  // so that every runtime version keeps to the same range.
  if (time < 0 || time > kLastRuntimeTime) return false;
  if (out) *out = time;
  return true;
}

int StandardBiasMinutes() {
  TIME_ZONE_INFORMATION zone;
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<int>(zone.Bias);
}

bool UtcBreakdown(std::int64_t time, std::tm* out) {
  if (!out) return false;
  __time64_t value = time;
  return _gmtime64_s(out, &value) == 0;
}

std::int64_t CurrentTime() { return _time64(nullptr); }

}  // namespace platform
}  // namespace ambervox
