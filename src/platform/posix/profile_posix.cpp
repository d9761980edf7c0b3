// Private-profile (INI) files with the semantics of GetPrivateProfileStringA
// and WritePrivateProfileStringA:
// - "[name]" lines open sections; "key=value" lines inside them hold values;
//   names compare case-insensitively, blanks around names and values are
//   ignored, and a value in matching double or single quotes loses them;
// - only the first section of a name and the first key of a name count;
// - a write replaces the key's line in place, or adds the key after the last
//   line of its section, or adds the section at the end of the file; every
//   other line stays as it was. Lines are written with CRLF; LF is read too.
// One process-wide lock serialises all reads and writes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/lock.h"
#include "platform/system.h"

namespace ambervox {
namespace platform {
namespace {

Lock& ProfileLock() {
  static Lock* lock = new Lock;
  return *lock;
}

std::string NativePath(const char* path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Case-insensitive for single-byte letters; two-byte characters must match
// exactly (their trail bytes may look like letters).
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (IsLeadByte(x)) {
      if (x != y) return false;
      if (i + 1 < a.size()) {
        if (a[i + 1] != b[i + 1]) return false;
        ++i;
      }
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string content;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
  std::fclose(file);
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::size_t next = end == std::string::npos ? content.size() : end + 1;
    if (end == std::string::npos) end = content.size();
    if (end > start && content[end - 1] == '\r') --end;
    lines->push_back(content.substr(start, end - start));
    start = next;
  }
  return true;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string content;
  for (const std::string& line : lines) {
    content += line;
    content += "\r\n";
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

// The name of a section header line, or false for any other line.
bool SectionName(const std::string& line, std::string* name) {
  std::string text = Trim(line);
  if (text.empty() || text[0] != '[') return false;
  std::size_t close = text.rfind(']');
  if (close == std::string::npos) return false;
  *name = Trim(text.substr(1, close - 1));
  return true;
}

// The key and raw value of a "key=value" line, or false for any other line.
bool KeyLine(const std::string& line, std::string* key, std::string* value) {
  std::string text = Trim(line);
  if (text.empty() || text[0] == ';') return false;
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  *key = Trim(text.substr(0, equals));
  if (value != nullptr) *value = Trim(text.substr(equals + 1));
  return true;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Where a section lies in `lines`: its header line and the line after its
// last line. False when the file has no such section.
struct SectionSpan {
  std::size_t header = 0;
  std::size_t end = 0;
};

bool FindSection(const std::vector<std::string>& lines, const std::string& section, SectionSpan* span) {
  std::string name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!SectionName(lines[i], &name) || !SameName(name, section)) continue;
    span->header = i;
    span->end = i + 1;
    while (span->end < lines.size() && !SectionName(lines[span->end], &name)) ++span->end;
    return true;
  }
  return false;
}

// The line of `key` inside the span, or span.end.
std::size_t FindKey(const std::vector<std::string>& lines, const SectionSpan& span, const std::string& key,
                    std::string* value, std::string* storedName) {
  std::string name;
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    if (KeyLine(lines[i], &name, value) && SameName(name, key)) {
      if (storedName != nullptr) *storedName = name;
      return i;
    }
  }
  return span.end;
}

int CopyOut(const std::string& text, char* buffer, int size) {
  std::size_t count = text.size();
  if (count > static_cast<std::size_t>(size - 1)) count = static_cast<std::size_t>(size - 1);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

}  // namespace

int ReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                      const char* path) {
  if (buffer == nullptr || size <= 0) return 0;
  std::string fallback = defaultValue != nullptr ? defaultValue : "";
  while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
  if (section == nullptr || key == nullptr || path == nullptr) return CopyOut(fallback, buffer, size);

  std::vector<std::string> lines;
  {
    LockHolder hold(ProfileLock());
    if (!ReadLines(NativePath(path), &lines)) return CopyOut(fallback, buffer, size);
  }
  SectionSpan span;
  if (!FindSection(lines, Trim(section), &span)) return CopyOut(fallback, buffer, size);
  std::string value;
  if (FindKey(lines, span, Trim(key), &value, nullptr) == span.end) return CopyOut(fallback, buffer, size);
  return CopyOut(Unquote(value), buffer, size);
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || path == nullptr) return false;
  std::string file = NativePath(path);
  std::string sectionName = Trim(section);

  LockHolder hold(ProfileLock());
  std::vector<std::string> lines;
  ReadLines(file, &lines);  // a missing file is an empty one

  SectionSpan span;
  bool haveSection = FindSection(lines, sectionName, &span);
  if (key == nullptr) {
    // No key: the whole section goes.
    if (!haveSection) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(span.header),
                lines.begin() + static_cast<std::ptrdiff_t>(span.end));
    return WriteLines(file, lines);
  }
  std::string keyName = Trim(key);
  if (!haveSection) {
    if (value == nullptr) return true;
    lines.push_back("[" + sectionName + "]");
    lines.push_back(keyName + "=" + value);
    return WriteLines(file, lines);
  }
  std::string storedName;
  std::size_t line = FindKey(lines, span, keyName, nullptr, &storedName);
  if (value == nullptr) {
    // No value: the key goes.
    if (line == span.end) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(line));
  } else if (line != span.end) {
    lines[line] = storedName + "=" + value;
  } else {
    // After the section's last line that is not blank.
    std::size_t at = span.end;
    while (at > span.header + 1 && Trim(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), keyName + "=" + value);
  }
  return WriteLines(file, lines);
}

}  // namespace platform
}  // namespace ambervox
