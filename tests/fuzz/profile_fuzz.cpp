// Fuzzes the private-profile (INI) reader and writer of the POSIX platform
// layer: the input becomes an INI file in a temporary folder; sections and
// keys named in it (and the settings file's own names) are read with
// several buffer sizes; then a key is written, read back and removed.
//
// Input: byte 0 a buffer size, byte 1 selects the section to write into,
// bytes 2-5 the name of the key to write (made into letters and digits),
// then the value to write up to a zero byte, then the file's bytes.
//
// Invariants:
// - A read copies at most size - 1 bytes, terminates them, returns their
//   count and writes nothing past the terminator; a smaller buffer gets the
//   front of what a larger one gets. A value never holds a line feed.
// - Section and key names compare without regard to the case of single-byte
//   letters.
// - A written value reads back as written, and every key of another name
//   keeps its value; writing the same value again leaves the file's bytes
//   as they were; removing a key that was not there before leaves none, and
//   the other keys still keep their values.
// - Removing a section leaves the keys of every other section as they were.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "support/temp_folder.h"

namespace ambervox {
namespace {

// The INI file of this process, in a folder of its own (a TempFolder),
// removed at exit.
class TempProfile {
 public:
  TempProfile() : path_(folder_.File("profile-fuzz.ini")) {}
  const char* Path() const { return path_.c_str(); }
  void Write(const std::string& bytes) const { testing::TempFolder::WriteBytes(path_, bytes); }
  std::string Read() const { return testing::TempFolder::ReadBytes(path_); }

 private:
  testing::TempFolder folder_;
  std::string path_;
};

TempProfile& Profile() {
  static TempProfile profile;
  return profile;
}

constexpr int kLargeBuffer = 8192;
constexpr int kCanary = 0x5A;

// One read with a buffer of `size` bytes, checking what the reader may and
// may not write.
std::string ReadChecked(const std::string& section, const std::string& key, const char* defaultValue, int size) {
  // One memcmp against a canary block: a byte loop here would be traced
  // by the coverage instrumentation on every read and slow the fuzzer down.
  static const std::vector<char> canary(kLargeBuffer + 16, static_cast<char>(kCanary));
  std::vector<char> buffer(static_cast<std::size_t>(size) + 16, static_cast<char>(kCanary));
  const int n =
      platform::ReadProfileString(section.c_str(), key.c_str(), defaultValue, buffer.data(), size, Profile().Path());
  if (size <= 0) {
    FUZZ_CHECK(n == 0);
    FUZZ_CHECK(std::memcmp(buffer.data(), canary.data(), buffer.size()) == 0);
    return std::string();
  }
  FUZZ_CHECK(n >= 0 && n <= size - 1);
  FUZZ_CHECK(buffer[n] == 0);
  const std::size_t after = static_cast<std::size_t>(n) + 1;
  FUZZ_CHECK(std::memcmp(buffer.data() + after, canary.data(), buffer.size() - after) == 0);
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

// The value of a key (read through a large buffer), checked against reads
// through the smaller buffers.
std::string ReadValue(const std::string& section, const std::string& key, const char* defaultValue, int smallSize) {
  const std::string full = ReadChecked(section, key, defaultValue, kLargeBuffer);
  FUZZ_CHECK(full.find('\n') == std::string::npos || defaultValue != nullptr);
  for (int size : {0, 1, smallSize}) {
    const std::string part = ReadChecked(section, key, defaultValue, size);
    if (size <= 0) continue;
    const std::size_t expected = full.size() < static_cast<std::size_t>(size - 1) ? full.size() : size - 1;
    FUZZ_CHECK(part == full.substr(0, expected));
  }
  return full;
}

// Whether a key is in the file: a present key reads the same whatever the
// default, a missing one reads as the default.
bool KeyPresent(const std::string& section, const std::string& key, std::string* value) {
  const std::string a = ReadChecked(section, key, "a", kLargeBuffer);
  const std::string b = ReadChecked(section, key, "b", kLargeBuffer);
  *value = a;
  return a == b;
}

// Upper-cases the single-byte letters of a name, leaving both bytes of each
// two-byte character alone.
std::string UpperSingleBytes(const std::string& name) {
  std::string out = name;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (platform::IsLeadByte(c)) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 32);
    }
  }
  return out;
}

