// UserId: the 16-byte identity of a browser, in the GUID layout, carried in
// the "UserID" cookie. Its text form is
// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X" (36 characters,
// upper-case hexadecimal, no braces). A plain value; thread-safe to copy.
#pragma once

#include <cstdint>

#include "common/byte_string.h"

namespace ambervox {

// The number of fields of the text form.
constexpr int kUserIdFields = 11;

struct UserId {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};

  // The text form.
  ByteString ToText() const;
  // Scans the text form field by field (hexadecimal, either letter case, as
  // sscanf with the format's conversions does). Fields the text does not
  // supply keep their values; returns the number of fields scanned (11 when
  // the whole text was read).
  int ScanText(const char* text);
  // A new random identity; false when none could be made (value unchanged).
  bool CreateNew();

  bool operator==(const UserId& other) const;
  bool operator!=(const UserId& other) const { return !(*this == other); }
};

}  // namespace ambervox
