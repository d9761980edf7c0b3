// Files and time. time_t is 32 bits in the i686 msvcrt runtime, so every time
// conversion uses the runtime's 64-bit functions (_mktime64, _gmtime64_s,
// _time64) and dates after 2038 work.
#include "platform/win32/win32_api.h"

#include <time.h>

#include <cstring>
#include <string>

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
    out->lastWriteTime =
        static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  }
  return true;
}

namespace {

// ANSI code page text to UTF-16 and back; false when it does not convert.
bool AnsiToWide(const char* text, std::wstring* wide) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return false;
  wide->assign(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, &(*wide)[0], units) != units) return false;
  wide->resize(static_cast<std::size_t>(units - 1));
  return true;
}

bool WideToAnsi(const std::wstring& wide, std::string* text) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  text->assign(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &(*text)[0], bytes, nullptr, nullptr) != bytes) return false;
  text->resize(static_cast<std::size_t>(bytes - 1));
  return true;
}

}  // namespace

bool FindRegularFile(const char* path, FileInfo* info, std::string* longPath) {
  if (!path || !info || !longPath || *path == '\0' || std::strpbrk(path, "*?")) return false;
  std::wstring wide;
  if (!AnsiToWide(path, &wide)) return false;
  // Asking for the attributes only reads nothing, and a folder does not open
  // without FILE_FLAG_BACKUP_SEMANTICS. What opens may still be a device
  // (a serial port, a pipe): only a disk file is served.
  HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION data;
  const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &data) &&
                       (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  CloseHandle(file);
  if (!regular) return false;
  // Each component in its long form, so that the caller judges the names
  // the file really has, not a short alias of them.
  const DWORD units = GetLongPathNameW(wide.c_str(), nullptr, 0);
  if (units == 0) return false;
  std::wstring longWide(units, L'\0');
  const DWORD written = GetLongPathNameW(wide.c_str(), &longWide[0], units);
  if (written == 0 || written >= units) return false;
  longWide.resize(written);
  if (!WideToAnsi(longWide, longPath)) return false;
  info->size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  info->lastWriteTime =
      static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
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
