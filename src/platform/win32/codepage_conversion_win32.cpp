// UTF-8 to the ANSI code page through UTF-16 with the system's conversions.
// Invalid UTF-8 is refused; characters the code page lacks become "?"
// rather than a best-fit look-alike.
#include "platform/win32/win32_api.h"

#include <vector>

#include "platform/codepage_conversion.h"

namespace ambervox {
namespace platform {

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
  if (ansi == nullptr) return false;
  if (utf8.empty()) {
    ansi->clear();
    return true;
  }
  const int inLength = static_cast<int>(utf8.size());
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
  if (units <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), units) != units) {
    return false;
  }
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, "?", nullptr);
  if (bytes <= 0) return false;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, &out[0], bytes, "?", nullptr) !=
      bytes) {
    return false;
  }
  ansi->swap(out);
  return true;
}

}  // namespace platform
}  // namespace ambervox
