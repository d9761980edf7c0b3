// Fuzzes the multibyte text operations on arbitrary bytes: FindNoCase,
// StartsWithNoCase, ContainsNoCase, and ByteString's Find, ReplaceAll,
// TrimRight, TrimLeft, MakeLowerMultibyte, Left, Mid and Right.
//
// Input: byte 0 a start position, byte 1 flags, byte 2 the pattern length,
// byte 3 the replacement length, then the pattern, the replacement and the
// text (every byte value allowed in each).
//
// The character boundaries are computed here from the code page's lead-byte
// test (a lead byte and the byte after it are one character; a lead byte at
// the very end stands alone), and each result is checked against them:
// - Find answers the first boundary at or after the start where the pattern
//   matches; a found position is in bounds and never on a trail byte.
// - ReplaceAll equals replacing, left to right, every match that starts on a
//   boundary, resuming at the first boundary after the match.
// - The trims remove exactly the trailing / leading run of whole trimmable
//   characters.
// - Lower-casing keeps the length and the character boundaries, changes
//   single bytes only from A-Z to a-z, and doing it twice changes nothing.
// - FindNoCase answers the first byte position of an ASCII-caseless match.
// - A text starts with its own first bytes and contains what Find finds,
//   whatever the letter case.
// - Copies taken before a change keep their old text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_string.h"
#include "common/text_operations.h"
#include "fuzz/fuzz_check.h"
#include "platform/codepage.h"

namespace ambervox {
namespace {

// Start positions of the characters of `text`, followed by its length.
std::vector<int> Boundaries(const std::string& text) {
  std::vector<int> result;
  int n = static_cast<int>(text.size());
  for (int i = 0; i < n;) {
    result.push_back(i);
    i += (platform::IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < n) ? 2 : 1;
  }
  result.push_back(n);
  return result;
}

bool MatchesAt(const std::string& text, int at, const std::string& pattern) {
  return at + pattern.size() <= text.size() && text.compare(at, pattern.size(), pattern) == 0;
}

int ExpectedFind(const std::string& text, const std::string& pattern, int start) {
  if (start < 0) start = 0;
  if (start > static_cast<int>(text.size())) return ByteString::kNotFound;
  for (int b : Boundaries(text)) {
    if (b >= start && MatchesAt(text, b, pattern)) return b;
  }
  return ByteString::kNotFound;
}

std::string ExpectedReplaceAll(const std::string& text, const std::string& pattern, const std::string& replacement,
                               int* count) {
  *count = 0;
  if (pattern.empty()) return text;
  std::vector<int> bounds = Boundaries(text);
  std::string out;
  int resume = 0;  // no match may start before this
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    int b = bounds[k];
    int next = bounds[k + 1];
    if (b < resume) {
      // Inside the bytes of the previous match: already replaced, except
      // where the match ended inside this character.
      if (next > resume) out.append(text, resume, next - resume);
      continue;
    }
    if (MatchesAt(text, b, pattern)) {
      out += replacement;
      ++*count;
      resume = b + static_cast<int>(pattern.size());
      if (resume < next) out.append(text, resume, next - resume);
    } else {
      out.append(text, b, next - b);
    }
  }
  return out;
}

bool Trimmable(const std::string& text, int at, int width, const std::string& singles, bool fullWidthSpace) {
  if (width == 1) return text[at] != 0 && singles.find(text[at]) != std::string::npos;
  return fullWidthSpace && static_cast<unsigned char>(text[at]) == 0x81 && text[at + 1] == 0x40;
}

std::string ExpectedTrimRight(const std::string& text, const std::string& singles, bool fullWidthSpace) {
  std::vector<int> bounds = Boundaries(text);
  int keep = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    if (!Trimmable(text, bounds[k], bounds[k + 1] - bounds[k], singles, fullWidthSpace)) keep = bounds[k + 1];
  }
  return text.substr(0, keep);
}

std::string ExpectedTrimLeft(const std::string& text, const std::string& singles, bool fullWidthSpace) {
  std::vector<int> bounds = Boundaries(text);
  std::size_t k = 0;
  while (k + 1 < bounds.size() && Trimmable(text, bounds[k], bounds[k + 1] - bounds[k], singles, fullWidthSpace)) ++k;
  return text.substr(bounds[k]);
}

unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

int ExpectedFindNoCase(const std::string& text, const std::string& pattern) {
  for (std::size_t at = 0; at + pattern.size() <= text.size(); ++at) {
    std::size_t k = 0;
    while (k < pattern.size() && AsciiLower(text[at + k]) == AsciiLower(pattern[k])) ++k;
    if (k == pattern.size()) return static_cast<int>(at);
  }
  return ByteString::kNotFound;
}

