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
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, &out[0], bytes, "?", nullptr) != bytes) {
    return false;
  }
  ansi->swap(out);
  return true;
}

namespace {

// `utf16` := `text` in code page `codePage` as UTF-16, with `flags` for
// MultiByteToWideChar.
bool MultiByteToUtf16(UINT codePage, DWORD flags, const std::string& text, std::u16string* utf16) {
  if (utf16 == nullptr) return false;
  if (text.empty()) {
    utf16->clear();
    return true;
  }
  const int inLength = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(codePage, flags, text.data(), inLength, nullptr, 0);
  if (units <= 0) return false;
  std::u16string out(static_cast<std::size_t>(units), u'\0');
  if (MultiByteToWideChar(codePage, flags, text.data(), inLength, reinterpret_cast<wchar_t*>(&out[0]), units) !=
      units) {
    return false;
  }
  utf16->swap(out);
  return true;
}

}  // namespace

bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16) {
  return MultiByteToUtf16(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, utf16);
}

bool AnsiToUtf16(const std::string& ansi, std::u16string* utf16) { return MultiByteToUtf16(CP_ACP, 0, ansi, utf16); }

namespace {

// `bytes` := `count` UTF-16 units in the ANSI code page; false when one of
// them has no code there (the system then used its default character).
bool ToAnsiExactly(const char16_t* units, int count, std::string* bytes) {
  const wchar_t* const wide = reinterpret_cast<const wchar_t*>(units);
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  bytes->resize(static_cast<std::size_t>(length));
  usedDefault = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, &(*bytes)[0], length, nullptr, &usedDefault) !=
      length) {
    return false;
  }
  return !usedDefault;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void SplitByAnsiCodePage(const std::u16string& wide, const std::function<void(const char*, std::size_t)>& held,
                         const std::function<void(std::uint32_t)>& unheld) {
  if (wide.empty()) return;
  std::string bytes;
  const int count = static_cast<int>(wide.size());
  if (ToAnsiExactly(wide.data(), count, &bytes)) {
    held(bytes.data(), bytes.size());
    return;
  }
  std::string run;
  int at = 0;
  while (at < count) {
    const int start = at;
    std::uint32_t codePoint = wide[static_cast<std::size_t>(at++)];
    if (IsHighSurrogate(static_cast<char16_t>(codePoint)) && at < count &&
        IsLowSurrogate(wide[static_cast<std::size_t>(at)])) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (wide[static_cast<std::size_t>(at)] - 0xDC00u);
      ++at;
    }
    // A lone surrogate is no character the code page could hold.
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (!surrogate && ToAnsiExactly(wide.data() + start, at - start, &bytes)) {
      run.append(bytes);
      continue;
    }
    if (!run.empty()) {
      held(run.data(), run.size());
      run.clear();
    }
    unheld(codePoint);
  }
  if (!run.empty()) held(run.data(), run.size());
}

}  // namespace platform
}  // namespace ambervox
