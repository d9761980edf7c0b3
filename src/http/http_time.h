// HTTP dates: the time value of the server (HttpTime), its formatting for
// the Date, Last-Modified and cookie-expiry headers, the conversion of local
// calendar fields and of file times into it, and the parser of the three date
// forms browsers send in If-Modified-Since.
//
// Nothing here keeps state or shares a buffer: every breakdown goes into a
// result owned by the caller, so all functions may be called from many
// connection threads at once.
#pragma once

#include <cstdint>

#include "common/byte_string.h"

namespace ambervox {

// Seconds since 1970-01-01 00:00:00 UTC, signed 64-bit (dates after 2038
// work on every build, including 32-bit Windows).
using HttpTime = std::int64_t;

// Date and Last-Modified: "Thu, 01 Jan 1970 00:00:00 GMT".
constexpr const char kHttpDatePattern[] = "%a, %d %b %Y %H:%M:%S GMT";
// Cookie expiry, day, month and year joined by hyphens.
constexpr const char kCookieExpiryPattern[] = "%a, %d-%b-%Y %H:%M:%S GMT";

// `time` broken down as UTC and formatted by `pattern` in strftime syntax,
// with English day and month names whatever the locale. Supported
// conversions: %a %A %b %B %d %m %y %Y %H %M %S %%. The result must fit a
// 128-byte buffer with its terminating zero. The empty text when the time
// cannot be broken down, the result does not fit, or the pattern holds any
// other conversion.
ByteString FormatHttpTime(HttpTime time, const char* pattern);

// The local calendar fields (full year, month 1-12, day 1-31, hour, minute,
// second; isDst -1 lets the conversion decide) as an HttpTime, converted as
// mktime does. False when the conversion rejects them (every time before
// 1970 among them); `out` is then left untouched.
bool TimeFromLocalFields(int year, int month, int day, int hour, int minute, int second, int isDst, HttpTime* out);

// A file's last-write time (FILETIME: UTC, 100-ns units since 1601) as an
// HttpTime, through local calendar fields with whole seconds. A year before
// 1900, and a value the system cannot convert or represent, give 0.
HttpTime TimeFromFileTime(std::uint64_t fileTime);

// ((days * 24 + hours) * 60 + minutes) * 60 + seconds.
std::int64_t TimeSpanSeconds(std::int64_t days, std::int64_t hours, std::int64_t minutes, std::int64_t seconds);

// Results of ParseHttpDate. Callers only tell kHttpDateOk from the rest.
enum HttpDateResult {
  kHttpDateOk = 0,
  kHttpDateTooLong = 1,            // more than 40 characters before any ";"
  kHttpDateTooShort = 2,           // 4 characters or fewer
  kHttpDateNotAscii = 3,           // the fourth character is a byte from 0x80 up
  kHttpDateBadYear = 4,            // year 70 or less
  kHttpDateBadDay = 5,             // day outside 1-31
  kHttpDateBadHour = 6,            // hour outside 0-23
  kHttpDateBadMinute = 7,          // minute outside 0-59
  kHttpDateBadSecond = 8,          // second outside 0-59
  kHttpDateBadMonth = 10,          // not one of the twelve three-letter names
  kHttpDateDayNotInMonth = 11,     // e.g. 29 Feb in a common year, 31 Apr
  kHttpDateIncomplete = 12,        // the text does not hold every field of its form
  kHttpDateNotRepresentable = 13,  // the local-time conversion rejects it (e.g. year 94)
};

// Parses an If-Modified-Since value in any of the three forms
//   Sun, 06 Nov 1994 08:49:37 GMT      (fourth character ",")
//   Sun Nov  6 08:49:37 1994           (fourth character " ")
//   Sunday, 06-Nov-94 08:49:37 GMT     (anything else)
// Anything from the first ";" on is ignored; weekday and zone are read and
// ignored, the fields are taken as UTC in a zone without daylight saving
// (in a zone where daylight saving is in effect on that date the result is
// earlier by its offset). The year is used as written. Returns an
// HttpDateResult; `out` is written only on kHttpDateOk. A null text counts as
// empty.
int ParseHttpDate(const char* text, HttpTime* out);

}  // namespace ambervox
