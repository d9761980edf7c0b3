// Code page services for text held as bytes in the system's ANSI code page.
//
// Win32: the system's ANSI code page (932 on the machines this is made for)
// through IsDBCSLeadByte, CharLowerBuffA and CompareStringA. POSIX: code page
// 932 fixed; lead bytes by range, lower-case forms from a table, and ICU's
// collator for the artist order. All functions are thread-safe.
#pragma once

#include <cstddef>

namespace ambervox {
namespace platform {

// True for the first byte of a two-byte character (CP932: 0x81-0x9F, 0xE0-0xFC).
bool IsLeadByte(unsigned char byte);

// Lower-cases `length` bytes in place, character by character: single-byte
// A-Z, and two-byte characters with a locale lower-case form (full-width
// Latin, Greek, Cyrillic). Lengths never change; a lead byte without its
// trail byte at the end is left alone.
void LowerCaseMultibyte(char* text, std::size_t length);

// The artist order: negative, 0 or positive as CompareStringA with
// LOCALE_SYSTEM_DEFAULT and NORM_IGNORECASE | NORM_IGNOREKANATYPE |
// NORM_IGNOREWIDTH answers less, equal or greater for two NUL-terminated
// texts. Case, hiragana/katakana and full-/half-width differences compare
// equal.
int CompareArtistNames(const char* a, const char* b);

}  // namespace platform
}  // namespace ambervox
