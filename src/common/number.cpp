#include "common/number.h"

#include <climits>

namespace ambervox {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

int ParseNumber(const char* text, int maxLength) {
  if (text == nullptr || maxLength <= 0) return 0;
  int i = 0;
  while (i < maxLength && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < maxLength && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so INT_MIN is reachable exactly.
  long long value = 0;
  bool saturated = false;
  for (; i < maxLength && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (!saturated) {
      value = value * 10 + (text[i] - '0');
      if (value > static_cast<long long>(INT_MAX) + 1) saturated = true;
    }
  }
  if (negative) {
    if (saturated || value > static_cast<long long>(INT_MAX) + 1) return INT_MIN;
    return static_cast<int>(-value);
  }
  if (saturated || value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

int ParseNumber(const char* text) { return ParseNumber(text, INT_MAX); }

}  // namespace ambervox
