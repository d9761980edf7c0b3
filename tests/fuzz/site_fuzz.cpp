// Fuzzes what the site answers to a request target: ServeRequest over
// "GET <target> HTTP/1.1" and a head, with the receive, the file system and
// the sends replaced, so that no file is really opened.
//
// The seams: this program defines platform::Receive, SetReceiveTimeout,
// SetSendTimeout, FindFileInfo and OpenFileForReading itself (the
// executable's own definitions win at link time, see request_head_fuzz.cpp);
// the connection sends through a function that keeps the answer.
//
// Input: byte 0 says whether files exist (odd: every file looked up exists,
// even: none, so that targets are answered 404), then the request target (its
// bytes as they are; a space or a line end in them ends it early, as it would
// on the wire).
//
// Invariants:
// - An error page quotes the request as text: its detail holds no "<", ">"
//   or double quote.
// - A refused path ("relative paths not supported") looked up and opened no
//   file.
// - No file is looked up or opened whose path below the web root has a
//   segment that begins with a dot, or that is made of dots and spaces with
//   two dots or more: "\" and "/" both separate, a two-byte character is one
//   character.
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

bool SetReceiveTimeout(Socket, int) { return true; }
bool SetSendTimeout(Socket, int) { return true; }

bool FindFileInfo(const char* path, FileInfo* out) {
  g_filesTouched.push_back(path);
  out->size = sizeof kFileText - 1;
  out->lastWriteTime = 0;
  return g_filesExist;
}

std::FILE* OpenFileForReading(const char* path) {
  g_filesTouched.push_back(path);
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

  PluginSettings settings;
  settings.SetWebRoot(kWebRoot);
  settings.SetPlaylistFile(kSkinFile);
  Site site;
  site.settings = &settings;
  HttpConnection connection(ServerLimits(), &KeepAnswer);
  connection.Attach(platform::ScopedSocket(), "127.0.0.1");
  ServeRequest(connection, site);

  const bool errorPage = g_answer.find("\r\n\r\n<!DOCTYPE HTML PUBLIC") != std::string::npos;
  if (errorPage) {
    const std::size_t open = g_answer.find("<P>");
    const std::size_t close = g_answer.find("</P>\r\n<HR>");
    if (open != std::string::npos && close != std::string::npos) {
      const std::string detail = g_answer.substr(open + 3, close - open - 3);
      FUZZ_CHECK(detail.find_first_of("<>\"") == std::string::npos);
    }
  }
  if (g_answer.find("relative paths not supported") != std::string::npos) FUZZ_CHECK(g_filesTouched.empty());
  const std::string rootPrefix = std::string(kWebRoot) + "\\";
  const std::string skinPath = rootPrefix + kSkinFile;
  for (const std::string& path : g_filesTouched) {
    FUZZ_CHECK(path.compare(0, rootPrefix.size(), rootPrefix) == 0);
    if (path == skinPath) continue;  // the skin file the settings name
    FUZZ_CHECK(!NamesHiddenOrParent(path.substr(rootPrefix.size())));
  }
  return 0;
}
