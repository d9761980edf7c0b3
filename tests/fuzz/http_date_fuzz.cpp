// Fuzzes the HTTP dates: ParseHttpDate over arbitrary text, FormatHttpTime
// over arbitrary times and patterns.
//
// Invariants (the target needs TZ=UTC, as ctest and tools/fuzz.sh set it):
// - ParseHttpDate answers one of its result numbers and writes the time
//   only on success.
// - A parsed time lies from 1970 to the year 3000, and formatting it in each
//   of the three forms browsers send parses back to the same time.
// - The first eight bytes read as a time: every formatted text fits the
//   128-byte bound, and a time from 1970 to 3000 round-trips the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "http/http_time.h"
#include "platform/files.h"

namespace ambervox {
namespace {

// 1970-01-01 00:00:00 (a year written with four digits) and 3000-12-31
// 23:59:59 UTC.
constexpr HttpTime kFirstParsable = 0;
constexpr HttpTime kLastParsable = 32535215999LL;

// The three forms of ParseHttpDate, as a browser or this server writes them.
const char* const kForms[] = {
    kHttpDatePattern,             // Sun, 06 Nov 1994 08:49:37 GMT
    "%a %b %d %H:%M:%S %Y",       // Sun Nov 06 08:49:37 1994
    "%A, %d-%b-%Y %H:%M:%S GMT",  // Sunday, 06-Nov-1994 08:49:37 GMT
};

void CheckRoundTrip(HttpTime time) {
  for (const char* form : kForms) {
    const ByteString text = FormatHttpTime(time, form);
    FUZZ_CHECK(!text.IsEmpty());
    HttpTime back = -1;
    const int result = ParseHttpDate(text.CStr(), &back);
    if (result != kHttpDateOk || back != time) {
      std::fprintf(stderr, "%lld -> \"%s\" -> %d, %lld\n", static_cast<long long>(time), text.CStr(), result,
                   static_cast<long long>(back));
    }
    FUZZ_CHECK(result == kHttpDateOk);
    FUZZ_CHECK(back == time);
  }
}

bool IsResultNumber(int result) {
  return (result >= kHttpDateOk && result <= kHttpDateBadSecond) ||
         (result >= kHttpDateBadMonth && result <= kHttpDateNotRepresentable);
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* zone = std::getenv("TZ");
  if (zone == nullptr || std::strcmp(zone, "UTC") != 0 || ambervox::platform::StandardBiasMinutes() != 0) {
    std::fprintf(stderr, "http_date_fuzz: run with TZ=UTC\n");
    std::exit(1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  // The header value as the router hands it over: a C string.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const HttpTime untouched = -12345;
  HttpTime parsed = untouched;
  const int result = ParseHttpDate(text.c_str(), &parsed);
  FUZZ_CHECK(IsResultNumber(result));
  if (result == kHttpDateOk) {
    FUZZ_CHECK(parsed >= kFirstParsable && parsed <= kLastParsable);
    CheckRoundTrip(parsed);
  } else {
    FUZZ_CHECK(parsed == untouched);
  }

  if (size >= 8) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, 8);
    const HttpTime time = static_cast<HttpTime>(bits);
    const std::string pattern(reinterpret_cast<const char*>(data) + 8, size - 8);
    const ByteString formatted = FormatHttpTime(time, pattern.c_str());
    FUZZ_CHECK(formatted.Length() < 128);
    // Also a time near the parsable range, where the round trip must hold.
    const HttpTime inRange = kFirstParsable + static_cast<HttpTime>(bits % (kLastParsable - kFirstParsable + 1));
    CheckRoundTrip(inRange);
    if (time >= kFirstParsable && time <= kLastParsable) CheckRoundTrip(time);
  }
  return 0;
}
