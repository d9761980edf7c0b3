#include "common/user_id.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace ambervox {

ByteString UserId::ToText() const {
  return ByteString::Format("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(data1),
                            static_cast<unsigned>(data2), static_cast<unsigned>(data3), data4[0], data4[1], data4[2],
                            data4[3], data4[4], data4[5], data4[6], data4[7]);
}

int UserId::ScanText(const char* text) {
  if (text == nullptr) return 0;
  unsigned int d1 = 0, d2 = 0, d3 = 0;
  unsigned int b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  // The widths keep each field to its own digits, as the writer's widths do.
  int n = std::sscanf(text, "%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3], &b[4],
                      &b[5], &b[6], &b[7]);
  if (n < 0) n = 0;
  if (n > 0) data1 = d1;
  if (n > 1) data2 = static_cast<std::uint16_t>(d2);
  if (n > 2) data3 = static_cast<std::uint16_t>(d3);
  for (int i = 0; i < 8 && i + 3 < n; ++i) data4[i] = static_cast<std::uint8_t>(b[i]);
  return n;
}

bool UserId::CreateNew() { return platform::CreateGuid(&data1, &data2, &data3, data4); }

bool UserId::operator==(const UserId& other) const {
  return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 &&
         std::memcmp(data4, other.data4, sizeof data4) == 0;
}

}  // namespace ambervox
