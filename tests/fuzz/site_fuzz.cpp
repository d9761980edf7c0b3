// Fuzzes what the site answers to a request target: ServeConnection over
// "GET <target> HTTP/1.1" and a head, with the receive, the file system and
// the sends replaced, so that no file is really opened.
//
// The seams: this program defines platform::Receive, WaitForBytes,
// SetSendTimeout, FindRegularFile and OpenFileForReading itself (the
// executable's own definitions win at link time, see request_head_fuzz.cpp);
// the connection sends through a function that keeps the answer.
//
// Input: byte 0 says whether files exist (odd: every file looked up exists,
// even: none, so that targets are answered 404, and the names with escapes
// are looked up decoded as well), then the request target (its bytes as they
// are; a space or a line end in them ends it early, as it would on the
// wire). The file system gives every segment "GIT~1" the long name ".git",
// as a Windows short name would.
//
// Invariants:
// - An error page quotes the request as text: its detail holds no "<", ">"
//   or double quote.
// - A refused path ("relative paths not supported") opened no file. (The
//   name as sent may have been looked up first: an escaped parent segment
//   is refused only once decoded; every name looked up obeys the rules
//   below.)
// - No file is looked up or opened whose path below the web root has a
//   segment that begins with a dot, or that is made of dots and spaces with
//   two dots or more: "\" and "/" both separate, a two-byte character is one
//   character. This holds for decoded names too: none leaves the web root.
// - No file is looked up or opened whose path below the web root has a
//   segment that is a DOS device name, ends in a dot or a space, or holds a
//   control character or ":", nor one whose last segment is plugin.ini in
//   any case.
// - No file is opened whose long name below the web root has a segment that
//   begins with a dot.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/plugin_settings.h"
#include "fuzz/fuzz_check.h"
#include "http/http_connection.h"
#include "pages/site.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/sockets.h"

namespace ambervox {
namespace {

constexpr const char kWebRoot[] = "C:\\web";
constexpr const char kSkinFile[] = "playlist.html";
const char kFileText[] = "<p>%%SEARCH_WORD%%</p>\n";

std::string g_head;
std::size_t g_headPosition = 0;
std::string g_answer;
std::vector<std::string> g_filesTouched;
std::vector<std::string> g_filesOpened;
bool g_filesExist = false;

int KeepAnswer(platform::Socket, const char* data, int length) {
  g_answer.append(data, static_cast<std::size_t>(length));
  return length;
}

}  // namespace

namespace platform {

int Receive(Socket, char* buffer, int length) {
  if (g_headPosition >= g_head.size()) return 0;
  std::size_t n = g_head.size() - g_headPosition;
  if (n > static_cast<std::size_t>(length)) n = static_cast<std::size_t>(length);
  std::memcpy(buffer, g_head.data() + g_headPosition, n);
  g_headPosition += n;
  return static_cast<int>(n);
}

// The wait before each receive: bytes are there until the head is spent.
int WaitForBytes(Socket, int) { return g_headPosition < g_head.size() ? 1 : 0; }

bool SetSendTimeout(Socket, int) { return true; }

}  // namespace platform

namespace {

// The long form of `path`: every segment "GIT~1" (any case) stands for ".git".
std::string LongForm(const std::string& path) {
  std::string result;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t end = path.find_first_of("\\/", i);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(i, end - i);
    std::string lower = segment;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    result += lower == "git~1" ? ".git" : segment;
    if (end < path.size()) result += path[end];
    i = end + 1;
  }
  return result;
}

}  // namespace

namespace platform {

bool FindRegularFile(const char* path, FileInfo* info, std::string* longPath) {
  g_filesTouched.push_back(path);
  info->size = sizeof kFileText - 1;
  info->lastWriteTime = 0;
  *longPath = LongForm(path);
  return g_filesExist;
}

std::FILE* OpenFileForReading(const char* path) {
  g_filesTouched.push_back(path);
  g_filesOpened.push_back(path);
  if (!g_filesExist) return nullptr;
  return fmemopen(const_cast<char*>(kFileText), sizeof kFileText - 1, "rb");
}

}  // namespace platform

