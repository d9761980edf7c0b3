// UTF-8 to code page 932 through ICU: UTF-8 to UTF-16 (stopping at invalid
// input), then UTF-16 to ICU's "windows-932" without fallback mappings, so a
// character outside the code page becomes the substitution byte "?".
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

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
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  // A UTF-8 byte never gives more than one UTF-16 unit.
  std::vector<UChar> wide(utf8.size() + 1);
  u_strFromUTF8(wide.data(), static_cast<int32_t>(wide.size()), &units, utf8.data(),
                static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return false;

  status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open("windows-932", &status);
  if (U_FAILURE(status)) return false;
  ucnv_setFallback(converter, false);
  ucnv_setSubstChars(converter, "?", 1, &status);
  // A UTF-16 unit never gives more than two bytes of code page 932.
  std::string out(static_cast<std::size_t>(units) * 2 + 1, '\0');
  status = U_ZERO_ERROR;
  int32_t bytes = ucnv_fromUChars(converter, &out[0], static_cast<int32_t>(out.size()), wide.data(), units, &status);
  ucnv_close(converter);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<std::size_t>(bytes));
  ansi->swap(out);
  return true;
}

}  // namespace platform
}  // namespace ambervox
