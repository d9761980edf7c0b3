// Code page services over the system's ANSI code page.
//
// Lower-casing goes through a table built once from CharLowerBuffA, one
// character at a time, rather than through CharLowerBuffA on the text itself:
// a title search lower-cases every title of the playlist, and a whole-buffer
// CharLowerBuffA converts to UTF-16 and back, which rewrites more than the
// case (duplicate codes of code page 932 such as the NEC and IBM forms of the
// same kanji come back as one of them, and bytes that are no character come
// back as the default character). The table keeps exactly the case changes.
#include "platform/win32/win32_api.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/codepage.h"

namespace ambervox {
namespace platform {

namespace {

// The one UTF-16 unit of a complete character, or 0 when the bytes are not
// exactly one character of the code page.
wchar_t WideOf(const char* bytes, int length) {
  wchar_t wide[2];
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
  return n == 1 ? wide[0] : 0;
}

// Lower-cases one character of `length` bytes into `out` when the character
// has a lower-case form of the same length; false otherwise.
bool LowerOneCharacter(const char* bytes, int length, char* out) {
  wchar_t wide = WideOf(bytes, length);
  if (wide == 0) return false;
  char lowered[2];
  std::memcpy(lowered, bytes, length);
  if (CharLowerBuffA(lowered, static_cast<DWORD>(length)) != static_cast<DWORD>(length)) return false;
  if (std::memcmp(lowered, bytes, length) == 0) return false;
  // A different code for the same character is no lower-case form.
  wchar_t loweredWide = WideOf(lowered, length);
  if (loweredWide == 0 || loweredWide == wide) return false;
  std::memcpy(out, lowered, length);
  return true;
}

class LowerCaseTable {
 public:
  LowerCaseTable() : single_(256), isLead_(256, false), pairs_(65536, 0) {
    for (int b = 0; b < 256; ++b) {
      single_[b] = static_cast<unsigned char>(b);
      isLead_[b] = IsDBCSLeadByte(static_cast<BYTE>(b)) != 0;
      char byte = static_cast<char>(b);
      char lowered;
      if (b != 0 && !isLead_[b] && LowerOneCharacter(&byte, 1, &lowered)) {
        single_[b] = static_cast<unsigned char>(lowered);
      }
    }
    for (int lead = 0; lead < 256; ++lead) {
      if (!isLead_[lead]) continue;
      for (int trail = 1; trail < 256; ++trail) {
        char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char lowered[2];
        if (LowerOneCharacter(pair, 2, lowered)) {
          pairs_[lead << 8 | trail] = static_cast<std::uint16_t>(static_cast<unsigned char>(lowered[0]) << 8 |
                                                                 static_cast<unsigned char>(lowered[1]));
        }
      }
    }
  }

  void Apply(char* text, std::size_t length) const {
    std::size_t i = 0;
    while (i < length) {
      unsigned char byte = static_cast<unsigned char>(text[i]);
      if (!isLead_[byte]) {
        text[i] = static_cast<char>(single_[byte]);
        ++i;
        continue;
      }
      if (i + 1 >= length) break;  // a lead byte without its trail byte
      std::uint16_t lowered = pairs_[byte << 8 | static_cast<unsigned char>(text[i + 1])];
      if (lowered != 0) {
        text[i] = static_cast<char>(lowered >> 8);
        text[i + 1] = static_cast<char>(lowered & 0xFF);
      }
      i += 2;
    }
  }

 private:
  std::vector<unsigned char> single_;
  std::vector<bool> isLead_;
  std::vector<std::uint16_t> pairs_;  // lead << 8 | trail -> lowered pair, 0 for unchanged
};

const LowerCaseTable& Table() {
  // Built on first use, not at load: a DLL must not call user32 from DllMain.
  static const LowerCaseTable table;
  return table;
}

}  // namespace

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

void LowerCaseMultibyte(char* text, std::size_t length) {
  if (!text || length == 0) return;
  Table().Apply(text, length);
}

int CompareArtistNames(const char* a, const char* b) {
  // CompareStringA answers CSTR_LESS_THAN (1), CSTR_EQUAL (2) or
  // CSTR_GREATER_THAN (3).
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH, a ? a : "", -1,
                        b ? b : "", -1) -
         2;
}

}  // namespace platform
}  // namespace ambervox
