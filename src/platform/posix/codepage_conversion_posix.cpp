// UTF-8 to code page 932 through ICU: UTF-8 to UTF-16 (stopping at invalid
// input), then UTF-16 to ICU's "windows-932" without fallback mappings, so a
// character outside the code page becomes the substitution byte "?". The
// split of a UTF-16 text by the code page uses the same table, stopping at
// every character it lacks instead of substituting it.
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <unicode/ucnv_err.h>
#include <unicode/utf16.h>

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
  u_strFromUTF8(wide.data(), static_cast<int32_t>(wide.size()), &units, utf8.data(), static_cast<int32_t>(utf8.size()),
                &status);
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

namespace {

// ICU converters are not safe to share between threads: each thread gets its
// own, which stops at a character the code page lacks instead of writing a
// substitute.
struct SplitConverter {
  SplitConverter() {
    UErrorCode status = U_ZERO_ERROR;
    converter = ucnv_open("windows-932", &status);
    if (U_FAILURE(status)) {
      converter = nullptr;
      return;
    }
    ucnv_setFallback(converter, false);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  }
  ~SplitConverter() {
    if (converter != nullptr) ucnv_close(converter);
  }
  SplitConverter(const SplitConverter&) = delete;
  SplitConverter& operator=(const SplitConverter&) = delete;

  // `bytes` := `units` in code page 932; false when one of them has no code.
  bool Convert(const UChar* units, int32_t count, std::string* bytes) {
    bytes->resize(static_cast<std::size_t>(count) * 2 + 1);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_fromUChars(converter, &(*bytes)[0], static_cast<int32_t>(bytes->size()), units, count, &status);
    if (U_FAILURE(status)) return false;
    bytes->resize(static_cast<std::size_t>(length));
    return true;
  }

  UConverter* converter = nullptr;
  std::string whole;
  std::string one;
  std::string run;
};

SplitConverter& ThreadSplitConverter() {
  thread_local SplitConverter converter;
  return converter;
}

}  // namespace

bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16) {
  if (utf16 == nullptr) return false;
  std::u16string out(utf8.size() + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8(reinterpret_cast<UChar*>(&out[0]), static_cast<int32_t>(out.size()), &units, utf8.data(),
                static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<std::size_t>(units));
  utf16->swap(out);
  return true;
}

bool AnsiToUtf16(const std::string& ansi, std::u16string* utf16) {
  if (utf16 == nullptr) return false;
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open("windows-932", &status);
  if (U_FAILURE(status)) return false;
  // A byte of code page 932 never gives more than one UTF-16 unit.
  std::u16string out(ansi.size() + 1, u'\0');
  const int32_t units = ucnv_toUChars(converter, reinterpret_cast<UChar*>(&out[0]), static_cast<int32_t>(out.size()),
                                      ansi.data(), static_cast<int32_t>(ansi.size()), &status);
  ucnv_close(converter);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<std::size_t>(units));
  utf16->swap(out);
  return true;
}

void SplitByAnsiCodePage(const std::u16string& wide, const std::function<void(const char*, std::size_t)>& held,
                         const std::function<void(std::uint32_t)>& unheld) {
  if (wide.empty()) return;
  const UChar* const units = reinterpret_cast<const UChar*>(wide.data());
  const int32_t count = static_cast<int32_t>(wide.size());
  SplitConverter& tools = ThreadSplitConverter();
  // Without the table nothing can be said to be held.
  if (tools.converter != nullptr && tools.Convert(units, count, &tools.whole)) {
    held(tools.whole.data(), tools.whole.size());
    return;
  }
  tools.run.clear();
  int32_t at = 0;
  while (at < count) {
    const int32_t start = at;
    UChar32 codePoint = 0;
    U16_NEXT(units, at, count, codePoint);
    if (tools.converter != nullptr && tools.Convert(units + start, at - start, &tools.one)) {
      tools.run.append(tools.one);
      continue;
    }
    if (!tools.run.empty()) {
      held(tools.run.data(), tools.run.size());
      tools.run.clear();
    }
    unheld(static_cast<std::uint32_t>(codePoint));
  }
  if (!tools.run.empty()) held(tools.run.data(), tools.run.size());
}

}  // namespace platform
}  // namespace ambervox
