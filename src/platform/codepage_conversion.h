// Conversion of UTF-8 text into the system's ANSI code page, for files that
// come in UTF-8 (an .m3u8 playlist) while everything else of the system
// holds text as ANSI bytes.
//
// Win32: MultiByteToWideChar then WideCharToMultiByte with the ANSI code page
// (932 on the machines this is made for). POSIX: code page 932 fixed, through
// ICU's Microsoft table. Thread-safe.
#pragma once

#include <string>

namespace ambervox {
namespace platform {

// `ansi` := `utf8` in the ANSI code page. A character the code page lacks
// becomes "?" (no best-fit look-alikes). False, with `ansi` untouched, when
// `utf8` is not valid UTF-8.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

}  // namespace platform
}  // namespace ambervox
