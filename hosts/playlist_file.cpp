#include "playlist_file.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/codepage_conversion.h"

namespace ambervox {
namespace {

constexpr char kExtInf[] = "#EXTINF:";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    char a = text[text.size() - suffix.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != suffix[i]) return false;
  }
  return true;
}

// The file name of `path` without folder and extension, walking whole
// characters so that a trail byte 0x5C of a two-byte character is no folder
// separator (UTF-8 has no such bytes).
std::string TitleFromPath(const std::string& path, bool utf8) {
  std::size_t nameStart = 0;
  std::size_t lastDot = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (!utf8 && platform::IsLeadByte(byte) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (byte == '\\' || byte == '/') {
      nameStart = i + 1;
      lastDot = std::string::npos;
    } else if (byte == '.') {
      lastDot = i;
    }
  }
  std::size_t end = lastDot != std::string::npos && lastDot > nameStart ? lastDot : path.size();
  return path.substr(nameStart, end - nameStart);
}

bool IsBlankLine(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

// `text` (UTF-8 or ANSI bytes) in the ANSI code page and in UTF-16.
bool ConvertText(const std::string& text, bool utf8, std::optional<std::string>* ansi,
                 std::optional<std::u16string>* wide) {
  std::string narrow;
  std::u16string utf16;
  if (utf8) {
    if (!platform::Utf8ToAnsi(text, &narrow) || !platform::Utf8ToUtf16(text, &utf16)) return false;
  } else {
    narrow = text;
    if (!platform::AnsiToUtf16(text, &utf16)) return false;
  }
  *ansi = std::move(narrow);
  *wide = std::move(utf16);
  return true;
}

}  // namespace

bool ParsePlaylist(const std::string& content, bool utf8, std::vector<SimulatedEntry>* entries) {
  std::string text = content;
  if (utf8) {
    if (text.compare(0, 3, kUtf8Bom) == 0) text.erase(0, 3);
    // Lines, "#EXTINF:" and the comma split UTF-8 as they split code page
    // 932 (none of their bytes is part of another character in either), so
    // the text is split as it is and each entry's texts converted.
    std::u16string whole;
    if (!platform::Utf8ToUtf16(text, &whole)) return false;
  }
  std::vector<SimulatedEntry> parsed;
  bool havePending = false;
  std::string pendingTitle;
  int pendingLength = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, sizeof kExtInf - 1, kExtInf) == 0) {
      std::string info = line.substr(sizeof kExtInf - 1);
      std::size_t comma = info.find(',');
      pendingLength = std::atoi(info.substr(0, comma).c_str());
      if (pendingLength < 0) pendingLength = 0;  // -1: length unknown
      pendingTitle = comma == std::string::npos ? std::string() : info.substr(comma + 1);
      havePending = true;
      continue;
    }
    if (line.empty() || line[0] == '#' || IsBlankLine(line)) continue;
    SimulatedEntry entry;
    const std::string title = havePending && !pendingTitle.empty() ? pendingTitle : TitleFromPath(line, utf8);
    if (!ConvertText(line, utf8, &entry.filePath, &entry.wideFilePath) ||
        !ConvertText(title, utf8, &entry.title, &entry.wideTitle)) {
      return false;
    }
    entry.lengthSeconds = havePending ? pendingLength : 0;
    parsed.push_back(std::move(entry));
    havePending = false;
    pendingTitle.clear();
    pendingLength = 0;
  }
  entries->swap(parsed);
  return true;
}

bool ReadPlaylistFile(const std::string& path, std::vector<SimulatedEntry>* entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  return ParsePlaylist(content, EndsWithNoCase(path, ".m3u8"), entries);
}

}  // namespace ambervox
