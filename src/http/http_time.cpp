#include "http/http_time.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/files.h"

namespace ambervox {

namespace {

const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// The formatted text, bounded like strftime's 128-byte buffer (room is kept
// for the terminating zero).
class BoundedText {
 public:
  bool Append(const char* text, std::size_t length) {
    if (length_ + length >= sizeof(buffer_)) return false;
    std::memcpy(buffer_ + length_, text, length);
    length_ += length;
    return true;
  }
  bool Append(const char* text) { return Append(text, std::strlen(text)); }
  bool AppendTwoDigits(int value) {
    char digits[2] = {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
    return Append(digits, 2);
  }
  bool AppendNumber(long long value) {
    char digits[24];
    int n = std::snprintf(digits, sizeof(digits), "%lld", value);
    return n > 0 && Append(digits, static_cast<std::size_t>(n));
  }
  ByteString Text() const { return ByteString(buffer_, static_cast<int>(length_)); }

 private:
  char buffer_[128];
  std::size_t length_ = 0;
};

bool AppendConversion(char conversion, const std::tm& fields, BoundedText* out) {
  switch (conversion) {
    case 'a':
      return out->Append(kShortDays[fields.tm_wday]);
    case 'A':
      return out->Append(kLongDays[fields.tm_wday]);
    case 'b':
      return out->Append(kShortMonths[fields.tm_mon]);
    case 'B':
      return out->Append(kLongMonths[fields.tm_mon]);
    case 'd':
      return out->AppendTwoDigits(fields.tm_mday);
    case 'm':
      return out->AppendTwoDigits(fields.tm_mon + 1);
    case 'y':
      return out->AppendTwoDigits(((fields.tm_year + 1900) % 100 + 100) % 100);
    case 'Y':
      return out->AppendNumber(static_cast<long long>(fields.tm_year) + 1900);
    case 'H':
      return out->AppendTwoDigits(fields.tm_hour);
    case 'M':
      return out->AppendTwoDigits(fields.tm_min);
    case 'S':
      return out->AppendTwoDigits(fields.tm_sec);
    case '%':
      return out->Append("%", 1);
    default:
      return false;
  }
}

bool FieldsInRange(const std::tm& f) {
  return f.tm_wday >= 0 && f.tm_wday <= 6 && f.tm_mon >= 0 && f.tm_mon <= 11 && f.tm_mday >= 1 && f.tm_mday <= 31 &&
         f.tm_hour >= 0 && f.tm_hour <= 23 && f.tm_min >= 0 && f.tm_min <= 59 && f.tm_sec >= 0 && f.tm_sec <= 60;
}

bool IsScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads a date text the way sscanf reads it with %s, %d, %Ns, literal bytes
// and blanks, without sscanf's undefined behaviour on numbers that overflow
// (they saturate here) and independent of the locale.
class DateScanner {
 public:
  explicit DateScanner(const char* text) : p_(text) {}

  // A blank in a scan pattern: any run of white space, possibly none.
  void SkipSpace() {
    while (IsScanSpace(*p_)) ++p_;
  }
  // %s (or %Ns with maxChars N): white space skipped, then at least one
  // non-space byte, at most maxChars of them.
  bool Word(char* out, std::size_t size, std::size_t maxChars) {
    SkipSpace();
    std::size_t n = 0;
    if (maxChars > size - 1) maxChars = size - 1;
    while (*p_ != 0 && !IsScanSpace(*p_) && n < maxChars) out[n++] = *p_++;
    out[n] = 0;
    return n > 0;
  }
  // %d: white space skipped, an optional sign, then at least one digit.
  bool Number(int* out) {
    SkipSpace();
    const char* p = p_;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (value <= 3000000000LL) value = value * 10 + (*p - '0');
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    if (value < -2147483647LL - 1) value = -2147483647LL - 1;
    *out = static_cast<int>(value);
    p_ = p;
    return true;
  }
  // A literal byte of the pattern: must stand next, no space is skipped.
  bool Literal(char c) {
    if (*p_ != c) return false;
    ++p_;
    return true;
  }