bool SameAsciiNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] + 32) : a[i];
    char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankByte(text[begin])) ++begin;
  while (end > begin && IsBlankByte(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

struct NamePair {
  std::string section;
  std::string key;
};

// Section and key names as they appear in the file: "[name]" lines and the
// text before the first "=" of the lines after them. Names stop at a zero
// byte, as the C strings the reader takes do.
std::vector<NamePair> NamesInFile(const std::string& file) {
  std::vector<NamePair> pairs;
  std::string section;
  std::size_t start = 0;
  while (start < file.size() && pairs.size() < 8) {
    std::size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    const std::string line = TrimBlanks(file.substr(start, end - start));
    start = end + 1;
    const std::size_t close = line.rfind(']');
    if (!line.empty() && line[0] == '[' && close != std::string::npos) {
      section = std::string(line.substr(1, close - 1).c_str());
      pairs.push_back({section, "Port"});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) pairs.push_back({section, std::string(line.substr(0, equals).c_str())});
  }
  pairs.push_back({"HTTP Request", "Port"});
  pairs.push_back({"HTTP Request", "AdminPassword"});
  return pairs;
}

std::vector<std::string> ReadAll(const std::vector<NamePair>& pairs) {
  std::vector<std::string> values;
  for (const NamePair& pair : pairs) values.push_back(ReadChecked(pair.section, pair.key, "-", kLargeBuffer));
  return values;
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  fuzz::InputReader in(data, size);
  const int smallSize = 1 + in.Byte() % 64;
  const unsigned char sectionChoice = in.Byte();
  static const char kKeyLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
  std::string writeKey;
  for (int i = 0; i < 4; ++i) writeKey += kKeyLetters[in.Byte() % (sizeof kKeyLetters - 1)];
  // The value to write: one line without blanks at its ends or quotes
  // around it (the reader would take those off).
  std::string writeValue = fuzz::Std(in.Piece(0));
  for (char& c : writeValue) {
    if (c == '\r' || c == '\n') c = '.';
  }
  writeValue = TrimBlanks(writeValue.substr(0, 4000));
  if (!writeValue.empty() && (writeValue[0] == '"' || writeValue[0] == '\'')) writeValue.insert(0, "v");
  const std::string file = fuzz::Std(in.Rest());

  TempProfile& profile = Profile();
  profile.Write(file);

  const std::vector<NamePair> pairs = NamesInFile(file);
  for (const NamePair& pair : pairs) {
    const std::string value = ReadValue(pair.section, pair.key, nullptr, smallSize);
    FUZZ_CHECK(value.find('\n') == std::string::npos);
    FUZZ_CHECK(ReadChecked(UpperSingleBytes(pair.section), UpperSingleBytes(pair.key), nullptr, kLargeBuffer) == value);
  }
  // A section name holding a line feed is never in a file: the default
  // comes back without its trailing blanks.
  FUZZ_CHECK(ReadValue("no\nsuch", "Port", " default \t", smallSize) == " default");

  const std::vector<std::string> before = ReadAll(pairs);
  const std::string section = pairs[sectionChoice % pairs.size()].section;
  std::string oldValue;
  const bool existed = KeyPresent(section, writeKey, &oldValue);

  FUZZ_CHECK(platform::WriteProfileString(section.c_str(), writeKey.c_str(), writeValue.c_str(), profile.Path()));
  std::string readBack;
  FUZZ_CHECK(KeyPresent(section, writeKey, &readBack));
  FUZZ_CHECK(readBack == writeValue);
  std::vector<std::string> after = ReadAll(pairs);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!SameAsciiNoCase(pairs[i].key, writeKey)) FUZZ_CHECK(after[i] == before[i]);
  }
  const std::string written = profile.Read();
  FUZZ_CHECK(platform::WriteProfileString(section.c_str(), writeKey.c_str(), writeValue.c_str(), profile.Path()));
  FUZZ_CHECK(profile.Read() == written);

  FUZZ_CHECK(platform::WriteProfileString(section.c_str(), writeKey.c_str(), nullptr, profile.Path()));
  std::string afterRemoval;
  const bool stillThere = KeyPresent(section, writeKey, &afterRemoval);
  if (!existed) FUZZ_CHECK(!stillThere);
  after = ReadAll(pairs);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!SameAsciiNoCase(pairs[i].key, writeKey)) FUZZ_CHECK(after[i] == before[i]);
  }

  // Removing a whole section.
  FUZZ_CHECK(platform::WriteProfileString(section.c_str(), nullptr, nullptr, profile.Path()));
  after = ReadAll(pairs);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!SameAsciiNoCase(TrimBlanks(pairs[i].section), TrimBlanks(section))) FUZZ_CHECK(after[i] == before[i]);
  }
  return 0;
}
