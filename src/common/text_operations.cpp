#include "common/text_operations.h"

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/codepage_conversion.h"

namespace ambervox {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void AppendPercentByte(ByteString* out, unsigned char byte) {
  char encoded[3] = {'%', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
  out->Append(encoded, 3);
}

bool IsCopiedAsIs(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '*' ||
         byte == '-' || byte == '.' || byte == '_';
}

// The value of one digit of a "%XX" escape, eight bits wide. Hex digits of
// either case give their value; any other byte keeps the plain arithmetic
// (bytes from 0x80 up count as negative, so they fall on the first branch).
// A malformed escape is decoded, not refused, and always to the same byte:
// links and bookmarks that browsers made from such escapes (a "%" followed
// by text) must keep reaching the same search word and the same password
// check as they always have, and refusing them would change what a
// listener's saved link does.
unsigned char HexDigitValue(unsigned char digit) {
  if (digit >= 'a' && digit <= 'f') return static_cast<unsigned char>(digit - 'a' + 10);
  if (static_cast<signed char>(digit) < 'A') return static_cast<unsigned char>(digit - 0x30);
  return static_cast<unsigned char>(digit - 0x37);
}

// The bytes that HtmlEscape replaces.
constexpr char kEscapedBytes[] = "&<>'\"";

// The position of the first byte from `from` on that HtmlEscape replaces, or
// `length`. The text is NUL-terminated (ByteString keeps it so); an embedded
// NUL only pauses the library's search.
int NextEscapedByte(const char* text, int from, int length) {
  while (from < length) {
    from += static_cast<int>(std::strcspn(text + from, kEscapedBytes));
    if (from >= length || text[from] != '\0') return from < length ? from : length;
    ++from;
  }
  return length;
}

// The entity that stands for `byte` in a page, or null when the byte stays.
const char* EntityFor(unsigned char byte) {
  switch (byte) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '\'':
      return "&#39;";
    case '"':
      return "&quot;";
    default:
      return nullptr;
  }
}

unsigned char AsciiLower(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// The length of the decimal reference "&#N;" at `at` to a character the ANSI
// code page cannot hold, or 0 when there is none.
int UnheldReferenceAt(const char* text, int at, int length) {
  int end = at + 2;
  if (end >= length || text[at] != '&' || text[at + 1] != '#') return 0;
  std::uint32_t codePoint = 0;
  while (end < length && end - at < 10 && text[end] >= '0' && text[end] <= '9') {
    codePoint = codePoint * 10 + static_cast<std::uint32_t>(text[end] - '0');
    ++end;
  }
  if (end == at + 2 || end >= length || text[end] != ';') return 0;
  if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  std::u16string wide;
  if (codePoint < 0x10000) {
    wide.push_back(static_cast<char16_t>(codePoint));
  } else {
    wide.push_back(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
    wide.push_back(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
  }
  bool held = true;
  platform::SplitByAnsiCodePage(
      wide, [](const char*, std::size_t) {}, [&held](std::uint32_t) { held = false; });
  return held ? 0 : end + 1 - at;
}

}  // namespace

ByteString UrlEncode(const ByteString& text) {
  ByteString out;
  const int length = text.Length();
  if (length == 0) return out;
  out.Reserve(length * 3);
  for (int i = 0; i < length; ++i) {
    const unsigned char byte = text.ByteAt(i);
    if (platform::IsLeadByte(byte)) {
      AppendPercentByte(&out, byte);
      if (i + 1 >= length) break;
      ++i;
      AppendPercentByte(&out, text.ByteAt(i));
    } else if (IsCopiedAsIs(byte)) {
      out.AppendChar(static_cast<char>(byte));
    } else {
      AppendPercentByte(&out, byte);
    }
  }
  return out;
}

void UrlDecode(ByteString* text) {
  if (text == nullptr || text->IsEmpty()) return;
  const int length = text->Length();
  char* data = text->MutableData();
  int written = 0;
  for (int read = 0; read < length; ++read) {
    const char byte = data[read];
    if (byte == '+') {
      data[written++] = ' ';
    } else if (byte == '%') {
      if (length - read - 1 < 2) break;
      const unsigned char high = HexDigitValue(static_cast<unsigned char>(data[read + 1]));
      const unsigned char low = HexDigitValue(static_cast<unsigned char>(data[read + 2]));
      data[written++] = static_cast<char>(((high << 4) | low) & 0xFF);
      read += 2;
    } else {
      data[written++] = byte;
    }
  }
  text->Truncate(written);
}

ByteString HtmlEscape(const ByteString& text) {
  // Byte by byte, not character by character: none of these bytes can be
  // the trail byte of a CP932 character (trail bytes start at 0x40), so a
  // two-byte character is never touched; but a lead byte followed by one of
  // them is no character at all, and a browser reads that byte as itself.
  // Skipping it with the lead byte would let a raw quote or angle bracket
  // through into the page.
  const int length = text.Length();
  const char* const data = text.Data();
  int at = NextEscapedByte(data, 0, length);
  if (at == length) return text;
  ByteString out;
  out.Reserve(length + 16);
  // The text between two replaced bytes is copied in one piece.
  int runStart = 0;
  while (at < length) {
    out.Append(data + runStart, at - runStart);
    out.Append(EntityFor(static_cast<unsigned char>(data[at])));
    runStart = at + 1;
    at = NextEscapedByte(data, runStart, length);
  }
  out.Append(data + runStart, length - runStart);
  return out;
}

ByteString HtmlEscapeFormText(const ByteString& text) {
  const int length = text.Length();
  const char* const data = text.Data();
  if (std::memchr(data, '&', static_cast<std::size_t>(length)) == nullptr) return HtmlEscape(text);
  ByteString out;
  out.Reserve(length + 16);
  int runStart = 0;
  for (int at = 0; at < length;) {
    const int reference = UnheldReferenceAt(data, at, length);
    if (reference == 0) {
      ++at;
      continue;
    }
    out.Append(HtmlEscape(ByteString(data + runStart, at - runStart)));
    out.Append(data + at, reference);
    at += reference;
    runStart = at;
  }
  out.Append(HtmlEscape(ByteString(data + runStart, length - runStart)));
  return out;
}

int FindNoCase(const ByteString& text, const ByteString& pattern) {
  const int textLength = text.Length();
  const int patternLength = pattern.Length();
  if (patternLength == 0) return 0;
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text.Data());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern.Data());
  for (int at = 0; at + patternLength <= textLength; ++at) {
    int k = 0;
    while (k < patternLength && AsciiLower(t[at + k]) == AsciiLower(p[k])) ++k;
    if (k == patternLength) return at;
  }
  return ByteString::kNotFound;
}

bool StartsWithNoCase(const ByteString& text, const ByteString& prefix, int count) {
  if (count <= 0) return true;
  ByteString lowerText = text;
  ByteString lowerPrefix = prefix;
  lowerText.MakeLowerMultibyte();
  lowerPrefix.MakeLowerMultibyte();
  return StartsWithLowerCase(lowerText, lowerPrefix, count);
}

bool ContainsNoCase(const ByteString& text, const ByteString& word) {
  ByteString lowerText = text;
  ByteString lowerWord = word;
  lowerText.MakeLowerMultibyte();
  lowerWord.MakeLowerMultibyte();
  return ContainsLowerCase(lowerText, lowerWord);
}

bool StartsWithLowerCase(const ByteString& lowerCaseText, const ByteString& lowerCasePrefix, int count) {
  return StartsWithLowerCase(lowerCaseText.CStr(), lowerCasePrefix, count);
}

bool ContainsLowerCase(const ByteString& lowerCaseText, const ByteString& lowerCaseWord) {
  return ContainsLowerCase(lowerCaseText.Data(), lowerCaseText.Length(), lowerCaseWord);
}

bool StartsWithLowerCase(const char* lowerCaseText, const ByteString& lowerCasePrefix, int count) {
  if (count <= 0) return true;
  return std::strncmp(lowerCaseText, lowerCasePrefix.CStr(), static_cast<std::size_t>(count)) == 0;
}

bool ContainsLowerCase(const char* lowerCaseText, int length, const ByteString& lowerCaseWord) {
  return ByteString::FindBytesIn(lowerCaseText, length, lowerCaseWord.Data(), lowerCaseWord.Length(), 0) !=
         ByteString::kNotFound;
}

void AppendDecimal(ByteString& text, std::int64_t value) {
  char digits[24];
  int n = 0;
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) text.AppendChar('-');
  while (n > 0) text.AppendChar(digits[--n]);
}

ByteString Decimal(std::int64_t value) {
  ByteString text("");
  AppendDecimal(text, value);
  return text;
}

}  // namespace ambervox
