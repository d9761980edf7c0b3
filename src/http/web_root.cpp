// The web root: paths below it, the targets refused because they could
// leave it, and files sent as they are.
#include "http/web_root.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/settings_table.h"
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

namespace {

// Calls `judge(begin, end)` for each non-empty segment of `path` until it
// returns true; true then. A two-byte character is one character: its trail
// byte may be 0x5C.
template <typename Judge>
bool AnySegment(const ByteString& path, Judge judge) {
  int begin = 0;
  int i = 0;
  for (;;) {
    if (i >= path.Length() || IsSeparator(path.At(i))) {
      if (i > begin && judge(begin, i)) return true;
      if (i >= path.Length()) return false;
      begin = ++i;
      continue;
    }
    i += platform::IsLeadByte(path.ByteAt(i)) && i + 1 < path.Length() ? 2 : 1;
  }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when path[begin, end) equals `lowerCase` in any case (ASCII letters).
bool EqualsNoCase(const ByteString& path, int begin, int end, const char* lowerCase) {
  int n = 0;
  while (lowerCase[n] != '\0') ++n;
  if (end - begin != n) return false;
  for (int i = 0; i < n; ++i) {
    if (AsciiLower(path.At(begin + i)) != lowerCase[i]) return false;
  }
  return true;
}

bool IsDeviceName(const ByteString& path, int begin, int end) {
  // The name before the first dot, without the spaces before that dot.
  int stem = begin;
  while (stem < end && path.At(stem) != '.') stem += platform::IsLeadByte(path.ByteAt(stem)) ? 2 : 1;
  if (stem > end) stem = end;
  while (stem > begin && path.At(stem - 1) == ' ') --stem;
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (EqualsNoCase(path, begin, stem, device)) return true;
  }
  if (stem - begin == 4 && path.At(begin + 3) >= '0' && path.At(begin + 3) <= '9') {
    return EqualsNoCase(path, begin, begin + 3, "com") || EqualsNoCase(path, begin, begin + 3, "lpt");
  }
  return false;
}

bool IsReservedName(const ByteString& path, int begin, int end) {
  if (IsDeviceName(path, begin, end)) return true;
  int last = begin;
  for (int i = begin; i < end;) {
    const unsigned char c = path.ByteAt(i);
    if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '*') return true;
    last = i;
    i += platform::IsLeadByte(c) && i + 1 < end ? 2 : 1;
  }
  const char final = path.At(last);
  return last == end - 1 && (final == '.' || final == ' ');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number of non-empty segments of `path`.
int CountSegments(const ByteString& path) {
  int count = 0;
  AnySegment(path, [&count](int, int) {
    ++count;
    return false;
  });
  return count;
}

// The last `count` segments of `path`, from the first byte of the first.
ByteString LastSegments(const ByteString& path, int count) {
  std::vector<int> starts;
  AnySegment(path, [&starts](int begin, int) {
    starts.push_back(begin);
    return false;
  });
  if (count <= 0 || starts.empty()) return ByteString();
  const int first = static_cast<int>(starts.size()) > count ? starts[starts.size() - count] : starts.front();
  return path.Mid(first);
}

}  // namespace

bool HasReservedSegment(const ByteString& path) {
  return AnySegment(path, [&path](int begin, int end) { return IsReservedName(path, begin, end); });
}

bool NamesSettingsFile(const ByteString& path) {
  int lastBegin = -1;
  int lastEnd = -1;
  AnySegment(path, [&](int begin, int end) {
    lastBegin = begin;
    lastEnd = end;
    return false;
  });
  return lastBegin >= 0 && EqualsNoCase(path, lastBegin, lastEnd, kSettingsFileName);
}

ByteString DecodePercentEscapes(const ByteString& path) {
  ByteString decoded;
  decoded.Reserve(path.Length());
  for (int i = 0; i < path.Length(); ++i) {
    const int high = path.At(i) == '%' && i + 2 < path.Length() ? HexValue(path.At(i + 1)) : -1;
    const int low = high >= 0 ? HexValue(path.At(i + 2)) : -1;
    if (low >= 0) {
      decoded.AppendChar(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      decoded.AppendChar(path.At(i));
    }
  }
  return decoded;
}

WebRootLookup FindWebRootFile(const ByteString& webRoot, const ByteString& filePath, bool fromTarget,
                              ByteString* fullPath, platform::FileInfo* info) {
  if (filePath.StartsWith("/.") || (fromTarget && (HasDotSegment(filePath) || HasParentSegment(filePath)))) {
    return WebRootLookup::kBadPath;
  }
  if (HasReservedSegment(filePath) || NamesSettingsFile(filePath)) return WebRootLookup::kRefused;
  const ByteString full = BuildFullPath(webRoot, filePath);
  std::string longPath;
  platform::FileInfo found;
  if (!platform::FindRegularFile(full.CStr(), &found, &longPath)) return WebRootLookup::kMissing;
  // The names the file really has below the root: as many segments as the
  // path has, taken from the end of its long form.
  const ByteString real =
      LastSegments(ByteString(longPath.c_str(), static_cast<int>(longPath.size())), CountSegments(filePath));
  if ((fromTarget && HasDotSegment(real)) || NamesSettingsFile(real)) return WebRootLookup::kRefused;
  *fullPath = full;
  *info = found;
  return WebRootLookup::kFound;
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

void SendStaticFile(HttpConnection& connection, std::FILE* file, const char* contentType,
                    const platform::FileInfo& info) {
  ByteString extra;
  if (AnswerNotModified(connection, info, extra)) return;
  // The whole size, also from 4 GiB up: the body is streamed, never held.
  // The first piece goes with the header block.
  char* const buffer = connection.LineBuffer();
  std::size_t n = std::fread(buffer, 1, HttpConnection::kLineBufferSize, file);
  if (!connection.WriteHeaderAndBody(kStatusOk, extra.CStr(), contentType, static_cast<std::int64_t>(info.size), buffer,
                                     static_cast<int>(n))) {
    return;
  }
  for (;;) {
    n = std::fread(buffer, 1, HttpConnection::kLineBufferSize, file);
    if (n == 0) break;
    if (!connection.SendAll(buffer, static_cast<int>(n))) break;
  }
}

void SendStaticBytes(HttpConnection& connection, const std::string& bytes, const char* contentType,
                     const platform::FileInfo& info) {
  ByteString extra;
  if (AnswerNotModified(connection, info, extra)) return;
  const int length = static_cast<int>(bytes.size());
  connection.WriteHeaderAndBody(kStatusOk, extra.CStr(), contentType, length, bytes.data(), length);
}

}  // namespace ambervox
