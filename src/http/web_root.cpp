// The web root: paths below it, the targets refused because they could
// leave it, and files sent as they are.
#include "http/web_root.h"

#include <cstdint>
#include <string>

#include "http/http_status.h"
#include "http/http_time.h"
#include "platform/codepage.h"

namespace ambervox {
namespace {

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

bool HasDotSegment(const ByteString& path) {
  bool segmentStart = true;
  int i = 0;
  while (i < path.Length()) {
    const char c = path.At(i);
    if (IsSeparator(c)) {
      segmentStart = true;
      ++i;
      continue;
    }
    if (segmentStart && c == '.') return true;
    segmentStart = false;
    // A two-byte character is one character: its trail byte may be 0x5C.
    i += platform::IsLeadByte(path.ByteAt(i)) && i + 1 < path.Length() ? 2 : 1;
  }
  return false;
}

void SendBadPath(HttpConnection& connection, const ByteString& filePath) {
  ByteString detail = ByteString::Format("Invalid File %s - relative paths not supported", filePath.CStr());
  connection.SendErrorPage(kStatusBadRequest, nullptr, detail.CStr());
}

namespace {

// The answer's start for a file whose size and last write time are `info`:
// true when the browser's copy is current and the 304 has been sent,
// otherwise `extra` := the Last-Modified line.
bool AnswerNotModified(HttpConnection& connection, const platform::FileInfo& info, ByteString& extra) {
  HttpTime lastModified = TimeFromFileTime(info.lastWriteTime);
  ByteString ifModifiedSince = connection.request.Header("if-modified-since");
  HttpTime since = 0;
  if (!ifModifiedSince.IsEmpty() && ParseHttpDate(ifModifiedSince.CStr(), &since) == kHttpDateOk &&
      lastModified <= since) {
    connection.WriteHeader(kStatusNotModified, nullptr, "text/html", 0);
    return true;
  }
  extra = ByteString("Last-Modified: ");
  extra.Append(FormatHttpTime(lastModified, kHttpDatePattern));
  return false;
}

}  // namespace

int SendStaticFile(HttpConnection& connection, std::FILE* file, const char* contentType,
                   const platform::FileInfo& info) {
  ByteString extra;
  if (AnswerNotModified(connection, info, extra)) return 1;
  // The whole size, also from 4 GiB up: the body is streamed, never held.
  // The first piece goes with the header block.
  char* const buffer = connection.LineBuffer();
  std::size_t n = std::fread(buffer, 1, HttpConnection::kLineBufferSize, file);
  if (!connection.WriteHeaderAndBody(kStatusOk, extra.CStr(), contentType, static_cast<std::int64_t>(info.size), buffer,
                                     static_cast<int>(n))) {
    return 1;
  }
  for (;;) {
    n = std::fread(buffer, 1, HttpConnection::kLineBufferSize, file);
    if (n == 0) break;
    if (!connection.SendAll(buffer, static_cast<int>(n))) break;
  }
  return 1;
}

int SendStaticBytes(HttpConnection& connection, const std::string& bytes, const char* contentType,
                    const platform::FileInfo& info) {
  ByteString extra;
  if (AnswerNotModified(connection, info, extra)) return 1;
  const int length = static_cast<int>(bytes.size());
  connection.WriteHeaderAndBody(kStatusOk, extra.CStr(), contentType, length, bytes.data(), length);
  return 1;
}

}  // namespace ambervox
