// Conversion of UTF-8 text into the system's ANSI code page, for files that
// come in UTF-8 (an .m3u8 playlist) while everything else of the system
// holds text as ANSI bytes.
//
// Win32: MultiByteToWideChar then WideCharToMultiByte with the ANSI code page
// (932 on the machines this is made for). POSIX: code page 932 fixed, through
// ICU's Microsoft table. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace ambervox {
namespace platform {

// `ansi` := `utf8` in the ANSI code page. A character the code page lacks
// becomes "?" (no best-fit look-alikes). False, with `ansi` untouched, when
// `utf8` is not valid UTF-8.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

// `utf16` := `utf8` as UTF-16. False, with `utf16` untouched, when `utf8` is
// not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16);

// `utf16` := `ansi` (bytes in the ANSI code page) as UTF-16. False, with
// `utf16` untouched, when the conversion fails.
bool AnsiToUtf16(const std::string& ansi, std::u16string* utf16);

// Walks `wide` (UTF-16) in text order, one character at a time: each run of
// characters that the ANSI code page holds goes to `held` as its bytes in
// the code page; each other character goes to `unheld` as its Unicode code
// point (a surrogate pair is one character; an unpaired surrogate is its own
// code unit). No best-fit look-alikes: a character the code page has no code
// for is unheld. A text that the code page holds whole is one call to `held`
// (none when `wide` is empty).
void SplitByAnsiCodePage(const std::u16string& wide, const std::function<void(const char*, std::size_t)>& held,
                         const std::function<void(std::uint32_t)>& unheld);

}  // namespace platform
}  // namespace ambervox
