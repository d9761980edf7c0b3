// The one rule for numbers read from text (query values, settings, dialog
// fields): leading blanks and one sign are accepted, conversion stops at the
// first character that is not a digit, and text without leading digits gives
// 0. Values beyond the 32-bit range saturate at INT_MIN / INT_MAX instead of
// being undefined.
#pragma once

namespace ambervox {

int ParseNumber(const char* text);
// The same, looking at no more than `maxLength` bytes of `text`.
int ParseNumber(const char* text, int maxLength);

}  // namespace ambervox
