// HttpConnection::HandleRequest: what a connection thread runs. Reads the
// head, interprets it, decides what the target is for and answers it: the
// redirect of the site root, the admin password form, the page handlers, the
// playlist page, or a file from the web root (templates rendered and sent
// compressed when the browser allows, other files streamed as they are).
#include <cstdio>
#include <cstring>

#include "common/plugin_settings.h"
#include "common/text_operations.h"
#include "http/http_connection.h"
#include "http/http_status.h"
#include "http/http_time.h"
#include "http/mime_table.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace ambervox {
namespace {

constexpr const char kInternalErrorDetail[] =
    "The server encountered an internal error or misconfiguration and was unable to complete your request.";

// Closes a file on every path out of a block.
class FileCloser {
 public:
  explicit FileCloser(std::FILE* file) : file_(file) {}
  ~FileCloser() {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  std::FILE* file_;
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True when the last character (not merely the last byte, which may be the
// trail byte 0x5C of a two-byte character) is a backslash.
bool EndsWithBackslash(const ByteString& text) {
  int i = 0;
  int last = -1;
  while (i < text.Length()) {
    last = i;
    i += platform::IsLeadByte(text.ByteAt(i)) && i + 1 < text.Length() ? 2 : 1;
  }
  return last >= 0 && last == text.Length() - 1 && text.At(last) == '\\';
}

}  // namespace

ByteString BuildFullPath(const ByteString& webRoot, const ByteString& filePath) {
  ByteString relative = filePath;
  relative.ReplaceAll("/", "\\");
  ByteString full = webRoot;
  if (!EndsWithBackslash(full)) full.Append("\\");
  full.Append(relative);
  // Character-aware: the trail byte 0x5C of a two-byte character is not a
  // backslash.
  full.ReplaceAll("\\\\", "\\");
  return full;
}

bool HasParentSegment(const ByteString& path) {
  int dots = 0;
  bool onlyDotsAndSpaces = true;
  int i = 0;
  for (;;) {
    if (i >= path.Length() || IsSeparator(path.At(i))) {
      if (onlyDotsAndSpaces && dots >= 2) return true;
      if (i >= path.Length()) return false;
      dots = 0;
      onlyDotsAndSpaces = true;
      ++i;
      continue;
    }
    if (path.At(i) == '.') {
      ++dots;
    } else if (path.At(i) != ' ') {
      onlyDotsAndSpaces = false;
    }
    // A two-byte character is one character: its trail byte may be 0x5C.
    i += platform::IsLeadByte(path.ByteAt(i)) && i + 1 < path.Length() ? 2 : 1;
  }
}

void HttpConnection::SendBadPath(const ByteString& filePath) {
  ByteString detail = ByteString::Format("Invalid File %s - relative paths not supported", filePath.CStr());
  SendErrorPage(kStatusBadRequest, ReasonPhrase(kStatusBadRequest), nullptr, detail.CStr());
}

void HttpConnection::SendPasswordForm() {
  ByteString form("<html><head></head><body>");
  form.Append(
      "<form method=\"GET\" action=\"admin.cgi\">Enter Admin Password <input type=text name=pass> <input "
      "type=Submit></form>");
  form.Append("</body></html>");
  WriteHeader(kStatusOk, ReasonPhrase(kStatusOk), "", "text/html", form.Length() + 1);
  SendBytes(form.Data(), form.Length() + 1);
}

int HttpConnection::HandleRequest() {
  target.Clear();
  method.Clear();
  searchWord.Clear();
  startsWith.Clear();
  referer.Clear();
  platform::SetSendTimeout(socket, limits.sendStallMilliseconds);

  HeadResult head = ReadRequest(method, target);
  if (head == HeadResult::kIncomplete) return 0;
  if (head != HeadResult::kComplete) {
    // Nothing of this head is interpreted; the answer still identifies the
    // browser like every other answer does.
    userId.CreateNew();
    const char* detail = head == HeadResult::kTooLarge ? "Request header too large." : "Invalid request header.";
    SendErrorPage(kStatusBadRequest, ReasonPhrase(kStatusBadRequest), nullptr, detail);
    return 0;
  }
  InterpretHead();

  if (!method.Equals("GET")) {
    WriteHeader(kStatusNotImplemented, ReasonPhrase(kStatusNotImplemented), nullptr, nullptr, -1);
    return 0;
  }
  if (target.IsEmpty() || target.Equals("/")) {
    WriteHeader(kStatusMovedTemporarily, ReasonPhrase(kStatusMovedTemporarily), "Location: /playlist.cgi", nullptr,
                -1);
    return 0;
  }
  if (target.StartsWith("/?")) target = ByteString("/playlist.cgi") + target.Mid(1);
  if (target.StartsWith("/&")) target = ByteString("/playlist.cgi?") + target.Mid(2);

  int errorCode = 0;
  int isAdmin = 0;
  bool hasSearchWord = false;
  bool hasStartsWith = false;
  const char* contentType = nullptr;
  ByteString filePath;

  if (target.Equals("/admin.cgi")) {
    SendPasswordForm();
    return 1;
  }
  if (target.StartsWith("/admin.cgi")) {
    if (HandleAdminCommand(target, &isAdmin)) return 1;
  } else if (target.StartsWith("/request.cgi")) {
    HandleRequestPage(target);
    return 1;
  }
  bool fromTarget = false;
  if (target.StartsWith("/playlist.cgi") || target.StartsWith("/admin.cgi")) {
    ParsePlaylistParams(target, &errorCode, &isAdmin);
    contentType = "text/html";
    hasSearchWord = !searchWord.IsEmpty();
    hasStartsWith = !startsWith.IsEmpty();
    filePath = settings->PlaylistFile();
  } else {
    filePath = target;
    fromTarget = true;
  }
  if (const char* byExtension = MimeTable::ContentTypeForTarget(target)) contentType = byExtension;

  if (filePath.StartsWith("/.") || (fromTarget && HasParentSegment(filePath))) {
    SendBadPath(filePath);
    return 0;
  }

  ByteString fullPath = BuildFullPath(settings->WebRoot(), filePath);
  platform::FileInfo info;
  std::FILE* file = nullptr;
  if (platform::FindFileInfo(fullPath.CStr(), &info)) file = platform::OpenFileForReading(fullPath.CStr());
  if (file == nullptr) {
    ByteString detail = ByteString::Format("The requested URL %s was not found on this server.", target.CStr());
    SendErrorPage(kStatusNotFound, ReasonPhrase(kStatusNotFound), nullptr, detail.CStr());
    return 0;
  }
  FileCloser closer(file);
  if (contentType != nullptr && std::strcmp(contentType, "text/html") == 0) {
    return SendTemplatePage(file, hasSearchWord, hasStartsWith, errorCode, isAdmin);
  }
  return SendStaticFile(file, contentType, info);
}

int HttpConnection::SendTemplatePage(std::FILE* file, bool hasSearchWord, bool hasStartsWith, int errorCode,
                                     int isAdmin) {
  BuildPlaylistPage(hasSearchWord, hasStartsWith);
  ByteString page;
  while (std::fgets(lineBuffer, kLineBufferSize, file) != nullptr) {
    ByteString line(lineBuffer);
    if (!RenderTemplateLine(line, page, hasSearchWord, hasStartsWith, errorCode, isAdmin != 0)) page.Append(line);
  }
  int encoding = kEncodingNone;
  if (acceptedEncodings & kAcceptsGzip) {
    encoding = kEncodingGzip;
  } else if (acceptedEncodings & kAcceptsDeflate) {
    encoding = kEncodingDeflate;
  }
  // The zero byte after the text is part of the body.
  if (!SendCompressed(page.Data(), page.Length() + 1, encoding)) {
    SendErrorPage(kStatusInternalServerError, ReasonPhrase(kStatusInternalServerError), nullptr,
                  kInternalErrorDetail);
  }
  return 1;
}

int HttpConnection::SendStaticFile(std::FILE* file, const char* contentType, const platform::FileInfo& info) {
  HttpTime lastModified = TimeFromFileTime(info.lastWriteTime);
  ByteString ifModifiedSince = Header("if-modified-since");
  HttpTime since = 0;
  if (!ifModifiedSince.IsEmpty() && ParseHttpDate(ifModifiedSince.CStr(), &since) == kHttpDateOk &&
      lastModified <= since) {
    WriteHeader(kStatusNotModified, ReasonPhrase(kStatusNotModified), nullptr, "text/html", 0);
    return 1;
  }
  ByteString extra("Last-Modified: ");
  extra.Append(FormatHttpTime(lastModified, kHttpDatePattern));
  // The whole size, also from 4 GiB up: the body is streamed, never held.
  WriteHeader(kStatusOk, ReasonPhrase(kStatusOk), extra.CStr(), contentType, static_cast<std::int64_t>(info.size));
  for (;;) {
    std::size_t n = std::fread(lineBuffer, 1, kLineBufferSize, file);
    if (n == 0) break;
    if (!SendAll(lineBuffer, static_cast<int>(n))) break;
  }
  return 1;
}

}  // namespace ambervox
