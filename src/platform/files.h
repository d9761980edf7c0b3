// Files and time. Paths are bytes in the ANSI code page; on POSIX a backslash
// in a path given to this layer is a folder separator. All functions are
// thread-safe and keep no shared buffers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace ambervox {
namespace platform {

struct FileInfo {
  std::uint64_t size = 0;
  // Last write time as a Win32 FILETIME value: 100-ns units since
  // 1601-01-01 00:00:00 UTC.
  std::uint64_t lastWriteTime = 0;
};

// Finds a file (FindFirstFileA); false when nothing exists at the path.
bool FindFileInfo(const char* path, FileInfo* out);
// Finds a file to serve: true only when `path` names a regular disk file
// (Win32: it opens, GetFileType is FILE_TYPE_DISK and it is no folder; POSIX:
// a regular file, which also refuses folders, devices and pipes). Then
// `info` is its size and last write time, and `longPath` the path with every
// component in its long form (Win32: GetLongPathNameW, so an 8.3 short name
// such as "GIT~1" comes back as the name it stands for; POSIX, where a
// name has one spelling, the path as given). `longPath` has as many
// components as `path`.
bool FindRegularFile(const char* path, FileInfo* info, std::string* longPath);
// fopen(path, "rb"); nullptr on failure. The caller fcloses it, best by
// handing it to a ScopedFile.
std::FILE* OpenFileForReading(const char* path);

// The owner of an open file: fclose when it goes.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using ScopedFile = std::unique_ptr<std::FILE, FileCloser>;

// Calendar fields of a local time.
struct LocalFields {
  int year = 0;    // full year, e.g. 2007
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
};

// FileTimeToLocalFileTime then FileTimeToSystemTime; false when the system
// cannot convert the value.
bool FileTimeToLocalFields(std::uint64_t fileTime, LocalFields* out);

// mktime of local calendar fields (isDst -1 lets the conversion decide) into
// seconds since 1970-01-01 00:00:00 UTC. False when the conversion rejects
// the fields; on both platforms that includes every time before 1970 and
// after 3000-12-31 23:59:59 (the range of the 64-bit Win32 runtime).
bool LocalFieldsToTime(const LocalFields& fields, int isDst, std::int64_t* out);

// The local time zone's standard bias in minutes: UTC minus local standard
// time (GetTimeZoneInformation().Bias; Tokyo gives -540). Daylight saving is
// not included.
int StandardBiasMinutes();

// Thread-safe gmtime into a caller-owned result; false when the time cannot
// be broken down.
bool UtcBreakdown(std::int64_t time, std::tm* out);

// The system clock as seconds since 1970-01-01 00:00:00 UTC.
std::int64_t CurrentTime();

}  // namespace platform
}  // namespace ambervox
