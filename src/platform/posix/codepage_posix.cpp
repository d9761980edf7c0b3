// Code page 932 services: lead bytes by range, lower-casing from the code
// page's own layout, and the artist order by ICU's Japanese collator on the
// text converted to UTF-16.
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/utypes.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/codepage.h"

namespace ambervox {
namespace platform {
namespace {

// The double-byte capitals of code page 932 with a lower-case form:
// full-width Latin (82 60-79 -> 82 81-9A), Greek (83 9F-B6 -> 83 BF-D6) and
// Cyrillic (84 40-60 -> 84 70-91, where the small letters skip 84 7F, so the
// capitals from 84 4F on map one further).
unsigned LowerDoubleByte(unsigned code) {
  if (code >= 0x8260 && code <= 0x8279) return code + 0x21;
  if (code >= 0x839F && code <= 0x83B6) return code + 0x20;
  if (code >= 0x8440 && code <= 0x844E) return code + 0x30;
  if (code >= 0x844F && code <= 0x8460) return code + 0x31;
  return code;
}

// CompareStringA's word sort passes over hyphens and apostrophes; names that
// are equal without them are told apart by them afterwards: the name whose
// mark comes first, or that has more of them, is the greater, and a hyphen
// outweighs an apostrophe.
struct WordSortMark {
  std::size_t position = 0;  // in the UTF-16 text before the marks were taken out
  int weight = 0;
};

int WordSortWeight(UChar c) {
  switch (c) {
    case 0x0027:  // APOSTROPHE
    case 0xFF07:  // FULLWIDTH APOSTROPHE
      return 1;
    case 0x002D:  // HYPHEN-MINUS
    case 0xFF0D:  // FULLWIDTH HYPHEN-MINUS
    case 0x2010:  // HYPHEN
    case 0x2011:  // NON-BREAKING HYPHEN
      return 2;
    default:
      return 0;
  }
}

void SplitWordSortMarks(std::vector<UChar>* text, std::vector<WordSortMark>* marks) {
  marks->clear();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < text->size(); ++i) {
    UChar c = (*text)[i];
    int weight = WordSortWeight(c);
    if (weight != 0) {
      marks->push_back(WordSortMark{i, weight});
    } else {
      (*text)[kept++] = c;
    }
  }
  text->resize(kept);
}

int CompareWordSortMarks(const std::vector<WordSortMark>& a, const std::vector<WordSortMark>& b) {
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    if (i >= a.size()) return -1;
    if (i >= b.size()) return 1;
    if (a[i].position != b[i].position) return a[i].position < b[i].position ? 1 : -1;
    if (a[i].weight != b[i].weight) return a[i].weight > b[i].weight ? 1 : -1;
  }
  return 0;
}

// ICU objects are not safe to share between threads: each thread gets its
// own converter and collator on first use.
struct CollationTools {
  CollationTools() {
    UErrorCode status = U_ZERO_ERROR;
    // ICU's "windows-932" is Microsoft's table (81 5F is U+FF3C, 5C is U+005C).
    converter = ucnv_open("windows-932", &status);
    if (U_FAILURE(status)) converter = nullptr;
    status = U_ZERO_ERROR;
    collator = ucol_open("ja", &status);
    if (U_FAILURE(status)) {
      collator = nullptr;
    } else {
      // Secondary strength drops the tertiary differences: letter case,
      // full/half width and hiragana/katakana. Accents and voicing marks
      // still count, as they do for CompareStringA.
      ucol_setStrength(collator, UCOL_SECONDARY);
      status = U_ZERO_ERROR;
      ucol_setAttribute(collator, UCOL_CASE_LEVEL, UCOL_OFF, &status);
      status = U_ZERO_ERROR;
      ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    }
  }
  ~CollationTools() {
    if (collator != nullptr) ucol_close(collator);
    if (converter != nullptr) ucnv_close(converter);
  }
  CollationTools(const CollationTools&) = delete;
  CollationTools& operator=(const CollationTools&) = delete;

  bool ToUtf16(const char* text, std::vector<UChar>* out) {
    std::size_t length = std::strlen(text);
    out->resize(length + 1);  // a CP932 byte never gives more than one UTF-16 unit
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = ucnv_toUChars(converter, out->data(), static_cast<int32_t>(out->size()), text,
                                  static_cast<int32_t>(length), &status);
    if (U_FAILURE(status)) return false;
    out->resize(static_cast<std::size_t>(units));
    return true;
  }

  UConverter* converter = nullptr;
  UCollator* collator = nullptr;
  std::vector<UChar> left;
  std::vector<UChar> right;
  std::vector<WordSortMark> leftMarks;
  std::vector<WordSortMark> rightMarks;
};

CollationTools& ThreadCollationTools() {
  thread_local CollationTools tools;
  return tools;
}

int CompareBytes(const char* a, const char* b) {
  int result = std::strcmp(a, b);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace

bool IsLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

void LowerCaseMultibyte(char* text, std::size_t length) {
  if (text == nullptr) return;
  std::size_t i = 0;
  while (i < length) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(byte)) {
      if (i + 1 >= length) break;  // a lead byte without its trail byte
      unsigned code = (byte << 8) | static_cast<unsigned char>(text[i + 1]);
      unsigned lower = LowerDoubleByte(code);
      text[i] = static_cast<char>(lower >> 8);
      text[i + 1] = static_cast<char>(lower & 0xFF);
      i += 2;
      continue;
    }
    if (byte >= 'A' && byte <= 'Z') text[i] = static_cast<char>(byte - 'A' + 'a');
    ++i;
  }
}

int CompareArtistNames(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  CollationTools& tools = ThreadCollationTools();
  if (tools.converter == nullptr || tools.collator == nullptr || !tools.ToUtf16(a, &tools.left) ||
      !tools.ToUtf16(b, &tools.right)) {
    return CompareBytes(a, b);
  }
  SplitWordSortMarks(&tools.left, &tools.leftMarks);
  SplitWordSortMarks(&tools.right, &tools.rightMarks);
  UCollationResult result = ucol_strcoll(tools.collator, tools.left.data(), static_cast<int32_t>(tools.left.size()),
                                         tools.right.data(), static_cast<int32_t>(tools.right.size()));
  if (result != UCOL_EQUAL) return result == UCOL_LESS ? -1 : 1;
  return CompareWordSortMarks(tools.leftMarks, tools.rightMarks);
}

}  // namespace platform
}  // namespace ambervox