 private:
  const char* p_;
};

struct DateFields {
  char weekday[48];
  char month[48];
  char zone[48];
  int day = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "Sun, 06 Nov 1994 08:49:37 GMT": "%s %d %s %d %d:%d:%d %s".
bool ScanCommaForm(const char* text, DateFields* f) {
  DateScanner s(text);
  return s.Word(f->weekday, sizeof(f->weekday), sizeof(f->weekday)) && s.Number(&f->day) &&
         s.Word(f->month, sizeof(f->month), sizeof(f->month)) && s.Number(&f->year) && s.Number(&f->hour) &&
         s.Literal(':') && s.Number(&f->minute) && s.Literal(':') && s.Number(&f->second) &&
         s.Word(f->zone, sizeof(f->zone), sizeof(f->zone));
}

// "Sun Nov  6 08:49:37 1994": "%s %s %d %d:%d:%d %d".
bool ScanAsctimeForm(const char* text, DateFields* f) {
  DateScanner s(text);
  return s.Word(f->weekday, sizeof(f->weekday), sizeof(f->weekday)) &&
         s.Word(f->month, sizeof(f->month), sizeof(f->month)) && s.Number(&f->day) && s.Number(&f->hour) &&
         s.Literal(':') && s.Number(&f->minute) && s.Literal(':') && s.Number(&f->second) && s.Number(&f->year);
}

// "Sunday, 06-Nov-94 08:49:37 GMT": "%s %d-%3s-%d %d:%d:%d %s".
bool ScanHyphenForm(const char* text, DateFields* f) {
  DateScanner s(text);
  return s.Word(f->weekday, sizeof(f->weekday), sizeof(f->weekday)) && s.Number(&f->day) && s.Literal('-') &&
         s.Word(f->month, sizeof(f->month), 3) && s.Literal('-') && s.Number(&f->year) && s.Number(&f->hour) &&
         s.Literal(':') && s.Number(&f->minute) && s.Literal(':') && s.Number(&f->second) &&
         s.Word(f->zone, sizeof(f->zone), sizeof(f->zone));
}

bool EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

// 1-12, or 0 when the text is not one of the three-letter month names.
int MonthFromName(const char* name) {
  for (int i = 0; i < 12; ++i) {
    if (EqualsNoCase(name, kShortMonths[i])) return i + 1;
  }
  return 0;
}

int DaysInMonth(int month, int year) {
  if (month == 2) {
    bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
    return leap ? 29 : 28;
  }
  if (month == 4 || month == 6 || month == 9 || month == 11) return 30;
  return 31;
}

}  // namespace

ByteString FormatHttpTime(HttpTime time, const char* pattern) {
  if (pattern == nullptr) return ByteString();
  std::tm fields{};
  if (!platform::UtcBreakdown(time, &fields) || !FieldsInRange(fields)) return ByteString();
  BoundedText out;
  for (const char* p = pattern; *p != 0; ++p) {
    if (*p != '%') {
      if (!out.Append(p, 1)) return ByteString();
      continue;
    }
    ++p;
    if (*p == 0 || !AppendConversion(*p, fields, &out)) return ByteString();
  }
  return out.Text();
}

bool TimeFromLocalFields(int year, int month, int day, int hour, int minute, int second, int isDst, HttpTime* out) {
  platform::LocalFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  fields.hour = hour;
  fields.minute = minute;
  fields.second = second;
  std::int64_t converted = 0;
  if (!platform::LocalFieldsToTime(fields, isDst, &converted)) return false;
  if (out != nullptr) *out = converted;
  return true;
}

HttpTime TimeFromFileTime(std::uint64_t fileTime) {
  platform::LocalFields fields;
  if (!platform::FileTimeToLocalFields(fileTime, &fields)) return 0;
  if (fields.year < 1900) return 0;
  HttpTime time = 0;
  if (!TimeFromLocalFields(fields.year, fields.month, fields.day, fields.hour, fields.minute, fields.second, -1,
                           &time)) {
    return 0;
  }
  return time;
}

std::int64_t TimeSpanSeconds(std::int64_t days, std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
  return ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
}

int ParseHttpDate(const char* text, HttpTime* out) {
  char copy[1024];
  std::size_t length = 0;
  if (text != nullptr) {
    while (length < sizeof(copy) - 1 && text[length] != 0 && text[length] != ';') {
      copy[length] = text[length];
      ++length;
    }
  }
  copy[length] = 0;
  if (length > 40) return kHttpDateTooLong;
  if (length <= 4) return kHttpDateTooShort;

  DateFields f;
  bool complete;
  const unsigned char fourth = static_cast<unsigned char>(copy[3]);
  if (fourth == ',') {
    complete = ScanCommaForm(copy, &f);
  } else if (fourth == ' ') {
    complete = ScanAsctimeForm(copy, &f);
  } else if (fourth >= 0x80) {
    return kHttpDateNotAscii;
  } else {
    complete = ScanHyphenForm(copy, &f);
  }
  if (!complete) return kHttpDateIncomplete;

  if (f.year <= 70) return kHttpDateBadYear;
  if (f.day < 1 || f.day > 31) return kHttpDateBadDay;
  if (f.hour < 0 || f.hour > 23) return kHttpDateBadHour;
  if (f.minute < 0 || f.minute > 59) return kHttpDateBadMinute;
  if (f.second < 0 || f.second > 59) return kHttpDateBadSecond;
  const int month = MonthFromName(f.month);
  if (month == 0) return kHttpDateBadMonth;
  if (f.day > DaysInMonth(month, f.year)) return kHttpDateDayNotInMonth;

  HttpTime local = 0;
  if (!TimeFromLocalFields(f.year, month, f.day, f.hour, f.minute, f.second, -1, &local)) {
    return kHttpDateNotRepresentable;
  }
  if (out != nullptr) *out = local - TimeSpanSeconds(0, 0, platform::StandardBiasMinutes(), 0);
  return kHttpDateOk;
}

}  // namespace ambervox