namespace {

// True when a segment of `relative` (below the web root) begins with a dot,
// or consists of dots and spaces with at least two dots.
bool NamesHiddenOrParent(const std::string& relative) {
  std::size_t i = 0;
  while (i < relative.size()) {
    while (i < relative.size() && (relative[i] == '\\' || relative[i] == '/')) ++i;
    if (i >= relative.size()) break;
    if (relative[i] == '.') return true;
    bool onlyDotsAndSpaces = true;
    int dots = 0;
    while (i < relative.size() && relative[i] != '\\' && relative[i] != '/') {
      const unsigned char c = static_cast<unsigned char>(relative[i]);
      if (c == '.') {
        ++dots;
      } else if (c != ' ') {
        onlyDotsAndSpaces = false;
      }
      i += platform::IsLeadByte(c) && i + 1 < relative.size() ? 2 : 1;
    }
    if (onlyDotsAndSpaces && dots >= 2) return true;
  }
  return false;
}

// True when a segment of `relative` is one that names no plain file on
// Windows: a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, by
// the part before the first dot without its spaces, any case), or one that
// ends in a dot or a space, or holds a control character or ":"; or when the
// last segment is plugin.ini in any case.
bool NamesReserved(const std::string& relative) {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
  };
  std::vector<std::string> segments;
  std::size_t i = 0;
  while (i < relative.size()) {
    while (i < relative.size() && (relative[i] == '\\' || relative[i] == '/')) ++i;
    std::size_t start = i;
    while (i < relative.size() && relative[i] != '\\' && relative[i] != '/') {
      i += platform::IsLeadByte(static_cast<unsigned char>(relative[i])) && i + 1 < relative.size() ? 2 : 1;
    }
    if (i > start) segments.push_back(relative.substr(start, i - start));
  }
  if (!segments.empty() && lower(segments.back()) == "plugin.ini") return true;
  for (const std::string& segment : segments) {
    std::size_t dot = 0;
    while (dot < segment.size() && segment[dot] != '.') {
      dot += platform::IsLeadByte(static_cast<unsigned char>(segment[dot])) ? 2 : 1;
    }
    std::string stem = lower(segment.substr(0, dot < segment.size() ? dot : segment.size()));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$") {
      return true;
    }
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '0' &&
        stem[3] <= '9') {
      return true;
    }
    std::size_t last = 0;
    for (std::size_t k = 0; k < segment.size();) {
      const unsigned char c = static_cast<unsigned char>(segment[k]);
      if (c < 0x20 || c == ':') return true;
      last = k;
      k += platform::IsLeadByte(c) && k + 1 < segment.size() ? 2 : 1;
    }
    if (last == segment.size() - 1 && (segment[last] == '.' || segment[last] == ' ')) return true;
  }
  return false;
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  if (size == 0) return 0;
  g_filesExist = (data[0] & 1) != 0;
  const std::string target(reinterpret_cast<const char*>(data) + 1, size - 1);
  g_head = "GET " + target + " HTTP/1.1\r\nCookie: UserID=0123ABCD-4567-89EF-0A1B-2C3D4E5F6071\r\n\r\n";
  g_headPosition = 0;
  g_answer.clear();
  g_filesTouched.clear();
  g_filesOpened.clear();

  PluginSettings settings;
  settings.SetWebRoot(kWebRoot);
  settings.SetPlaylistFile(kSkinFile);
  Site site;
  site.settings = &settings;
  HttpConnection connection(ServerLimits(), &KeepAnswer);
  connection.Attach(platform::ScopedSocket(), "127.0.0.1");
  ServeConnection(connection, site);

  const bool errorPage = g_answer.find("\r\n\r\n<!DOCTYPE HTML PUBLIC") != std::string::npos;
  if (errorPage) {
    const std::size_t open = g_answer.find("<P>");
    const std::size_t close = g_answer.find("</P>\r\n<HR>");
    if (open != std::string::npos && close != std::string::npos) {
      const std::string detail = g_answer.substr(open + 3, close - open - 3);
      FUZZ_CHECK(detail.find_first_of("<>\"") == std::string::npos);
    }
  }
  if (g_answer.find("relative paths not supported") != std::string::npos) FUZZ_CHECK(g_filesOpened.empty());
  const std::string rootPrefix = std::string(kWebRoot) + "\\";
  const std::string skinPath = rootPrefix + kSkinFile;
  for (const std::string& path : g_filesTouched) {
    FUZZ_CHECK(path.compare(0, rootPrefix.size(), rootPrefix) == 0);
    if (path == skinPath) continue;  // the skin file the settings name
    FUZZ_CHECK(!NamesHiddenOrParent(path.substr(rootPrefix.size())));
    FUZZ_CHECK(!NamesReserved(path.substr(rootPrefix.size())));
  }
  for (const std::string& path : g_filesOpened) {
    if (path == skinPath) continue;
    FUZZ_CHECK(!NamesHiddenOrParent(LongForm(path).substr(rootPrefix.size())));
  }
  return 0;
}