void CheckLowerCase(const ByteString& text) {
  const std::string before = fuzz::Std(text);
  ByteString lower = text;
  lower.MakeLowerMultibyte();
  FUZZ_CHECK(fuzz::Std(text) == before);
  const std::string after = fuzz::Std(lower);
  FUZZ_CHECK(after.size() == before.size());
  FUZZ_CHECK(Boundaries(after) == Boundaries(before));
  std::vector<int> bounds = Boundaries(before);
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    const int b = bounds[k];
    if (bounds[k + 1] - b == 1) {
      FUZZ_CHECK(static_cast<unsigned char>(after[b]) == AsciiLower(static_cast<unsigned char>(before[b])));
    }
  }
  ByteString twice = lower;
  twice.MakeLowerMultibyte();
  FUZZ_CHECK(twice == lower);
}

ByteString LowerCopy(const ByteString& text) {
  ByteString lower = text;
  lower.MakeLowerMultibyte();
  return lower;
}

void CheckParts(const ByteString& text, int a, int b) {
  const std::string s = fuzz::Std(text);
  const int n = static_cast<int>(s.size());
  auto clamp = [n](int v) { return v < 0 ? 0 : (v > n ? n : v); };
  FUZZ_CHECK(fuzz::Std(text.Left(a)) == s.substr(0, clamp(a)));
  FUZZ_CHECK(fuzz::Std(text.Right(a)) == s.substr(n - clamp(a)));
  const int start = clamp(b);
  FUZZ_CHECK(fuzz::Std(text.Mid(b)) == s.substr(start));
  FUZZ_CHECK(fuzz::Std(text.Mid(b, a)) == (a <= 0 ? std::string() : s.substr(start, a)));
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  fuzz::InputReader in(data, size);
  const int startByte = in.Byte();
  const unsigned char flags = in.Byte();
  const int patternLength = in.Byte() % 16;
  const int replacementLength = in.Byte() % 16;
  ByteString rest = in.Rest();
  const ByteString pattern = rest.Left(patternLength);
  const ByteString replacement = rest.Mid(patternLength, replacementLength);
  const ByteString text = rest.Mid(patternLength + replacementLength);
  const std::string s = fuzz::Std(text);
  const std::string p = fuzz::Std(pattern);
  const std::string r = fuzz::Std(replacement);
  // Start positions from a little before the text to a little after it.
  const int start = startByte % (text.Length() + 4) - 2;

  // Find and its bounds.
  const int found = text.Find(pattern, start);
  FUZZ_CHECK(found == ExpectedFind(s, p, start));
  if (found != ByteString::kNotFound) {
    FUZZ_CHECK(found >= 0 && found + pattern.Length() <= text.Length());
    std::vector<int> bounds = Boundaries(s);
    bool onBoundary = false;
    for (int b : bounds) onBoundary = onBoundary || b == found;
    FUZZ_CHECK(onBoundary);
  }

  // ReplaceAll on a copy; the original keeps its text.
  {
    ByteString replaced = text;
    const int count = replaced.ReplaceAll(pattern, replacement);
    int expectedCount = 0;
    FUZZ_CHECK(fuzz::Std(replaced) == ExpectedReplaceAll(s, p, r, &expectedCount));
    FUZZ_CHECK(count == expectedCount);
    FUZZ_CHECK(fuzz::Std(text) == s);
    FUZZ_CHECK(replaced.CStr()[replaced.Length()] == 0);
  }

  // Trims with the replacement's bytes (up to a zero byte) as the set.
  {
    const std::string singles(replacement.CStr());
    const bool fullWidthSpace = (flags & 1) != 0;
    ByteString right = text;
    right.TrimRight(singles.c_str(), fullWidthSpace);
    FUZZ_CHECK(fuzz::Std(right) == ExpectedTrimRight(s, singles, fullWidthSpace));
    ByteString left = text;
    left.TrimLeft(singles.c_str(), fullWidthSpace);
    FUZZ_CHECK(fuzz::Std(left) == ExpectedTrimLeft(s, singles, fullWidthSpace));
    FUZZ_CHECK(fuzz::Std(text) == s);
  }

  CheckLowerCase(text);
  CheckLowerCase(pattern);

  // Caseless comparisons.
  FUZZ_CHECK(FindNoCase(text, pattern) == ExpectedFindNoCase(s, p));
  FUZZ_CHECK(StartsWithNoCase(text, text.Left(patternLength), patternLength));
  FUZZ_CHECK(StartsWithNoCase(text, pattern, pattern.Length()) ==
             StartsWithNoCase(LowerCopy(text), LowerCopy(pattern), pattern.Length()));
  const bool contains = ContainsNoCase(text, pattern);
  if (found != ByteString::kNotFound && start <= 0) FUZZ_CHECK(contains);
  FUZZ_CHECK(contains == ContainsNoCase(LowerCopy(text), LowerCopy(pattern)));
  FUZZ_CHECK(ContainsNoCase(text, ByteString()));
  FUZZ_CHECK(ContainsNoCase(text, text));
  bool ascii = true;
  for (char c : s + p) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) FUZZ_CHECK(contains == (FindNoCase(text, pattern) != ByteString::kNotFound));

  CheckParts(text, static_cast<signed char>(flags), start);
  return 0;
}
